// PNG through libpng's progressive-free classic interface, reading from and writing to memory.
// libpng reports errors by longjmp, so every object that must survive one lives in a heap
// record reached through a pointer that is set before setjmp and never changed afterwards.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

#include "imagefile/imagefile.h"
#include "utils/memory.h"
#include "picture_io.h"

namespace varnic::cli {
namespace {

// One byte of deflate data yields at most about 1032 bytes (a run of 258 costs two bits): pixel
// data larger than that many times the file's compressed data cannot be in the file.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
// Room for the zlib header and the last partial block.
constexpr std::uint64_t kDeflateSlackBytes = 1024;

struct PngReadState {
  std::span<const std::uint8_t> input;
  std::size_t position = 0;
  std::string error;
  std::vector<std::uint8_t> decoded;  // rows as libpng gives them, when they need converting
  std::vector<png_bytep> rows;
  LoadedPicture result;
};

void read_from_memory(png_structp png, png_bytep out, png_size_t count) {
  auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
  if (count > state->input.size() - state->position) png_error(png, "the file ends inside the picture data");
  std::memcpy(out, state->input.data() + state->position, count);
  state->position += count;
}

void report_error(png_structp png, png_const_charp text) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  if (error != nullptr && error->empty()) *error = text;
  png_longjmp(png, 1);
}

void ignore_warning(png_structp, png_const_charp) {}

// Composites a straight-alpha sample over white, rounding to nearest.
std::uint8_t over_white(unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// What the chunk list holds, walked in memory before libpng decodes anything (CRCs are libpng's
// business). Metadata is noticed here even when libpng would ignore a malformed copy of it.
struct ChunkFacts {
  std::uint64_t compressed_bytes = 0;  // IDAT lengths
  bool colour_profile = false;         // iCCP
  bool exif = false;                   // eXIf
};

ChunkFacts scan_chunks(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
  ChunkFacts facts;
  for (std::size_t at = 8; bytes.size() - at >= kChunkOverhead;) {
    const std::uint32_t length = png_get_uint_32(&bytes[at]);
    const auto* type = &bytes[at + 4];
    if (std::memcmp(type, "IDAT", 4) == 0) facts.compressed_bytes += length;
    facts.colour_profile |= std::memcmp(type, "iCCP", 4) == 0;
    facts.exif |= std::memcmp(type, "eXIf", 4) == 0;
    if (length > bytes.size() - at - kChunkOverhead) break;
    at += kChunkOverhead + length;
  }
  return facts;
}

// One row of libpng's output (1 to 4 channels, alpha last) into grey or RGB pixels.
void convert_row(const std::uint8_t* in, std::size_t in_channels, std::uint8_t* out, std::size_t out_channels,
                 std::size_t width) {
  const bool alpha = in_channels == 2 || in_channels == 4;
  const std::size_t colours = in_channels - (alpha ? 1 : 0);
  for (std::size_t x = 0; x < width; ++x, in += in_channels) {
    for (std::size_t c = 0; c < out_channels; ++c) {
      const std::uint8_t v = in[colours == 1 ? 0 : c];  // a grey palette's red is its level
      *out++ = alpha ? over_white(v, in[in_channels - 1]) : v;
    }
  }
}

}  // namespace

Result<LoadedPicture> read_png(std::span<const std::uint8_t> bytes, const Limits& limits) {
  if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0)
    return {Status::kInvalidFile, "not a PNG file"};

