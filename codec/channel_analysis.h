// SPDX-License-Identifier: BSD-2-Clause
// One channel from picture rows to zerotree-marked byte codes, without a plane of floats: the
// forward wavelet runs row by row through every level, keeping a few rows per level, once to
// find each subband's extremes and once more to quantize with them. Recomputing costs less than
// storing the coefficients (4 bytes per sample) and keeps the memory of a channel at its byte
// codes. Every coefficient, extreme and code is the one analyse_plane, measure_band,
// quantize_band and mark_zerotrees give.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codec/colour_transform.h"
#include "format/params.h"
#include "format/symbol_plane.h"
#include "format/status.h"

namespace varnic::codec {

// The forward transform of one channel fed row by row. After each input row every band row that
// has become final is handed to the sink: (subband, row within the band, samples, count), with
// the low band's rows as subband low_band_index(levels). Thresholds apply as in analyse_plane.
class LineAnalysis {
 public:
  using BandRowSink = std::function<void(int subband, std::uint32_t row, const float* samples, std::uint32_t count)>;

  LineAnalysis();
  ~LineAnalysis();
  // A padded width x height plane (both multiples of 2^levels, every level at least 4 x 4).
  // Throws std::bad_alloc.
  void start(std::uint32_t width, std::uint32_t height, int levels, const std::uint16_t* thresholds,
             BandRowSink sink);
  // The next input row (width samples), rows 0 .. height-1 in order.
  void push(const float* row);

 private:
  struct Level;
  void push_level(int level, const float* row);
  void emit(int level, bool high, std::uint32_t k, float* row);

  std::vector<std::unique_ptr<Level>> levels_;
  std::vector<std::uint16_t> thresholds_;
  BandRowSink sink_;
};

// Both passes over one channel of the picture (0 Y, 1 I, 2 Q; grey has 0): the extremes go to
// channel.band_max and band_min, the codes (quantized values, -125..127) to `codes`, which must
// be allocated at the padded size. kBadPictureBuffer when a row cannot be read.
format::StatusCode analyse_channel_rows(const PictureRows& picture, int channel, const format::CodecParams& working,
                                format::ChannelParams& params, format::SymbolPlane& codes);

// mark_zerotrees on byte codes.
void mark_zerotree_codes(format::SymbolPlane& plane, int total_levels, int dropped_levels);

// How often each code occurs, by code + format::kSymbolBias.
std::array<std::uint32_t, 256> count_codes(const format::SymbolPlane& plane);

}  // namespace varnic::codec
