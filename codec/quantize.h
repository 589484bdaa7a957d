// SPDX-License-Identifier: BSD-2-Clause
// Quantization: one channel from picture rows to byte codes. The line analysis runs twice, once
// to find each subband's extremes and once more to scale the subband so that its extremes map to
// +-QuantVector and round: recomputing costs less than storing the coefficients (4 bytes per
// sample) and keeps the memory of a channel at its byte codes.
#pragma once

#include <cstdint>

#include "codec/colour_transform.h"
#include "format/params.h"
#include "format/status.h"
#include "format/symbol_plane.h"

namespace varnic::codec {

// Folds one row of a subband into its running extremes, each the float truncated toward zero
// (start a band with max -30000 and min 30000).
void measure_row(const float* samples, std::uint32_t n, std::int16_t& band_max, std::int16_t& band_min);

// A subband's two scales: quant_step / band_max for positive coefficients, -quant_step / band_min
// for negative ones, each formed in float32 (0 when its extreme is 0).
struct QuantizerScales {
  double positive = 0;
  double negative = 0;
};
QuantizerScales quantizer_scales(std::int16_t band_max, std::int16_t band_min, std::uint16_t quant_step);

// Scales one row and rounds halves away from zero (products and sums in double); results are
// clamped to format::kMinQuantized..kMaxQuantized so that they never meet the zerotree markers.
// A zero coefficient of either sign gives 0.
void quantize_row(const float* samples, std::uint32_t n, QuantizerScales scales, std::int8_t* codes);

// Both passes over one channel of the picture (0 Y, 1 I, 2 Q; grey has 0) with the working copy's
// levels, thresholds and steps: the extremes go to params.band_max and band_min, the codes
// (unmarked, -125..127) to `codes`, which must be allocated at the padded size.
// kBadPictureBuffer when a row cannot be read.
format::StatusCode quantize_channel_rows(const PictureRows& picture, int channel, const format::CodecParams& working,
                                         format::ChannelParams& params, format::SymbolPlane& codes);

}  // namespace varnic::codec