  auto state = std::make_unique<PngReadState>();
  state->input = bytes;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state->error, report_error, ignore_warning);
  if (png == nullptr) return {Status::kOutOfMemory, "cannot start the PNG reader"};
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return {Status::kOutOfMemory, "cannot start the PNG reader"};
  }
  PngReadState* const s = state.get();
  LoadedPicture* const result = &s->result;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {Status::kInvalidFile, s->error.empty() ? std::string("corrupt PNG data") : "corrupt PNG data: " + s->error};
  }
  png_set_read_fn(png, s, read_from_memory);
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colour_type = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour_type, nullptr, nullptr, nullptr);
  // Sides within what a .cod file holds keep every size product below 2^32 * 4.
  const std::uint64_t raw_bytes = std::uint64_t{height} * (1 + (std::uint64_t{width} * png_get_channels(png, info) *
                                                                    static_cast<unsigned>(depth) + 7) / 8);
  auto refuse = [&png, &info](Status status, std::string message) -> Result<LoadedPicture> {
    png_destroy_read_struct(&png, &info, nullptr);
    return {status, std::move(message)};
  };
  if (width > static_cast<png_uint_32>(format::kMaxSide) || height > static_cast<png_uint_32>(format::kMaxSide))
    return refuse(Status::kInvalidFile, "the picture's sides must be at most 32767 pixels");
  if (std::uint64_t{width} * height > limits.max_pixels)
    return refuse(Status::kLimitExceeded, pixel_limit_message(width, height, limits.max_pixels));
  const ChunkFacts chunks = scan_chunks(bytes);
  if (chunks.compressed_bytes * kMaxDeflateRatio + kDeflateSlackBytes < raw_bytes)
    return refuse(Status::kInvalidFile, "the PNG file ends inside the picture data");

  bool grey_palette = false;
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    int count = 0;
    grey_palette = png_get_PLTE(png, info, &palette, &count) != 0 && count > 0;
    for (int i = 0; grey_palette && i < count; ++i)
      grey_palette = palette[i].red == palette[i].green && palette[i].green == palette[i].blue;
  }
  const bool has_alpha = (colour_type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool colour = (colour_type & PNG_COLOR_MASK_COLOR) != 0 && !grey_palette;

  if (depth == 16) {
    png_set_scale_16(png);  // rounds to nearest: 0x00C0 gives 1, not 0
    png_color_8p significant = nullptr;
    int bits = 16;
    if (png_get_sBIT(png, info, &significant) != 0) {
      bits = std::max({significant->red, significant->green, significant->blue, significant->gray});
      if (bits <= 8 || bits > 16) bits = 16;
    }
    result->notices.emplace_back(std::to_string(bits) + "-bit samples reduced to 8 bits");
  }
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_palette_to_rgb(png);
    if (!grey_palette) result->notices.emplace_back("colour palette expanded to 24-bit colour");
  }
  if (colour_type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (has_alpha) result->notices.emplace_back("transparency removed by blending over white");
  if (chunks.colour_profile) result->notices.emplace_back("ICC colour profile dropped (pixel values kept as stored)");
  if (chunks.exif) result->notices.emplace_back("EXIF block dropped");
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t in_channels = png_get_channels(png, info);
  const std::size_t out_channels = colour ? 3 : 1;
  if (png_get_rowbytes(png, info) != std::size_t{width} * in_channels) png_error(png, "unexpected row layout");

  // Rows libpng gives in the picture's own layout go straight into it; others (alpha, a grey
  // palette) through one row, or through the whole picture when it is interlaced.
  Picture& picture = result->picture;
  const bool direct = in_channels == out_channels;
  try {
    utils::resize_large(picture.pixels, std::size_t{width} * height * out_channels);
    s->rows.resize(direct || passes > 1 ? height : 1);
    if (!direct) utils::resize_large(s->decoded, std::size_t{width} * in_channels * s->rows.size());
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {Status::kOutOfMemory, "out of memory reading the PNG picture"};
  }
  std::uint8_t* const first = direct ? picture.pixels.data() : s->decoded.data();
  for (std::size_t y = 0; y < s->rows.size(); ++y) s->rows[y] = first + y * width * in_channels;
  if (direct || passes > 1) {
    png_read_image(png, s->rows.data());
    for (std::size_t y = 0; !direct && y < height; ++y)
      convert_row(s->rows[y], in_channels, picture.pixels.data() + y * width * out_channels, out_channels, width);
  } else {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, s->rows[0], nullptr);
      convert_row(s->rows[0], in_channels, picture.pixels.data() + std::size_t{y} * width * out_channels,
                  out_channels, width);
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);

  picture.width = width;
  picture.height = height;
  picture.format = colour ? PixelFormat::kRgb24 : PixelFormat::kGrey8;
  return std::move(*result);
}

namespace {

struct PngWriteState {
  std::vector<std::uint8_t> output;
  std::string error;
};

void write_to_memory(png_structp png, png_bytep data, png_size_t count) {
  auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
  state->output.insert(state->output.end(), data, data + count);
}

void flush_nothing(png_structp) {}

}  // namespace

Result<std::vector<std::uint8_t>> write_png(const Picture& picture) {
  if (picture.format == PixelFormat::kBgr24) return write_png(to_rgb(picture));
  const std::size_t stride = picture.stride();
  if (picture.width == 0 || picture.height == 0 || picture.pixels.size() < stride * picture.height)
    return {Status::kInvalidArgument, "empty or inconsistent picture"};

  auto state = std::make_unique<PngWriteState>();
  PngWriteState* const s = state.get();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s->error, report_error, ignore_warning);
  if (png == nullptr) return {Status::kOutOfMemory, "cannot start the PNG writer"};
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return {Status::kOutOfMemory, "cannot start the PNG writer"};
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {Status::kInternalError, "PNG writer failed: " + s->error};
  }
  png_set_write_fn(png, s, write_to_memory, flush_nothing);
  png_set_IHDR(png, info, picture.width, picture.height, 8,
               picture.format == PixelFormat::kGrey8 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < picture.height; ++y)
    png_write_row(png, const_cast<png_bytep>(picture.pixels.data() + y * stride));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::move(s->output);
}

}  // namespace varnic::cli
