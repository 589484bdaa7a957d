// SPDX-License-Identifier: BSD-2-Clause
// The row rules of the integer inverse wavelet that the whole-plane synthesis (synthesis.cpp)
// and the row-streamed one (line_synthesis.cpp) share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnic::decoder {

using std::int16_t;
using std::int32_t;
using std::size_t;

inline int16_t Store(int32_t v) { return static_cast<int16_t>(v); }

// Horizontal pass of a full step: one row of `t` (low half s, high half d)
// into one plane row. The odd outputs depend only on the halves, each even
// one on its odd neighbours as stored; computing the odd ones into `odd`
// first lets both loops vectorise, with the same values.
inline void horizontal_synthesis(const int16_t* __restrict t, int cols, int16_t* __restrict o,
                                int16_t* __restrict odd) {
  const int ww = cols / 2;
  const int16_t* s = t;
  const int16_t* d = t + ww;
  for (int j = 0; j <= ww - 2; ++j) odd[j] = Store(((d[j] + d[j + 1]) >> 1) + s[j]);
  odd[ww - 1] = Store((d[ww - 1] >> 1) + s[ww - 1]);
  o[0] = Store(((d[1] - d[0]) >> 1) - 3 * d[0] + s[0]);
  o[1] = odd[0];
  for (int j = 1; j <= ww - 2; ++j) {
    o[2 * j] = Store(((odd[j - 1] + odd[j]) >> 1) - 2 * d[j]);
    o[2 * j + 1] = odd[j];
  }
  o[cols - 2] = Store(((d[ww - 2] + 2 * (s[ww - 2] - d[ww - 1] + s[ww - 1])) >> 2) - d[ww - 1]);
  o[cols - 1] = odd[ww - 1];
}

// Horizontal pass of an upsampling step (the detail half counts as zero): the `cols / 2` low
// samples of `r` into one plane row.
inline void horizontal_upsample(const int16_t* r, int cols, int16_t* o) {
  const int ww = cols / 2;
  o[0] = r[0];
  o[1] = r[0];
  o[cols - 2] = Store((r[ww - 2] + r[ww - 1]) >> 1);
  o[cols - 1] = r[ww - 1];
  for (int j = 1; j <= ww - 2; ++j) {
    o[2 * j + 1] = r[j];
    o[2 * j] = Store((r[j - 1] + r[j]) >> 1);
  }
}

}  // namespace varnic::decoder
