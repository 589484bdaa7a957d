// Small deterministic pictures for seed files and hostile-file tests: content with edges and
// texture, so that every subband has something to code, in the public and the program layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagefile/imagefile.h"
#include "varnic/varnic.h"

namespace varnic::fuzz {

inline std::uint8_t sample(std::uint32_t x, std::uint32_t y, std::uint32_t c) {
  return static_cast<std::uint8_t>((x * 37 + y * 91 + c * 53 + ((x ^ y) & 5) * 29) & 0xFF);
}

inline Picture make_picture(std::uint32_t width, std::uint32_t height, PixelFormat format) {
  Picture p;
  p.width = width;
  p.height = height;
  p.format = format;
  const int channels = bytes_per_pixel(format);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) p.pixels.push_back(sample(x, y, static_cast<std::uint32_t>(c)));
  return p;
}

// A bitmap-layout picture in any mode; palette pictures get a table of distinct colours.
inline imagefile::Picture make_file_picture(int width, int height, std::uint16_t mode) {
  imagefile::Picture p;
  p.width_ = width;
  p.height_ = height;
  p.bits_per_pixel_ = mode == format::kImageModeColour ? 24 : 8;
  p.image_mode_ = mode;
  if (mode == format::kImageModePalette) {
    for (std::size_t i = 0; i < imagefile::kColourTableEntries; ++i) {
      p.header_.colour_table_[4 * i] = static_cast<std::uint8_t>(i);
      p.header_.colour_table_[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
      p.header_.colour_table_[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    }
  } else {
    imagefile::set_grey_colour_table(p.header_);
  }
  p.header_.info_.width_ = width;
  p.header_.info_.height_ = height;
  p.header_.info_.bit_count_ = static_cast<std::uint16_t>(p.bits_per_pixel_);
  const auto g = p.geometry();
  p.pixels_.assign(g.picture_bytes, 0);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
    for (std::size_t b = 0; b < g.data_bytes; ++b)
      p.pixels_[y * (g.stride) + b] =
          sample(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(y), 0);
  return p;
}

}  // namespace varnic::fuzz
