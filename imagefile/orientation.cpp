// SPDX-License-Identifier: BSD-2-Clause
// Turning a picture in place as its EXIF orientation says. Mirrors and the half turn swap pixels
// within the padded rows. A quarter turn packs the rows, moves every pixel along the cycles of the
// permutation (a bit a pixel marks the ones already moved: 1/24 of a colour picture), and pads
// the turned rows again, so that the picture is never held twice.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imagefile/photo.h"
#include "imagefile/registry.h"

namespace varnic::imagefile {
namespace {

template <std::size_t kBytes>
void swap_pixels(std::uint8_t* a, std::uint8_t* b) {
  std::uint8_t t[kBytes];
  std::memcpy(t, a, kBytes);
  std::memcpy(a, b, kBytes);
  std::memcpy(b, t, kBytes);
}

template <std::size_t kBytes>
void mirror_rows(std::uint8_t* pixels, std::size_t width, std::size_t height, std::size_t stride) {
  for (std::size_t y = 0; y < height; ++y) {
    std::uint8_t* row = pixels + y * stride;
    for (std::size_t l = 0, r = width - 1; l < r; ++l, --r) swap_pixels<kBytes>(row + l * kBytes, row + r * kBytes);
  }
}

void flip_rows(std::uint8_t* pixels, std::size_t height, std::size_t stride) {
  std::vector<std::uint8_t> row(stride);
  for (std::size_t t = 0, b = height - 1; t < b; ++t, --b) {
    std::memcpy(row.data(), pixels + t * stride, stride);
    std::memcpy(pixels + t * stride, pixels + b * stride, stride);
    std::memcpy(pixels + b * stride, row.data(), stride);
  }
}

// The packed W x H pixels (rows bottom-up, as the buffer holds them) become the packed H x W
// pixels of the turned picture. Pixel d of the result comes from pixel source(d).
template <std::size_t kBytes>
void quarter_turn(std::uint8_t* pixels, std::size_t width, std::size_t height, Orientation orientation) {
  const std::size_t count = width * height;
  const std::size_t out_width = height;
  const std::size_t out_height = width;
  // Buffer rows run bottom-up: memory row r is row height-1-r counted from the top.
  auto source = [&](std::size_t d) {
    const std::size_t x = d % out_width;                     // in the turned picture, from the left
    const std::size_t y = out_height - 1 - d / out_width;    // and from the top
    std::size_t sx = 0;
    std::size_t sy = 0;
    switch (orientation) {
      case Orientation::kTransposed: sx = y, sy = x; break;
      case Orientation::kRotated90: sx = y, sy = height - 1 - x; break;
      case Orientation::kTransversed: sx = width - 1 - y, sy = height - 1 - x; break;
      default: sx = width - 1 - y, sy = x; break;  // kRotated270
    }
    return (height - 1 - sy) * width + sx;
  };
  std::vector<bool> moved(count, false);
  std::uint8_t held[kBytes];
  for (std::size_t start = 0; start < count; ++start) {
    if (moved[start]) continue;
    std::memcpy(held, pixels + start * kBytes, kBytes);
    std::size_t d = start;
    for (;;) {
      moved[d] = true;
      const std::size_t s = source(d);
      if (s == start) {
        std::memcpy(pixels + d * kBytes, held, kBytes);
        break;
      }
      std::memcpy(pixels + d * kBytes, pixels + s * kBytes, kBytes);
      d = s;
    }
  }
}

}  // namespace

Orientation inverse(Orientation orientation) {
  switch (orientation) {
    case Orientation::kRotated90: return Orientation::kRotated270;
    case Orientation::kRotated270: return Orientation::kRotated90;
    default: return orientation;  // mirrors, half turn and transpositions undo themselves
  }
}

void place_row(PictureBuffer& turned, Orientation orientation, std::uint32_t width, std::uint32_t height,
               std::uint32_t y, const std::uint8_t* row) {
  const std::size_t pixel = turned.bits_per_pixel == 8 ? 1 : 3;
  const std::size_t stride = turned.geometry().stride;
  const std::size_t out_height = static_cast<std::size_t>(turned.height);
  // Where pixel (x, y) of the stored picture goes, counted from the top left of the turned one,
  // and from there its place in the bottom-up buffer.
  std::uint8_t* const pixels = turned.pixels.data();
  auto at = [&](std::size_t tx, std::size_t ty) { return pixels + (out_height - 1 - ty) * stride + tx * pixel; };
  const std::size_t w = width, h = height, sy = y;
  for (std::size_t sx = 0; sx < w; ++sx) {
    std::uint8_t* to = nullptr;
    switch (orientation) {
      case Orientation::kAsStored: to = at(sx, sy); break;
      case Orientation::kMirrored: to = at(w - 1 - sx, sy); break;
      case Orientation::kRotated180: to = at(w - 1 - sx, h - 1 - sy); break;
      case Orientation::kFlipped: to = at(sx, h - 1 - sy); break;
      case Orientation::kTransposed: to = at(sy, sx); break;
      case Orientation::kRotated90: to = at(h - 1 - sy, sx); break;
      case Orientation::kTransversed: to = at(h - 1 - sy, w - 1 - sx); break;
      case Orientation::kRotated270: to = at(sy, w - 1 - sx); break;
    }
    std::memcpy(to, row + sx * pixel, pixel);
  }
}

Orientation orientation_from(unsigned value) {
  return value >= 1 && value <= 8 ? static_cast<Orientation>(value) : Orientation::kAsStored;
}

bool swaps_sides(Orientation orientation) {
  return orientation == Orientation::kTransposed || orientation == Orientation::kRotated90 ||
         orientation == Orientation::kTransversed || orientation == Orientation::kRotated270;
}

void orient_picture(PictureBuffer& picture, Orientation orientation) {
  const bool grey = picture.bits_per_pixel == 8;
  const std::size_t pixel = grey ? 1 : 3;
  const std::size_t width = static_cast<std::size_t>(picture.width);
  const std::size_t height = static_cast<std::size_t>(picture.height);
  const std::size_t stride = picture.geometry().stride;
  std::uint8_t* pixels = picture.pixels.data();
  const bool mirror = orientation == Orientation::kMirrored || orientation == Orientation::kRotated180;
  const bool flip = orientation == Orientation::kFlipped || orientation == Orientation::kRotated180;
  if (mirror) grey ? mirror_rows<1>(pixels, width, height, stride) : mirror_rows<3>(pixels, width, height, stride);
  if (flip) flip_rows(pixels, height, stride);
  if (!swaps_sides(orientation)) return;

  const std::size_t row_bytes = width * pixel;
  for (std::size_t y = 1; y < height; ++y) std::memmove(pixels + y * row_bytes, pixels + y * stride, row_bytes);
  grey ? quarter_turn<1>(pixels, width, height, orientation) : quarter_turn<3>(pixels, width, height, orientation);

  PictureBuffer turned;
  if (new_picture(static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(width), grey, false, turned) !=
      FileStatus::kOk)
    return;  // unreachable: the sides were valid before the turn
  const std::size_t out_row = height * pixel;
  const std::size_t out_stride = turned.geometry().stride;
  picture.pixels.resize(turned.geometry().picture_bytes);  // within the capacity new_picture reserved
  pixels = picture.pixels.data();
  for (std::size_t y = width; y-- > 0;) {
    std::memmove(pixels + y * out_stride, pixels + y * out_row, out_row);
    std::fill(pixels + y * out_stride + out_row, pixels + (y + 1) * out_stride, std::uint8_t{0});
  }
  turned.pixels = std::move(picture.pixels);
  picture = std::move(turned);
}

}  // namespace varnic::imagefile
