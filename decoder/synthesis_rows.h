// SPDX-License-Identifier: BSD-2-Clause
// The row rules of the integer inverse wavelet, kept apart from the row-streamed synthesis
// (line_synthesis.cpp) so that its loops stay small enough to read beside the format's rules.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnic::decoder {


inline std::int16_t store_sample(std::int32_t v) { return static_cast<std::int16_t>(v); }

// Horizontal pass of a full step: one row of `t` (low half s, high half d)
// into one plane row. The odd outputs depend only on the halves, each even
// one on its odd neighbours as stored; computing the odd ones into `odd`
// first lets both loops vectorise, with the same values.
inline void horizontal_synthesis(const std::int16_t* __restrict t, int cols, std::int16_t* __restrict o,
                                std::int16_t* __restrict odd) {
  const int ww = cols / 2;
  const std::int16_t* s = t;
  const std::int16_t* d = t + ww;
  for (int j = 0; j <= ww - 2; ++j) odd[j] = store_sample(((d[j] + d[j + 1]) >> 1) + s[j]);
  odd[ww - 1] = store_sample((d[ww - 1] >> 1) + s[ww - 1]);
  o[0] = store_sample(((d[1] - d[0]) >> 1) - 3 * d[0] + s[0]);
  o[1] = odd[0];
  for (int j = 1; j <= ww - 2; ++j) {
    o[2 * j] = store_sample(((odd[j - 1] + odd[j]) >> 1) - 2 * d[j]);
    o[2 * j + 1] = odd[j];
  }
  o[cols - 2] = store_sample(((d[ww - 2] + 2 * (s[ww - 2] - d[ww - 1] + s[ww - 1])) >> 2) - d[ww - 1]);
  o[cols - 1] = odd[ww - 1];
}

// Horizontal pass of an upsampling step (the detail half counts as zero): the `cols / 2` low
// samples of `r` into one plane row.
inline void horizontal_upsample(const std::int16_t* r, int cols, std::int16_t* o) {
  const int ww = cols / 2;
  o[0] = r[0];
  o[1] = r[0];
  o[cols - 2] = store_sample((r[ww - 2] + r[ww - 1]) >> 1);
  o[cols - 1] = r[ww - 1];
  for (int j = 1; j <= ww - 2; ++j) {
    o[2 * j + 1] = r[j];
    o[2 * j] = store_sample((r[j - 1] + r[j]) >> 1);
  }
}

}  // namespace varnic::decoder
