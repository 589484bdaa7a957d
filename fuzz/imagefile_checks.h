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
inline imf::Picture previous_picture() {
  imf::Picture p;
  p.width_ = 3;
  p.height_ = 2;
  p.bits_per_pixel_ = 24;
  p.image_mode_ = format::kImageModeColour;
  p.pixels_.assign(p.geometry().picture_bytes, 0xA5);
  return p;
}

inline bool same(const imf::Picture& a, const imf::Picture& b) {
  return a.width_ == b.width_ && a.height_ == b.height_ && a.bits_per_pixel_ == b.bits_per_pixel_ &&
         a.image_mode_ == b.image_mode_ && a.pixels_ == b.pixels_ &&
         a.header_.colour_table_ == b.header_.colour_table_;
}

// The first broken invariant of an accepted picture, or nullptr. Returned rather than aborted on
// so that the hostile-file test can report it with the input that caused it.
inline const char* picture_fault(const imf::Picture& p, std::uint64_t max_pixels) {
  if (p.width_ < 1 || p.height_ < 1 || p.width_ > format::kMaxSide || p.height_ > format::kMaxSide)
    return "sides outside 1..32767";
  if (static_cast<std::uint64_t>(p.width_) * static_cast<std::uint64_t>(p.height_) > max_pixels)
    return "picture above the pixel limit";
  if (p.bits_per_pixel_ != 8 && p.bits_per_pixel_ != 24) return "depth neither 8 nor 24";
  if (p.bits_per_pixel_ == 24 ? p.image_mode_ != format::kImageModeColour
                              : p.image_mode_ != format::kImageModeGrey && p.image_mode_ != format::kImageModePalette)
    return "mode does not match the depth";
  if (p.pixels_.size() != p.geometry().picture_bytes) return "buffer size differs from the picture's";
  const auto& info = p.header_.info_;
  if (info.size_ != imf::kInfoHeaderBytes || info.compression_ != 0 || info.height_ <= 0 ||
      info.colours_used_ > 256)
    return "stored header not normalised";
  return nullptr;
}

inline void check_picture(const imf::Picture& p) {
  if (const char* fault = picture_fault(p, kPixelLimit)) fail(fault);
}

// Rows without their padding, which a writer may fill differently from the source file.
inline bool same_rows(const imf::Picture& a, const imf::Picture& b) {
  const auto g = a.geometry();
  const std::size_t stride = g.stride;
  for (std::size_t y = 0; y < static_cast<std::size_t>(a.height_); ++y) {
    if (std::memcmp(a.pixels_.data() + y * stride, b.pixels_.data() + y * stride, g.data_bytes) != 0)
      return false;
  }
  return true;
}

}  // namespace varnic::fuzz
