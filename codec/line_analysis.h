// SPDX-License-Identifier: BSD-2-Clause
// The forward 5/3 wavelet row by row, with a dead-zone threshold per level.
//
// Low-pass outputs use taps (-1, 2, 6, 2, -1), high-pass (1, -2, 1), with the edge sample repeated
// beyond the region; the vertical pass divides by 8 and 4, the horizontal by 4 and 2. Every output
// is evaluated in double from float operands in one fixed order and stored as float, so results
// are exact to the bit on any compiler that honours -ffp-contract=off: the encoder's files depend
// on them.
//
// Each level keeps a ring of a few input rows, so a plane of any height costs a few rows per level.
// After each level the detail coefficients whose magnitude truncated toward zero is below the
// level's threshold become 0 (T = 0 changes nothing); the low-low band is never thresholded.
//
// Pyramid layout of a level on an h x w region: top-left low-low (the next level's input),
// top-right band h, bottom-left band v, bottom-right band d.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace varnic::codec {

// The horizontal pass over one row of n samples (even, >= 4), in place: low half then high half.
// `split` holds n floats.
void horizontal_row(float* x, std::uint32_t n, float* split);

// The forward transform of one plane fed row by row. After each input row every band row that
// has become final is handed to the sink: (subband, row within the band, samples, count), with the
// low band's rows as subband format::low_band_index(levels).
class LineAnalysis {
 public:
  using BandRowSink = std::function<void(int subband, std::uint32_t row, const float* samples, std::uint32_t count)>;

  LineAnalysis();
  ~LineAnalysis();
  // A padded width x height plane (both multiples of 2^levels, every level at least 4 x 4);
  // thresholds[l] for levels l = 0..levels-1. Throws std::bad_alloc.
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

}  // namespace varnic::codec
