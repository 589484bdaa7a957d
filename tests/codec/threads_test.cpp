// SPDX-License-Identifier: BSD-2-Clause
// The thread count, the one-plane-at-a-time mode and reusing an output record change how the
// encoder works, never what it writes (the library's tests read every input layout); nor do the
// large buffers it reuses.
#include <gtest/gtest.h>

#include <algorithm>

#include "utils/memory.h"
#include "utils/parallel.h"
#include "test_picture.h"

namespace varnic::codec {
namespace {

TEST(EncoderThreadsTest, StreamAndPlanesAreIdenticalForOneToFourThreadsWithOrWithoutPlanes) {
  struct Case {
    std::uint32_t width, height;
    std::uint16_t bits;
  };
  // Odd sizes, a side of 3, and widths past one column strip of the transform.
  const Case cases[] = {{150, 97, 24}, {131, 67, 8}, {3, 3, 24}, {517, 259, 24}, {1000, 9, 8}};
  CodecParams dropped = Quality(30);
  dropped.channels[0].dropped_levels = 1;
  dropped.channels[2].dropped_levels = 2;
  CodecParams one_level = Quality(70);
  one_level.total_levels = 1;
  const CodecParams settings[] = {default_codec_params(), Quality(95), dropped, one_level};
  unsigned seed = 1;
  EncodedPicture reused;  // carries the previous case's stream and planes into each encode
  for (const Case& c : cases) {
    const TestPicture picture = MakePicture(c.width, c.height, c.bits, seed++);
    for (const CodecParams& s : settings) {
      EncodedPicture reference;
      ASSERT_EQ(encode_picture(picture.view, s, {}, reference), StatusCode::kOk);
      ASSERT_EQ(reference.plane_count, c.bits == 24 ? 3 : 1);
      for (const int threads : {1, 2, 3, 4}) {
        for (const bool keep : {true, false}) {
          SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " threads " +
                       std::to_string(threads) + (keep ? " keeping planes" : " one plane"));
          EncodeRequest options;
          options.threads = threads;
          options.keep_planes = keep;
          EncodedPicture& out = reused;
          ASSERT_EQ(encode_picture(picture.view, s, options, out), StatusCode::kOk);
          EXPECT_EQ(out.stream, reference.stream);
          EXPECT_EQ(out.plane_count, keep ? reference.plane_count : 0);
          for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
            EXPECT_EQ(out.params.channels[ch].band_max, reference.params.channels[ch].band_max);
            EXPECT_EQ(out.params.channels[ch].end_offset, reference.params.channels[ch].end_offset);
            EXPECT_EQ(out.planes[ch].samples(), keep ? reference.planes[ch].samples() : std::vector<std::int16_t>{});
          }
        }
      }
    }
  }
}

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
}  // namespace varnic::codec
