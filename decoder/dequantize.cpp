// SPDX-License-Identifier: BSD-2-Clause
// Dequantization: each subband's integers back to coefficient size, as tables of every code.

#include <cstdint>

#include "decoder/decoder.h"

namespace varnic::decoder {

BandScale band_scale(const format::ChannelParams& channel, int subband) {
  const auto k = static_cast<std::size_t>(subband);
  return band_scale(channel.band_max[k], channel.band_min[k], static_cast<std::int16_t>(channel.quant_vector[k]));
}

BandScale band_scale(std::int16_t band_max, std::int16_t band_min, std::int16_t quant) {
  if (quant == 0) return {};
  // float32 quotients: the stored multipliers are single precision, and the
  // product with q is then formed in double.
  const float q = static_cast<float>(quant);
  return BandScale{static_cast<float>(band_max) / q, -(static_cast<float>(band_min) / q)};
}

DequantTable dequant_table(const format::ChannelParams& channel, int subband, bool low_band, bool marked) {
  const BandScale scale = band_scale(channel, subband);
  DequantTable table{};
  for (int q = -128; q <= 127; ++q) table[static_cast<std::uint8_t>(q)] = dequantize_value(q, scale);
  if (marked) {
    table[static_cast<std::uint8_t>(format::kZeroTreeRoot)] = 0;
    table[static_cast<std::uint8_t>(format::kZeroTreeInside)] = 0;
  } else if (!low_band) {
    table[static_cast<std::uint8_t>(kEndedInsideCode)] = kEndedInsideSample;
  }
  return table;
}

}  // namespace varnic::decoder
