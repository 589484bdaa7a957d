// SPDX-License-Identifier: BSD-2-Clause
// Display headers, row geometry, status messages and file titles.
#include <algorithm>

#include "utils/picture_layout.h"
#include "imagefile/imagefile.h"
#include "utils/le_bytes.h"

namespace varnic::imagefile {

using utils::load_i32;
using utils::load_u16;
using utils::load_u32;
using utils::store_u16;
using utils::store_u32;

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
    case FileStatus::kUnknownKind: return "not a BMP, Targa (.tga), PNG, PNM, JPEG, TIFF, WebP or .cod file";
    case FileStatus::kPictureSides: return "the picture's sides must be at most 32767 pixels";
    case FileStatus::kNotPng: return "not a PNG file";
    case FileStatus::kPngCorrupt: return "corrupt PNG data";
    case FileStatus::kPngTruncated: return "the PNG file ends inside the picture data";
    case FileStatus::kNotPnm: return "not a PNM file";
    case FileStatus::kPnmKind: return "this PNM kind is not supported (use P2, P3, P5 or P6)";
    case FileStatus::kPnmHeader: return "the PNM header is incomplete";
    case FileStatus::kPnmEmpty: return "the PNM picture has no pixels";
    case FileStatus::kPnmMaxval: return "the PNM maximum value is not 1..65535";
    case FileStatus::kPnmBlank: return "the PNM header is not followed by a blank";
    case FileStatus::kPnmTruncated: return "the PNM file ends inside the picture data";
    case FileStatus::kPnmSample: return "a PNM sample exceeds the maximum value";
    case FileStatus::kCompressedDamaged: return "the compressed file is damaged";
    case FileStatus::kCannotEncode: return "the picture cannot be compressed with these settings";
    case FileStatus::kJpegCorrupt: return "corrupt JPEG data";
    case FileStatus::kJpegTruncated: return "the JPEG file ends inside the picture data";
    case FileStatus::kTiffCorrupt: return "corrupt TIFF data";
    case FileStatus::kWebpCorrupt: return "corrupt WebP data";
    case FileStatus::kPhotoLayout: return "the picture's samples are of a kind that is not read";
    case FileStatus::kCmykWithoutProfile:
      return "a CMYK picture without an ICC profile: its colours are unknown (convert it to RGB first)";
    case FileStatus::kFormatNotBuilt: return "JPEG, TIFF and WebP pictures are not read by this build";
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
    case FileStatus::kOk:
    case FileStatus::kCannotOpen:
    case FileStatus::kNotCompressed:
    case FileStatus::kVersionTooLow:
    case FileStatus::kVersionTooHigh:
    case FileStatus::kFileTooLarge:
    case FileStatus::kOutOfMemory:
    case FileStatus::kCannotWrite:
    case FileStatus::kUnknownKind:
    case FileStatus::kPictureSides:
    case FileStatus::kNotPng:
    case FileStatus::kPngCorrupt:
    case FileStatus::kPngTruncated:
    case FileStatus::kNotPnm:
    case FileStatus::kPnmKind:
    case FileStatus::kPnmHeader:
    case FileStatus::kPnmEmpty:
    case FileStatus::kPnmMaxval:
    case FileStatus::kPnmBlank:
    case FileStatus::kPnmTruncated:
    case FileStatus::kPnmSample:
    case FileStatus::kCompressedDamaged:
    case FileStatus::kCannotEncode:
    case FileStatus::kJpegCorrupt:
    case FileStatus::kJpegTruncated:
    case FileStatus::kTiffCorrupt:
    case FileStatus::kWebpCorrupt:
    case FileStatus::kPhotoLayout:
    case FileStatus::kCmykWithoutProfile:
    case FileStatus::kFormatNotBuilt:
      break;
  }
  return {std::string(path), std::move(message)};
}

void write_info_header(const InfoHeader& info, std::span<std::uint8_t, kInfoHeaderBytes> out) {
  std::uint8_t* p = out.data();
  utils::store_u32(p + 0, info.size);
  utils::store_u32(p + 4, static_cast<std::uint32_t>(info.width));
  utils::store_u32(p + 8, static_cast<std::uint32_t>(info.height));
  utils::store_u16(p + 12, info.planes);
  utils::store_u16(p + 14, info.bit_count);
  utils::store_u32(p + 16, info.compression);
  utils::store_u32(p + 20, info.image_size);
  utils::store_u32(p + 24, static_cast<std::uint32_t>(info.x_pels_per_metre));
  utils::store_u32(p + 28, static_cast<std::uint32_t>(info.y_pels_per_metre));
  utils::store_u32(p + 32, info.colours_used);
  utils::store_u32(p + 36, info.colours_important);
}

InfoHeader parse_info_header(std::span<const std::uint8_t, kInfoHeaderBytes> bytes) {
  const std::uint8_t* p = bytes.data();
  InfoHeader info;
  info.size = utils::load_u32(p + 0);
  info.width = utils::load_i32(p + 4);
  info.height = utils::load_i32(p + 8);
  info.planes = utils::load_u16(p + 12);
  info.bit_count = utils::load_u16(p + 14);
  info.compression = utils::load_u32(p + 16);
  info.image_size = utils::load_u32(p + 20);
  info.x_pels_per_metre = utils::load_i32(p + 24);
  info.y_pels_per_metre = utils::load_i32(p + 28);
  info.colours_used = utils::load_u32(p + 32);
  info.colours_important = utils::load_u32(p + 36);
  return info;
}

std::array<std::uint8_t, kDisplayHeaderBytes> serialize_display_header(const DisplayHeader& header) {
  std::array<std::uint8_t, kDisplayHeaderBytes> out{};
  write_info_header(header.info, std::span<std::uint8_t, kInfoHeaderBytes>(out.data(), kInfoHeaderBytes));
  std::copy(header.colour_table.begin(), header.colour_table.end(), out.begin() + kInfoHeaderBytes);
  return out;
}

void set_grey_colour_table(DisplayHeader& header) {
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    header.colour_table[4 * i + 0] = level;
    header.colour_table[4 * i + 1] = level;
    header.colour_table[4 * i + 2] = level;
    header.colour_table[4 * i + 3] = 0;
  }
}

bool is_grey_palette(const DisplayHeader& header) {
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const std::uint8_t* e = &header.colour_table[4 * i];
    if (e[0] != e[1] || e[1] != e[2]) return false;
  }
  return true;
}

void fill_bitmap_header(std::uint16_t mode, bool eight_bit_display, int width, int height,
                        std::uint32_t picture_bytes, DisplayHeader& header) {
  InfoHeader& info = header.info;
  info.size = kInfoHeaderBytes;
  info.width = width;
  info.height = height;
  info.planes = 1;
  info.x_pels_per_metre = 0;
  info.y_pels_per_metre = 0;
  if (mode == format::kImageModeGrey || eight_bit_display) {
    info.compression = 0;
    info.bit_count = 8;
    info.image_size = picture_bytes;
    info.colours_used = 256;
    info.colours_important = 256;
  } else if (mode == format::kImageModeColour) {
    info.bit_count = 24;
    info.compression = 0;
    info.image_size = picture_bytes;
    info.colours_used = 0;
    info.colours_important = 0;
  }
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
