#include "codec/colour_transform.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnic::codec {
namespace {

constexpr std::array<std::int32_t, 3> kOffsets = {128, 128, 128};

// The Y, I and Q samples of a 1 x 1 picture.
std::array<float, 3> convert(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  const std::vector<std::uint8_t> pixel = {b, g, r, 0};
  std::array<float, 3> out{};
  for (int c = 0; c < 3; ++c) {
    float row[2];
    channel_row_to_float({pixel.data(), pixel.size(), 1, 1, 24}, c, kOffsets, 2, 0, row);
    out[static_cast<std::size_t>(c)] = row[0];
  }
  return out;
}

TEST(ColourTransformTest, PrimariesGreysAndFlooringWorkedByHand) {
  struct Case {
    std::uint8_t b, g, r;
    std::array<float, 3> yiq;
  };
  const Case cases[] = {
      {255, 255, 255, {127, 0, 0}},
      {0, 0, 0, {-128, 0, 0}},
      {128, 128, 128, {0, 0, 0}},
      {0, 0, 255, {-52, 151, 53}},     // red: -53042, 155550, 55080 >> 10
      {0, 255, 0, {21, -70, -134}},    // green
      {255, 0, 0, {-99, -83, 79}},     // blue
      {128, 128, 127, {-1, -1, -1}},   // small negative sums floor to -1
      {128, 128, 129, {0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(convert(c.b, c.g, c.r), c.yiq) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

TEST(ColourTransformTest, PaddingColumnsAreZeroAndRowsBelowRepeatTheLast) {
  // 3 x 2 colour picture (rows of 9 bytes padded to 12), grey levels, and a 5 x 2 grey picture
  // whose padding bytes hold junk that must not be read as pixels.
  std::vector<std::uint8_t> colour(24, 0);
  for (int row = 0; row < 2; ++row) {
    for (int x = 0; x < 3; ++x) std::fill_n(&colour[static_cast<std::size_t>(12 * row + 3 * x)], 3, 140 + 10 * row + x);
  }
  const std::vector<std::uint8_t> grey = {0, 1, 127, 128, 255, 9, 9, 9, 200, 100, 50, 25, 12, 9, 9, 9};
  const float colour_rows[2][4] = {{12, 13, 14, 0}, {22, 23, 24, 0}};
  const float grey_rows[2][8] = {{-128, -127, -1, 0, 127, 0, 0, 0}, {72, -28, -78, -103, -116, 0, 0, 0}};
  for (std::uint32_t r = 0; r < 4; ++r) {
    float y[8];
    channel_row_to_float({colour.data(), colour.size(), 3, 2, 24}, 0, kOffsets, 4, r, y);
    for (std::uint32_t c = 0; c < 4; ++c) EXPECT_EQ(y[c], colour_rows[std::min(r, 1u)][c]) << r << "," << c;
    channel_row_to_float({grey.data(), grey.size(), 5, 2, 8}, 0, kOffsets, 8, r, y);
    for (std::uint32_t c = 0; c < 8; ++c) EXPECT_EQ(y[c], grey_rows[std::min(r, 1u)][c]) << r << "," << c;
  }
}

}  // namespace
}  // namespace varnic::codec
