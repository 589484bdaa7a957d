// Kind detection, bitmap and Targa glue over the imagefile module, and layout conversions.
#include "picture_io.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "utils/memory.h"
#include "format/format.h"
#include "imagefile/imagefile.h"
#include "utils/le_bytes.h"

namespace varnic::cli {
namespace {

std::string lower_extension(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  std::string ext(path.substr(dot));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

Status from_file_status(imagefile::FileStatus status) {
  switch (status) {
    case imagefile::FileStatus::kOk: return Status::kOk;
    case imagefile::FileStatus::kPictureTooLarge:
    case imagefile::FileStatus::kFileTooLarge: return Status::kLimitExceeded;
    case imagefile::FileStatus::kOutOfMemory: return Status::kOutOfMemory;
    default: return Status::kInvalidFile;
  }
}

// Bottom-up padded rows of the program's buffers into the public top-down packed layout.
Result<LoadedPicture> from_program_picture(const imagefile::PictureBuffer& in) {
  LoadedPicture loaded;
  Picture& out = loaded.picture;
  out.width = static_cast<std::uint32_t>(in.width);
  out.height = static_cast<std::uint32_t>(in.height);
  out.format = in.image_mode == format::kImageModeGrey ? PixelFormat::kGrey8 : PixelFormat::kRgb24;
  try {
    utils::resize_large(out.pixels, out.stride() * out.height);
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, "out of memory converting the picture"};
  }
  const utils::RowGeometry geometry = in.geometry();
  const std::size_t in_stride = geometry.stride;
  const auto& table = in.header.colour_table;
  for (std::uint32_t y = 0; y < out.height; ++y) {
    const std::uint8_t* src = in.pixels.data() + (out.height - 1 - y) * in_stride;
    std::uint8_t* dst = out.pixels.data() + y * out.stride();
    for (std::uint32_t x = 0; x < out.width; ++x) {
      if (in.image_mode == format::kImageModeGrey) {
        dst[x] = src[x];
      } else if (in.image_mode == format::kImageModePalette) {
        const std::uint8_t* entry = &table[std::size_t{src[x]} * 4];  // blue, green, red, 0
        dst[3 * x] = entry[2];
        dst[3 * x + 1] = entry[1];
        dst[3 * x + 2] = entry[0];
      } else {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    }
  }
  if (in.image_mode == format::kImageModePalette)
    loaded.notices.emplace_back("8-bit colour palette expanded to 24-bit colour");
  return loaded;
}

// A refusal of the bitmap or Targa reader; a limit refusal says the sides its header declares.
template <class T>
Result<T> program_refusal(imagefile::FileStatus status, std::span<const std::uint8_t> bytes, bool targa,
                          const Limits& limits) {
  if (status != imagefile::FileStatus::kPictureTooLarge) return {from_file_status(status), imagefile::status_message(status)};
  // The reader read these fields before it compared their product with the limit.
  const std::uint64_t width = targa ? utils::load_u16(&bytes[12]) : static_cast<std::uint64_t>(utils::load_i32(&bytes[18]));
  const std::int64_t height = targa ? utils::load_u16(&bytes[14]) : utils::load_i32(&bytes[22]);
  return {Status::kLimitExceeded, pixel_limit_message(width, static_cast<std::uint64_t>(height < 0 ? -height : height),
                                                      limits.max_pixels)};
}

// A version 5 bitmap header (124 bytes) can carry an ICC profile, marked by colour space 'MBED';
// the reader keeps the pixels only.
constexpr std::size_t kV5HeaderBytes = 124;
constexpr std::uint32_t kEmbeddedProfile = 0x4D424544;

void add_bitmap_notices(std::span<const std::uint8_t> bytes, std::vector<std::string>& notices) {
  constexpr std::size_t kColourSpace = imagefile::kFileHeaderBytes + 56;
  if (bytes.size() > kColourSpace + 4 && utils::load_u32(&bytes[imagefile::kFileHeaderBytes]) >= kV5HeaderBytes &&
      utils::load_u32(&bytes[kColourSpace]) == kEmbeddedProfile)
    notices.emplace_back("ICC colour profile dropped (pixel values kept as stored)");
}

Result<LoadedPicture> read_program_format(std::span<const std::uint8_t> bytes, const Limits& limits, bool targa) {
  imagefile::PictureBuffer picture;
  imagefile::ReadLimits read_limits;
  read_limits.max_pixels = limits.max_pixels;
  const imagefile::FileStatus status =
      targa ? imagefile::read_targa(bytes, picture, read_limits) : imagefile::read_bitmap(bytes, picture, read_limits);
  if (status != imagefile::FileStatus::kOk) return program_refusal<LoadedPicture>(status, bytes, targa, limits);
  Result<LoadedPicture> loaded = from_program_picture(picture);
  if (loaded && !targa) add_bitmap_notices(bytes, loaded.value().notices);
  return loaded;
}

// The program's picture record for `in` (sides, mode, header) without pixels.
Result<imagefile::PictureBuffer> program_shape(const Picture& in) {
  if (in.width == 0 || in.height == 0 || in.width > format::kMaxSide || in.height > format::kMaxSide)
    return {Status::kInvalidArgument, "bitmap and Targa sides must be 1..32767"};
  if (in.pixels.size() < in.stride() * in.height) return {Status::kInvalidArgument, "inconsistent picture"};
  imagefile::PictureBuffer out;
  out.width = static_cast<int>(in.width);
  out.height = static_cast<int>(in.height);
  const bool grey = in.format == PixelFormat::kGrey8;
  out.bits_per_pixel = grey ? 8 : 24;
  out.image_mode = grey ? format::kImageModeGrey : format::kImageModeColour;
  if (grey) imagefile::set_grey_colour_table(out.header);
  imagefile::fill_bitmap_header(out.image_mode, false, out.width, out.height,
                                static_cast<std::uint32_t>(out.geometry().picture_bytes), out.header);
  return out;
}

// `in`'s rows into the program's layout: bottom row first, blue first, rows
// `stride` bytes apart (padding left as it is).
void copy_program_rows(const Picture& in, std::span<std::uint8_t> out, std::size_t stride) {
  const bool swap = in.format == PixelFormat::kRgb24;
  for (std::uint32_t y = 0; y < in.height; ++y) {
    const std::uint8_t* src = in.pixels.data() + y * in.stride();
    std::uint8_t* dst = out.data() + (in.height - 1 - y) * stride;
    if (!swap) {
      std::copy(src, src + in.stride(), dst);
    } else {
      for (std::uint32_t x = 0; x < in.width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    }
  }
}

Result<imagefile::PictureBuffer> to_program_picture(const Picture& in) {
  Result<imagefile::PictureBuffer> shaped = program_shape(in);
  if (!shaped) return shaped;
  imagefile::PictureBuffer out = std::move(shaped).value();
  const utils::RowGeometry geometry = out.geometry();
  try {
    utils::assign_large(out.pixels, geometry.picture_bytes);
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, "out of memory converting the picture"};
  }
  copy_program_rows(in, out.pixels, geometry.stride);
  return out;
}

}  // namespace

std::string pixel_limit_message(std::uint64_t width, std::uint64_t height, std::uint64_t limit) {
  // Sides up to 2^32 each: the product fits in 64 bits.
  return "the picture is " + std::to_string(width) + "x" + std::to_string(height) + " = " +
         std::to_string(width * height) + " pixels, more than the limit of " + std::to_string(limit);
}

FileKind kind_from_extension(std::string_view path) {
  const std::string ext = lower_extension(path);
  if (ext == ".bmp" || ext == ".dib") return FileKind::kBmp;
  if (ext == ".tga" || ext == ".targa") return FileKind::kTga;
  if (ext == ".png") return FileKind::kPng;
  if (ext == ".pnm" || ext == ".ppm" || ext == ".pgm") return FileKind::kPnm;
  if (ext == ".cod") return FileKind::kCod;
  return FileKind::kUnknown;
}

FileKind sniff_kind(std::span<const std::uint8_t> bytes, std::string_view path) {
  if (bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G')
    return FileKind::kPng;
  if (format::has_family_magic(bytes)) return FileKind::kCod;
  if (bytes.size() >= 2 && ((bytes[0] == 'B' && bytes[1] == 'M') || (bytes[0] == 'M' && bytes[1] == 'B')))
    return FileKind::kBmp;
  if (bytes.size() >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7' && std::isspace(bytes[2]))
    return FileKind::kPnm;
  return kind_from_extension(path) == FileKind::kTga ? FileKind::kTga : FileKind::kUnknown;
}

std::string_view extension_of(FileKind kind) {
  switch (kind) {
    case FileKind::kBmp: return ".bmp";
    case FileKind::kTga: return ".tga";
    case FileKind::kPng: return ".png";
    case FileKind::kPnm: return ".pnm";
    case FileKind::kCod: return ".cod";
    case FileKind::kUnknown: break;
  }
  return "";
}

Result<LoadedPicture> read_bmp(std::span<const std::uint8_t> bytes, const Limits& limits) {
  return read_program_format(bytes, limits, false);
}

Result<LoadedPicture> read_tga(std::span<const std::uint8_t> bytes, const Limits& limits) {
  return read_program_format(bytes, limits, true);
}

Result<LoadedPicture> read_picture(std::span<const std::uint8_t> bytes, std::string_view path, const Limits& limits) {
  switch (sniff_kind(bytes, path)) {
    case FileKind::kBmp: return read_bmp(bytes, limits);
    case FileKind::kTga: return read_tga(bytes, limits);
    case FileKind::kPng: return read_png(bytes, limits);
    case FileKind::kPnm: return read_pnm(bytes, limits);
    case FileKind::kCod: return {Status::kInvalidFile, "a compressed file is not a picture (use decompress)"};
    case FileKind::kUnknown: break;
  }
  return {Status::kInvalidFile, "not a BMP, Targa (.tga), PNG or PNM picture"};
}

Result<EncodablePicture> read_picture_for_encoding(std::span<const std::uint8_t> bytes, std::string_view path,
                                                   const Limits& limits) {
  const FileKind kind = sniff_kind(bytes, path);
  if (kind == FileKind::kBmp || kind == FileKind::kTga) {
    imagefile::PictureBuffer program;
    imagefile::ReadLimits read_limits;
    read_limits.max_pixels = limits.max_pixels;
    const imagefile::FileStatus status = kind == FileKind::kTga ? imagefile::read_targa(bytes, program, read_limits)
                                                                : imagefile::read_bitmap(bytes, program, read_limits);
    if (status != imagefile::FileStatus::kOk)
      return program_refusal<EncodablePicture>(status, bytes, kind == FileKind::kTga, limits);
    if (program.image_mode != format::kImageModePalette) {
      const utils::RowGeometry geometry = program.geometry();
      EncodablePicture out;
      out.width = static_cast<std::uint32_t>(program.width);
      out.height = static_cast<std::uint32_t>(program.height);
      out.stride = geometry.stride;
      out.format = program.image_mode == format::kImageModeGrey ? PixelFormat::kGrey8 : PixelFormat::kBgr24;
      out.bottom_up = true;
      out.pixels = std::move(program.pixels);
      if (kind == FileKind::kBmp) add_bitmap_notices(bytes, out.notices);
      return out;
    }
    // Palette pictures are expanded to colour below, like every other kind.
  }
  Result<LoadedPicture> loaded = read_picture(bytes, path, limits);
  if (!loaded) return {loaded.status(), loaded.message()};
  EncodablePicture out;
  Picture& picture = loaded.value().picture;
  out.width = picture.width;
  out.height = picture.height;
  out.stride = picture.stride();
  out.format = picture.format;
  out.pixels = std::move(picture.pixels);
  out.notices = std::move(loaded.value().notices);
  return out;
}

Picture EncodablePicture::to_picture() const {
  Picture out;
  out.width = width;
  out.height = height;
  out.format = format == PixelFormat::kGrey8 ? PixelFormat::kGrey8 : PixelFormat::kRgb24;
  utils::resize_large(out.pixels, out.stride() * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = pixels.data() + (bottom_up ? height - 1 - y : y) * stride;
    std::uint8_t* dst = out.pixels.data() + y * out.stride();
    if (format != PixelFormat::kBgr24) {
      std::copy(src, src + out.stride(), dst);
    } else {
      for (std::uint32_t x = 0; x < width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    }
  }
  return out;
}

Result<std::vector<std::uint8_t>> write_bmp(const Picture& picture) {
  Result<imagefile::PictureBuffer> shape = program_shape(picture);
  if (!shape) return {shape.status(), shape.message()};
  const utils::RowGeometry geometry = shape.value().geometry();
  try {
    // Rows straight into the file: no program picture in between.
    std::vector<std::uint8_t> file = imagefile::encode_bitmap(shape.value(), [&](std::span<std::uint8_t> rows) {
      copy_program_rows(picture, rows, geometry.stride);
    });
    if (file.empty()) return {Status::kInvalidArgument, "inconsistent picture"};
    return file;
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, "out of memory writing the bitmap"};
  }
}

Result<std::vector<std::uint8_t>> write_tga(const Picture& picture) {
  Result<imagefile::PictureBuffer> program = to_program_picture(picture);
  if (!program) return {program.status(), program.message()};
  return imagefile::encode_targa(program.value());
}

Result<std::vector<std::uint8_t>> write_picture(const Picture& picture, FileKind kind) {
  switch (kind) {
    case FileKind::kBmp: return write_bmp(picture);
    case FileKind::kTga: return write_tga(picture);
    case FileKind::kPng: return write_png(picture);
    case FileKind::kPnm: return write_pnm(picture);
    default: break;
  }
  return {Status::kInvalidArgument, "pictures are written as bmp, tga, png or pnm"};
}

Picture to_rgb(const Picture& picture) {
  Picture out;
  out.width = picture.width;
  out.height = picture.height;
  out.format = PixelFormat::kRgb24;
  const std::size_t pixels = std::size_t{picture.width} * picture.height;
  utils::resize_large(out.pixels, pixels * 3);
  for (std::size_t i = 0; i < pixels; ++i) {
    std::uint8_t* d = &out.pixels[3 * i];
    if (picture.format == PixelFormat::kGrey8) {
      d[0] = d[1] = d[2] = picture.pixels[i];
    } else {
      const std::uint8_t* s = &picture.pixels[3 * i];
      const bool swap = picture.format == PixelFormat::kBgr24;
      d[0] = swap ? s[2] : s[0];
      d[1] = s[1];
      d[2] = swap ? s[0] : s[2];
    }
  }
  return out;
}

}  // namespace varnic::cli
