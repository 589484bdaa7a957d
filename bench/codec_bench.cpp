// SPDX-License-Identifier: BSD-2-Clause
// Encoder stages on a 4096 x 4096 photograph made by tiling the bundled
// 512 x 512 samples (mirrored, so the tiles meet without seams).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/tiled_sample.h"
#include "format/arithmetic_coder.h"
#include "codec/encoder.h"
#include "codec/quantize.h"
#include "utils/picture_layout.h"
#include "imagefile/imagefile.h"

namespace varnic::codec {
namespace {

using namespace ::varnic::format;
using namespace ::varnic::utils;

constexpr std::uint32_t kSide = 4096;

struct BigPicture {
  std::vector<std::uint8_t> bytes;
  PictureRows view;
};

BigPicture tile(const std::string& name, std::uint16_t bits) {
  BigPicture big;
  big.bytes = bench::tiled_sample(name, bits, kSide);
  big.view = {big.bytes.data(), big.bytes.size(), kSide, kSide, bits};
  return big;
}

const BigPicture& colour_picture() {
  static const BigPicture picture = tile("astronaut_512.bmp", 24);
  return picture;
}
const BigPicture& grey_picture() {
  static const BigPicture picture = tile("camera_512_grey.bmp", 8);
  return picture;
}

CodecParams settings_at(int quality) {
  CodecParams p = default_codec_params();
  p.quality_factor = static_cast<std::int16_t>(quality);
  if (derive_params_from_quality(p) != StatusCode::kOk) std::abort();
  return p;
}

double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ColourTransform(benchmark::State& state) {
  const BigPicture& picture = colour_picture();
  std::array<CoefficientPlane, 3> planes;
  for (auto& plane : planes) {
    if (plane.allocate(kSide, kSide) != StatusCode::kOk) std::abort();
  }
  for (auto _ : state) {
    std::vector<float> row(kSide);
  for (int c = 0; c < 3; ++c) {
    for (std::uint32_t r = 0; r < kSide; ++r) {
      channel_row_to_float(picture.view, picture.view.bottom_row(r), c, {128, 128, 128}, kSide, row.data());
      std::copy(row.begin(), row.end(), planes[static_cast<std::size_t>(c)].row(r));
    }
  }
    benchmark::DoNotOptimize(planes[2].samples().data());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  state.counters["MPixel/s"] = benchmark::Counter(
      static_cast<double>(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ColourTransform)->Unit(benchmark::kMillisecond);

// One 4096 x 4096 Y plane from the picture rows through both passes of five levels, thresholds
// and quantization.
void BM_ForwardTransformAndQuantize(benchmark::State& state) {
  const BigPicture& picture = colour_picture();
  CodecParams working;
  if (make_working_params(settings_at(50), kSide, kSide, kImageModeColour, working) != StatusCode::kOk) std::abort();
  SymbolPlane codes;
  if (codes.allocate(kSide, kSide) != StatusCode::kOk) std::abort();
  for (auto _ : state) {
    ChannelParams channel = working.channels[0];
    if (quantize_channel_rows(picture.view, 0, working, channel, codes) != StatusCode::kOk) std::abort();
    benchmark::DoNotOptimize(codes.data());
  }
  state.counters["MSample/s"] = benchmark::Counter(
      static_cast<double>(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ForwardTransformAndQuantize)->Unit(benchmark::kMillisecond);

// The symbols of a real plane: the marked Y plane at quality 90 row by row
// (the statistics of coding order, not its sequence), as ranks in order of
// first appearance.
struct SymbolStream {
  int characters = 0;
  std::vector<int> text;
  std::vector<std::uint8_t> coded;
};
const SymbolStream& colour_symbols() {
  static const SymbolStream stream = [] {
    SymbolStream s;
    EncodedPicture out;
    if (encode_picture(colour_picture().view, settings_at(90), {}, out) != StatusCode::kOk) std::abort();
    std::array<int, 256> rank;
    rank.fill(-1);
    for (const std::int16_t v : out.planes[0].samples()) {
      if (v == kZeroTreeInside) continue;
      int& r = rank[static_cast<std::uint8_t>(v + kSymbolBias)];
      if (r < 0) r = s.characters++;
      s.text.push_back(r);
    }
    AdaptiveModel model;
    model.start(s.characters);
    ArithmeticEncoder encoder(s.coded);
    encoder.start();
    for (const int c : s.text) {
      encoder.encode(model, model.symbol_of(c));
      model.update(model.symbol_of(c));
    }
    encoder.encode(model, model.end_symbol());
    encoder.finish();
    // Check the round trip once before anything is timed.
    model.start(s.characters);
    ArithmeticDecoder decoder(s.coded);
    decoder.start();
    for (const int c : s.text) {
      const int symbol = decoder.decode(model);
      if (symbol == model.end_symbol() || model.character_of(symbol) != c) std::abort();
      model.update(symbol);
    }
    if (decoder.decode(model) != model.end_symbol()) std::abort();
    return s;
  }();
  return stream;
}

void BM_ArithmeticEncode(benchmark::State& state) {
  const SymbolStream& s = colour_symbols();
  std::vector<std::uint8_t> out;
  out.reserve(s.coded.size() + 16);
  AdaptiveModel model;
  for (auto _ : state) {
    out.clear();
    model.start(s.characters);
    ArithmeticEncoder encoder(out);
    encoder.start();
    for (const int c : s.text) {
      const int symbol = model.symbol_of(c);
      encoder.encode(model, symbol);
      model.update(symbol);
    }
    encoder.encode(model, model.end_symbol());
    encoder.finish();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.text.size()));
  state.counters["bytes"] = static_cast<double>(s.coded.size());
}
BENCHMARK(BM_ArithmeticEncode)->Unit(benchmark::kMillisecond);

void BM_ArithmeticDecode(benchmark::State& state) {
  const SymbolStream& s = colour_symbols();
  AdaptiveModel model;
  for (auto _ : state) {
    model.start(s.characters);
    ArithmeticDecoder decoder(s.coded);
    decoder.start();
    int sum = 0;
    for (std::size_t i = 0; i < s.text.size(); ++i) {
      const int symbol = decoder.decode(model);
      sum += model.character_of(symbol);
      model.update(symbol);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.text.size()));
}
BENCHMARK(BM_ArithmeticDecode)->Unit(benchmark::kMillisecond);

// Whole pictures. Arguments: quality, threads, side (the bottom-left side x
// side corner of the photograph, read in place through the row stride), and
// whether the coded planes are kept (the desktop program) or not (library and
// command-line tool: one plane at a time). CPU time covers every thread of
// the process, so real time over CPU time shows what the threads gain.
void encode_whole(benchmark::State& state, const BigPicture& picture) {
  const CodecParams settings = settings_at(static_cast<int>(state.range(0)));
  EncodeRequest options;
  options.threads = static_cast<int>(state.range(1));
  const auto side = static_cast<std::uint32_t>(state.range(2));
  options.keep_planes = state.range(3) != 0;
  PictureRows view = picture.view;
  view.row_stride = picture.view.stride();
  view.width = side;
  view.height = side;
  view.size = view.required_bytes();
  std::size_t bytes = 0;
  for (auto _ : state) {
    EncodedPicture out;
    if (encode_picture(view, settings, options, out) != StatusCode::kOk) {
      state.SkipWithError("encode failed");
      break;
    }
    bytes = out.stream.size();
  }
  state.counters["MPixel/s"] = benchmark::Counter(static_cast<double>(side) * side / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["peak_rss_MiB"] = peak_rss_mib();
}
void BM_EncodeColourPicture(benchmark::State& state) { encode_whole(state, colour_picture()); }
void BM_EncodeGreyPicture(benchmark::State& state) { encode_whole(state, grey_picture()); }
// Peak RSS is the process's so far: run a filter on one case to read it alone.
BENCHMARK(BM_EncodeColourPicture)
    ->ArgNames({"q", "threads", "side", "keep"})
    ->Args({50, 1, 1024, 0})
    ->Args({50, 1, 2048, 0})
    ->Args({50, 1, 4096, 0})
    ->Args({50, 2, 4096, 0})
    ->Args({50, 3, 4096, 0})
    ->Args({50, 1, 4096, 1})
    ->Args({90, 1, 4096, 0})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_EncodeGreyPicture)
    ->ArgNames({"q", "threads", "side", "keep"})
    ->Args({50, 1, 4096, 0})
    ->Args({50, 2, 4096, 0})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
}  // namespace varnic::codec
