// Every conformance stream decodes to exactly the pixels of its decoded
// picture, with and without previews.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "display/display.h"
#include "imagefile/imagefile.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string conformance(const std::string& relative) {
  return std::string(VARNIC_TEST_DATA) + "/conformance/" + relative;
}

const char* const kCases[] = {
    "astronaut_L3_drop", "astronaut_comment", "astronaut_comment_noZ", "astronaut_comment_v23",
    "astronaut_comment_v24", "astronaut_faces", "astronaut_landscape", "astronaut_q0",
    "astronaut_q10", "astronaut_q50", "astronaut_q90", "astronaut_q99",
    "camera_q10", "camera_q50", "camera_q90", "odd_37x21_q50",
    "small_64x48_q50", "tiny_9x5_g_q30",
};

class ConformanceTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConformanceTest, DecodesToTheExpectedPixels) {
  const std::string name = GetParam();
  const auto file = read_file(conformance("cod/" + name + ".cod"));
  ASSERT_FALSE(file.empty());
  imagefile::PictureBuffer expected;
  ASSERT_EQ(imagefile::read_bitmap(read_file(conformance("decoded/" + name + ".bmp")), expected),
            imagefile::FileStatus::kOk);

  DecodedFile decoded;
  ASSERT_EQ(decode_file(file, kDefaultPixelLimit, ReconstructRequest{}, decoded), StatusCode::kOk);
  const format::CodecParams& p = decoded.header.params;
  EXPECT_EQ(static_cast<int>(p.image_width), expected.width);
  EXPECT_EQ(static_cast<int>(p.image_height), expected.height);
  EXPECT_EQ(decoded.picture.bits_per_pixel, expected.bits_per_pixel);
  ASSERT_EQ(decoded.picture.pixels.size(), expected.pixels.size());
  std::size_t first_difference = decoded.picture.pixels.size();
  int differences = 0;
  for (std::size_t i = 0; i < decoded.picture.pixels.size(); ++i) {
    if (decoded.picture.pixels[i] != expected.pixels[i]) {
      if (differences++ == 0) first_difference = i;
    }
  }
  EXPECT_EQ(differences, 0) << "first at byte " << first_difference;

  // Level by level with previews gives the same picture.
  ReconstructRequest with_previews;
  int previews = 0;
  with_previews.preview = [&](const PreviewFrame& frame) {
    EXPECT_EQ(frame.level, previews);
    ++previews;
    return true;
  };
  DecodedFile incremental;
  ASSERT_EQ(decode_file(file, kDefaultPixelLimit, with_previews, incremental), StatusCode::kOk);
  EXPECT_EQ(previews, p.total_levels);
  EXPECT_EQ(incremental.picture.pixels, decoded.picture.pixels);
}

INSTANTIATE_TEST_SUITE_P(AllCases, ConformanceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param); });

TEST(ConformanceFacts, WithoutTheCodedFlagThePictureIsFlatMidGrey) {
  DecodedFile decoded;
  ASSERT_EQ(decode_file(read_file(conformance("cod/astronaut_comment_noZ.cod")), kDefaultPixelLimit, ReconstructRequest{}, decoded),
            StatusCode::kOk);
  ASSERT_EQ(decoded.picture.pixels.size(), 256u * 192u * 3u);
  for (std::uint8_t b : decoded.picture.pixels) ASSERT_EQ(b, 128);
}

TEST(ConformanceFacts, Version23ComesOutInRedGreenBlueOrder) {
  DecodedFile v25, v23;
  ASSERT_EQ(decode_file(read_file(conformance("cod/astronaut_comment.cod")), kDefaultPixelLimit, ReconstructRequest{}, v25),
            StatusCode::kOk);
  ASSERT_EQ(decode_file(read_file(conformance("cod/astronaut_comment_v23.cod")), kDefaultPixelLimit, ReconstructRequest{}, v23),
            StatusCode::kOk);
  // 256 is a multiple of every padding, so the packed sequence lines up
  // with the rows and only the byte order differs.
  ASSERT_EQ(v25.picture.pixels.size(), v23.picture.pixels.size());
  int swapped_differs = 0;
  for (std::size_t i = 0; i < v25.picture.pixels.size(); i += 3) {
    ASSERT_EQ(v23.picture.pixels[i], v25.picture.pixels[i + 2]);
    ASSERT_EQ(v23.picture.pixels[i + 1], v25.picture.pixels[i + 1]);
    ASSERT_EQ(v23.picture.pixels[i + 2], v25.picture.pixels[i]);
    swapped_differs += v25.picture.pixels[i] != v25.picture.pixels[i + 2];
  }
  EXPECT_GT(swapped_differs, 1000);
}

}  // namespace
}  // namespace varnic::display
