// The optimising encoder through the public library: every file it writes must decode with the
// classic decoder to a picture close to the source, without colour bias, within the format's
// classic field ranges; plus the synthesis gains its steps rest on.
#include "optimize/optimize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "codec/forward_wavelet.h"
#include "decoder/decoder.h"
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

struct Case {
  const char* name;
  Picture picture;
  int quality;
  double min_psnr;
  // Largest mean error per channel: a flat colour decodes to one point of the decoder's integer
  // colour lattice, so it can only be brought within a level (the classic encoder is 4 off).
  double max_mean = 0.5;
};

std::vector<Case> Cases() {
  return {{"astronaut q50", load("astronaut_256x192.bmp"), 50, 27.0},
          {"astronaut q95", load("astronaut_256x192.bmp"), 95, 38.0},
          {"odd size (padding)", load("astronaut_37x21.bmp"), 70, 28.0},
          {"grey q30", load("camera_256x256_g.bmp"), 30, 25.5},
          {"grey q99", load("camera_256x256_g.bmp"), 99, 44.0},
          {"flat red", flat(128, 96, {200, 30, 30}), 50, 40.0, 1.0},
          {"flat white", flat(16, 16, {255, 255, 255}), 10, 45.0}};
}

TEST(OptimizeTest, FilesDecodeCloseToTheSourceWithoutColourBias) {
  for (int level = 1; level <= optimize::kMaxOptimizeLevel; ++level) {
    for (const Case& c : Cases()) {
      SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
      EncodeOptions options;
      options.quality = c.quality;
      options.optimize = level;
      Result<Encoded> encoded = encode(c.picture.view(), options);
      ASSERT_TRUE(encoded.ok()) << encoded.message();
      const Bytes& file = encoded.value().bytes;
      Result<Decoded> decoded = decode(file);
      ASSERT_TRUE(decoded.ok()) << decoded.message();
      const Picture& out = decoded.value().picture;
      ASSERT_EQ(out.pixels.size(), c.picture.pixels.size());

      const int channels = bytes_per_pixel(c.picture.format);
      std::array<double, 3> mean{};
      double squared = 0;
      for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        const double e = double(out.pixels[i]) - double(c.picture.pixels[i]);
        mean[i % channels] += e;
        squared += e * e;
      }
      const double samples = double(out.pixels.size());
      const double psnr = squared == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / squared);
      EXPECT_GE(psnr, c.min_psnr);
      for (int ch = 0; ch < channels; ++ch) EXPECT_LE(std::fabs(mean[ch] * channels / samples), c.max_mean) << ch;

      // Only fields the classic encoder writes too: vectors within 0..125, pixel offsets 128,
      // dropped levels below the level count.
      format::FileHeader header;
      ASSERT_EQ(format::parse_header(file, format::kDefaultPixelLimit, header), format::StatusCode::kOk);
      const format::CodecParams& p = header.params;
      for (int ch = 0; ch < channels; ++ch) {
        const format::ChannelParams& cp = p.channels[ch];
        EXPECT_EQ(cp.pixel_offset, 128);
        EXPECT_LT(cp.dropped_levels, p.total_levels);
        for (int k = 0; k < format::subband_count(p.total_levels); ++k) EXPECT_LE(cp.quant_vector[k], 125);
      }
    }
  }
}

TEST(OptimizeTest, RefusesWhatTheOptimiserChoosesItselfAndLevelsOutOfRange) {
  const Picture picture = flat(16, 16, {1, 2, 3});
  for (auto change : std::vector<void (*)(EncodeOptions&)>{
           [](EncodeOptions& o) { o.optimize = 4; }, [](EncodeOptions& o) { o.optimize = -1; },
           [](EncodeOptions& o) { o.optimize = 1, o.thresholds = std::vector<int>(6, 0); },
           [](EncodeOptions& o) { o.optimize = 2, o.dropped = std::array<int, 3>{0, 0, 0}; }}) {
    EncodeOptions options;
    change(options);
    EXPECT_EQ(encode(picture.view(), options).status(), Status::kInvalidArgument);
  }
  EncodeOptions levels;
  levels.optimize = 1;
  levels.levels = 3;
  Result<Encoded> three = encode(picture.view(), levels);
  ASSERT_TRUE(three.ok()) << three.message();
  EXPECT_EQ(three.value().levels, 3);
}

// The gain table against impulses synthesised by the decoder: a wrong entry skews every step.
TEST(OptimizeTest, SynthesisGainsMatchTheDecodersFilterBank) {
  constexpr std::uint32_t kSide = 256;
  constexpr double kAmplitude = 4000;
  for (int levels : {2, 4}) {
    format::CodecParams p;
    p.total_levels = static_cast<std::uint16_t>(levels);
    p.padded_width = p.padded_height = p.image_width = p.image_height = kSide;
    p.plane_size = kSide * kSide;
    for (int k = 0; k < format::subband_count(levels); ++k) {
      const format::BandRect band = format::subband_rect(kSide, kSide, levels, k);
      format::CoefficientPlane plane;
      ASSERT_EQ(plane.allocate(kSide, kSide), format::StatusCode::kOk);
      plane.at(band.row + band.rows / 2, band.col + band.cols / 2) = static_cast<std::int16_t>(kAmplitude);
      ASSERT_EQ(decoder::synthesize_plane(plane, p, format::Channel::kY), format::StatusCode::kOk);
      double energy = 0;
      for (std::int16_t v : plane.samples()) energy += double(v) * v;
      EXPECT_NEAR(energy / (kAmplitude * kAmplitude), optimize::synthesis_gain(levels, k), 0.02) << k;
    }
  }
}

}  // namespace
}  // namespace varnic
