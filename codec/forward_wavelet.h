// SPDX-License-Identifier: BSD-2-Clause
// Forward 5/3 wavelet analysis with a dead-zone threshold per level, and the
// quantization of every subband to small integers with zerotree marking.
//
// Float planes are 32-bit; every filter output is evaluated in double from
// float operands in a fixed order and stored as float, so results are exact
// to the bit on any compiler that honours -ffp-contract=off.
//
// Pyramid layout of a level on an h x w region: top-left low-low (next
// level's input), top-right band h, bottom-left band v, bottom-right band d.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/colour_transform.h"
#include "format/params.h"
#include "format/plane.h"
#include "format/status.h"
#include "utils/parallel.h"

namespace varnic::codec {

using format::ChannelParams;
using format::CodecParams;
using format::CoefficientPlane;
using format::StatusCode;
using utils::WorkerPool;

// The horizontal filter pass over one row of n samples (even, >= 4), in place: low half then
// high half. `split` holds n floats.
void horizontal_row(float* x, std::uint32_t n, float* split);

// One analysis level on the top-left rows x cols region (both even, >= 4) of
// a float plane with the given row stride. `temp` must hold
// (rows + 1) * cols floats.
void analyse_level(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                  float* temp);

// Zeroes every coefficient outside the region's low-low quadrant whose value
// truncated toward zero is smaller in magnitude than `threshold`.
void threshold_level(float* plane, std::size_t stride, std::uint32_t rows, std::uint32_t cols,
                    std::uint16_t threshold);

// The float plane of one channel's transform and each worker's scratch,
// kept between channels so that a picture pays for them (and their page
// faults) once. Columns are filtered in narrow strips, so the scratch is a
// small fraction of the plane. Contents are not initialised: every stage
// writes before it reads.
class TransformWorkspace {
 public:
  // Makes room for a width x height plane and `workers` scratch areas;
  // kOutOfMemory on failure.
  StatusCode reserve(std::uint32_t width, std::uint32_t height, int workers = 1);
  float* plane() { return plane_.get(); }
  float* scratch(int worker) {
    return scratch_.get() + scratch_floats_ * static_cast<std::size_t>(worker);
  }

 private:
  std::size_t capacity_ = 0;
  std::size_t scratch_floats_ = 0;
  int workers_ = 0;
  std::unique_ptr<float[]> plane_;
  std::unique_ptr<float[]> scratch_;
};

// All levels with their thresholds on the float plane of width x height in
// workspace.plane() (reserved for that size and the pool's threads), on the
// pool's threads when one is given.
void analyse_plane(std::uint32_t width, std::uint32_t height, int total_levels, const std::uint16_t* thresholds,
                   TransformWorkspace& workspace, WorkerPool* pool = nullptr);

// One channel (0 Y, 1 I, 2 Q; grey pictures have only 0) straight from the
// picture into workspace.plane() (channel_row_to_float), then all levels with
// the working copy's thresholds.
StatusCode transform_picture_channel(const PictureRows& picture, int channel,
                               const CodecParams& working, TransformWorkspace& workspace,
                               WorkerPool* pool = nullptr);

// Truncated extremes of one subband (max starts at -30000, min at 30000).
void measure_band(const float* plane, std::size_t stride, format::BandRect band, std::int16_t& band_max,
                 std::int16_t& band_min);

// Scales the subband so that its extremes map to +-quant_step and rounds
// halves away from zero; results are clamped to -125..127 so that they never
// collide with the zerotree markers.
void quantize_band(CoefficientPlane& out, const float* plane, std::int16_t band_max,
                  std::int16_t band_min, format::BandRect band, std::uint16_t quant_step);

// Measures and quantizes every subband of a channel (levels finest first,
// orientations v, h, d, then the low band), recording the band limits.
void quantize_channel(CoefficientPlane& out, const float* plane, int total_levels,
                     ChannelParams& channel, WorkerPool* pool = nullptr);

// Replaces zeros whose coded descendants are all zero with kZeroTreeRoot and
// those descendants with kZeroTreeInside. Nothing happens below 2 levels.
void mark_zerotrees(CoefficientPlane& plane, int total_levels, int dropped_levels,
                   WorkerPool* pool = nullptr);

}  // namespace varnic::codec
