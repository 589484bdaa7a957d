// SPDX-License-Identifier: BSD-2-Clause
// The optimizing encoder through the public library: every file it writes, at every level and
// tuning, must decode with the classic decoder to a picture without colour bias, within the
// format's classic field ranges; tuned for squared error, close to the source and no classic file
// as small may decode closer; tuned for SSIM, higher SSIM at equal size; plus the synthesis gains
// its steps rest on.
#include "optimize/optimize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "decoder/decoder.h"
#include "web/ssim.h"
#include "varnic/varnic.h"

namespace varnic {
namespace {

using Bytes = std::vector<std::uint8_t>;

Picture load(const std::string& name) {
  const std::string path = std::string(VARNIC_TEST_DATA) + "/conformance/pics/" + name;
  std::ifstream in(path, std::ios::binary);
  const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Result<PictureFile> loaded = read_picture(bytes, path, {});
  EXPECT_TRUE(loaded.ok()) << path;
  if (!loaded.ok()) return {};
  const Picture& p = loaded.value().picture;
  return convert_picture(p.view(), p.format == PixelFormat::kGrey8 ? PixelFormat::kGrey8 : PixelFormat::kRgb24).value();
}

Picture flat(std::uint32_t w, std::uint32_t h, std::array<std::uint8_t, 3> rgb) {
  Picture p{w, h, PixelFormat::kRgb24, {}};
  for (std::uint32_t i = 0; i < w * h; ++i) p.pixels.insert(p.pixels.end(), rgb.begin(), rgb.end());
  return p;
}

// max_mean is the largest mean error per channel: a flat colour decodes to one point of the
// decoder's integer colour lattice, so it can only be brought within a level (classic is 4 off).
struct Case { const char* name; Picture picture; int quality; double min_psnr, max_mean = 0.5; };

std::vector<Case> Cases() {
  return {{"astronaut q50", load("astronaut_256x192.bmp"), 50, 27.0},
          {"astronaut q95", load("astronaut_256x192.bmp"), 95, 42.95},
          {"odd size (padding)", load("astronaut_37x21.bmp"), 70, 28.0},
          {"grey q30", load("camera_256x256_g.bmp"), 30, 25.5},
          {"grey q99", load("camera_256x256_g.bmp"), 99, 47.15},
          {"flat red", flat(128, 96, {200, 30, 30}), 50, 40.0, 1.0},
          {"flat white", flat(16, 16, {255, 255, 255}), 10, 45.0}};
}

// PSNR of a file against its source, and the mean error of each channel.
double quality_of(const Picture& source, const Bytes& file, std::array<double, 3>& mean) {
  Result<Decoded> decoded = decode(file);
  EXPECT_TRUE(decoded.ok()) << decoded.message();
  if (!decoded.ok()) return 0;
  const Picture& out = decoded.value().picture;
  EXPECT_EQ(out.pixels.size(), source.pixels.size());
  const auto channels = static_cast<std::size_t>(bytes_per_pixel(source.format));
  double squared = 0;
  mean = {};
  for (std::size_t i = 0; i < out.pixels.size() && i < source.pixels.size(); ++i) {
    const double e = double(out.pixels[i]) - double(source.pixels[i]);
    mean[i % channels] += e * double(channels) / double(source.pixels.size());
    squared += e * e;
  }
  return squared == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(source.pixels.size()) / squared);
}

TEST(OptimizeTest, EveryReaderDecodesTheFilesCloseToTheSourceAndNeverWorseThanClassic) {
  for (const Case& c : Cases()) {
    const auto channels = static_cast<std::size_t>(bytes_per_pixel(c.picture.format));
    // The classic encoder's sizes and PSNRs over the quality range.
    std::vector<std::pair<std::size_t, double>> classic;
    std::array<double, 3> mean{};
    for (int q = 0; q <= 99; q += 3) {
      EncodeOptions options;
      options.quality = q;
      const Bytes file = encode(c.picture.view(), options).value().bytes;
      classic.emplace_back(file.size(), quality_of(c.picture, file, mean));
    }
    for (int run = 0; run < 2 * optimize::kMaxOptimizeLevel; ++run) {
      const int level = 1 + run / 2;
      const Tune tune = run % 2 == 0 ? Tune::kPsnr : Tune::kSsim;
      SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level) + (run % 2 ? ", ssim" : ", psnr"));
      EncodeOptions options;
      options.quality = c.quality;
      options.optimize = level;
      options.tune = tune;
      Result<Encoded> encoded = encode(c.picture.view(), options);
      ASSERT_TRUE(encoded.ok()) << encoded.message();
      const Bytes& file = encoded.value().bytes;
      const double psnr = quality_of(c.picture, file, mean);
      for (std::size_t ch = 0; ch < channels; ++ch) EXPECT_LE(std::fabs(mean[ch]), c.max_mean) << ch;
      // Tuned for squared error: no classic file as small decodes closer (SSIM tuning trades it).
      if (tune == Tune::kPsnr) {
        EXPECT_GE(psnr, c.min_psnr);
        for (const auto& [bytes, classic_psnr] : classic) EXPECT_TRUE(bytes > file.size() || classic_psnr <= psnr) << bytes << " bytes";
      }

      // Only fields the classic decoder knows the meaning of: vectors within 0..125, pixel
      // offsets 128, dropped levels below the level count.
      format::FileHeader header;
      ASSERT_EQ(format::parse_header(file, format::kDefaultPixelLimit, header), format::StatusCode::kOk);
      for (std::size_t ch = 0; ch < channels; ++ch) {
        const format::ChannelParams& cp = header.params.channels[ch];
        EXPECT_EQ(cp.pixel_offset, 128);
        EXPECT_LT(cp.dropped_levels, header.params.total_levels);
        const auto bands = cp.quant_vector.begin() + format::subband_count(header.params.total_levels);
        EXPECT_LE(*std::max_element(cp.quant_vector.begin(), bands), 125);
      }
    }
  }
}

