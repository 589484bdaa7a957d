// SPDX-License-Identifier: BSD-2-Clause
// The decoder written the plain way, over whole int16 planes, as a model to hold the row-by-row
// decoder against: the coefficient sequence with zerotrees painted as markers over their
// descendants, dequantized as it is read, then every synthesis step over the whole plane in the
// order the rules are written. Slow and simple on purpose; it shares nothing with the decoder but
// the arithmetic coder and the dequantization multipliers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/decoder.h"
#include "format/arithmetic_coder.h"

namespace varnic::decoder::reference {

using format::CodecParams;

struct Plane {
  int rows = 0, cols = 0;
  std::vector<std::int16_t> v;
  std::int16_t& at(int r, int c) { return v[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)]; }
};

// Coefficients of one channel; a file without coefficients gives zeros.
inline Plane coefficients(std::span<const std::uint8_t> file, const format::FileHeader& header, format::Channel channel) {
  const CodecParams& p = header.params;
  const format::ChannelParams& cp = p.channel(channel);
  Plane plane{static_cast<int>(p.padded_height), static_cast<int>(p.padded_width), {}};
  plane.v.assign(std::size_t{p.padded_height} * p.padded_width, 0);
  format::SymbolTable table;
  std::size_t position = 0;
  if (!header.has_coefficients() ||
      format::read_symbol_table(file, format::plane_start(header, channel), table, position) != format::StatusCode::kOk)
    return plane;
  format::AdaptiveModel model;
  format::ArithmeticDecoder coder(file, position);
  model.start(table.count);
  coder.start();
  bool restart = cp.restart_offset > 0;
  // The next value, or false at the end; `detail` ends of the low band restart nothing.
  auto next = [&](bool detail, int& q) {
    int s = coder.decode(model);
    if (s == model.end_symbol() && detail && restart) {
      restart = false;
      model.start(table.count);
      coder.restart(cp.restart_offset);
      s = coder.decode(model);
    }
    if (s == model.end_symbol()) return false;
    q = table.value(model.character_of(s));
    model.update(s);
    return true;
  };
  const int levels = p.total_levels, coded = levels - cp.dropped_levels;
  const int h0 = plane.rows >> levels, w0 = plane.cols >> levels;
  auto scale = [&](int subband, int q) { return dequantize_value(q, band_scale(cp, subband)); };
  int q = 0;
  for (int y = 0, more = 1; y < h0 && more; ++y)
    for (int x = 0; x < w0 && more; ++x)
      if ((more = next(false, q))) plane.at(y, x) = scale(format::low_band_index(levels), q);
  for (int k = 0; k < levels; ++k) {
    const int h = h0 << k, w = w0 << k, level = levels - 1 - k;
    const struct { int y0, x0; format::Orientation o; } bands[] = {
        {0, w, format::Orientation::kH}, {h, 0, format::Orientation::kV}, {h, w, format::Orientation::kD}};
    for (const auto& b : bands) {
      for (int y = b.y0; y < b.y0 + h; ++y) {
        for (int x = b.x0; x < b.x0 + w; ++x) {
          if (plane.at(y, x) == format::kZeroTreeInside) {
            plane.at(y, x) = 0;
            continue;
          }
          if (!next(true, q)) return plane;
          if (q != format::kZeroTreeRoot) {
            plane.at(y, x) = scale(format::subband_index(level, b.o), q);
            continue;
          }
          plane.at(y, x) = 0;
          for (int step = k + 1, m = 1; step < coded; ++step, ++m)  // the descendants, step by step
            for (int r = y << m; r < (y + 1) << m; ++r)
              for (int c = x << m; c < (x + 1) << m; ++c) plane.at(r, c) = format::kZeroTreeInside;
        }
      }
    }
  }
  return plane;
}

inline std::int16_t store(int v) { return static_cast<std::int16_t>(v); }

// One synthesis step on the top-left rows x cols, or an upsampling one (details taken as zero).
inline void step(Plane& p, int rows, int cols, bool upsample) {
  const int hh = rows / 2, ww = cols / 2;
  std::vector<std::int16_t> t(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
  auto tt = [&](int r, int c) -> std::int16_t& { return t[static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c)]; };
  for (int c = 0; c < cols; ++c) {
    auto s = [&](int i) -> int { return p.at(i, c); };
    auto d = [&](int i) -> int { return upsample ? 0 : p.at(hh + i, c); };
    if (upsample && c >= ww) break;
    tt(0, c) = store(upsample ? s(0) >> 1 : (2 * s(0) - 7 * d(0) + d(1)) >> 2);
    tt(1, c) = store(upsample ? s(0) >> 1 : (d(1) + 2 * s(0) + d(0)) >> 2);
    tt(rows - 1, c) = store((d(hh - 1) + 2 * s(hh - 1)) >> 2);
    tt(rows - 2, c) = store(((s(hh - 2) + s(hh - 1)) >> 2) + ((d(hh - 2) + 2 * d(hh - 1)) >> 3) - d(hh - 1));
    for (int i = 1; i <= hh - 2; ++i) {
      tt(2 * i + 1, c) = store((d(i) + 2 * s(i) + d(i + 1)) >> 2);
      tt(2 * i, c) = store(upsample ? (s(i - 1) + s(i)) >> 2 : ((tt(2 * i - 1, c) + tt(2 * i + 1, c)) >> 1) - d(i));
    }
  }
  for (int r = 0; r < rows; ++r) {
    auto s = [&](int j) -> int { return tt(r, j); };
    auto d = [&](int j) -> int { return upsample ? 0 : tt(r, ww + j); };
    auto o = [&](int j) -> std::int16_t& { return p.at(r, j); };
    o(1) = store(((d(1) + d(0)) >> 1) + s(0));
    o(0) = store(upsample ? s(0) : ((d(1) - d(0)) >> 1) - 3 * d(0) + s(0));
    o(cols - 1) = store((d(ww - 1) >> 1) + s(ww - 1));
    o(cols - 2) = store(((d(ww - 2) + 2 * (s(ww - 2) - d(ww - 1) + s(ww - 1))) >> 2) - d(ww - 1));
    for (int j = 1; j <= ww - 2; ++j) {
      o(2 * j + 1) = store(((d(j) + d(j + 1)) >> 1) + s(j));
      o(2 * j) = store(((o(2 * j - 1) + o(2 * j + 1)) >> 1) - 2 * d(j));
    }
  }
}

// The first `steps` synthesis steps of a channel, coarsest first.
inline void synthesize(Plane& plane, const CodecParams& p, format::Channel channel, int steps) {
  const int levels = p.total_levels, coded = levels - p.channel(channel).dropped_levels;
  for (int k = 0; k < steps; ++k) step(plane, plane.rows >> (levels - 1 - k), plane.cols >> (levels - 1 - k), k >= coded);
}

}  // namespace varnic::decoder::reference
