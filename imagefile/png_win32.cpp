// SPDX-License-Identifier: BSD-2-Clause
// PNG through the Windows Imaging Component, which every Windows since XP SP3 carries, so the
// programs need no library of their own. Decoded pixels follow the libpng build's rules exactly:
// 16-bit samples are scaled with libpng's rounding, transparency is blended over white, grey
// stays grey (a palette of greys included), and each conversion adds one notice. The same guards
// run before anything is decoded, and rows go straight into the picture buffer where WIC gives
// them in its layout (8-bit grey, 24-bit blue-green-red), else through one row.
#include <windows.h>
#include <wincodec.h>

#include <cstring>
#include <new>

#include "imagefile/notices.h"
#include "imagefile/png_chunks.h"
#include "varnic/rules.h"

namespace varnic::imagefile::formats {
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

// libpng's png_set_scale_16: 16 bits to 8 with rounding to nearest.
unsigned scale_16(unsigned v) { return (v * 255u + 32895u) >> 16; }

// Where the samples of a pixel lie in the layout WIC gives a row in: bytes per pixel and per
// sample (little-endian at 2), and the sample index of red, green, blue and alpha (-1 none).
// `direct` layouts are the picture buffer's own.
struct Layout {
  WICPixelFormatGUID format;
  std::size_t pixel_bytes;
  int sample_bytes;
  int index[4];
  bool direct;
};

// 16-bit pixels are taken as decoded (not every converter takes them), and 16-to-8 rounding is
// then ours; opaque pictures are converted to the picture buffer's layout; the rest to BGRA.
Layout layout_for(const WICPixelFormatGUID& f, bool grey, bool alpha) {
  if (f == GUID_WICPixelFormat16bppGray) return {f, 2, 2, {0, 0, 0, -1}, false};
  if (f == GUID_WICPixelFormat48bppRGB) return {f, 6, 2, {0, 1, 2, -1}, false};
  if (f == GUID_WICPixelFormat64bppRGBA) return {f, 8, 2, {0, 1, 2, 3}, false};
  if (!alpha && grey) return {GUID_WICPixelFormat8bppGray, 1, 1, {0, 0, 0, -1}, true};
  if (!alpha) return {GUID_WICPixelFormat24bppBGR, 3, 1, {2, 1, 0, -1}, true};
  return {GUID_WICPixelFormat32bppBGRA, 4, 1, {2, 1, 0, 3}, false};
}

bool is_indexed(const WICPixelFormatGUID& f) {
  return f == GUID_WICPixelFormat1bppIndexed || f == GUID_WICPixelFormat2bppIndexed ||
         f == GUID_WICPixelFormat4bppIndexed || f == GUID_WICPixelFormat8bppIndexed;
}

// Samples per pixel of an IHDR colour type: grey, -, RGB, palette, grey-alpha, -, RGBA.
unsigned png_channels(std::uint8_t colour_type) {
  constexpr unsigned kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  return colour_type < 7 ? kChannels[colour_type] : 0;
}

}  // namespace

bool sniff_png(Bytes bytes) {
  return bytes.size() >= kPngSignatureBytes && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G';
}