TEST(OptimizeTest, RefusesWhatTheOptimizerChoosesItselfAndLevelsOutOfRange) {
  const Picture picture = flat(16, 16, {1, 2, 3});
  for (auto change : std::vector<void (*)(EncodeOptions&)>{[](EncodeOptions& o) { o.optimize = 4; }, [](EncodeOptions& o) { o.optimize = -1; },
                                                           [](EncodeOptions& o) { o.optimize = 1, o.thresholds = std::vector<int>(6, 0); },
                                                           [](EncodeOptions& o) { o.optimize = 2, o.dropped = std::array<int, 3>{0, 0, 0}; },
                                                           [](EncodeOptions& o) { o.tune = Tune::kSsim; }}) {
    EncodeOptions options;
    change(options);
    EXPECT_EQ(encode(picture.view(), options).status(), Status::kInvalidArgument);
  }
  EncodeOptions levels;
  levels.optimize = 1;
  levels.levels = 3;
  EXPECT_EQ(encode(picture.view(), levels).value().levels, 3);
}

TEST(OptimizeTest, ProgressClimbsToItsTotalAndEveryStepCanCancel) {
  const Picture picture = load("astronaut_64x48.bmp");
  for (int level = 1; level <= optimize::kMaxOptimizeLevel; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    EncodeOptions options;
    options.optimize = level;
    std::vector<int> done;
    int total = 0;
    options.progress = [&](const Progress& p) {
      done.push_back(p.done);
      total = p.total;
      return true;
    };
    ASSERT_TRUE(encode(picture.view(), options).ok());
    ASSERT_GE(done.size(), 3u);
    EXPECT_EQ(done.back(), total);
    for (std::size_t k = 1; k < done.size(); ++k) EXPECT_GT(done[k], done[k - 1]);
    for (std::size_t stop = 1; stop <= done.size(); ++stop) {
      std::size_t calls = 0;
      options.progress = [&](const Progress&) { return ++calls < stop; };
      EXPECT_EQ(encode(picture.view(), options).status(), Status::kCancelled) << stop;
      EXPECT_EQ(calls, stop);
    }
  }
}

