// SPDX-License-Identifier: BSD-2-Clause
// Every conformance stream decodes to exactly the pixels of its decoded picture: on any thread
// count, level by level with previews, and in a library caller's rows (top row first, red first).
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

  DecodeRequest threaded;
  threaded.threads = 3;
  DecodedFile again;
  ASSERT_EQ(decode_file(file, kDefaultPixelLimit, threaded, again), StatusCode::kOk);
  EXPECT_EQ(again.picture.pixels, decoded.picture.pixels) << "3 threads";

  // The desktop program's road: whole codes, a preview before every level.
  FileHeader header;
  decoder::CodeSet codes;
  ASSERT_EQ(decode_coefficients(file, kDefaultPixelLimit, 3, header, codes), StatusCode::kOk);
  int previews = 0;
  DecodedPicture shown;
  ASSERT_EQ(reconstruct(codes, header.params, header.magic, [&](const PreviewFrame& f) { return f.level == previews++; }, shown),
            StatusCode::kOk);
  EXPECT_EQ(previews, p.total_levels);
  EXPECT_EQ(shown.pixels, decoded.picture.pixels);

  // A library caller's rows: top row first, red first, the padding left out.
  DecodeRequest request;
  request.rgb_order = true;
  request.top_down = true;
  const std::size_t bpp = static_cast<std::size_t>(decoded.picture.bits_per_pixel / 8), row_bytes = bpp * p.image_width;
  std::uint32_t expected_row = p.image_height;
  RowSink sink;
  sink.row = [&](std::uint32_t row, std::span<const std::uint8_t> bytes) {
    EXPECT_EQ(row, --expected_row);
    const std::uint8_t* stored = decoded.picture.pixels.data() + decoded.picture.stride * row;
    for (std::size_t x = 0; x < row_bytes; ++x) {
      if (bytes[x] != stored[bpp == 3 ? x - x % 3 + 2 - x % 3 : x]) return false;
    }
    return true;
  };
  EXPECT_EQ(decode_rows(file, kDefaultPixelLimit, request, sink), StatusCode::kOk);
  EXPECT_EQ(expected_row, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllCases, ConformanceTest, ::testing::ValuesIn(kCases),
                         [](const auto& instance) { return std::string(instance.param); });

}  // namespace
}  // namespace varnic::display
