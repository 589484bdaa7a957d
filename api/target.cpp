// SPDX-License-Identifier: BSD-2-Clause
// Picture comparison and the quality search for a target file size or PSNR. File size grows and
// PSNR rises with the quality factor almost everywhere (the threshold table has two small dents),
// so a bisection over the quality range needs at most 8 trial encodes; the best passing trial
// seen is kept, so the file given always meets the target even where the curve dents.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "api/internal.h"
#include "codec/settings.h"

namespace varnic {
namespace {

// Sample c (0 red, 1 green, 2 blue) of pixel x of a row in any public format.
int sample(PixelFormat format, const std::uint8_t* row, std::size_t x, int c) {
  switch (format) {
    case PixelFormat::kGrey8: return row[x];
    case PixelFormat::kRgb24: return row[3 * x + static_cast<std::size_t>(c)];
    case PixelFormat::kBgr24: return row[3 * x + static_cast<std::size_t>(2 - c)];
  }
  return 0;
}

std::size_t stride_of(const PictureView& p) {
  return p.stride != 0 ? p.stride : std::size_t{p.width} * static_cast<std::size_t>(bytes_per_pixel(p.format));
}

// Row y counted from the top.
const std::uint8_t* row_of(const PictureView& p, std::uint32_t y) {
  return p.data + stride_of(p) * (p.bottom_up ? p.height - 1 - y : y);
}

double psnr_from_mse(double mse) {
  if (mse <= 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string decibels(double db) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", db);
  return text;
}

struct Trial {
  Encoded encoded;
  bool passes = false;
};

// The highest q in [lo, hi] for which `passes` holds, assuming it holds on a prefix of the range
// (target size), or the lowest, assuming a suffix (target PSNR); nullopt when it fails at the
// range's end where it should hold. A failing trial (error) is returned as is.
Result<std::optional<int>> bisect(int lo, int hi, bool prefix, const std::function<Result<bool>(int)>& passes) {
  Result<bool> edge = passes(prefix ? lo : hi);
  if (!edge) return {edge.status(), edge.message()};
  if (!edge.value()) return std::optional<int>();
  // Invariant: passes(good) holds; everything beyond `bad` (away from good) is taken to fail.
  int good = prefix ? lo : hi;
  int bad = prefix ? hi + 1 : lo - 1;
  while (std::abs(bad - good) > 1) {
    const int mid = (good + bad) / 2;
    Result<bool> r = passes(mid);
    if (!r) return {r.status(), r.message()};
    (r.value() ? good : bad) = mid;
  }
  return std::optional<int>(good);
}

}  // namespace

Result<Comparison> compare_pictures(const PictureView& a, const PictureView& b) {
  return detail::guarded<Comparison>([&]() -> Result<Comparison> {
    if (a.width != b.width || a.height != b.height)
      return {Status::kInvalidArgument, "the pictures differ in size: " + std::to_string(a.width) + "x" +
                                            std::to_string(a.height) + " and " + std::to_string(b.width) + "x" +
                                            std::to_string(b.height)};
    for (const PictureView* p : {&a, &b}) {
      if (p->data == nullptr || p->width == 0 || p->height == 0 ||
          stride_of(*p) < std::size_t{p->width} * static_cast<std::size_t>(bytes_per_pixel(p->format)))
        return {Status::kInvalidArgument, "empty or inconsistent picture"};
    }
    const std::size_t pixels = std::size_t{a.width} * a.height;
    double sum_rgb = 0;
    double sum_y = 0;
    int max_difference = 0;
    // Sums in the same order as ever, top row first, so that the figures never move.
    for (std::uint32_t y = 0; y < a.height; ++y) {
      const std::uint8_t* row_a = row_of(a, y);
      const std::uint8_t* row_b = row_of(b, y);
      for (std::size_t x = 0; x < a.width; ++x) {
        double luma_a = 0;
        double luma_b = 0;
        for (int c = 0; c < 3; ++c) {
          static constexpr double kLumaWeight[3] = {0.299, 0.587, 0.114};
          const int sa = sample(a.format, row_a, x, c);
          const int sb = sample(b.format, row_b, x, c);
          const int d = sa - sb;
          sum_rgb += static_cast<double>(d) * d;
          max_difference = std::max(max_difference, std::abs(d));
          luma_a += kLumaWeight[c] * sa;
          luma_b += kLumaWeight[c] * sb;
        }
        sum_y += (luma_a - luma_b) * (luma_a - luma_b);
      }
    }
    Comparison result;
    result.psnr_rgb = psnr_from_mse(sum_rgb / (3.0 * static_cast<double>(pixels)));
    result.psnr_y = psnr_from_mse(sum_y / static_cast<double>(pixels));
    result.max_difference = max_difference;
    return result;
  });
}

namespace detail {

Result<Encoded> encode_to_target(const PictureView& picture, const EncodeOptions& options) {
  if (const OptionProblem problem = check_encode_options(options))
    return {Status::kInvalidArgument, describe(problem)};
  EncodeOptions trial_options = options;
  trial_options.target_size.reset();
  trial_options.target_psnr.reset();
  std::optional<Encoded> best;
  std::uint64_t smallest = UINT64_MAX;
  int smallest_quality = 0;
  double highest_psnr = -1;
  const bool by_size = options.target_size.has_value();
  Result<std::optional<int>> found =
      bisect(codec::kMinQuality, codec::kMaxQuality, by_size, [&](int quality) -> Result<bool> {
        trial_options.quality = quality;
        Result<Encoded> encoded = encode(picture, trial_options);
        if (!encoded) return {encoded.status(), encoded.message()};
        Encoded& e = encoded.value();
        bool passes = false;
        if (by_size) {
          if (e.bytes.size() < smallest) smallest = e.bytes.size(), smallest_quality = quality;
          passes = e.bytes.size() <= *options.target_size;
        } else {
          DecodeOptions decode_options;
          decode_options.limits = options.limits;
          decode_options.threads = options.threads;
          Result<Decoded> decoded = decode(e.bytes, decode_options);
          if (!decoded) return {decoded.status(), "decoding the trial file failed: " + decoded.message()};
          Result<Comparison> comparison = compare_pictures(picture, decoded.value().picture.view());
          if (!comparison) return {comparison.status(), comparison.message()};
          e.psnr = comparison.value().psnr_rgb;
          highest_psnr = std::max(highest_psnr, e.psnr);
          passes = e.psnr >= *options.target_psnr;
        }
        if (passes && (!best || (by_size ? quality > best->quality : quality < best->quality))) best = std::move(e);
        return passes;
      });
  if (!found) return {found.status(), found.message()};
  if (best) return std::move(*best);
  if (by_size)
    return {Status::kLimitExceeded, "cannot reach " + std::to_string(*options.target_size) +
                                        " bytes: the smallest file, at quality " + std::to_string(smallest_quality) +
                                        ", has " + std::to_string(smallest) + " bytes"};
  return {Status::kLimitExceeded, "cannot reach " + decibels(*options.target_psnr) + " dB: the best PSNR reached is " +
                                      decibels(highest_psnr) + " dB"};
}

}  // namespace detail
}  // namespace varnic
