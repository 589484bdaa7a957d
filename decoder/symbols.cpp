// SPDX-License-Identifier: BSD-2-Clause
// Coefficient decoding into byte codes: the two arithmetic-coded segments of a plane and the
// zerotrees, as in coefficients.cpp, with dequantization left to the synthesis.

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/plane_symbols.h"
#include "format/arithmetic_coder.h"

namespace varnic::decoder {
namespace {

// One flag per position of a step's square: set where a position is a zerotree root or inside a
// tree, so that its children are skipped.
class TreeFlags {
 public:
  void reset(std::size_t bits) { words_.assign((bits + 63) / 64, 0); }
  void set(std::size_t i) { words_[i / 64] |= std::uint64_t{1} << (i % 64); }
  bool test(std::size_t i) const { return ((words_[i / 64] >> (i % 64)) & 1u) != 0; }
  void swap(TreeFlags& other) noexcept { words_.swap(other.words_); }

 private:
  std::vector<std::uint64_t> words_;
};


void decode_symbols_into(std::span<const std::uint8_t> file, const format::FileHeader& header, Channel channel,
                         const format::SymbolTable& table, std::size_t position, format::SymbolPlane& plane) {
  const format::CodecParams& p = header.params;
  const format::ChannelParams& cp = p.channel(channel);
  const int levels = p.total_levels;
  if (levels < 1 || levels > format::kMaxFileLevels || table.count < 1 || plane.width() != p.padded_width ||
      plane.height() != p.padded_height) {
    return;
  }
  const int coded_levels = levels - cp.dropped_levels;
  PlaneSymbolReader reader(file, table, position, cp.restart_offset);

  const std::uint32_t h0 = p.padded_height >> levels;
  const std::uint32_t w0 = p.padded_width >> levels;
  bool more = true;
  for (std::uint32_t y = 0; y < h0 && more; ++y) {
    std::int8_t* row = plane.row(y);
    for (std::uint32_t x = 0; x < w0; ++x) {
      int q = 0;
      if (!reader.next_low(q)) {
        more = false;
        break;
      }
      row[x] = static_cast<std::int8_t>(q);
    }
  }

  // As in decode_plane_coefficients: `parents` flags the previous step's roots and tree
  // positions, `inside` collects this step's for its children.
  TreeFlags parents;
  TreeFlags inside;
  bool decoding = true;
  for (int step = 0; step < levels; ++step) {
    if (!decoding && step >= coded_levels) return;
    const std::uint32_t h = h0 << step;
    const std::uint32_t w = w0 << step;
    const bool has_parents = step > 0 && step < coded_levels;
    const bool has_children = step + 1 < coded_levels;
    const std::size_t square = std::size_t{2} * w;
    if (has_children) inside.reset(std::size_t{2} * h * square);
    const std::uint32_t bands[3][2] = {{0, w}, {h, 0}, {h, w}};  // h, v, d: first row and column
    for (const auto& band : bands) {
      const std::uint32_t x_end = band[1] + w;
      for (std::uint32_t y = band[0]; y < band[0] + h; ++y) {
        std::int8_t* row = plane.row(y);
        const std::size_t parent_row = std::size_t{y / 2} * w;
        const std::size_t inside_row = std::size_t{y} * square;
        std::uint32_t x = band[1];
        while (x < x_end) {
          if (has_parents && parents.test(parent_row + x / 2)) {
            if (!decoding) row[x] = row[x + 1] = kEndedInsideCode;
            if (has_children) {
              inside.set(inside_row + x);
              inside.set(inside_row + x + 1);
            }
            x += 2;
            continue;
          }
          if (decoding) {
            int q = 0;
            if (reader.next_detail(q)) {
              if (q == format::kZeroTreeRoot) {
                if (has_children) inside.set(inside_row + x);
              } else {
                row[x] = static_cast<std::int8_t>(q);
              }
            } else {
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

StatusCode decode_plane_symbols(std::span<const std::uint8_t> file, const format::FileHeader& header,
                                Channel channel, format::SymbolPlane& plane) {
  return with_plane_table(file, header, channel, [&](const format::SymbolTable& table, std::size_t position) {
    try {
      decode_symbols_into(file, header, channel, table, position, plane);
    } catch (const std::bad_alloc&) {
      return StatusCode::kOutOfMemory;
    }
    return StatusCode::kOk;
  });
}

DequantTable dequant_table(const format::ChannelParams& channel, int subband, bool low_band) {
  const BandScale scale = band_scale(channel, subband);
  DequantTable table{};
  for (int q = -128; q <= 127; ++q) table[static_cast<std::uint8_t>(q)] = dequantize_value(q, scale);
  if (!low_band) table[static_cast<std::uint8_t>(kEndedInsideCode)] = kEndedInsideSample;
  return table;
}

}  // namespace varnic::decoder
