// Encoder to decoder: the decoded planes are the encoder's quantized planes,
// and the decoded picture is byte for byte the reconstruction shown right
// after compressing.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/encoder.h"
#include "display/display.h"
#include "imagefile/imagefile.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

using format::Channel;

// Smooth gradients with noise and a sharp edge, so every band has content.
std::vector<std::uint8_t> synthetic_picture(std::uint32_t w, std::uint32_t h, int bits, unsigned seed) {
  const utils::RowGeometry g = utils::row_geometry(w, h, static_cast<std::uint16_t>(bits));
  std::vector<std::uint8_t> pixels(g.picture_bytes, 0);
  std::mt19937 rng(seed);
  const int channels = bits / 8;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      for (int c = 0; c < channels; ++c) {
        int v = static_cast<int>((x * (40 + 30 * c) + y * 50) % 256) + static_cast<int>(rng() % 21) - 10;
        if (x > w / 2 && y > h / 3) v = 255 - v;
        pixels[g.stride * y + x * static_cast<std::uint32_t>(channels) + static_cast<std::uint32_t>(c)] =
            static_cast<std::uint8_t>(std::clamp(v, 0, 255));
      }
    }
  }
  return pixels;
}

void round_trip(const std::vector<std::uint8_t>& pixels, std::uint32_t w, std::uint32_t h, int bits,
                int quality, const std::string& label) {
  SCOPED_TRACE(label);
  format::CodecParams settings = codec::default_codec_params();
  settings.quality_factor = static_cast<std::int16_t>(quality);
  ASSERT_EQ(codec::derive_params_from_quality(settings), StatusCode::kOk);
  const codec::PictureRows view{pixels.data(), pixels.size(), w, h, static_cast<std::uint16_t>(bits)};
  codec::EncodedPicture encoded;
  ASSERT_EQ(codec::encode_picture(view, settings, codec::EncodeRequest{}, encoded), StatusCode::kOk);
  const format::CodecParams& coded = encoded.params;

  format::FileHeader header;
  decoder::PlaneSet decoded_planes;
  ASSERT_EQ(decode_coefficients(encoded.stream, format::kDefaultPixelLimit, 1, header, decoded_planes), StatusCode::kOk);
  const format::CodecParams& read = header.params;
  EXPECT_EQ(read.total_levels, coded.total_levels);
  EXPECT_EQ(read.padded_width, coded.padded_width);
  EXPECT_EQ(read.padded_height, coded.padded_height);
  const int planes = bits == 24 ? 3 : 1;
  for (int c = 0; c < 3; ++c) {
    if (c >= planes) {
      EXPECT_TRUE(decoded_planes[c].empty());
      continue;
    }
    const Channel channel = static_cast<Channel>(c);
    const int dropped = read.channel(channel).dropped_levels;
    EXPECT_EQ(dropped, coded.channel(channel).dropped_levels);
    EXPECT_EQ(read.channel(channel).band_max, coded.channel(channel).band_max);
    // The decoder dequantizes as it goes; the encoder's planes are quantized
    // and marked, so they are dequantized here the way Compress does it.
    format::CoefficientPlane expected = encoded.planes[c];
    decoder::dequantize_plane(expected, coded, channel);
    int mismatches = 0;
    for (std::uint32_t y = 0; y < coded.padded_height; ++y) {
      for (std::uint32_t x = 0; x < coded.padded_width; ++x) {
        const bool dropped_level = dropped > 0 && (y >= (coded.padded_height >> dropped) ||
                                                   x >= (coded.padded_width >> dropped));
        const int want = dropped_level ? 0 : expected.at(y, x);
        mismatches += decoded_planes[c].at(y, x) != want;
      }
    }
    EXPECT_EQ(mismatches, 0) << "channel " << c;
  }

  DecodedFile file;
  ASSERT_EQ(decode_file(encoded.stream, format::kDefaultPixelLimit, {}, file), StatusCode::kOk);
  ReconstructRequest options;
  options.dequantize = true;
  DecodedPicture shown;
  ASSERT_EQ(reconstruct(encoded.planes, coded, format::kCurrentMagic, options, shown), StatusCode::kOk);
  ASSERT_EQ(shown.pixels.size(), utils::row_geometry(w, h, static_cast<std::uint16_t>(bits)).picture_bytes);
  EXPECT_EQ(shown.pixels, file.picture.pixels);
}

TEST(RoundTripTest, OddAndSmallSizesInColourAndGrey) {
  const std::uint32_t sides[] = {3, 4, 5, 7, 8, 9, 16, 17, 33, 37, 64, 65};
  unsigned seed = 1;
  for (std::uint32_t w : sides) {
    for (std::uint32_t h : sides) {
      for (int bits : {24, 8}) {
        const int quality = static_cast<int>((w * 7 + h * 13 + static_cast<std::uint32_t>(bits)) % 100);
        round_trip(synthetic_picture(w, h, bits, seed++), w, h, bits, quality,
                   std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(bits) + " q" +
                       std::to_string(quality));
      }
    }
  }
}

TEST(RoundTripTest, BundledPhotographsAtSeveralQualities) {
  for (const char* name : {"astronaut_512.bmp", "camera_512_grey.bmp"}) {
    imagefile::PictureBuffer picture;
    ASSERT_EQ(imagefile::read_bitmap_file(std::string(VARNIC_TEST_DATA) + "/" + name, picture),
              imagefile::FileStatus::kOk);
    for (int quality : {0, 10, 50, 90, 99}) {
      round_trip(picture.pixels, static_cast<std::uint32_t>(picture.width),
                 static_cast<std::uint32_t>(picture.height), picture.bits_per_pixel, quality,
                 std::string(name) + " q" + std::to_string(quality));
    }
  }
}

TEST(RoundTripTest, PicturesWithASideOfOneOrTwoAreRefusedByTheEncoder) {
  for (auto [w, h] : {std::pair{1u, 1u}, {2u, 2u}, {1u, 64u}, {64u, 2u}}) {
    const auto pixels = synthetic_picture(w, h, 24, 3);
    const codec::PictureRows view{pixels.data(), pixels.size(), w, h, 24};
    codec::EncodedPicture encoded;
    EXPECT_EQ(codec::encode_picture(view, codec::default_codec_params(), codec::EncodeRequest{}, encoded),
              StatusCode::kPictureTooSmall);
    EXPECT_TRUE(encoded.stream.empty());
  }
}

}  // namespace
}  // namespace varnic::display
