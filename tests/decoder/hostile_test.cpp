// Damaged and hostile streams: every outcome is a clean refusal or a decoded
// set of planes of the declared size, never a crash or a read outside the
// buffer (this suite also runs under the sanitizers).

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "test_util.h"

namespace varnic::decoder {
namespace {

using namespace ::varnic::format;

using test::read_cod;

// About a megapixel, so that hostile sizes stay cheap.
constexpr std::uint64_t kSmallLimit = std::uint64_t{1} << 20;

void expect_clean(const std::vector<std::uint8_t>& file) {
  DecodedPlanes d;
  const StatusCode s = decode_planes(file, kSmallLimit, d);
  if (s != StatusCode::kOk) {
    EXPECT_STRNE(format::message(s), "");
    EXPECT_TRUE(d.planes_[0].empty());
    return;
  }
  const format::CodecParams& p = d.header_.params;
  EXPECT_LE(std::uint64_t{p.image_width} * p.image_height, kSmallLimit);
  const int planes = d.header_.is_colour() ? 3 : 1;
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(d.planes_[c].size(), c < planes ? std::size_t{p.plane_size} : 0u);
  }
}

TEST(HostileTest, EveryPrefixOfASmallFileIsRefusedOrDecoded) {
  for (const char* name : {"tiny_9x5_g_q30", "small_64x48_q50"}) {
    const auto file = read_cod(name);
    for (std::size_t n = 0; n < file.size(); ++n) {
      const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
      expect_clean(prefix);
      // The last plane's end offset is the file length, so any cut is seen.
      DecodedPlanes d;
      EXPECT_NE(decode_planes(prefix, kSmallLimit, d), StatusCode::kOk) << name << " cut at " << n;
    }
    DecodedPlanes whole;
    EXPECT_EQ(decode_planes(file, kSmallLimit, whole), StatusCode::kOk) << name;
  }
}

TEST(HostileTest, EveryHeaderFieldAtItsExtremes) {
  for (const char* name : {"small_64x48_q50", "tiny_9x5_g_q30", "astronaut_comment_v23"}) {
    const auto base = read_cod(name);
    FileHeader h;
    ASSERT_EQ(format::parse_header(base, kSmallLimit, h), StatusCode::kOk);
    for (std::size_t at = 8; at + 1 < h.data_start + 2 && at + 1 < base.size(); ++at) {
      for (std::uint32_t v : {0u, 1u, 2u, 0x7fu, 0x80u, 0xffu, 0x7fffu, 0x8000u, 0xffffu}) {
        auto file = base;
        test::store_u16(file, at, v);
        expect_clean(file);
      }
    }
  }
}

TEST(HostileTest, RandomCorruptionWithAFixedSeed) {
  std::mt19937 rng(20261206);
  const auto base = read_cod("small_64x48_q50");
  for (int round = 0; round < 3000; ++round) {
    auto file = base;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int f = 0; f < flips; ++f) {
      // Half of the damage goes into the header, where it matters most.
      const std::size_t at = (rng() % 2) ? rng() % 400 : rng() % file.size();
      file[at] = static_cast<std::uint8_t>(rng());
    }
    if (rng() % 4 == 0) file.resize(rng() % file.size());
    expect_clean(file);
  }
}

TEST(HostileTest, GarbageAfterAValidHeaderDecodesWithoutReadingPastTheEnd) {
  auto file = read_cod("small_64x48_q50");
  std::mt19937 rng(7);
  FileHeader h;
  ASSERT_EQ(format::parse_header(file, kSmallLimit, h), StatusCode::kOk);
  for (int round = 0; round < 200; ++round) {
    auto g = file;
    for (std::size_t i = h.data_start + 40; i < g.size(); ++i) g[i] = static_cast<std::uint8_t>(rng());
    expect_clean(g);
  }
}

TEST(HostileTest, LargestLevelCountAndSizesWithinTheLimit) {
  // Ten levels over a 2048 x 2048 grey picture, all data zero bytes: the header is
  // valid, the planes are large and every symbol read past the end is zero.
  std::vector<std::uint8_t> file = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z'};
  const std::size_t subbands = 31;
  file.resize(38 + 12 * subbands + 18 + 6 * subbands + 2, 0);
  test::store_u16(file, 16, 2048);
  test::store_u16(file, 18, 2048);
  test::store_u16(file, 34, 61);
  test::store_u16(file, 36, 10);
  for (std::size_t k = 0; k < subbands; ++k) {
    test::store_u16(file, 38 + 12 * k, 0x7fff);
    test::store_u16(file, 38 + 12 * k + 2, 0x8000);
    test::store_u16(file, 38 + 12 * subbands + 18 + 6 * k, 1);
  }
  file.push_back(255);  // 255 symbols
  for (int j = 0; j < 255; ++j) file.push_back(static_cast<std::uint8_t>(j));
  file.push_back(0x5a);
  DecodedPlanes d;
  ASSERT_EQ(decode_planes(file, std::uint64_t{1 << 22}, d), StatusCode::kOk);
  EXPECT_EQ(d.planes_[0].size(), 2048u * 2048u);
  for (int step = 0; step < 10; ++step) {
    ASSERT_EQ(synthesize_level(d.planes_[0], d.header_.params, Channel::kY, step), StatusCode::kOk);
  }
}

}  // namespace
}  // namespace varnic::decoder
