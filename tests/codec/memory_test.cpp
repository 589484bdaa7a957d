#include "utils/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace varnic::utils {
namespace {

constexpr std::size_t kLarge = std::size_t{9} << 20;  // spans several huge pages

template <class T>
bool All(const std::vector<T>& v, std::size_t from, T value) {
  return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from), v.end(), [&](T s) { return s == value; });
}

TEST(LargeBufferTest, AssignZeroesFreshAndReusedStorageAndResizeKeepsTheContents) {
  std::vector<std::int16_t> v(100, 7);
  assign_large(v, kLarge);  // grows: fresh storage
  EXPECT_TRUE(v.size() == kLarge && All<std::int16_t>(v, 0, 0));
  std::fill(v.begin(), v.end(), std::int16_t{-3});
  assign_large(v, kLarge / 2);  // fits: the old samples must not show through
  EXPECT_TRUE(v.size() == kLarge / 2 && All<std::int16_t>(v, 0, 0));

  std::vector<std::uint8_t> b = {1, 2, 3};
  resize_large(b, kLarge);
  EXPECT_TRUE(b.size() == kLarge && b[0] == 1 && b[2] == 3 && All<std::uint8_t>(b, 3, 0));
  resize_large(b, 2);
  EXPECT_EQ(b, (std::vector<std::uint8_t>{1, 2}));
}

}  // namespace
}  // namespace varnic::utils
