// Display headers, row geometry, status messages and file titles.
#include <algorithm>

#include "codec/picture_geometry.h"
#include "imagefile/imagefile.h"
#include "imagefile/le_bytes.h"

namespace varnic::imagefile {

using detail::get_i32;
using detail::get_u16;
using detail::get_u32;
using detail::put_u16;
using detail::put_u32;

const char* status_message(FileStatus status) {
  switch (status) {
    case FileStatus::kOk: return "";
    case FileStatus::kCannotOpen: return "Cannot Open File";
    case FileStatus::kNotCompressed: return "It is not a compressed file";
    case FileStatus::kVersionTooLow: return "Incompatible Version(too low)";
    case FileStatus::kVersionTooHigh: return "Incompatible Version(too high)";
    case FileStatus::kNotBitmap: return "The file is not a Bitmap file";
    case FileStatus::kBitmapDepth: return "The file is not in a 24 bit or 8 bit mode";
    case FileStatus::kBitmapCompressed: return "VARNIC does not support compressed format of bitmap";
    case FileStatus::kBitmapSize: return "The width or height of the Bitmap file is not supported";
    case FileStatus::kBitmapColours: return "The Bitmap file has more than 256 colours";
    case FileStatus::kBitmapTruncated: return "The Bitmap file is shorter than its picture";
    case FileStatus::kTargaType: return "The type of Targa file is not supported";
    case FileStatus::kTargaDepth: return "The Targa file is not in a 24 bit or 8 bit mode";
    case FileStatus::kTargaColourMap: return "The colour map of the Targa file is not supported";
    case FileStatus::kTargaSize: return "The width or height of the Targa file is not supported";
    case FileStatus::kTargaTruncated: return "The Targa file is shorter than its picture";
    case FileStatus::kPictureTooLarge: return "The picture is larger than VARNIC can open";
    case FileStatus::kFileTooLarge: return "The file is too large to open";
    case FileStatus::kOutOfMemory: return "Not enough memory to open the file";
    case FileStatus::kCannotWrite: return "Cannot Write File";
  }
  return "Unknown file error";
}

FileMessage file_message(FileStatus status, std::string_view path) {
  std::string message = status_message(status);
  switch (status) {
    case FileStatus::kNotBitmap:
    case FileStatus::kBitmapDepth:
    case FileStatus::kBitmapCompressed:
    case FileStatus::kBitmapSize:
    case FileStatus::kBitmapColours:
    case FileStatus::kBitmapTruncated:
    case FileStatus::kTargaType:
    case FileStatus::kTargaDepth:
    case FileStatus::kTargaColourMap:
    case FileStatus::kTargaSize:
    case FileStatus::kTargaTruncated:
    case FileStatus::kPictureTooLarge:
      return {std::move(message), std::string(path)};
    default:
      return {std::string(path), std::move(message)};
  }
}

void write_info_header(const InfoHeader& info, std::span<std::uint8_t, kInfoHeaderBytes> out) {
  std::uint8_t* p = out.data();
  put_u32(p + 0, info.size_);
  put_u32(p + 4, static_cast<std::uint32_t>(info.width_));
  put_u32(p + 8, static_cast<std::uint32_t>(info.height_));
  put_u16(p + 12, info.planes_);
  put_u16(p + 14, info.bit_count_);
  put_u32(p + 16, info.compression_);
  put_u32(p + 20, info.image_size_);
  put_u32(p + 24, static_cast<std::uint32_t>(info.x_pels_per_metre_));
  put_u32(p + 28, static_cast<std::uint32_t>(info.y_pels_per_metre_));
  put_u32(p + 32, info.colours_used_);
  put_u32(p + 36, info.colours_important_);
}

InfoHeader parse_info_header(std::span<const std::uint8_t, kInfoHeaderBytes> bytes) {
  const std::uint8_t* p = bytes.data();
  InfoHeader info;
  info.size_ = get_u32(p + 0);
  info.width_ = get_i32(p + 4);
  info.height_ = get_i32(p + 8);
  info.planes_ = get_u16(p + 12);
  info.bit_count_ = get_u16(p + 14);
  info.compression_ = get_u32(p + 16);
  info.image_size_ = get_u32(p + 20);
  info.x_pels_per_metre_ = get_i32(p + 24);
  info.y_pels_per_metre_ = get_i32(p + 28);
  info.colours_used_ = get_u32(p + 32);
  info.colours_important_ = get_u32(p + 36);
  return info;
}

std::array<std::uint8_t, kDisplayHeaderBytes> serialize_display_header(const DisplayHeader& header) {
  std::array<std::uint8_t, kDisplayHeaderBytes> out{};
  write_info_header(header.info_, std::span<std::uint8_t, kInfoHeaderBytes>(out.data(), kInfoHeaderBytes));
  std::copy(header.colour_table_.begin(), header.colour_table_.end(), out.begin() + kInfoHeaderBytes);
  return out;
}

void set_grey_colour_table(DisplayHeader& header) {
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    header.colour_table_[4 * i + 0] = level;
    header.colour_table_[4 * i + 1] = level;
    header.colour_table_[4 * i + 2] = level;
    header.colour_table_[4 * i + 3] = 0;
  }
}

