// Every conformance stream decodes to exactly the pixels of its decoded picture: on any thread
// count, level by level with previews, in the caller's row layout, and reduced.
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

  // With previews, whose frames are also what a reduced decode shows, and on threads.
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<std::uint32_t> frame_strides;
  ReconstructRequest request;
  request.preview = [&](const PreviewFrame& frame) {
    EXPECT_EQ(frame.level, static_cast<int>(frames.size()));
    frames.emplace_back(frame.pixels.begin(), frame.pixels.end());
    frame_strides.push_back(static_cast<std::uint32_t>(frame.pixels.size() / frame.height));
    return true;
  };
  for (const int threads : {1, 3}) {
    request.threads = threads;
    DecodedFile again;
    ASSERT_EQ(decode_file(file, kDefaultPixelLimit, request, again), StatusCode::kOk);
    EXPECT_EQ(again.picture.pixels, decoded.picture.pixels) << threads << " threads";
    request.preview = nullptr;
  }
  ASSERT_EQ(frames.size(), std::size_t{p.total_levels});
  if (name.ends_with("v23")) return;  // the packed layout has no rows to compare
  const std::size_t bpp = decoded.picture.bits_per_pixel / 8;
  for (int reduce = 0; reduce < std::min(3, int{p.total_levels}); ++reduce) {
    ReconstructRequest rows;
    rows.layout = PixelLayout::kRows;
    rows.rgb_order = true;
    rows.reduce = reduce;
    rows.threads = 2;
    DecodedFile out;
    ASSERT_EQ(decode_file(file, kDefaultPixelLimit, rows, out), StatusCode::kOk);
    const std::uint32_t scale = 1u << reduce, w = (p.image_width + scale - 1) / scale, h = (p.image_height + scale - 1) / scale;
    ASSERT_EQ(out.picture.width, w) << reduce;
    ASSERT_EQ(out.picture.height, h) << reduce;
    const std::uint8_t* source = reduce == 0 ? decoded.picture.pixels.data() : frames[p.total_levels - reduce].data();
    const std::size_t stride = reduce == 0 ? decoded.picture.stride : frame_strides[p.total_levels - reduce];
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::size_t i = 0; i < w * bpp; ++i) {
        const std::size_t from = bpp == 3 ? i - i % 3 + 2 - i % 3 : i;  // red first
        ASSERT_EQ(out.picture.pixels[out.picture.stride * y + i], source[stride * (h - 1 - y) + from])
            << "reduce " << reduce << " row " << y << " byte " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllCases, ConformanceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace varnic::display
