// PNG through the Windows Imaging Component, which every Windows since XP SP3 carries, so the
// tool needs no library of its own. Decoded pixels follow the libpng build's rules exactly:
// 16-bit samples are scaled with libpng's rounding, transparency is blended over white, grey
// stays grey (a palette of greys included), and each conversion adds one notice.
#include <windows.h>
#include <wincodec.h>

#include <cstring>
#include <new>

#include "utils/memory.h"
#include "picture_io.h"

namespace varnic::cli {
namespace {

// A COM pointer released at scope end.
template <typename T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p_ != nullptr) p_->Release();
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** put() { return &p_; }

 private:
  T* p_ = nullptr;
};

// COM is set up per thread (batches decode on several); a thread that already chose another
// apartment model keeps it, and WIC works in either.
class ComThread {
 public:
  ComThread() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ComThread(const ComThread&) = delete;
  ComThread& operator=(const ComThread&) = delete;
  ~ComThread() {
    if (started_) CoUninitialize();
  }

 private:
  bool started_;
};

bool make_factory(Com<IWICImagingFactory>& factory) {
  return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(factory.put())));
}

std::uint8_t over_white(unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// libpng's png_set_scale_16: 16 bits to 8 with rounding to nearest.
unsigned scale_16(unsigned v) { return (v * 255u + 32895u) >> 16; }

// Where the samples of a pixel lie in the layout the pixels are copied in: bytes per pixel and
// per sample (little-endian at 2), and the sample index of red, green, blue and alpha (-1 none).
struct Layout {
  WICPixelFormatGUID format;
  std::size_t pixel_bytes;
  int sample_bytes;
  int index[4];
};

// 16-bit pixels are copied as decoded (not every converter takes them), 16-to-8 rounding is
// then ours; everything else is converted to 8-bit BGRA.
Layout layout_for(const WICPixelFormatGUID& f) {
  if (f == GUID_WICPixelFormat16bppGray) return {f, 2, 2, {0, 0, 0, -1}};
  if (f == GUID_WICPixelFormat48bppRGB) return {f, 6, 2, {0, 1, 2, -1}};
  if (f == GUID_WICPixelFormat64bppRGBA) return {f, 8, 2, {0, 1, 2, 3}};
  return {GUID_WICPixelFormat32bppBGRA, 4, 1, {2, 1, 0, 3}};
}

bool is_grey(const WICPixelFormatGUID& f) {
  return f == GUID_WICPixelFormatBlackWhite || f == GUID_WICPixelFormat2bppGray || f == GUID_WICPixelFormat4bppGray ||
         f == GUID_WICPixelFormat8bppGray || f == GUID_WICPixelFormat16bppGray;
}

bool is_indexed(const WICPixelFormatGUID& f) {
  return f == GUID_WICPixelFormat1bppIndexed || f == GUID_WICPixelFormat2bppIndexed ||
         f == GUID_WICPixelFormat4bppIndexed || f == GUID_WICPixelFormat8bppIndexed;
}

bool has_alpha_channel(const WICPixelFormatGUID& f) {
  return f == GUID_WICPixelFormat32bppBGRA || f == GUID_WICPixelFormat32bppRGBA || f == GUID_WICPixelFormat64bppRGBA;
}

}  // namespace