bool is_grey_palette(const DisplayHeader& header) {
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const std::uint8_t* e = &header.colour_table_[4 * i];
    if (e[0] != e[1] || e[1] != e[2]) return false;
  }
  return true;
}

void fill_bitmap_header(std::uint16_t mode, bool eight_bit_display, int width, int height,
                        std::uint32_t picture_bytes, DisplayHeader& header) {
  InfoHeader& info = header.info_;
  info.size_ = kInfoHeaderBytes;
  info.width_ = width;
  info.height_ = height;
  info.planes_ = 1;
  info.x_pels_per_metre_ = 0;
  info.y_pels_per_metre_ = 0;
  if (mode == kModeGrey || eight_bit_display) {
    info.compression_ = 0;
    info.bit_count_ = 8;
    info.image_size_ = picture_bytes;
    info.colours_used_ = 256;
    info.colours_important_ = 256;
  } else if (mode == kModeColour) {
    info.bit_count_ = 24;
    info.compression_ = 0;
    info.image_size_ = picture_bytes;
    info.colours_used_ = 0;
    info.colours_important_ = 0;
  }
}

RowGeometry row_geometry(int bits_per_pixel, int width, int height) {
  const codec::RowGeometry c = codec::ComputeRowGeometry(static_cast<std::uint32_t>(width),
                                                         static_cast<std::uint32_t>(height),
                                                         static_cast<std::uint16_t>(bits_per_pixel));
  RowGeometry g;
  g.row_padding_ = c.row_padding;
  g.row_bytes_ = c.row_bytes - c.row_padding;
  g.picture_bytes_ = c.picture_bytes;
  g.index_row_padding_ = c.index_row_padding;
  g.index_bytes_ = c.index_bytes;
  return g;
}

namespace {

// Start of the UTF-8 character that contains byte `pos` (continuation bytes
// are 10xxxxxx).
std::size_t char_start(std::string_view s, std::size_t pos) {
  while (pos > 0 && pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
  return pos;
}

}  // namespace

std::string file_title(std::string_view path) {
#if defined(_WIN32)
  // Windows separates folders with either slash, and a drive with a colon.
  const std::size_t slash = path.find_last_of("/\\:");
#else
  const std::size_t slash = path.find_last_of('/');
#endif
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.size() <= kMaxFileTitle) return std::string(name);

  // Keep the start (what the name is) and the end (numbering and extension).
  constexpr std::string_view kEllipsis = "...";
  constexpr std::size_t kKeep = kMaxFileTitle - kEllipsis.size();
  const std::size_t head = char_start(name, kKeep / 2);
  std::size_t tail_start = name.size() - (kKeep - kKeep / 2);
  // Move forward to a character boundary so that no character is split.
  while (tail_start < name.size() && (static_cast<unsigned char>(name[tail_start]) & 0xC0) == 0x80) ++tail_start;
  std::string out(name.substr(0, head));
  out += kEllipsis;
  out += name.substr(tail_start);
  return out;
}

}  // namespace varnic::imagefile
