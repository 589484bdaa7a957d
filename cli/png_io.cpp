// PNG through libpng's progressive-free classic interface, reading from and writing to memory.
// libpng reports errors by longjmp, so every object that must survive one lives in a heap
// record reached through a pointer that is set before setjmp and never changed afterwards.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

#include "utils/memory.h"
#include "picture_io.h"

namespace varnic::cli {
namespace {

struct PngReadState {
  std::span<const std::uint8_t> input;
  std::size_t position = 0;
  std::string error;
  std::vector<std::uint8_t> rgba;  // decoded rows, 8-bit samples
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
  // The pixel limit is checked below; libpng's own default caps (1 000 000 per side) stay as a
  // second guard against absurd headers.
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colour_type = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour_type, nullptr, nullptr, nullptr);
  if (static_cast<std::uint64_t>(width) * height > limits.max_pixels) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {Status::kLimitExceeded, "the picture has " + std::to_string(std::uint64_t{width} * height) +
                                        " pixels, more than the limit of " + std::to_string(limits.max_pixels)};
  }

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
    png_set_scale_16(png);
    result->notices.emplace_back("16-bit samples reduced to 8 bits");
  }
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_palette_to_rgb(png);
    if (!grey_palette) result->notices.emplace_back("colour palette expanded to 24-bit colour");
  }
  if (colour_type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (has_alpha) result->notices.emplace_back("transparency removed by blending over white");
  // Decode everything as RGBA so that one loop below handles every kind of input.
  if ((colour_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  if (!has_alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != std::size_t{width} * 4) png_error(png, "unexpected row layout");

  try {
    utils::resize_large(s->rgba, std::size_t{width} * height * 4);
    s->rows.resize(height);
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {Status::kOutOfMemory, "out of memory reading the PNG picture"};
  }
  for (png_uint_32 y = 0; y < height; ++y) s->rows[y] = s->rgba.data() + std::size_t{y} * width * 4;
  png_read_image(png, s->rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);

  Picture& picture = result->picture;
  picture.width = width;
  picture.height = height;
  picture.format = colour ? PixelFormat::kRgb24 : PixelFormat::kGrey8;
  const int channels = colour ? 3 : 1;
  utils::resize_large(picture.pixels, std::size_t{width} * height * static_cast<std::size_t>(channels));
  std::uint8_t* out = picture.pixels.data();
  for (std::size_t i = 0, n = std::size_t{width} * height; i < n; ++i) {
    const std::uint8_t* p = &s->rgba[i * 4];
    for (int c = 0; c < channels; ++c) *out++ = has_alpha ? over_white(p[c], p[3]) : p[c];
  }
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
