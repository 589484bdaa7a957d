// SPDX-License-Identifier: BSD-2-Clause
// The 8-bit version of a picture buffer for palette displays.
#include <algorithm>
#include <new>

#include "format/params.h"
#include "utils/picture_layout.h"
#include "colour/colour.h"

namespace varnic::colour {

format::StatusCode convert_to_8bit(std::uint16_t image_mode, int width, int height,
                              std::span<const std::uint8_t> picture, bool dithering,
                              std::vector<std::uint8_t>& index_buffer, ColourTable& colour_table) {
  if (width <= 0 || height <= 0) return format::StatusCode::kBadPictureBuffer;
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  const std::uint16_t bits = image_mode == format::kImageModeColour ? 24 : 8;
  const utils::RowGeometry g = utils::row_geometry(w, h, bits);
  try {
    index_buffer.assign(g.index_bytes, 0);
  } catch (const std::bad_alloc&) {
    index_buffer.clear();
    return format::StatusCode::kOutOfMemory;
  }

  if (image_mode == format::kImageModeGrey || image_mode == format::kImageModePalette) {
    // An 8-bit picture row and an index row have the same layout.
    if (picture.size() < g.index_bytes) return format::StatusCode::kBadPictureBuffer;
    std::copy_n(picture.begin(), g.index_bytes, index_buffer.begin());
    return format::StatusCode::kOk;
  }
  if (image_mode != format::kImageModeColour) return format::StatusCode::kOk;
  if (picture.size() < g.picture_bytes) return format::StatusCode::kBadPictureBuffer;

  const std::size_t pixel_row = 3 * std::size_t{w};
  const std::size_t index_stride = std::size_t{w} + g.index_row_padding;
  std::array<std::uint8_t, 3 * kMaxColours> palette{};
  int colours = 0;
  try {
    if (g.row_padding == 0) {
      // Width a multiple of 4: both buffers are already packed.
      colours = quantize_to_palette(picture.first(g.picture_bytes), width, height, index_buffer, dithering,
                                    false, palette, kMaxColours);
    } else {
      std::vector<std::uint8_t> packed_pixels(pixel_row * h);
      std::vector<std::uint8_t> packed_indices(std::size_t{w} * h);
      for (std::size_t y = 0; y < h; ++y) {
        std::copy_n(picture.begin() + static_cast<std::ptrdiff_t>(y * g.stride), pixel_row,
                    packed_pixels.begin() + static_cast<std::ptrdiff_t>(y * pixel_row));
      }
      colours = quantize_to_palette(packed_pixels, width, height, packed_indices, dithering, false, palette,
                                    kMaxColours);
      if (colours != 0) {
        for (std::size_t y = 0; y < h; ++y) {
          std::copy_n(packed_indices.begin() + static_cast<std::ptrdiff_t>(y * w), w,
                      index_buffer.begin() + static_cast<std::ptrdiff_t>(y * index_stride));
        }
      }
    }
  } catch (const std::bad_alloc&) {
    colours = 0;
  }
  if (colours == 0) {
    std::fill(index_buffer.begin(), index_buffer.end(), 0);
    return format::StatusCode::kColourQuantFailed;
  }
  for (std::size_t n = 0; n < kMaxColours; ++n) {
    colour_table[4 * n + 0] = palette[3 * n + 0];
    colour_table[4 * n + 1] = palette[3 * n + 1];
    colour_table[4 * n + 2] = palette[3 * n + 2];
    colour_table[4 * n + 3] = 0;
  }
  return format::StatusCode::kOk;
}

}  // namespace varnic::colour