Result<LoadedPicture> read_png(std::span<const std::uint8_t> bytes, const Limits& limits) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return {Status::kInvalidFile, "not a PNG file"};
  if (bytes.size() > MAXDWORD) return {Status::kLimitExceeded, "the PNG file is too large"};

  ComThread com;
  Com<IWICImagingFactory> factory;
  if (!make_factory(factory)) return {Status::kInternalError, "the Windows Imaging Component is not available"};
  Com<IWICStream> stream;
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  if (FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()))) ||
      FAILED(factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, decoder.put())) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.put()))) {
    return {Status::kInvalidFile, "corrupt PNG data"};
  }
  UINT width = 0;
  UINT height = 0;
  WICPixelFormatGUID format{};
  if (FAILED(frame->GetSize(&width, &height)) || FAILED(frame->GetPixelFormat(&format)) || width == 0 || height == 0)
    return {Status::kInvalidFile, "corrupt PNG data"};
  if (static_cast<std::uint64_t>(width) * height > limits.max_pixels) {
    return {Status::kLimitExceeded, "the picture has " + std::to_string(std::uint64_t{width} * height) +
                                        " pixels, more than the limit of " + std::to_string(limits.max_pixels)};
  }

  LoadedPicture result;
  bool grey = is_grey(format);
  bool alpha = has_alpha_channel(format);
  const Layout layout = layout_for(format);
  const bool sixteen = layout.sample_bytes == 2;
  if (is_indexed(format)) {
    Com<IWICPalette> palette;
    BOOL palette_grey = FALSE;
    BOOL palette_alpha = FALSE;
    if (SUCCEEDED(factory->CreatePalette(palette.put())) && SUCCEEDED(frame->CopyPalette(palette.get()))) {
      UINT count = 0;
      std::vector<WICColor> colours(256);
      palette->GetColors(256, colours.data(), &count);
      palette_grey = count > 0;
      for (UINT i = 0; i < count; ++i) {
        const WICColor c = colours[i];
        palette_grey = palette_grey && ((c >> 16) & 0xFF) == ((c >> 8) & 0xFF) && ((c >> 8) & 0xFF) == (c & 0xFF);
        palette_alpha = palette_alpha || (c >> 24) != 0xFF;
      }
    }
    grey = palette_grey != FALSE;
    alpha = palette_alpha != FALSE;
    if (!grey) result.notices.emplace_back("colour palette expanded to 24-bit colour");
  }
  if (sixteen) result.notices.emplace_back("16-bit samples reduced to 8 bits");
  if (alpha) result.notices.emplace_back("transparency removed by blending over white");

  Com<IWICFormatConverter> converter;
  IWICBitmapSource* source = frame.get();
  if (layout.format != format) {
    if (FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), layout.format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
      return {Status::kInvalidFile, "unsupported PNG pixel layout"};
    }
    source = converter.get();
  }
  const std::uint64_t stride = std::uint64_t{width} * layout.pixel_bytes;
  if (stride * height > MAXUINT) return {Status::kLimitExceeded, "the PNG picture is too large"};
  std::vector<std::uint8_t> rgba;
  try {
    utils::resize_large(rgba, static_cast<std::size_t>(stride * height));
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, "out of memory reading the PNG picture"};
  }
  if (FAILED(source->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(stride * height), rgba.data())))
    return {Status::kInvalidFile, "corrupt PNG data"};

  Picture& picture = result.picture;
  picture.width = width;
  picture.height = height;
  picture.format = grey ? PixelFormat::kGrey8 : PixelFormat::kRgb24;
  const int channels = grey ? 1 : 3;
  utils::resize_large(picture.pixels, std::size_t{width} * height * static_cast<std::size_t>(channels));
  std::uint8_t* out = picture.pixels.data();
  // Channel c (0 red .. 3 alpha) of pixel p.
  const auto sample = [&](const std::uint8_t* p, int c) -> unsigned {
    const int at = layout.index[c];
    if (at < 0) return 255;
    if (sixteen) return scale_16(static_cast<unsigned>(p[2 * at] | p[2 * at + 1] << 8));
    return p[at];
  };
  for (std::size_t i = 0, n = std::size_t{width} * height; i < n; ++i) {
    const std::uint8_t* p = &rgba[i * layout.pixel_bytes];
    const unsigned a = sample(p, 3);
    for (int c = 0; c < channels; ++c) *out++ = alpha ? over_white(sample(p, c), a) : static_cast<std::uint8_t>(sample(p, c));
  }
  return result;
}

Result<std::vector<std::uint8_t>> write_png(const Picture& picture) {
  if (picture.format == PixelFormat::kRgb24) {
    // WIC writes colour from blue-green-red rows.
    Picture bgr = picture;
    for (std::size_t i = 0; i + 2 < bgr.pixels.size(); i += 3) std::swap(bgr.pixels[i], bgr.pixels[i + 2]);
    bgr.format = PixelFormat::kBgr24;
    return write_png(bgr);
  }
  const std::size_t stride = picture.stride();
  if (picture.width == 0 || picture.height == 0 || picture.pixels.size() < stride * picture.height)
    return {Status::kInvalidArgument, "empty or inconsistent picture"};
  if (static_cast<std::uint64_t>(stride) * picture.height > MAXUINT)
    return {Status::kLimitExceeded, "the picture is too large for the PNG writer"};

  ComThread com;
  Com<IWICImagingFactory> factory;
  if (!make_factory(factory)) return {Status::kInternalError, "the Windows Imaging Component is not available"};
  Com<IStream> memory;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  const WICPixelFormatGUID wanted =
      picture.format == PixelFormat::kGrey8 ? GUID_WICPixelFormat8bppGray : GUID_WICPixelFormat24bppBGR;
  WICPixelFormatGUID format = wanted;
  const auto failed = [] { return Result<std::vector<std::uint8_t>>{Status::kInternalError, "PNG writer failed"}; };
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory.put())) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
      FAILED(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(frame.put(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
      FAILED(frame->SetSize(picture.width, picture.height)) || FAILED(frame->SetPixelFormat(&format))) {
    return failed();
  }
  if (format != wanted) return {Status::kInternalError, "the PNG writer cannot take this pixel layout"};
  if (FAILED(frame->WritePixels(picture.height, static_cast<UINT>(stride), static_cast<UINT>(stride * picture.height),
                                const_cast<BYTE*>(picture.pixels.data()))) ||
      FAILED(frame->Commit()) || FAILED(encoder->Commit())) {
    return failed();
  }
  HGLOBAL global = nullptr;
  STATSTG stat{};
  if (FAILED(GetHGlobalFromStream(memory.get(), &global)) || FAILED(memory->Stat(&stat, STATFLAG_NONAME))) return failed();
  const auto* data = static_cast<const std::uint8_t*>(GlobalLock(global));
  if (data == nullptr) return failed();
  std::vector<std::uint8_t> out(data, data + static_cast<std::size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(global);
  return out;
}

}  // namespace varnic::cli
