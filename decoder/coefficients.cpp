// SPDX-License-Identifier: BSD-2-Clause
// Coefficient decoding: two arithmetic-coded segments per plane, zerotree
// expansion and dequantization in one pass over the bands.

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "format/arithmetic_coder.h"
#include "utils/memory.h"
#include "decoder/decoder.h"
#include "decoder/plane_symbols.h"

namespace varnic::decoder {

void fill_zero_tree(format::CoefficientPlane& plane, std::uint32_t y, std::uint32_t x,
                    int first_step, std::int16_t marker, int end_step) {
  for (int step = first_step, m = 1; step < end_step; ++step, ++m) {
    if (m >= 31) return;
    const std::uint64_t side = std::uint64_t{1} << m;
    const std::uint64_t top = side * y;
    const std::uint64_t left = side * x;
    // Valid trees stay inside their orientation's band; the clip only guards
    // callers that pass positions outside the pyramid.
    if (top >= plane.height() || left >= plane.width()) return;
    const std::uint64_t bottom = std::min<std::uint64_t>(top + side, plane.height());
    const std::uint64_t right = std::min<std::uint64_t>(left + side, plane.width());
    for (std::uint64_t r = top; r < bottom; ++r) {
      std::int16_t* row = plane.row(static_cast<std::uint32_t>(r));
      std::fill(row + left, row + right, marker);
    }
  }
}

namespace {

struct Band {
  std::uint32_t row0, col0, rows, cols;
  int subband;
};

BandScale scale_of(const format::ChannelParams& cp, int subband) { return band_scale(cp, subband); }

void decode_into(std::span<const std::uint8_t> file, const format::FileHeader& header, Channel channel,
                 const format::SymbolTable& table, std::size_t position, format::CoefficientPlane& plane) {
  const format::CodecParams& p = header.params;
  const format::ChannelParams& cp = p.channel(channel);
  const int levels = p.total_levels;
  if (levels < 1 || levels > format::kMaxFileLevels || table.count < 1 ||
      plane.width() != p.padded_width || plane.height() != p.padded_height) {
    return;
  }
  const int coded_levels = levels - cp.dropped_levels;
  PlaneSymbolReader decoder(file, table, position, cp.restart_offset);

  const std::uint32_t h0 = p.padded_height >> levels;
  const std::uint32_t w0 = p.padded_width >> levels;
  {
    const BandScale scale = scale_of(cp, format::low_band_index(levels));
    bool more = true;
    for (std::uint32_t y = 0; y < h0 && more; ++y) {
      std::int16_t* row = plane.row(y);
      for (std::uint32_t x = 0; x < w0; ++x) {
        int q = 0;
        if (!decoder.next_low(q)) {
          more = false;
          break;
        }
        row[x] = dequantize_value(q, scale);
      }
    }
  }

  // Positions inside zerotrees are recognised by their parent instead of
  // being painted with markers when the root is decoded: `parents` holds, for
  // the previous step's square (absolute coordinates), 1 where a position was
  // a root or inside a tree, and `inside` collects the same for this step
  // while the step's children are still to come. The plane is zero-filled,
  // so skipped positions need no store. A position's two horizontal
  // children share their parent, so the scan goes by pairs.
  std::vector<std::uint8_t> parents;
  std::vector<std::uint8_t> inside;
  // Once the stream has ended, the loops go on without decoding, only
  // writing the skip marker where a tree covers a position never reached.
  bool decoding = true;
  for (int step = 0; step < levels; ++step) {
    if (!decoding && step >= coded_levels) return;
    const std::uint32_t h = h0 << step;
    const std::uint32_t w = w0 << step;
    const bool has_parents = step > 0 && step < coded_levels;
    const bool has_children = step + 1 < coded_levels;
    const std::size_t square = std::size_t{2} * w;  // row length of this step's square
    if (has_children) utils::assign_large(inside, std::size_t{2} * h * square);
    const int base = 3 * (levels - step);
    const Band bands[3] = {{0, w, h, w, base - 2}, {h, 0, h, w, base - 3}, {h, w, h, w, base - 1}};
    for (const Band& band : bands) {
      const BandScale scale = scale_of(cp, band.subband);
      const std::uint32_t x_end = band.col0 + band.cols;
      for (std::uint32_t y = band.row0; y < band.row0 + band.rows; ++y) {
        std::int16_t* row = plane.row(y);
        const std::uint8_t* parent_row = has_parents ? parents.data() + std::size_t{y / 2} * w : nullptr;
        std::uint8_t* inside_row = has_children ? inside.data() + std::size_t{y} * square : nullptr;
        std::uint32_t x = band.col0;
        while (x < x_end) {
          // Steps with parents have even band widths and offsets.
          if (parent_row != nullptr && parent_row[x / 2] != 0) {
            if (!decoding) row[x] = row[x + 1] = format::kZeroTreeInside;
            if (inside_row != nullptr) inside_row[x] = inside_row[x + 1] = 1;
            x += 2;
            continue;
          }
          if (decoding) {
            int q = 0;
            if (decoder.next_detail(q)) {
              if (q == format::kZeroTreeRoot) {
                row[x] = 0;
                if (inside_row != nullptr) inside_row[x] = 1;
              } else {
                row[x] = dequantize_value(q, scale);
              }
            } else {
              // Everything not reached keeps its value, the trees' skip
              // markers included.
              decoding = false;
            }
          }
          ++x;
        }
      }
    }
    if (has_children) parents.swap(inside);
  }
}

}  // namespace

StatusCode decode_plane_coefficients(std::span<const std::uint8_t> file, const format::FileHeader& header,
                                     Channel channel, const format::SymbolTable& table, std::size_t position,
                                     format::CoefficientPlane& plane) {
  try {
    decode_into(file, header, channel, table, position, plane);
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;  // the zerotree maps of a step
  }
  return StatusCode::kOk;
}

}  // namespace varnic::decoder
