// SPDX-License-Identifier: BSD-2-Clause
// One channel's samples or wavelet coefficients: padded_height rows of
// padded_width int16 values, row-major and contiguous. Row 0 is the first row
// of the picture buffer, that is the BOTTOM row of the picture (buffers are
// stored bottom-up); the pyramid's low band sits at row 0, column 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "format/status.h"
#include "varnic/limits.h"
#include "utils/memory.h"

namespace varnic::format {

// A zero whose coded descendants are all zero; coded like any other value.
inline constexpr std::int16_t kZeroTreeRoot = -127;
// A position inside a zerotree; never coded.
inline constexpr std::int16_t kZeroTreeInside = -126;
// Quantized values are clamped to this range so they never meet the markers.
inline constexpr std::int16_t kMinQuantized = kZeroTreeInside + 1;
inline constexpr std::int16_t kMaxQuantized = 127;
// A subband scaled to at most this many steps each side of zero stays clear of the markers.
inline constexpr int kMaxQuantStep = -kMinQuantized;
static_assert(kMaxQuantStep == varnic::kMaxQuantStep, "the public limit of the quantization vectors");

class CoefficientPlane {
 public:
  // Zero-filled; kOutOfMemory instead of throwing.
  StatusCode allocate(std::uint32_t width, std::uint32_t height) {
    try {
      utils::assign_large(samples_, static_cast<std::size_t>(width) * height);
    } catch (const std::bad_alloc&) {
      release();
      return StatusCode::kOutOfMemory;
    }
    width_ = width;
    height_ = height;
    return StatusCode::kOk;
  }
  void release() {
    std::vector<std::int16_t>().swap(samples_);
    width_ = height_ = 0;
  }

  std::uint32_t width() const { return width_; }    // padded width
  std::uint32_t height() const { return height_; }  // padded height
  bool empty() const { return samples_.empty(); }
  std::size_t size() const { return samples_.size(); }
  // Every sample, row after row.
  std::vector<std::int16_t>& samples() { return samples_; }
  const std::vector<std::int16_t>& samples() const { return samples_; }

  std::int16_t* row(std::uint32_t y) { return samples_.data() + std::size_t{y} * width_; }
  const std::int16_t* row(std::uint32_t y) const { return samples_.data() + std::size_t{y} * width_; }
  std::int16_t& at(std::uint32_t y, std::uint32_t x) { return row(y)[x]; }
  std::int16_t at(std::uint32_t y, std::uint32_t x) const { return row(y)[x]; }

 private:
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::vector<std::int16_t> samples_;
};

}  // namespace varnic::format
