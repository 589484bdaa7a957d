// SPDX-License-Identifier: BSD-2-Clause
// Checks of pictures in the program's own layout, shared by the bitmap and Targa targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/picture_checks.h"
#include "imagefile/imagefile.h"

namespace varnic::fuzz {

namespace imf = varnic::imagefile;

// A caller's previous picture, distinct from anything a 1-byte file could produce.
inline imf::PictureBuffer previous_picture() {
  imf::PictureBuffer p;
  p.width = 3;
  p.height = 2;
  p.bits_per_pixel = 24;
  p.image_mode = format::kImageModeColour;
  p.pixels.assign(p.geometry().picture_bytes, 0xA5);
  return p;
}

inline bool same(const imf::PictureBuffer& a, const imf::PictureBuffer& b) {
  return a.width == b.width && a.height == b.height && a.bits_per_pixel == b.bits_per_pixel &&
         a.image_mode == b.image_mode && a.pixels == b.pixels &&
         a.header.colour_table == b.header.colour_table;
}

// The first broken invariant of an accepted picture, or nullptr. Returned rather than aborted on
// so that the hostile-file test can report it with the input that caused it.
inline const char* picture_fault(const imf::PictureBuffer& p, std::uint64_t max_pixels) {
  if (p.width < 1 || p.height < 1 || p.width > format::kMaxSide || p.height > format::kMaxSide)
    return "sides outside 1..32767";
  if (static_cast<std::uint64_t>(p.width) * static_cast<std::uint64_t>(p.height) > max_pixels)
    return "picture above the pixel limit";
  if (p.bits_per_pixel != 8 && p.bits_per_pixel != 24) return "depth neither 8 nor 24";
  if (p.bits_per_pixel == 24 ? p.image_mode != format::kImageModeColour
                              : p.image_mode != format::kImageModeGrey && p.image_mode != format::kImageModePalette)
    return "mode does not match the depth";
  if (p.pixels.size() != p.geometry().picture_bytes) return "buffer size differs from the picture's";
  const auto& info = p.header.info;
  if (info.size != imf::kInfoHeaderBytes || info.compression != 0 || info.height <= 0 ||
      info.colours_used > 256)
    return "stored header not normalised";
  return nullptr;
}

inline void check_picture(const imf::PictureBuffer& p) {
  if (const char* fault = picture_fault(p, kPixelLimit)) fail(fault);
}

// Rows without their padding, which a writer may fill differently from the source file.
inline bool same_rows(const imf::PictureBuffer& a, const imf::PictureBuffer& b) {
  const auto g = a.geometry();
  const std::size_t stride = g.stride;
  for (std::size_t y = 0; y < static_cast<std::size_t>(a.height); ++y) {
    if (std::memcmp(a.pixels.data() + y * stride, b.pixels.data() + y * stride, g.data_bytes) != 0)
      return false;
  }
  return true;
}

}  // namespace varnic::fuzz
