// SPDX-License-Identifier: BSD-2-Clause
// Rows of samples to pixels through the format's inverse colour tables.

#include <algorithm>
#include <cstdint>

#include "display/display.h"
#include "format/colour_space.h"
#include "utils/wide_loops.h"

namespace varnic::display {
namespace {

using format::inverse_term;
using format::kBlueFromI;
using format::kBlueFromQ;
using format::kGreenFromI;
using format::kGreenFromQ;
using format::kInverseTableMax;
using format::kInverseTableMin;
using format::kRedFromI;
using format::kRedFromQ;

// Plane samples divided by 2^shift, truncating toward zero (shift 0: as is).
template <bool kScaled>
inline int scaled(std::int16_t v, int shift) {
  if constexpr (kScaled) {
    return v / (1 << shift);
  } else {
    (void)shift;
    return v;
  }
}

template <bool kScaled>
void grey_row(const std::int16_t* y, std::uint32_t cols, int shift, std::int32_t offset,
              std::uint8_t* o) {
  for (std::uint32_t x = 0; x < cols; ++x) {
    o[x] = format::clamp_sample(scaled<kScaled>(y[x], shift) + offset);
  }
}

// The inverse tables' terms computed rather than looked up, so that whole
// rows vectorise: inverse_term for every sample (tested), with each
// sample's top-entry mask shared by its three terms.
template <bool kRgbOrder>
inline void put_yiq_pixel(int y, int i, int q, std::uint8_t* o) {
  i = std::clamp(i, kInverseTableMin, kInverseTableMax);
  q = std::clamp(q, kInverseTableMin, kInverseTableMax);
  const int keep_i = i == kInverseTableMax ? 0 : -1;
  const int keep_q = q == kInverseTableMax ? 0 : -1;
  constexpr int kRedFromQBottom = inverse_term(kRedFromQ, kInverseTableMin);
  const int red_q = q == kInverseTableMin ? kRedFromQBottom : ((kRedFromQ * q) >> 10) & keep_q;
  const int red = y + (((kRedFromI * i) >> 10) & keep_i) + red_q;
  const int green = y + (((kGreenFromI * i) >> 10) & keep_i) + (((kGreenFromQ * q) >> 10) & keep_q);
  const int blue = y + (((kBlueFromI * i) >> 10) & keep_i) + (((kBlueFromQ * q) >> 10) & keep_q);
  o[0] = static_cast<std::uint8_t>(std::clamp(kRgbOrder ? red : blue, 0, 255));
  o[1] = static_cast<std::uint8_t>(std::clamp(green, 0, 255));
  o[2] = static_cast<std::uint8_t>(std::clamp(kRgbOrder ? blue : red, 0, 255));
}

template <bool kScaled, bool kRgbOrder>
inline void colour_row_in_order(const std::int16_t* y, const std::int16_t* i, const std::int16_t* q,
                                std::uint32_t cols, int shift, std::int32_t offset, std::uint8_t* o) {
  for (std::uint32_t x = 0; x < cols; ++x) {
    put_yiq_pixel<kRgbOrder>(scaled<kScaled>(y[x], shift) + offset, scaled<kScaled>(i[x], shift),
                             scaled<kScaled>(q[x], shift), o + 3 * std::size_t{x});
  }
}

VARNIC_WIDE_LOOP(void, colour_row, (const std::int16_t* y, const std::int16_t* i, const std::int16_t* q,
                                  std::uint32_t cols, int shift, std::int32_t offset, bool rgb_order,
                                  std::uint8_t* o), (y, i, q, cols, shift, offset, rgb_order, o)) {
  if (shift == 0) {
    if (rgb_order) {
      colour_row_in_order<false, true>(y, i, q, cols, shift, offset, o);
    } else {
      colour_row_in_order<false, false>(y, i, q, cols, shift, offset, o);
    }
  } else if (rgb_order) {
    colour_row_in_order<true, true>(y, i, q, cols, shift, offset, o);
  } else {
    colour_row_in_order<true, false>(y, i, q, cols, shift, offset, o);
  }
}

}  // namespace

void grey_pixels(const std::int16_t* y, std::uint32_t width, int shift, std::int32_t offset, std::uint8_t* out) {
  if (shift == 0) {
    grey_row<false>(y, width, shift, offset, out);
  } else {
    grey_row<true>(y, width, shift, offset, out);
  }
}

void colour_pixels(const std::int16_t* y, const std::int16_t* i, const std::int16_t* q, std::uint32_t width, int shift,
                   std::int32_t offset, bool rgb_order, std::uint8_t* out) {
  colour_row(y, i, q, width, shift, offset, rgb_order, out);
}

}  // namespace varnic::display
