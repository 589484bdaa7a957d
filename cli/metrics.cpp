#include "metrics.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace varnic::cli {
namespace {

// Sample c (0 red, 1 green, 2 blue) of pixel i in any public layout.
int sample(const Picture& p, std::size_t i, int c) {
  switch (p.format) {
    case PixelFormat::kGrey8: return p.pixels[i];
    case PixelFormat::kRgb24: return p.pixels[3 * i + static_cast<std::size_t>(c)];
    case PixelFormat::kBgr24: return p.pixels[3 * i + static_cast<std::size_t>(2 - c)];
  }
  return 0;
}

}  // namespace

double psnr_from_mse(double mse) {
  if (mse <= 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

Result<Comparison> compare_pictures(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height)
    return {Status::kInvalidArgument, "the pictures differ in size: " + std::to_string(a.width) + "x" +
                                          std::to_string(a.height) + " and " + std::to_string(b.width) + "x" +
                                          std::to_string(b.height)};
  // Sides come from files: every product is checked before it bounds a loop.
  std::size_t pixels = 0;
  std::size_t bytes_a = 0;
  std::size_t bytes_b = 0;
  if (__builtin_mul_overflow(std::size_t{a.width}, a.height, &pixels) ||
      __builtin_mul_overflow(pixels, static_cast<std::size_t>(bytes_per_pixel(a.format)), &bytes_a) ||
      __builtin_mul_overflow(pixels, static_cast<std::size_t>(bytes_per_pixel(b.format)), &bytes_b) || pixels == 0 ||
      a.pixels.size() < bytes_a || b.pixels.size() < bytes_b)
    return {Status::kInvalidArgument, "empty or inconsistent picture"};
  double sum_rgb = 0;
  double sum_y = 0;
  int max_difference = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    double luma_a = 0;
    double luma_b = 0;
    for (int c = 0; c < 3; ++c) {
      static constexpr double kLumaWeight[3] = {0.299, 0.587, 0.114};
      const int sa = sample(a, i, c);
      const int sb = sample(b, i, c);
      const int d = sa - sb;
      sum_rgb += static_cast<double>(d) * d;
      if (std::abs(d) > max_difference) max_difference = std::abs(d);
      luma_a += kLumaWeight[c] * sa;
      luma_b += kLumaWeight[c] * sb;
    }
    sum_y += (luma_a - luma_b) * (luma_a - luma_b);
  }
  Comparison result;
  result.psnr_rgb = psnr_from_mse(sum_rgb / (3.0 * static_cast<double>(pixels)));
  result.psnr_y = psnr_from_mse(sum_y / static_cast<double>(pixels));
  result.max_difference = max_difference;
  return result;
}

}  // namespace varnic::cli
