// SPDX-License-Identifier: BSD-2-Clause
// Decoding of .cod streams (format/format.h) into coefficient planes: the two arithmetic-coded
// segments of each plane, zerotree expansion and dequantization; and the integer inverse wavelet
// that turns planes back into samples.
//
// Everything here is safe on any bytes once format::parse_header has accepted the header: reads
// past the end of the data see zeros.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "format/format.h"
#include "format/symbol_plane.h"

namespace varnic::decoder {

using format::Channel;
using format::StatusCode;

// Arithmetic-decodes one plane from `position` (just after its table) into
// `plane` (zero-filled, padded size): zerotrees expanded, values dequantized,
// levels past the coded ones left zero. A damaged stream gives damaged values;
// only a failed allocation of the zerotree maps fails (kOutOfMemory).
StatusCode decode_plane_coefficients(std::span<const std::uint8_t> file, const format::FileHeader& header,
                               Channel channel, const format::SymbolTable& table, std::size_t position,
                               format::CoefficientPlane& plane);

// Writes `marker` over the descendants of (y, x) for the steps first..end-1:
// at the n-th of them the block of side 2^n at (2^n y, 2^n x).
void fill_zero_tree(format::CoefficientPlane& plane, std::uint32_t y, std::uint32_t x,
                    int first_step, std::int16_t marker, int end_step);

// The three planes of a picture in the order Y, I, Q; grey uses Y only.
using PlaneSet = std::array<format::CoefficientPlane, format::kChannelCount>;

// Table and coefficients of one channel into `plane`, which must already be
// allocated; coefficients only for 'Z' files.
StatusCode decode_plane(std::span<const std::uint8_t> file, const format::FileHeader& header,
                    Channel channel, format::CoefficientPlane& plane);

// Dequantization multipliers of one subband, float32 as the format defines
// them: up for q > 0, down for q <= 0; both 0 when the quantization value is 0.
struct BandScale {
  float up = 0.0f;
  float down = 0.0f;
};
BandScale band_scale(std::int16_t band_max, std::int16_t band_min, std::int16_t quant);
// Subband `subband` of a channel, with the extremes and step its header gives.
BandScale band_scale(const format::ChannelParams& channel, int subband);

// q times the multiplier in double, truncated toward zero; a result outside
// int16 (hostile files only) keeps its low 16 bits.
inline std::int16_t dequantize_value(int q, BandScale scale) {
  const double product = q > 0 ? q * static_cast<double>(scale.up)
                               : q * static_cast<double>(scale.down);
  return static_cast<std::int16_t>(static_cast<std::int32_t>(product));
}

// In-place dequantization of a plane that holds the encoder's quantized (and
// zerotree-marked) values: markers become 0, every subband is rescaled with
// the channel's band limits and quantization vector.
void dequantize_plane(format::CoefficientPlane& plane, const format::CodecParams& params,
                      Channel channel);

// One synthesis level on the top-left rows x cols of a plane (both even, at
// least 4): low band plus the three detail quarters become a region of twice
// the size. `work` must hold synthesis_work_size(rows, cols) values.
void synthesis_step(std::int16_t* plane, std::size_t stride, int rows, int cols,
                    std::int16_t* work);
// The same with every detail coefficient taken as zero; the detail quarters
// are not read. `work` as for synthesis_step.
void upsample_step(std::int16_t* plane, std::size_t stride, int rows, int cols,
                   std::int16_t* work);
// Work values a step on rows x cols needs: a strip of columns and a row.
std::size_t synthesis_work_size(int rows, int cols);

// Step k (0 = coarsest) of a channel: a full synthesis for coded levels,
// upsampling for dropped ones. `work` is grown as needed and can be reused
// across steps and planes; the overloads without it allocate their own.
StatusCode synthesize_level(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel, int step, std::vector<std::int16_t>& work);
StatusCode synthesize_level(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel, int step);
// All steps of a channel, coarsest first.
StatusCode synthesize_plane(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel, std::vector<std::int16_t>& work);
StatusCode synthesize_plane(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel);

// The streamed decode: each plane's codes kept as bytes, and its samples synthesised row by row
// from them, so that a picture costs about one byte per pixel and plane instead of the int16
// planes above. The samples are exactly those of decode_plane, dequantize and synthesize_plane.

// In a detail band, the code of a position inside a zerotree that a damaged stream ended before:
// such positions hold the tree marker itself as their sample. The code is free there, since the
// value -127 is read as a zerotree root, which is stored as 0. In the low band -127 is a value.
inline constexpr std::int8_t kEndedInsideCode = format::kZeroTreeRoot;
inline constexpr std::int16_t kEndedInsideSample = format::kZeroTreeInside;

// Table and codes of one channel into `plane` (allocated, zero-filled, padded size): decoded
// values as they are, zerotree roots and inside positions 0, positions inside a tree after the
// end of the stream kEndedInsideCode. Codes only for 'Z' files.
StatusCode decode_plane_symbols(std::span<const std::uint8_t> file, const format::FileHeader& header,
                                Channel channel, format::SymbolPlane& plane);

// Samples of every code of one subband: dequantize_value in the low band, and the same in the
// detail bands but for kEndedInsideCode.
using DequantTable = std::array<std::int16_t, 256>;
DequantTable dequant_table(const format::ChannelParams& channel, int subband, bool low_band);

// A plane's samples after every synthesis step, one row at a time, bottom row first: each step
// keeps a few rows of its own and of the coarser step, so the memory is a few rows per level.
class LineSynthesis {
 public:
  LineSynthesis();
  ~LineSynthesis();
  LineSynthesis(LineSynthesis&&) noexcept;
  LineSynthesis& operator=(LineSynthesis&&) noexcept;
  // `codes` must outlive the synthesis. kReconstructFailed when the sizes do not fit the
  // parameters, kOutOfMemory when the row buffers cannot be had.
  StatusCode start(const format::SymbolPlane& codes, const format::CodecParams& params, Channel channel);
  // Rows 0, 1, 2, ... of the synthesised plane (padded_width samples), one per call; the
  // pointer stays valid until the next call.
  const std::int16_t* next_row();

 private:
  struct Step;
  std::vector<std::unique_ptr<Step>> steps_;  // the low band, then each step coarsest first
  int next_ = 0;
};

}  // namespace varnic::decoder
