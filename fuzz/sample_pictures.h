// SPDX-License-Identifier: BSD-2-Clause
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
inline imagefile::PictureBuffer make_file_picture(int width, int height, std::uint16_t mode) {
  imagefile::PictureBuffer p;
  p.width = width;
  p.height = height;
  p.bits_per_pixel = mode == format::kImageModeColour ? 24 : 8;
  p.image_mode = mode;
  if (mode == format::kImageModePalette) {
    for (std::size_t i = 0; i < imagefile::kColourTableEntries; ++i) {
      p.header.colour_table[4 * i] = static_cast<std::uint8_t>(i);
      p.header.colour_table[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
      p.header.colour_table[4 * i + 2] = static_cast<std::uint8_t>(i * 7);
    }
  } else {
    imagefile::set_grey_colour_table(p.header);
  }
  p.header.info.width = width;
  p.header.info.height = height;
  p.header.info.bit_count = static_cast<std::uint16_t>(p.bits_per_pixel);
  const auto g = p.geometry();
  p.pixels.assign(g.picture_bytes, 0);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
    for (std::size_t b = 0; b < g.data_bytes; ++b)
      p.pixels[y * (g.stride) + b] =
          sample(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(y), 0);
  return p;
}

}  // namespace varnic::fuzz
