// SPDX-License-Identifier: BSD-2-Clause
// Decoding of a whole 4096 x 4096 photograph (the bundled 512 x 512 samples
// tiled with mirroring), single thread: entropy decoding, synthesis with the
// colour conversion, and the two together. Each stream is checked once
// against the encoder-side reconstruction before anything is timed.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/tiled_sample.h"
#include "codec/encoder.h"
#include "utils/picture_layout.h"
#include "display/display.h"
#include "imagefile/imagefile.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

constexpr std::uint32_t kSide = 4096;
constexpr double kMegapixels = static_cast<double>(kSide) * kSide / 1e6;

// A compressed 4096 x 4096 stream, verified to decode to the reconstruction
// that the encoder side shows.
const std::vector<std::uint8_t>& stream(bool colour, int quality) {
  static std::map<std::pair<bool, int>, std::vector<std::uint8_t>> cache;
  auto found = cache.find({colour, quality});
  if (found != cache.end()) return found->second;
  const std::uint16_t bits = colour ? 24 : 8;
  const auto pixels = bench::tiled_sample(colour ? "astronaut_512.bmp" : "camera_512_grey.bmp", bits, kSide);
  format::CodecParams settings = codec::default_codec_params();
  settings.quality_factor = static_cast<std::int16_t>(quality);
  if (codec::derive_params_from_quality(settings) != StatusCode::kOk) std::abort();
  codec::EncodedPicture encoded;
  const codec::PictureRows view{pixels.data(), pixels.size(), kSide, kSide, bits};
  if (codec::encode_picture(view, settings, {}, encoded) != StatusCode::kOk) std::abort();
  decoder::CodeSet codes;
  for (int c = 0; c < encoded.plane_count; ++c) {
    const auto i = static_cast<std::size_t>(c);
    if (decoder::codes_from_quantized(encoded.planes[i], encoded.params, static_cast<Channel>(c), codes[i]) != StatusCode::kOk) {
      std::abort();
    }
  }
  DecodedPicture shown;
  if (reconstruct(codes, encoded.params, format::kCurrentMagic, nullptr, shown) != StatusCode::kOk) std::abort();
  DecodedFile decoded;
  if (decode_file(encoded.stream, kDefaultPixelLimit, {}, decoded) != StatusCode::kOk ||
      decoded.picture.pixels != shown.pixels) {
    std::fprintf(stderr, "round trip mismatch\n");
    std::abort();
  }
  return cache[{colour, quality}] = std::move(encoded.stream);
}

double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void add_counters(benchmark::State& state, std::size_t bytes) {
  state.counters["MPixel/s"] =
      benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file_bytes"] = static_cast<double>(bytes);
  state.counters["peak_MiB"] = peak_rss_mib();
}

// The whole decode: header, coefficients, synthesis and pixels.
void BM_DecodeFile(benchmark::State& state) {
  const bool colour = state.range(0) != 0;
  const auto& file = stream(colour, static_cast<int>(state.range(1)));
  for (auto _ : state) {
    DecodedFile decoded;
    if (decode_file(file, kDefaultPixelLimit, {}, decoded) != StatusCode::kOk) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(decoded.picture.pixels.data());
  }
  add_counters(state, file.size());
}
BENCHMARK(BM_DecodeFile)
    ->ArgNames({"colour", "quality"})
    ->Args({1, 50})
    ->Args({1, 90})
    ->Args({0, 50})
    ->Unit(benchmark::kMillisecond);

// Entropy decoding alone: tables, both segments of every plane, zerotrees.
void BM_DecodePlanes(benchmark::State& state) {
  const auto& file = stream(true, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    format::FileHeader header;
    decoder::CodeSet codes;
    if (decode_coefficients(file, kDefaultPixelLimit, 1, header, codes) != StatusCode::kOk) {
      state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(codes[0].low().data);
  }
  add_counters(state, file.size());
}
BENCHMARK(BM_DecodePlanes)->ArgName("quality")->Arg(50)->Arg(90)->Unit(benchmark::kMillisecond);

// Synthesis of the three planes and the colour conversion.
void BM_Reconstruct(benchmark::State& state) {
  const auto& file = stream(true, 50);
  format::FileHeader header;
  decoder::CodeSet codes;
  if (decode_coefficients(file, kDefaultPixelLimit, 1, header, codes) != StatusCode::kOk) std::abort();
  DecodedPicture pixels;
  for (auto _ : state) {
    if (reconstruct(codes, header.params, header.magic, nullptr, pixels) != StatusCode::kOk) {
      state.SkipWithError("reconstruction failed");
    }
    benchmark::DoNotOptimize(pixels.pixels.data());
  }
  add_counters(state, file.size());
}
BENCHMARK(BM_Reconstruct)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnic::display
