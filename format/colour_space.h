// SPDX-License-Identifier: BSD-2-Clause
// The YIQ colour space of the format, both directions, in fixed point with ten fractional bits.
// Forward: an encoder turns level-shifted bytes into Y, I and Q samples. Inverse: every reader
// turns reconstructed samples back into bytes through the terms of six historical lookup tables,
// whose exact entries, quirks included, define the decoded pixels.
#pragma once

#include <cstdint>

namespace varnic::format {

// Forward matrix in units of 1/1024; the rows sum to 1024, 0 and 0, so the level shift cancels
// in I and Q.
struct YiqSample {
  std::int16_t y, i, q;
};
// One pixel whose bytes have had their level shift subtracted. >> on a negative int is an
// arithmetic shift: floor division by 1024.
inline YiqSample rgb_to_yiq(int r, int g, int b) {
  return {static_cast<std::int16_t>((306 * r + 601 * g + 117 * b) >> 10),
          static_cast<std::int16_t>((330 * (r - b) + 280 * (r - g)) >> 10),
          static_cast<std::int16_t>((320 * (b - g) + 216 * (r - g)) >> 10)};
}

// Inverse matrix, units of 1/1024 (the Y coefficient is 1024).
inline constexpr int kRedFromI = 979;
inline constexpr int kRedFromQ = 636;
inline constexpr int kGreenFromI = -279;
inline constexpr int kGreenFromQ = -662;
inline constexpr int kBlueFromI = -1133;
inline constexpr int kBlueFromQ = 1744;

// The inverse tables cover samples -256..255; samples outside that range (damaged planes only)
// are clamped to it first.
inline constexpr int kInverseTableMin = -256;
inline constexpr int kInverseTableMax = 255;

// One entry: floor(coefficient x sample / 1024). The historical tables end one entry early (the
// top entry is 0 everywhere) and red-from-Q's bottom entry has the wrong sign; files decode to
// these exact bytes, so both are kept.
constexpr int inverse_term(int coefficient, int sample) {
  if (sample == kInverseTableMax) return 0;
  const int term = (coefficient * sample) >> 10;
  return coefficient == kRedFromQ && sample == kInverseTableMin ? -term : term;
}

// A sample with its level shift added becomes a byte through this clamp: entry i of the
// historical 2048-entry table is 0 up to 1024, i - 1024 up to 1279, then 255. Samples beyond the
// table (damaged planes) clamp the same way.
inline std::uint8_t clamp_sample(int shifted_sample) {
  if (shifted_sample <= 0) return 0;
  if (shifted_sample >= 255) return 255;
  return static_cast<std::uint8_t>(shifted_sample);
}

}  // namespace varnic::format
