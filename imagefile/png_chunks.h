// SPDX-License-Identifier: BSD-2-Clause
// What both PNG readers (libpng's and the Windows imaging component's) check before they decode:
// the chunk list walked in memory, with the facts it gives, and the size guards applied before
// anything is allocated.
// Private to imagefile/.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

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
  bool colour_profile = false;         // iCCP (deflated: the decoder takes it out)
  bool srgb = false;                   // sRGB
  std::uint32_t gamma = 0;             // gAMA, x 100000; 0 none
  std::optional<Chromaticities> chromaticities;  // cHRM
  std::span<const std::uint8_t> exif;  // the first eXIf chunk's data
  bool exif_text = false;              // EXIF as text ("Raw profile type exif"): present, not read
  bool xmp = false;                    // iTXt "XML:com.adobe.xmp", or XMP as text
  bool iptc = false;                   // IPTC as text ("Raw profile type iptc" or "8bim")
};

inline PngChunks scan_png_chunks(Bytes bytes) {
  constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
  constexpr std::size_t kChrmBytes = 32;
  PngChunks chunks;
  for (std::size_t at = kPngSignatureBytes; bytes.size() >= at && bytes.size() - at >= kChunkOverhead;) {
    const std::uint32_t length = load_be32(&bytes[at]);
    const auto* type = &bytes[at + 4];
    if (std::memcmp(type, "IDAT", 4) == 0) chunks.compressed_bytes += length;
    chunks.colour_profile |= std::memcmp(type, "iCCP", 4) == 0;
    if (length > bytes.size() - at - kChunkOverhead) break;
    const std::span<const std::uint8_t> data(&bytes[at + 8], length);
    chunks.srgb |= std::memcmp(type, "sRGB", 4) == 0;
    if (std::memcmp(type, "gAMA", 4) == 0 && length == 4) chunks.gamma = load_be32(data.data());
    if (std::memcmp(type, "cHRM", 4) == 0 && length == kChrmBytes) {
      double v[8];
      for (int i = 0; i < 8; ++i) v[i] = load_be32(&data[4 * static_cast<std::size_t>(i)]) / 100000.0;
      chunks.chromaticities = Chromaticities{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
    }
    if (std::memcmp(type, "eXIf", 4) == 0 && chunks.exif.empty()) chunks.exif = data;
    if (std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0) {
      // The keyword runs to the first NUL; ImageMagick stores metadata under "Raw profile type X".
      const std::string_view keyword(reinterpret_cast<const char*>(data.data()),
                                     static_cast<std::size_t>(std::find(data.begin(), data.end(), 0) - data.begin()));
      chunks.xmp |= keyword == "XML:com.adobe.xmp" || keyword == "Raw profile type xmp";
      chunks.iptc |= keyword == "Raw profile type iptc" || keyword == "Raw profile type 8bim";
      chunks.exif_text |= keyword == "Raw profile type exif" || keyword == "Raw profile type APP1";
    }
    at += kChunkOverhead + length;
  }
  return chunks;
}

// The facts of the chunks: gamma, chromaticities and sRGB; metadata (EXIF read); an ICC profile
// marked unreadable until the decoder, which inflates it, hands it over.
inline void add_png_facts(const PngChunks& chunks, PhotoFacts& facts) {
  facts.colour.srgb = chunks.srgb;
  facts.colour.gamma = chunks.gamma / 100000.0;
  facts.colour.chromaticities = chunks.chromaticities;
  facts.colour.profile_unreadable = chunks.colour_profile;
  if (!chunks.exif.empty()) read_exif(chunks.exif, facts);
  facts.exif |= chunks.exif_text;
  facts.xmp = chunks.xmp;
  facts.iptc = chunks.iptc;
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

}  // namespace varnic::imagefile::formats
