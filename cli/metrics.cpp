// SPDX-License-Identifier: BSD-2-Clause
#include "metrics.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

namespace varnic::cli {
namespace {

// Sample c (0 red, 1 green, 2 blue) of pixel x of a row in any public format.
constexpr int sample(PixelFormat format, const std::uint8_t* row, std::size_t x, int c) {
  switch (format) {
    case PixelFormat::kGrey8: return row[x];
    case PixelFormat::kRgb24: return row[3 * x + static_cast<std::size_t>(c)];
    case PixelFormat::kBgr24: return row[3 * x + static_cast<std::size_t>(2 - c)];
  }
  return 0;
}

// The rows of a picture within its pixels: stride at least a row, height times.
bool consistent(const Picture& p) {
  const std::size_t row = std::size_t{p.width} * static_cast<std::size_t>(bytes_per_pixel(p.format));
  std::size_t bytes = 0;
  return p.stride() >= row && !__builtin_mul_overflow(p.stride(), std::size_t{p.height}, &bytes) &&
         p.pixels.size() >= bytes;
}

// 10 log10(255^2 / mse); infinity for mse 0.
double psnr_from_mse(double mse) {
  if (mse <= 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

namespace {

// Calls `body` with the format as a compile-time constant, so that the loops over samples are
// compiled for each pair of formats instead of asking at every sample.
template <class Body>
void with_format(PixelFormat format, const Body& body) {
  switch (format) {
    case PixelFormat::kGrey8: return body(std::integral_constant<PixelFormat, PixelFormat::kGrey8>{});
    case PixelFormat::kRgb24: return body(std::integral_constant<PixelFormat, PixelFormat::kRgb24>{});
    case PixelFormat::kBgr24: return body(std::integral_constant<PixelFormat, PixelFormat::kBgr24>{});
  }
}

}  // namespace

void RowComparison::add(std::span<const std::uint8_t> row_a, PixelFormat format_a, std::span<const std::uint8_t> row_b,
                        PixelFormat format_b, std::uint32_t width) {
  with_format(format_a, [&](auto a_format) {
    with_format(format_b, [&](auto b_format) {
      for (std::size_t x = 0; x < width; ++x) {
        double luma_a = 0;
        double luma_b = 0;
        for (int c = 0; c < 3; ++c) {
          static constexpr double kLumaWeight[3] = {0.299, 0.587, 0.114};
          const int sa = sample(a_format(), row_a.data(), x, c);
          const int sb = sample(b_format(), row_b.data(), x, c);
          const int d = sa - sb;
          sum_rgb_ += static_cast<double>(d) * d;
          if (std::abs(d) > max_difference_) max_difference_ = std::abs(d);
          luma_a += kLumaWeight[c] * sa;
          luma_b += kLumaWeight[c] * sb;
        }
        sum_y_ += (luma_a - luma_b) * (luma_a - luma_b);
      }
    });
  });
  pixels_ += width;
}

Comparison RowComparison::result() const {
  Comparison result;
  result.psnr_rgb = psnr_from_mse(sum_rgb_ / (3.0 * static_cast<double>(pixels_)));
  result.psnr_y = psnr_from_mse(sum_y_ / static_cast<double>(pixels_));
  result.max_difference = max_difference_;
  return result;
}

Result<Comparison> compare_pictures(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height)
    return {Status::kInvalidArgument, "the pictures differ in size: " + std::to_string(a.width) + "x" +
                                          std::to_string(a.height) + " and " + std::to_string(b.width) + "x" +
                                          std::to_string(b.height)};
  // Sides come from files: every product is checked before it bounds a loop.
  if (a.width == 0 || a.height == 0 || !consistent(a) || !consistent(b))
    return {Status::kInvalidArgument, "empty or inconsistent picture"};
  const std::size_t row_a = std::size_t{a.width} * static_cast<std::size_t>(bytes_per_pixel(a.format));
  const std::size_t row_b = std::size_t{b.width} * static_cast<std::size_t>(bytes_per_pixel(b.format));
  // Sums in the same order as ever, top row first, so that the figures never move.
  RowComparison rows;
  for (std::uint32_t y = 0; y < a.height; ++y) rows.add({a.row(y), row_a}, a.format, {b.row(y), row_b}, b.format, a.width);
  return rows.result();
}

}  // namespace varnic::cli
