// SPDX-License-Identifier: BSD-2-Clause
// Sample planes to picture bytes: the final conversion and the previews.

#include <algorithm>
#include <cstdint>

#include "display/display.h"
#include "format/colour_space.h"
#include "utils/memory.h"
#include "utils/picture_layout.h"
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

bool is_colour(const format::CodecParams& params) {
  return params.image_mode == format::kImageModeColour;
}

// The major digit must be '2'; the minor digit picks the byte layout.
enum class ColourLayout { kNone, kPaddedBgr, kPackedRgb };
ColourLayout colour_layout(const format::Magic& magic) {
  if (magic[format::kMajorDigitOffset] != '2') return ColourLayout::kNone;
  switch (magic[format::kMinorDigitOffset]) {
    case '4':
    case '5':
      return ColourLayout::kPaddedBgr;
    case '3':
      return ColourLayout::kPackedRgb;
    default:
      return ColourLayout::kNone;
  }
}

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

VARNIC_WIDE_LOOPS void colour_row(const std::int16_t* y, const std::int16_t* i, const std::int16_t* q,
                                  std::uint32_t cols, int shift, std::int32_t offset, bool rgb_order,
                                  std::uint8_t* o) {
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

// rows x cols of the planes' top-left corner into padded rows, grey or
// colour, RGB or BGR; samples divided by 2^shift first.
void convert_rows(const decoder::PlaneSet& planes, const format::CodecParams& params,
                  std::uint32_t rows, std::uint32_t cols, int shift, bool rgb_order,
                  std::span<std::uint8_t> out) {
  const std::int32_t offset = params.channel(format::Channel::kY).pixel_offset;
  const bool colour = is_colour(params);
  const utils::RowGeometry g = utils::row_geometry(cols, rows, colour ? 24 : 8);
  if (out.size() < g.picture_bytes) return;
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint8_t* o = out.data() + g.stride * r;
    const std::int16_t* y = planes[0].row(r);
    if (!colour) {
      if (shift == 0) {
        grey_row<false>(y, cols, shift, offset, o);
      } else {
        grey_row<true>(y, cols, shift, offset, o);
      }
    } else {
      colour_row(y, planes[1].row(r), planes[2].row(r), cols, shift, offset, rgb_order, o);
    }
    std::fill(o + (g.stride - g.row_padding), o + g.stride, std::uint8_t{0});
  }
}

bool planes_fit(const decoder::PlaneSet& planes, const format::CodecParams& params) {
  const std::size_t count = is_colour(params) ? 3 : 1;
  if (params.image_width > params.padded_width || params.image_height > params.padded_height) {
    return false;
  }
  for (std::size_t c = 0; c < count; ++c) {
    if (planes[c].width() != params.padded_width || planes[c].height() != params.padded_height) {
      return false;
    }
  }
  return true;
}

}  // namespace

void planes_to_pixels(const decoder::PlaneSet& planes, const format::CodecParams& params,
                      const format::Magic& magic, std::span<std::uint8_t> pixels) {
  if (!planes_fit(planes, params)) return;
  if (!is_colour(params)) {
    convert_rows(planes, params, params.image_height, params.image_width, 0, false, pixels);
    return;
  }
  switch (colour_layout(magic)) {
    case ColourLayout::kNone:
      return;
    case ColourLayout::kPaddedBgr:
      convert_rows(planes, params, params.image_height, params.image_width, 0, false, pixels);
      return;
    case ColourLayout::kPackedRgb: {
      // Every padded sample in plane order, three bytes each, until the
      // buffer is full: the padding columns and rows end up in the picture.
      const std::int32_t offset = params.channel(format::Channel::kY).pixel_offset;
      const std::size_t samples = std::min<std::size_t>(planes[0].size(), (pixels.size() + 2) / 3);
      for (std::size_t n = 0; n < samples; ++n) {
        std::uint8_t bytes[3];
        put_yiq_pixel<true>(planes[0].samples()[n] + offset, planes[1].samples()[n], planes[2].samples()[n],
                            bytes);
        const std::size_t at = 3 * n;
        const std::size_t count = std::min<std::size_t>(3, pixels.size() - at);
        std::copy_n(bytes, count, pixels.data() + at);
      }
      return;
    }
  }
}

bool planes_to_rows(const decoder::PlaneSet& planes, const format::CodecParams& params,
                    const format::Magic& magic, bool top_down, bool rgb_order,
                    std::span<std::uint8_t> rows, std::size_t stride, std::uint32_t first,
                    std::uint32_t last) {
  const bool colour = is_colour(params);
  if (!planes_fit(planes, params)) return false;
  if (colour && colour_layout(magic) != ColourLayout::kPaddedBgr) return false;
  const std::uint32_t width = params.image_width;
  const std::uint32_t height = params.image_height;
  const std::size_t row_bytes = std::size_t{width} * (colour ? 3 : 1);
  if (height == 0 || stride < row_bytes || rows.size() < stride * (height - 1) + row_bytes) {
    return false;
  }
  const std::int32_t offset = params.channel(format::Channel::kY).pixel_offset;
  for (std::uint32_t r = first; r < std::min(last, height); ++r) {
    // Plane row r is picture row r counted from the bottom.
    std::uint8_t* o = rows.data() + stride * (top_down ? height - 1 - r : r);
    const std::int16_t* y = planes[0].row(r);
    if (!colour) {
      grey_row<false>(y, width, 0, offset, o);
    } else {
      colour_row(y, planes[1].row(r), planes[2].row(r), width, 0, offset, rgb_order, o);
    }
  }
  return true;
}

void samples_to_grey_row(const std::int16_t* y, std::uint32_t width, std::int32_t offset, std::uint8_t* out) {
  grey_row<false>(y, width, 0, offset, out);
}

void samples_to_colour_row(const std::int16_t* y, const std::int16_t* i, const std::int16_t* q, std::uint32_t width,
                           std::int32_t offset, bool rgb_order, std::uint8_t* out) {
  colour_row(y, i, q, width, 0, offset, rgb_order, out);
}

void render_preview(const decoder::PlaneSet& planes, const format::CodecParams& params,
                    const format::Magic& magic, int level, std::vector<std::uint8_t>& out,
                    PreviewFrame& frame) {
  frame = PreviewFrame{};
  const int levels = params.total_levels;
  if (level < 0 || level >= levels || !planes_fit(planes, params)) {
    out.clear();
    return;
  }
  const int shift = levels - level;
  frame.level = level;
  frame.total_levels = levels;
  frame.width = params.padded_width >> shift;
  frame.height = params.padded_height >> shift;
  const bool colour = is_colour(params);
  frame.bits_per_pixel = colour ? 24 : 8;
  const utils::RowGeometry g = utils::row_geometry(frame.width, frame.height, frame.bits_per_pixel);
  utils::assign_large(out, g.picture_bytes);
  if (colour) {
    const ColourLayout layout = colour_layout(magic);
    if (layout == ColourLayout::kNone) {
      out.clear();
    } else {
      convert_rows(planes, params, frame.height, frame.width, shift,
                   layout == ColourLayout::kPackedRgb, out);
    }
  } else {
    convert_rows(planes, params, frame.height, frame.width, shift, false, out);
  }
  frame.pixels = out;
}

}  // namespace varnic::display
