// SPDX-License-Identifier: BSD-2-Clause
// Colour reduction speed: building a 256-colour palette and mapping a photo
// to it, with and without dithering, at sides up to 4096. Mapping with a
// given palette skips the palette construction, so the difference between
// the two is the cost of the histogram and the median cut.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "imagefile/imagefile.h"

namespace {

using varnic::colour::quantize_to_palette;

// The bundled 512 × 512 photo enlarged bilinearly to side × side, packed
// without padding; enlarging keeps the smooth gradients of a real photo.
const std::vector<std::uint8_t>& photo(int side) {
  static std::map<int, std::vector<std::uint8_t>> cache;
  auto it = cache.find(side);
  if (it != cache.end()) return it->second;
  varnic::imagefile::PictureBuffer src;
  if (varnic::imagefile::read_bitmap_file(std::string(VARNIC_TEST_DATA) + "/astronaut_512.bmp", src) !=
          varnic::imagefile::FileStatus::kOk ||
      src.bits_per_pixel != 24) {
    std::abort();
  }
  const auto g = src.geometry();
  const std::size_t stride = g.stride;
  std::vector<std::uint8_t> out(3 * static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  for (int y = 0; y < side; ++y) {
    const double sy = (y + 0.5) * src.height / side - 0.5;
    const int y0 = std::max(0, static_cast<int>(sy));
    const int y1 = std::min(src.height - 1, y0 + 1);
    const double fy = std::max(0.0, sy - y0);
    for (int x = 0; x < side; ++x) {
      const double sx = (x + 0.5) * src.width / side - 0.5;
      const int x0 = std::max(0, static_cast<int>(sx));
      const int x1 = std::min(src.width - 1, x0 + 1);
      const double fx = std::max(0.0, sx - x0);
      for (int k = 0; k < 3; ++k) {
        auto at = [&](int xx, int yy) {
          return src.pixels[static_cast<std::size_t>(yy) * stride + 3 * static_cast<std::size_t>(xx) + static_cast<std::size_t>(k)];
        };
        const double v = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) +
                         fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1));
        out[3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)) + static_cast<std::size_t>(k)] =
            static_cast<std::uint8_t>(v + 0.5);
      }
    }
  }
  return cache.emplace(side, std::move(out)).first->second;
}

// Mean absolute error of the mapped picture: a wrong mapping shows at once.
double mean_error(const std::vector<std::uint8_t>& px, const std::vector<std::uint8_t>& idx,
                  const std::vector<std::uint8_t>& palette) {
  double sum = 0;
  for (std::size_t p = 0; p < idx.size(); ++p) {
    for (std::size_t k = 0; k < 3; ++k) sum += std::abs(px[3 * p + k] - palette[3 * std::size_t{idx[p]} + k]);
  }
  return sum / (3.0 * static_cast<double>(idx.size()));
}

// Runs once and checks the result before anything is timed.
bool check_first_run(benchmark::State& state, int colours, const std::vector<std::uint8_t>& px,
                     const std::vector<std::uint8_t>& idx, const std::vector<std::uint8_t>& palette) {
  if (colours == 0) {
    state.SkipWithError("quantizer failed");
    return false;
  }
  // 256 colours on a photo stay within a few levels on average.
  const double err = mean_error(px, idx, palette);
  state.counters["mean_abs_error"] = err;
  state.counters["colours"] = colours;
  if (err > 8.0) {
    state.SkipWithError("mapping far from the picture");
    return false;
  }
  return true;
}

void BM_BuildAndMap(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const bool dither = state.range(1) != 0;
  const auto& px = photo(side);
  std::vector<std::uint8_t> idx(px.size() / 3);
  std::vector<std::uint8_t> palette(768);
  const int colours = quantize_to_palette(px, side, side, idx, dither, false, palette, 256);
  if (!check_first_run(state, colours, px, idx, palette)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quantize_to_palette(px, side, side, idx, dither, false, palette, 256));
    benchmark::DoNotOptimize(idx.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(side) * side);
}

void BM_MapGivenPalette(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const bool dither = state.range(1) != 0;
  const auto& px = photo(side);
  std::vector<std::uint8_t> idx(px.size() / 3);
  std::vector<std::uint8_t> palette(768);
  if (quantize_to_palette(px, side, side, idx, false, false, palette, 256) == 0) {
    state.SkipWithError("quantizer failed");
    return;
  }
  const int colours = quantize_to_palette(px, side, side, idx, dither, true, palette, 256);
  if (!check_first_run(state, colours, px, idx, palette)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quantize_to_palette(px, side, side, idx, dither, true, palette, 256));
    benchmark::DoNotOptimize(idx.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(side) * side);
}

BENCHMARK(BM_BuildAndMap)
    ->ArgsProduct({{512, 1024, 2048, 4096}, {0, 1}})
    ->ArgNames({"side", "dither"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapGivenPalette)
    ->ArgsProduct({{512, 4096}, {0, 1}})
    ->ArgNames({"side", "dither"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
