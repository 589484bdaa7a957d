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

namespace {

void dequantize_region(format::CoefficientPlane& plane, std::uint32_t row0, std::uint32_t col0,
                       std::uint32_t rows, std::uint32_t cols, BandScale scale) {
  for (std::uint32_t y = row0; y < row0 + rows; ++y) {
    std::int16_t* r = plane.row(y) + col0;
    for (std::uint32_t x = 0; x < cols; ++x) {
      const int q = r[x];
      if (q == format::kZeroTreeRoot || q == format::kZeroTreeInside || q == 0) {
        r[x] = 0;
      } else {
        r[x] = dequantize_value(q, scale);
      }
    }
  }
}

}  // namespace

void dequantize_plane(format::CoefficientPlane& plane, const format::CodecParams& params,
                      Channel channel) {
  const int levels = params.total_levels;
  if (levels < 1 || levels > format::kMaxFileLevels || plane.width() != params.padded_width ||
      plane.height() != params.padded_height) {
    return;
  }
  const format::ChannelParams& cp = params.channel(channel);
  auto scale_of = [&](int k) { return band_scale(cp, k); };
  for (int l = 0; l < levels; ++l) {
    const std::uint32_t h = params.padded_height >> (l + 1);
    const std::uint32_t w = params.padded_width >> (l + 1);
    dequantize_region(plane, h, 0, h, w, scale_of(format::subband_index(l, format::Orientation::kV)));
    dequantize_region(plane, 0, w, h, w, scale_of(format::subband_index(l, format::Orientation::kH)));
    dequantize_region(plane, h, w, h, w, scale_of(format::subband_index(l, format::Orientation::kD)));
  }
  const std::uint32_t h = params.padded_height >> levels;
  const std::uint32_t w = params.padded_width >> levels;
  dequantize_region(plane, 0, 0, h, w, scale_of(format::low_band_index(levels)));
}

}  // namespace varnic::decoder
