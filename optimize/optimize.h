// SPDX-License-Identifier: BSD-2-Clause
// The optimising encoder: the same version 2.5 stream as the classic encoder,
// with every choice the format leaves to the writer made for the picture at
// hand instead of taken from the quality tables.
//
// What the writer is free to choose, and every decoder applies: the plane
// samples (any values, so the colour transform can be exact and the padding
// smooth), each subband's quantization step (BandMax / QuantVector and
// -BandMin / QuantVector are just the two dequantization multipliers), the
// quantized value of every coefficient, and the dropped levels. Nothing else
// in the header changes meaning: vectors stay within 0..125, quantized values
// within -125..127, pixel offsets are the classic 128.
//
// Levels: 1 closed-form steps from one distortion scale E (weighted by each
// subband's synthesis energy gain and each channel's effect on RGB error) and
// a mean-colour correction measured on the decoder's own reconstruction;
// 2 adds rate-distortion pruning of zerotrees and coefficient values with
// symbol costs taken from the real coder, and more correction rounds; 3 also
// tries every level count and keeps the cheapest file for its distortion.
#pragma once

#include <array>
#include <cstdint>

#include "codec/colour_transform.h"
#include "codec/encoder.h"
#include "codec/settings.h"
#include "format/status.h"

namespace varnic::optimize {

inline constexpr int kMinOptimizeLevel = varnic::kMinOptimize;  // 0 is the classic encoder
inline constexpr int kMaxOptimizeLevel = varnic::kMaxOptimize;

// What the choices minimise besides the file size: squared error over RGB (PSNR), or squared error
// weighted for structural similarity: less where texture masks it, more in flat areas and along
// edges (SSIM).
enum class Tune { kPsnr, kSsim };

// What the optimiser chose, for -v.
struct Choices {
  double distortion_scale = 0;  // E: the weighted step every subband gets
  int levels = 0;
  std::array<int, format::kChannelCount> dropped{};
  // Mean colour shift added in the Y, I, Q domain (plane sample units).
  std::array<double, format::kChannelCount> offsets{};
};

// The distortion scale E of a quality factor 0..99 (higher quality, smaller
// E); E halves about every 12 steps of quality.
double distortion_scale(int quality);

// Energy of the synthesised picture per unit squared coefficient in subband
// k of a plane with total_levels levels (1..6), for this filter bank.
double synthesis_gain(int total_levels, int subband);

// Encodes `picture` at optimisation level 1..3. `settings` gives the level
// count (lowered for small pictures like the classic encoder does; level 3
// tries fewer levels too); quality 0..99 sets E. Vectors, thresholds and
// dropped levels of `settings` are not used. `out` is filled as by
// codec::encode_picture, without planes.
format::StatusCode encode_optimized(const codec::PictureRows& picture, const format::CodecParams& settings,
                                    int level, int quality, Tune tune, const codec::EncodeRequest& options,
                                    codec::EncodedPicture& out, Choices* choices = nullptr);

}  // namespace varnic::optimize
