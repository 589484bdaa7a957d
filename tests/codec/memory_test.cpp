#include "utils/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace varnic::utils {
namespace {

constexpr std::size_t kLarge = std::size_t{9} << 20;  // spans several huge pages

TEST(LargeBufferTest, AssignZeroesWhetherTheStorageIsFreshOrReused) {
  std::vector<std::int16_t> v(100, 7);
  utils::assign_large(v, kLarge);  // grows: fresh storage
  ASSERT_EQ(v.size(), kLarge);
  EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](std::int16_t s) { return s == 0; }));

  std::fill(v.begin(), v.end(), std::int16_t{-3});
  utils::assign_large(v, kLarge / 2);  // fits: the old samples must not show through
  ASSERT_EQ(v.size(), kLarge / 2);
  EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](std::int16_t s) { return s == 0; }));
}

TEST(LargeBufferTest, ResizeKeepsTheContentsAndZeroesTheGrowth) {
  std::vector<std::uint8_t> v = {1, 2, 3};
  utils::resize_large(v, kLarge);
  ASSERT_EQ(v.size(), kLarge);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 3);
  EXPECT_TRUE(std::all_of(v.begin() + 3, v.end(), [](std::uint8_t b) { return b == 0; }));
  utils::resize_large(v, 2);
  EXPECT_EQ(v, (std::vector<std::uint8_t>{1, 2}));
}

TEST(LargeBufferTest, AdviceOnOddRangesIsHarmless) {
  std::vector<std::uint8_t> v(kLarge + 5, 0xAB);
  advise_huge_pages(nullptr, kLarge);
  advise_huge_pages(v.data() + 1, 3);
  advise_huge_pages(v.data() + 1, kLarge);  // unaligned start: only the interior is advised
  EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0xAB; }));
}

}  // namespace
}  // namespace varnic::utils