FileStatus read_png(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  static constexpr std::uint8_t kSignature[kPngSignatureBytes] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < kPngSignatureBytes || std::memcmp(bytes.data(), kSignature, kPngSignatureBytes) != 0)
    return FileStatus::kNotPng;
  // IHDR comes first: its fields are checked before WIC sees the file.
  constexpr std::size_t kHeaderEnd = kPngSignatureBytes + 8 + 13;
  if (bytes.size() < kHeaderEnd || std::memcmp(&bytes[12], "IHDR", 4) != 0) return FileStatus::kPngCorrupt;
  const std::uint32_t width = load_be32(&bytes[16]);
  const std::uint32_t height = load_be32(&bytes[20]);
  const std::uint8_t depth = bytes[24];
  const std::uint8_t colour_type = bytes[25];
  if (width == 0 || height == 0 || png_channels(colour_type) == 0) return FileStatus::kPngCorrupt;
  const PngChunks chunks = scan_png_chunks(bytes);
  if (const FileStatus s = check_png_size(width, height, png_channels(colour_type) * depth, chunks, limits, message);
      s != FileStatus::kOk)
    return s;

  ComThread com;
  Com<IWICImagingFactory> factory;
  if (!make_factory(factory)) {
    message = "the Windows Imaging Component is not available";
    return FileStatus::kPngCorrupt;
  }
  Com<IWICStream> stream;
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  UINT frame_width = 0;
  UINT frame_height = 0;
  WICPixelFormatGUID format{};
  if (FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()))) ||
      FAILED(factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, decoder.put())) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&frame_width, &frame_height)) ||
      FAILED(frame->GetPixelFormat(&format)) || frame_width != width || frame_height != height) {
    return FileStatus::kPngCorrupt;
  }

  LoadedPicture result;
  // Grey and grey-alpha colour types, or a palette of greys, stay grey.
  bool grey = (colour_type & 2) == 0 && colour_type != 3;
  bool alpha = (colour_type & 4) != 0;
  if (is_indexed(format)) {
    Com<IWICPalette> palette;
    if (SUCCEEDED(factory->CreatePalette(palette.put())) && SUCCEEDED(frame->CopyPalette(palette.get()))) {
      UINT count = 0;
      std::vector<WICColor> colours(256);
      palette->GetColors(256, colours.data(), &count);
      grey = count > 0;
      for (UINT i = 0; i < count; ++i) {
        const WICColor c = colours[i];
        grey = grey && ((c >> 16) & 0xFF) == ((c >> 8) & 0xFF) && ((c >> 8) & 0xFF) == (c & 0xFF);
        alpha = alpha || (c >> 24) != 0xFF;
      }
    }
  } else if (colour_type != 3 && !alpha) {
    // A tRNS chunk makes a grey or colour picture transparent too; WIC then reports an alpha format.
    alpha = format == GUID_WICPixelFormat32bppBGRA || format == GUID_WICPixelFormat32bppRGBA ||
            format == GUID_WICPixelFormat64bppRGBA;
  }
  const Layout layout = layout_for(format, grey, alpha);
  const bool sixteen = layout.sample_bytes == 2;
  if (sixteen) result.notices.push_back(notices::samples_reduced(16));
  if (colour_type == 3 && !grey) result.notices.push_back(notices::palette_expanded());
  if (alpha) result.notices.push_back(notices::transparency_blended());
  add_png_facts(chunks, result.facts);

  Com<IWICFormatConverter> converter;
  IWICBitmapSource* source = frame.get();
  if (layout.format != format) {
    if (FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), layout.format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
      message = "unsupported PNG pixel layout";
      return FileStatus::kPngCorrupt;
    }
    source = converter.get();
  }
  std::vector<std::uint8_t> row;
  FileStatus made = new_picture(width, height, grey, true, result.picture);
  try {
    if (made == FileStatus::kOk && !layout.direct) row.resize(std::size_t{width} * layout.pixel_bytes);
  } catch (const std::bad_alloc&) {
    made = FileStatus::kOutOfMemory;
  }
  if (made != FileStatus::kOk) {
    message = "out of memory reading the PNG picture";
    return made;
  }
  const std::size_t stride = result.picture.geometry().stride;
  const std::size_t channels = grey ? 1 : 3;
  const UINT row_bytes = static_cast<UINT>(std::size_t{width} * layout.pixel_bytes);
  // Channel c (0 red .. 3 alpha) of a pixel.
  const auto sample = [&](const std::uint8_t* p, int c) -> unsigned {
    const int at = layout.index[c];
    if (at < 0) return 255;
    if (sixteen) return scale_16(static_cast<unsigned>(p[2 * at] | p[2 * at + 1] << 8));
    return p[at];
  };
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* dst = result.picture.pixels.data() + (height - 1 - y) * stride;
    const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), 1};
    if (FAILED(source->CopyPixels(&rect, row_bytes, row_bytes, layout.direct ? dst : row.data())))
      return FileStatus::kPngCorrupt;
    if (layout.direct) continue;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* p = &row[x * layout.pixel_bytes];
      const unsigned a = sample(p, 3);
      // The picture buffer is blue first: output byte k is channel 2 - k of red, green, blue.
      for (std::size_t k = 0; k < channels; ++k) {
        const unsigned v = sample(p, grey ? 0 : static_cast<int>(2 - k));
        *dst++ = alpha ? blend_over_white(v, a) : static_cast<std::uint8_t>(v);
      }
    }
  }
  out = std::move(result);
  return FileStatus::kOk;
}

namespace {

// Top row first, blue first, one row at a time into the imaging component's encoder, which
// compresses them into a stream in memory: the file's bytes go to the writer when it is closed.
class PngRowWriter final : public RowFileWriter {
 public:
  explicit PngRowWriter(ByteWriter write) : write_(std::move(write)) {}
  bool top_down() const override { return true; }
  bool rgb() const override { return false; }
  FileStatus begin(std::uint32_t width, std::uint32_t height, bool grey, std::string& message) override {
    const WICPixelFormatGUID wanted = grey ? GUID_WICPixelFormat8bppGray : GUID_WICPixelFormat24bppBGR;
    WICPixelFormatGUID format = wanted;
    if (!make_factory(factory_) || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory_.put())) ||
        FAILED(factory_->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder_.put())) ||
        FAILED(encoder_->Initialize(memory_.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder_->CreateNewFrame(frame_.put(), nullptr)) || FAILED(frame_->Initialize(nullptr)) ||
        FAILED(frame_->SetSize(width, height)) || FAILED(frame_->SetPixelFormat(&format)) || format != wanted) {
      message = "PNG writer failed";
      return FileStatus::kCannotWrite;
    }
    return FileStatus::kOk;
  }
  bool row(std::span<const std::uint8_t> pixels) override {
    const auto bytes = static_cast<UINT>(pixels.size());
    return SUCCEEDED(frame_->WritePixels(1, bytes, bytes, const_cast<BYTE*>(pixels.data())));
  }
  bool finish() override {
    HGLOBAL global = nullptr;
    STATSTG stat{};
    if (FAILED(frame_->Commit()) || FAILED(encoder_->Commit()) || FAILED(GetHGlobalFromStream(memory_.get(), &global)) ||
        FAILED(memory_->Stat(&stat, STATFLAG_NONAME)))
      return false;
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(global));
    if (data == nullptr) return false;
    const bool written = write_(std::span<const std::uint8_t>(data, static_cast<std::size_t>(stat.cbSize.QuadPart)));
    GlobalUnlock(global);
    return written;
  }

 private:
  ByteWriter write_;
  ComThread com_;
  Com<IWICImagingFactory> factory_;
  Com<IStream> memory_;
  Com<IWICBitmapEncoder> encoder_;
  Com<IWICBitmapFrameEncode> frame_;
};

}  // namespace

// The imaging component's PNG encoder has no compression level: the settings' is not used.
std::unique_ptr<RowFileWriter> png_row_writer(const ByteWriter& write, const WriteSettings&) {
  return std::make_unique<PngRowWriter>(write);
}

}  // namespace varnic::imagefile::formats
