// SPDX-License-Identifier: BSD-2-Clause
// Encoder to decoder: the decoded picture is byte for byte the reconstruction shown right after
// compressing, at every small and odd size; and higher quality never decodes worse.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/encoder.h"
#include "display/display.h"
#include "imagefile/imagefile.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

// Encodes, checks the decoded picture against the encoder's own reconstruction, and gives the
// file size and the PSNR against the source.
std::pair<std::size_t, double> round_trip(const std::vector<std::uint8_t>& pixels, std::uint32_t w, std::uint32_t h, int bits, int quality) {
  CodecParams settings = codec::default_codec_params();
  settings.quality_factor = static_cast<std::int16_t>(quality);
  EXPECT_EQ(codec::derive_params_from_quality(settings), StatusCode::kOk);
  codec::EncodedPicture encoded;
  const codec::PictureRows view{pixels.data(), pixels.size(), w, h, static_cast<std::uint16_t>(bits)};
  EXPECT_EQ(codec::encode_picture(view, settings, {}, encoded), StatusCode::kOk);
  DecodedFile file;
  EXPECT_EQ(decode_file(encoded.stream, kDefaultPixelLimit, {}, file), StatusCode::kOk);
  decoder::CodeSet codes;
  for (int c = 0; c < encoded.plane_count; ++c) {
    const auto i = static_cast<std::size_t>(c);
    EXPECT_EQ(decoder::codes_from_quantized(encoded.planes[i], encoded.params, static_cast<Channel>(c), codes[i]), StatusCode::kOk);
  }
  DecodedPicture shown;
  EXPECT_EQ(reconstruct(codes, encoded.params, kCurrentMagic, nullptr, shown), StatusCode::kOk);
  EXPECT_EQ(shown.pixels.size(), pixels.size());
  EXPECT_EQ(shown.pixels, file.picture.pixels);
  double squared = 0;
  for (std::size_t i = 0; i < pixels.size() && i < shown.pixels.size(); ++i) squared += std::pow(shown.pixels[i] - pixels[i], 2);
  return {encoded.stream.size(), 10 * std::log10(255.0 * 255.0 * static_cast<double>(pixels.size()) / std::max(squared, 1.0))};
}

TEST(RoundTripTest, OddAndSmallSizesInColourAndGrey) {
  const std::uint32_t sides[] = {3, 4, 5, 7, 8, 9, 16, 17, 33, 37, 64, 65};
  std::mt19937 rng(1);
  for (const std::uint32_t w : sides) {
    for (const std::uint32_t h : sides) {
      for (const int bits : {24, 8}) {
        // Gradients with noise and a sharp edge, so every band has content.
        const utils::RowGeometry g = utils::row_geometry(w, h, static_cast<std::uint16_t>(bits));
        std::vector<std::uint8_t> pixels(g.picture_bytes, 0);
        for (std::uint32_t y = 0; y < h; ++y) {
          for (std::uint32_t i = 0; i < g.data_bytes; ++i) {
            const int v = static_cast<int>((i * 40 + y * 50) % 256 + rng() % 21) - 10;
            pixels[g.stride * y + i] = static_cast<std::uint8_t>(std::clamp(i > g.data_bytes / 2 && y > h / 3 ? 255 - v : v, 0, 255));
          }
        }
        const int quality = static_cast<int>((w * 7 + h * 13 + static_cast<std::uint32_t>(bits)) % 100);
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(bits) + " q" + std::to_string(quality));
        round_trip(pixels, w, h, bits, quality);
      }
    }
  }
}

TEST(RoundTripTest, HigherQualityGivesLargerFilesThatDecodeCloser) {
  for (const char* name : {"astronaut_512.bmp", "camera_512_grey.bmp"}) {
    imagefile::PictureBuffer picture;
    ASSERT_EQ(imagefile::read_bitmap_file(std::string(VARNIC_TEST_DATA) + "/" + name, picture), imagefile::FileStatus::kOk);
    std::pair<std::size_t, double> previous{0, 0.0};
    for (const int quality : {0, 10, 30, 50, 70, 90, 99}) {
      SCOPED_TRACE(std::string(name) + " q" + std::to_string(quality));
      const auto [bytes, psnr] = round_trip(picture.pixels, static_cast<std::uint32_t>(picture.width),
                                            static_cast<std::uint32_t>(picture.height), picture.bits_per_pixel, quality);
      EXPECT_GT(bytes, previous.first);
      EXPECT_GT(psnr, previous.second);
      previous = {bytes, psnr};
    }
  }
}

}  // namespace
}  // namespace varnic::display
