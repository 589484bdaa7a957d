// SPDX-License-Identifier: BSD-2-Clause
// One channel's quantized coefficients as bytes, laid out like a CoefficientPlane (plane.h):
// padded_height rows of padded_width values, row 0 the bottom row, the low band at row 0,
// column 0. The coded values are -128..127 and fit a byte, so encoder and decoder keep a plane
// in a quarter of the memory of the float or half of the int16 samples; every pass over it
// streams a quarter of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "format/status.h"

namespace varnic::format {

class SymbolPlane {
 public:
  // Zero-filled. The storage comes from calloc, whose large blocks are fresh pages the kernel
  // zeroes when first touched: parts of the plane that are never written (a stream that ends
  // early, a band coded as zeros) cost no memory.
  StatusCode allocate(std::uint32_t width, std::uint32_t height) {
    release();
    const std::size_t n = static_cast<std::size_t>(width) * height;
    samples_.reset(static_cast<std::int8_t*>(std::calloc(n == 0 ? 1 : n, 1)));
    if (!samples_) return StatusCode::kOutOfMemory;
    width_ = width;
    height_ = height;
    return StatusCode::kOk;
  }
  void release() {
    samples_.reset();
    width_ = height_ = 0;
  }

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  std::size_t size() const { return static_cast<std::size_t>(width_) * height_; }
  bool empty() const { return !samples_; }
  std::int8_t* data() { return samples_.get(); }
  const std::int8_t* data() const { return samples_.get(); }
  std::int8_t* row(std::uint32_t y) { return samples_.get() + std::size_t{y} * width_; }
  const std::int8_t* row(std::uint32_t y) const { return samples_.get() + std::size_t{y} * width_; }

 private:
  struct Free {
    void operator()(std::int8_t* p) const { std::free(p); }
  };
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::unique_ptr<std::int8_t[], Free> samples_;
};

}  // namespace varnic::format
