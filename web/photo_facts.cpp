// SPDX-License-Identifier: BSD-2-Clause
#include "photo_facts.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imagefile/png_chunks.h"

namespace varnic::web {
namespace {

using Bytes = std::span<const std::uint8_t>;

// A profile's description is cut to this many bytes in a notice, as the tool cuts it.
constexpr std::size_t kMaxDescriptionBytes = 80;
// sRGB's primaries adapted to D50, as ICC profiles store them (rXYZ, gXYZ, bXYZ): a profile with
// these within the tolerance is sRGB under another name, which the tool leaves unconverted and
// unmentioned (phones embed such copies).
constexpr double kSrgbColorants[3][3] = {{0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
constexpr double kColorantTolerance = 0.002;

bool starts_with(Bytes bytes, const char* text, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

std::uint32_t be32(const std::uint8_t* p) { return imagefile::formats::load_be32(p); }
std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The orientation in IFD0 of an EXIF block (TIFF-structured, after any "Exif\0\0").
imagefile::Orientation exif_orientation(Bytes block) {
  if (starts_with(block, "Exif\0\0", 6)) block = block.subspan(6);
  if (block.size() < 8) return imagefile::Orientation::kAsStored;
  const bool little = starts_with(block, "II", 2);
  if (!little && !starts_with(block, "MM", 2)) return imagefile::Orientation::kAsStored;
  auto u16 = [&](std::size_t at) {
    return little ? unsigned{block[at]} | unsigned{block[at + 1]} << 8 : unsigned{block[at]} << 8 | block[at + 1];
  };
  auto u32 = [&](std::size_t at) { return little ? le32(&block[at]) : be32(&block[at]); };
  if (u16(2) != 42) return imagefile::Orientation::kAsStored;
  const std::size_t ifd = u32(4);
  if (ifd > block.size() - 2) return imagefile::Orientation::kAsStored;
  constexpr unsigned kOrientationTag = 0x0112;
  constexpr unsigned kShort = 3;
  for (std::size_t i = 0, entries = u16(ifd); i < entries; ++i) {
    const std::size_t entry = ifd + 2 + 12 * i;
    if (entry > block.size() - 12) break;
    if (u16(entry) == kOrientationTag && u16(entry + 2) == kShort) return imagefile::orientation_from(u16(entry + 8));
  }
  return imagefile::Orientation::kAsStored;
}

void add_exif(Bytes block, PhotoScan& scan) {
  if (!scan.facts.exif) scan.facts.orientation = exif_orientation(block);
  scan.facts.exif = true;
}

// The description of an ICC profile in ASCII, as Little CMS gives it (its English entry, others
// as '?'), and whether its primaries are sRGB's.
void add_profile(Bytes icc, PhotoScan& scan) {
  constexpr std::size_t kHeaderBytes = 128;
  if (icc.size() < kHeaderBytes + 4) {
    scan.profile = true;
    return;
  }
  std::string name;
  double colorants[3][3] = {};
  int found = 0;
  const std::size_t tags = std::min<std::size_t>(be32(&icc[kHeaderBytes]), (icc.size() - kHeaderBytes - 4) / 12);
  for (std::size_t i = 0; i < tags; ++i) {
    const std::uint8_t* entry = &icc[kHeaderBytes + 4 + 12 * i];
    const std::size_t offset = be32(entry + 4);
    const std::size_t size = be32(entry + 8);
    if (offset > icc.size() || size > icc.size() - offset || size < 12) continue;
    const Bytes tag = icc.subspan(offset, size);
    for (int c = 0; c < 3; ++c) {
      static constexpr const char* kColorantTags[3] = {"rXYZ", "gXYZ", "bXYZ"};
      if (std::memcmp(entry, kColorantTags[c], 4) != 0 || size < 20) continue;
      for (int k = 0; k < 3; ++k)
        colorants[c][k] = static_cast<std::int32_t>(be32(&tag[8 + 4 * static_cast<std::size_t>(k)])) / 65536.0;
      ++found;
    }
    if (std::memcmp(entry, "desc", 4) != 0) continue;
    std::vector<std::uint8_t> ascii;
    if (starts_with(tag, "desc", 4)) {
      const std::size_t count = std::min<std::size_t>(be32(&tag[8]), size - 12);
      ascii.assign(tag.begin() + 12, tag.begin() + 12 + static_cast<std::ptrdiff_t>(count));
    } else if (starts_with(tag, "mluc", 4) && size >= 16) {
      const std::size_t records = be32(&tag[8]);
      const std::size_t record_bytes = be32(&tag[12]);
      std::size_t chosen = SIZE_MAX;
      for (std::size_t r = 0; r < records && record_bytes >= 12 && 16 + (r + 1) * record_bytes <= size; ++r) {
        const std::uint8_t* record = &tag[16 + r * record_bytes];
        if (chosen == SIZE_MAX || std::memcmp(record, "enUS", 4) == 0) chosen = r;
      }
      if (chosen != SIZE_MAX) {
        const std::uint8_t* record = &tag[16 + chosen * record_bytes];
        const std::size_t length = be32(record + 4);
        const std::size_t start = be32(record + 8);
        for (std::size_t at = start; length <= size && at + 1 < std::min(size, start + length); at += 2) {
          const unsigned unit = unsigned{tag[at]} << 8 | tag[at + 1];
          ascii.push_back(unit < 0x80 ? static_cast<std::uint8_t>(unit) : std::uint8_t{'?'});
        }
      }
    }
    ascii.erase(std::find(ascii.begin(), ascii.end(), 0), ascii.end());
    name = imagefile::clean_exif_text(ascii, kMaxDescriptionBytes);
  }
  bool srgb = found == 3;
  for (int c = 0; srgb && c < 3; ++c)
    for (int k = 0; k < 3; ++k) srgb = srgb && std::abs(colorants[c][k] - kSrgbColorants[c][k]) <= kColorantTolerance;
  scan.profile = !srgb;
  scan.profile_name = name;
}

}  // namespace

PhotoScan scan_jpeg(Bytes file) {
  PhotoScan scan;
  std::vector<std::vector<std::uint8_t>> profile_parts;
  constexpr std::uint8_t kSoi = 0xd8, kSos = 0xda, kEoi = 0xd9, kApp1 = 0xe1, kApp2 = 0xe2, kApp13 = 0xed;
  for (std::size_t at = 2; file.size() >= at + 4;) {
    if (file[at] != 0xff) break;
    const std::uint8_t marker = file[at + 1];
    if (marker == 0xff) {
      ++at;
      continue;
    }
    if (marker == kSoi || (marker >= 0xd0 && marker <= 0xd7) || marker == 0x01) {
      at += 2;
      continue;
    }
    if (marker == kSos || marker == kEoi) break;  // the metadata comes before the scan
    const std::size_t length = unsigned{file[at + 2]} << 8 | file[at + 3];
    if (length < 2 || length > file.size() - at - 2) break;
    const Bytes data = file.subspan(at + 4, length - 2);
    at += 2 + length;
    if (marker == kApp1 && starts_with(data, "Exif\0\0", 6)) add_exif(data, scan);
    if (marker == kApp1 && (starts_with(data, "http://ns.adobe.com/xap/1.0/", 28) ||
                            starts_with(data, "http://ns.adobe.com/xmp/extension/", 34)))
      scan.facts.xmp = true;
    static constexpr char kPhotoshop[] = "Photoshop 3.0";  // and its NUL
    if (marker == kApp13 && starts_with(data, kPhotoshop, sizeof kPhotoshop))
      scan.facts.iptc |= imagefile::photoshop_has_iptc(data.subspan(sizeof kPhotoshop));
    // A profile comes in numbered parts: "ICC_PROFILE\0", the part (from 1), the count.
    constexpr std::size_t kIccHeader = 14;
    if (marker == kApp2 && starts_with(data, "ICC_PROFILE\0", 12) && data.size() > kIccHeader && data[12] >= 1) {
      if (profile_parts.size() < data[12]) profile_parts.resize(data[12]);
      profile_parts[data[12] - 1].assign(data.begin() + kIccHeader, data.end());
    }
  }
  if (!profile_parts.empty()) {
    std::vector<std::uint8_t> icc;
    for (const std::vector<std::uint8_t>& part : profile_parts) icc.insert(icc.end(), part.begin(), part.end());
    add_profile(icc, scan);
  }
  return scan;
}

PhotoScan scan_webp(Bytes file) {
  PhotoScan scan;
  constexpr std::size_t kRiffHeader = 12;
  for (std::size_t at = kRiffHeader; file.size() >= at + 8;) {
    const std::size_t size = le32(&file[at + 4]);
    if (size > file.size() - at - 8) break;
    const Bytes data = file.subspan(at + 8, size);
    const Bytes type = file.subspan(at, 4);
    if (starts_with(type, "EXIF", 4)) add_exif(data, scan);
    if (starts_with(type, "XMP ", 4)) scan.facts.xmp = true;
    if (starts_with(type, "ICCP", 4)) add_profile(data, scan);
    at += 8 + size + (size & 1);
  }
  return scan;
}

PhotoScan scan_profile(Bytes icc) {
  PhotoScan scan;
  add_profile(icc, scan);
  return scan;
}

PhotoScan scan_png(Bytes file) {
  PhotoScan scan;
  const imagefile::formats::PngChunks chunks = imagefile::formats::scan_png_chunks(file);
  imagefile::formats::add_png_facts(chunks, scan.facts);
  if (!chunks.exif.empty()) scan.facts.orientation = exif_orientation(chunks.exif);
  return scan;
}

}  // namespace varnic::web
