// SPDX-License-Identifier: BSD-2-Clause
// Every conformance stream decodes to exactly the pixels of its decoded picture: on any thread
// count, level by level with previews, and in the caller's row layout.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "display/display.h"
#include "imagefile/imagefile.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

std::vector<std::uint8_t> read_file(const std::string& relative) {
  std::ifstream in(std::string(VARNIC_TEST_DATA) + "/conformance/" + relative, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

const char* const kCases[] = {
    "astronaut_L3_drop", "astronaut_comment", "astronaut_comment_noZ", "astronaut_comment_v23", "astronaut_comment_v24",
    "astronaut_faces", "astronaut_landscape", "astronaut_q0", "astronaut_q10", "astronaut_q50", "astronaut_q90",
    "astronaut_q99", "camera_q10", "camera_q50", "camera_q90", "odd_37x21_q50", "small_64x48_q50", "tiny_9x5_g_q30",
};

class ConformanceTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConformanceTest, DecodesToTheExpectedPixelsEveryWay) {
  const std::string name = GetParam();
  const auto file = read_file("cod/" + name + ".cod");
  imagefile::PictureBuffer expected;
  ASSERT_EQ(imagefile::read_bitmap(read_file("decoded/" + name + ".bmp"), expected), imagefile::FileStatus::kOk);
  DecodedFile decoded;
  ASSERT_EQ(decode_file(file, kDefaultPixelLimit, {}, decoded), StatusCode::kOk);
  const CodecParams& p = decoded.header.params;
  EXPECT_EQ(static_cast<int>(p.image_width), expected.width);
  EXPECT_EQ(static_cast<int>(p.image_height), expected.height);
  EXPECT_EQ(decoded.picture.bits_per_pixel, expected.bits_per_pixel);
  ASSERT_EQ(decoded.picture.pixels.size(), expected.pixels.size());
  const auto diff = std::mismatch(decoded.picture.pixels.begin(), decoded.picture.pixels.end(), expected.pixels.begin());
  EXPECT_TRUE(diff.first == decoded.picture.pixels.end()) << "first difference at byte " << diff.first - decoded.picture.pixels.begin();

  // Level by level with previews, on threads, and top row first in red-green-blue order.
  ReconstructRequest request;
  int previews = 0;
  request.preview = [&](const PreviewFrame& frame) { return frame.level == previews++; };
  for (const int threads : {1, 3}) {
    request.threads = threads;
    DecodedFile again;
    ASSERT_EQ(decode_file(file, kDefaultPixelLimit, request, again), StatusCode::kOk);
    EXPECT_EQ(again.picture.pixels, decoded.picture.pixels) << threads << " threads";
    request.preview = nullptr;
  }
  EXPECT_EQ(previews, p.total_levels);
  if (name.ends_with("v23")) return;  // the packed layout has no rows
  request.layout = PixelLayout::kRows;
  request.rgb_order = true;
  DecodedFile rows;
  ASSERT_EQ(decode_file(file, kDefaultPixelLimit, request, rows), StatusCode::kOk);
  const std::size_t bpp = static_cast<std::size_t>(decoded.picture.bits_per_pixel / 8), h = p.image_height;
  for (std::size_t i = 0; i < rows.picture.pixels.size(); ++i) {
    const std::size_t y = i / rows.picture.stride, x = i % rows.picture.stride, from = bpp == 3 ? x - x % 3 + 2 - x % 3 : x;
    ASSERT_EQ(rows.picture.pixels[i], decoded.picture.pixels[decoded.picture.stride * (h - 1 - y) + from]) << "row " << y << " byte " << x;
  }
}

INSTANTIATE_TEST_SUITE_P(AllCases, ConformanceTest, ::testing::ValuesIn(kCases),
                         [](const auto& instance) { return std::string(instance.param); });

}  // namespace
}  // namespace varnic::display
