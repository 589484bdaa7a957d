// SPDX-License-Identifier: BSD-2-Clause
// Pictures for the registry's tests: rows in a caller's layout, and the program's pictures seen
// top row first, red first.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imagefile/registry.h"

namespace varnic::imagefile {

using Bytes = std::vector<std::uint8_t>;

inline Bytes as_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Rows the caller holds, and what they show top row first, red first.
struct RowsPicture {
  Bytes pixels;
  codec::PictureRows layout;
  Bytes top_down_rgb;

  codec::PictureRows rows() const {
    codec::PictureRows r = layout;
    r.data = pixels.data();
    r.size = pixels.size();
    return r;
  }
};

// Top row first, red first, packed; the samples vary with the seed.
inline RowsPicture make_rows_picture(std::uint32_t width, std::uint32_t height, bool grey, unsigned seed) {
  RowsPicture p;
  const std::size_t channels = grey ? 1 : 3;
  for (std::size_t i = 0; i < width * height * channels; ++i)
    p.pixels.push_back(static_cast<std::uint8_t>((i * 37 + seed * 11) ^ (i >> 3)));
  p.top_down_rgb = p.pixels;
  p.layout.width = width;
  p.layout.height = height;
  p.layout.bits_per_pixel = grey ? 8 : 24;
  p.layout.row_stride = width * channels;
  p.layout.top_down = true;
  p.layout.rgb_order = true;
  return p;
}

// The same picture stored bottom row first, blue first, rows padded to 4 bytes with junk.
inline RowsPicture to_bottom_up_bgr(const RowsPicture& in) {
  RowsPicture out = in;
  const std::size_t channels = in.layout.bits_per_pixel / 8;
  const std::size_t row = in.layout.width * channels;
  out.layout.row_stride = (row + 3) / 4 * 4;
  out.layout.top_down = false;
  out.layout.rgb_order = false;
  out.pixels.assign(out.layout.row_stride * in.layout.height, 0xEE);
  for (std::size_t y = 0; y < in.layout.height; ++y) {
    const std::uint8_t* src = in.pixels.data() + (in.layout.height - 1 - y) * row;
    for (std::size_t x = 0; x < row; ++x)
      out.pixels[y * out.layout.row_stride + x] = channels == 3 ? src[x - x % 3 + 2 - x % 3] : src[x];
  }
  return out;
}

inline Bytes write_test_picture(const RowsPicture& picture, FileKind kind) {
  Bytes out;
  std::string message;
  EXPECT_EQ(write_picture(picture.rows(), kind, {}, out, &message), FileStatus::kOk) << message;
  return out;
}

inline LoadedPicture read_test_picture(const Bytes& bytes, FileKind kind) {
  LoadedPicture out;
  std::string message;
  EXPECT_EQ(read_picture(bytes, std::string("x").append(find_format(kind)->extensions.front()), {}, out, &message),
            FileStatus::kOk)
      << message;
  EXPECT_EQ(out.kind, kind);
  return out;
}

// A grey or colour program picture top row first, red first, without padding.
inline Bytes top_down_rgb(const PictureBuffer& p) {
  Bytes out;
  const std::size_t stride = p.geometry().stride;
  for (std::size_t y = static_cast<std::size_t>(p.height); y-- > 0;) {
    const std::uint8_t* row = p.pixels.data() + y * stride;
    for (std::size_t x = 0; x < static_cast<std::size_t>(p.width); ++x) {
      if (p.image_mode == format::kImageModeGrey) {
        out.push_back(row[x]);
      } else {
        out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      }
    }
  }
  return out;
}

}  // namespace varnic::imagefile
