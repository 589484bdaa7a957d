// SPDX-License-Identifier: BSD-2-Clause
// What both PNG readers (libpng's and the Windows imaging component's) check before they decode:
// the chunk list walked in memory, and the size guards applied before anything is allocated.
// Private to imagefile/.
#pragma once

#include <cstring>

#include "imagefile/formats.h"

namespace varnic::imagefile::formats {

// One byte of deflate data yields at most about 1032 bytes (a run of 258 costs two bits): pixel
// data larger than that many times the file's compressed data cannot be in the file.
inline constexpr std::uint64_t kMaxDeflateRatio = 1032;
// Room for the zlib header and the last partial block.
inline constexpr std::uint64_t kDeflateSlackBytes = 1024;
inline constexpr std::size_t kPngSignatureBytes = 8;

inline std::uint32_t load_be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// CRCs are the decoder's business. Metadata is noticed here even when a decoder would ignore a
// malformed copy of it.
struct PngChunks {
  std::uint64_t compressed_bytes = 0;  // IDAT lengths
  bool colour_profile = false;         // iCCP
  bool exif = false;                   // eXIf
};

inline PngChunks scan_png_chunks(Bytes bytes) {
  constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
  PngChunks chunks;
  for (std::size_t at = kPngSignatureBytes; bytes.size() >= at && bytes.size() - at >= kChunkOverhead;) {
    const std::uint32_t length = load_be32(&bytes[at]);
    const auto* type = &bytes[at + 4];
    if (std::memcmp(type, "IDAT", 4) == 0) chunks.compressed_bytes += length;
    chunks.colour_profile |= std::memcmp(type, "iCCP", 4) == 0;
    chunks.exif |= std::memcmp(type, "eXIf", 4) == 0;
    if (length > bytes.size() - at - kChunkOverhead) break;
    at += kChunkOverhead + length;
  }
  return chunks;
}

// Sides within what a .cod file holds, pixels within the limit, and compressed data enough for
// the rows (bits_per_pixel as stored, before any expansion).
inline FileStatus check_png_size(std::uint32_t width, std::uint32_t height, unsigned bits_per_pixel,
                                 const PngChunks& chunks, const ReadLimits& limits, std::string& message) {
  if (width > static_cast<std::uint32_t>(format::kMaxSide) || height > static_cast<std::uint32_t>(format::kMaxSide))
    return FileStatus::kPictureSides;
  if (std::uint64_t{width} * height > limits.max_pixels) {
    message = pixel_limit_message(width, height, limits.max_pixels);
    return FileStatus::kPictureTooLarge;
  }
  // Sides of at most 32767 keep the product below 2^32 * 8.
  const std::uint64_t raw_bytes = std::uint64_t{height} * (1 + (std::uint64_t{width} * bits_per_pixel + 7) / 8);
  if (chunks.compressed_bytes * kMaxDeflateRatio + kDeflateSlackBytes < raw_bytes) return FileStatus::kPngTruncated;
  return FileStatus::kOk;
}

// The notices of metadata the picture leaves behind, after the pixel conversions' own.
inline void add_png_metadata_notices(const PngChunks& chunks, std::vector<std::string>& notices) {
  if (chunks.colour_profile) notices.emplace_back("ICC colour profile dropped (pixel values kept as stored)");
  if (chunks.exif) notices.emplace_back("EXIF block dropped");
}

}  // namespace varnic::imagefile::formats