// The optimizer's choices (steps, multipliers, dead zones, values) pinned as the exact bytes of
// two -O 1 files, which the quality floors alone would let drift; tests/data/README.md gives the
// command that regenerates them when the optimizer is meant to change.
TEST(OptimizeTest, ChoicesArePinned) {
  for (const char* name : {"astronaut_64x48", "camera_256x256_g"}) {
    SCOPED_TRACE(name);
    const std::string path = std::string(VARNIC_TEST_DATA) + "/optimize/" + name + "_O1_q50.cod";
    std::ifstream in(path, std::ios::binary);
    const Bytes pinned((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(pinned.empty()) << path;
    EncodeOptions options;
    options.optimize = 1;
    options.quality = 50;
    EXPECT_TRUE(encode(load(std::string(name) + ".bmp").view(), options).value().bytes == pinned);
  }
}

// Mean SSIM of a decoded file against its source.
double ssim_of(const Picture& source, const Bytes& file) {
  const Picture decoded = decode(file).value().picture;
  web::SsimRows ssim(source.width);
  for (std::uint32_t y = 0; y < source.height; ++y) {
    const std::size_t bytes = std::size_t{source.width} * static_cast<std::size_t>(bytes_per_pixel(source.format));
    ssim.add({source.row(y), bytes}, source.format, {decoded.row(y), bytes}, decoded.format);
  }
  return ssim.result();
}

// Tuned for SSIM, the largest quality whose file is no larger than the squared-error tuning's
// scores higher SSIM on a picture with both texture (hair, fabric) and flat areas.
TEST(OptimizeTest, SsimTuningGivesHigherSsimAtEqualSize) {
  const Picture picture = load("astronaut_256x192.bmp");
  for (int quality : {50, 70}) {
    SCOPED_TRACE(testing::Message() << "q" << quality);
    EncodeOptions options;
    options.quality = quality;
    options.optimize = 2;
    const Bytes plain = encode(picture.view(), options).value().bytes;
    options.tune = Tune::kSsim;
    Bytes tuned;
    for (int q = quality; q <= kMaxQuality; ++q) {
      options.quality = q;
      Bytes file = encode(picture.view(), options).value().bytes;
      if (file.size() > plain.size()) break;
      tuned = std::move(file);
    }
    ASSERT_FALSE(tuned.empty());
    EXPECT_GT(ssim_of(picture, tuned), ssim_of(picture, plain));
  }
}

// The gain table against impulses synthesized by the decoder: a wrong entry skews every step.
TEST(OptimizeTest, SynthesisGainsMatchTheDecodersFilterBank) {
  constexpr std::uint32_t kSide = 256;
  constexpr std::int16_t kAmplitude = 4000;  // one code of 1 with BandMax 4000 and QuantVector 1
  for (int levels : {2, 4}) {
    format::CodecParams p;
    p.total_levels = static_cast<std::uint16_t>(levels);
    p.padded_width = p.padded_height = p.image_width = p.image_height = kSide;
    p.plane_size = kSide * kSide;
    for (int k = 0; k < format::subband_count(levels); ++k) {
      const auto band = static_cast<std::size_t>(k);
      p.channels[0].band_max[band] = kAmplitude;
      p.channels[0].quant_vector[band] = 1;
      const format::BandRect rect = format::subband_rect(kSide, kSide, levels, k);
      format::SymbolPlane codes;
      ASSERT_EQ(codes.allocate(kSide, kSide), format::StatusCode::kOk);
      codes.row(rect.row + rect.rows / 2)[rect.col + rect.cols / 2] = 1;
      decoder::PlaneCodes marked;
      ASSERT_EQ(decoder::codes_from_plane(codes, p, format::Channel::kY, marked), format::StatusCode::kOk);
      decoder::SynthesisPlan plan;
      ASSERT_EQ(decoder::plan_synthesis(p, levels, kSide, kSide, plan), format::StatusCode::kOk);
      decoder::LineSynthesis synthesis;
      ASSERT_EQ(synthesis.start(marked, p, format::Channel::kY, plan), format::StatusCode::kOk);
      double energy = 0;
      for (std::uint32_t y = 0; y < kSide; ++y) {
        const std::int16_t* row = synthesis.row(static_cast<int>(y));
        for (std::uint32_t x = 0; x < kSide; ++x) energy += double(row[x]) * row[x];
      }
      EXPECT_NEAR(energy / (double(kAmplitude) * kAmplitude), optimize::synthesis_gain(levels, k), 0.02) << k;
    }
  }
}

}  // namespace
}  // namespace varnic
