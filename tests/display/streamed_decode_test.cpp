// SPDX-License-Identifier: BSD-2-Clause
// The row-streamed decode gives the pixels of the whole-plane decode, status included, on every
// conformance stream and on damaged copies whose streams end inside zerotrees.

#include <gtest/gtest.h>

#include <array>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "display/display.h"

namespace varnic::display {
namespace {

using format::StatusCode;

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Top-down rows of either decode, or the failing status.
struct Outcome {
  StatusCode status = StatusCode::kOk;
  std::vector<std::uint8_t> pixels;
};

Outcome whole(const std::vector<std::uint8_t>& file, bool rgb) {
  ReconstructRequest request;
  request.layout = PixelLayout::kRows;
  request.rgb_order = rgb;
  DecodedFile decoded;
  Outcome out;
  out.status = decode_file(file, format::kDefaultPixelLimit, request, decoded);
  out.pixels = std::move(decoded.picture.pixels);
  return out;
}

Outcome streamed(const std::vector<std::uint8_t>& file, bool rgb, int threads) {
  Outcome out;
  std::uint32_t height = 0;
  std::size_t row_bytes = 0;
  std::uint32_t expected_row = 0;
  RowSink sink;
  sink.begin = [&](const format::FileHeader& header) {
    height = header.params.image_height;
    row_bytes = std::size_t{header.params.image_width} * (header.is_colour() ? 3 : 1);
    out.pixels.assign(row_bytes * height, 0);
    return true;
  };
  sink.row = [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
    EXPECT_EQ(row, expected_row++);  // bottom row first, none left out
    EXPECT_EQ(pixels.size(), row_bytes);
    std::copy(pixels.begin(), pixels.end(), out.pixels.begin() + static_cast<std::ptrdiff_t>(row_bytes * (height - 1 - row)));
    return true;
  };
  out.status = decode_rows(file, format::kDefaultPixelLimit, threads, rgb, sink);
  if (out.status == StatusCode::kOk) {
    EXPECT_EQ(expected_row, height);
  }
  return out;
}

class StreamedDecodeTest : public ::testing::TestWithParam<const char*> {};

TEST_P(StreamedDecodeTest, GivesTheWholeDecodesPixelsOnIntactAndDamagedStreams) {
  const auto intact = read_file(std::string(VARNIC_TEST_DATA) + "/conformance/cod/" + GetParam() + ".cod");
  ASSERT_GT(intact.size(), 64u);
  // Cut short (the planes' offsets then point past the end), and with the second half of the
  // bytes replaced by noise: the streams then end early, inside trees.
  std::vector<std::vector<std::uint8_t>> files = {intact, {intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(intact.size() * 3 / 4)}};
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    files.push_back(intact);
    std::uint32_t noise = seed;
    for (std::size_t i = intact.size() / 2; i < intact.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      files.back()[i] = static_cast<std::uint8_t>(noise >> 24);
    }
  }
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (const bool rgb : {false, true}) {
      const Outcome expected = whole(files[f], rgb);
      for (const int threads : {1, 3}) {
        const Outcome got = streamed(files[f], rgb, threads);
        ASSERT_EQ(got.status, expected.status) << "file " << f << " threads " << threads;
        EXPECT_TRUE(got.pixels == expected.pixels) << "file " << f << " rgb " << rgb << " threads " << threads;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Conformance, StreamedDecodeTest,
                         ::testing::Values("astronaut_L3_drop", "astronaut_comment_noZ", "astronaut_comment_v23",
                                           "astronaut_q0", "astronaut_q50", "astronaut_q99", "camera_q10",
                                           "odd_37x21_q50", "tiny_9x5_g_q30"));

}  // namespace
}  // namespace varnic::display
