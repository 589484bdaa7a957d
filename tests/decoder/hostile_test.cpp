// SPDX-License-Identifier: BSD-2-Clause
// Damaged and hostile streams beyond the fuzz suite's single-byte and truncation sweep: many bytes
// at once, garbage data, the largest level count. Every outcome is a clean refusal or planes of
// the declared size, never a crash or a read outside the buffer (this suite also runs under the
// sanitizers).
#include <gtest/gtest.h>

#include <random>

#include "test_util.h"

namespace varnic::decoder {
namespace {

constexpr std::uint64_t kSmallLimit = std::uint64_t{1} << 20;  // hostile sizes stay cheap

// Whether the file decodes; either way, nothing outside the declared planes.
bool decodes_cleanly(const std::vector<std::uint8_t>& file) {
  DecodedPlanes d;
  const StatusCode s = decode_planes(file, kSmallLimit, d);
  const CodecParams& p = d.header.params;
  const auto coded = static_cast<std::size_t>(plane_count(p.image_mode));
  for (std::size_t c = 0; c < 3 && s == StatusCode::kOk; ++c) {
    EXPECT_EQ(d.planes[c].size(), c < coded ? p.plane_size : 0u);
  }
  return s == StatusCode::kOk;
}

TEST(HostileTest, RandomCorruptionAndGarbageAfterAValidHeader) {
  std::mt19937 rng(20261206);
  const auto base = read_cod("small_64x48_q50");
  for (int round = 0; round < 3000; ++round) {
    auto file = base;
    for (int f = 1 + static_cast<int>(rng() % 8); f > 0; --f) {
      // Half of the damage goes into the header, where it matters most.
      file[(rng() % 2) ? rng() % 400 : rng() % file.size()] = static_cast<std::uint8_t>(rng());
    }
    if (rng() % 4 == 0) file.resize(rng() % file.size());
    decodes_cleanly(file);
  }
  FileHeader h;
  ASSERT_EQ(parse_header(base, kSmallLimit, h), StatusCode::kOk);
  for (int round = 0; round < 200; ++round) {
    auto file = base;
    for (std::size_t i = h.data_start + 40; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(rng());
    decodes_cleanly(file);
  }
}

TEST(HostileTest, LargestLevelCountAndSizesWithinTheLimit) {
  // Ten levels over a 2048 x 2048 grey picture, all data zero bytes: the header is valid, the
  // planes are large and every symbol read past the end is zero.
  std::vector<std::uint8_t> file = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z'};
  const std::size_t subbands = 31;
  file.resize(38 + 12 * subbands + 18 + 6 * subbands + 2, 0);
  for (const auto& [at, v] : {std::pair<std::size_t, std::uint32_t>{16, 2048}, {18, 2048}, {34, 61}, {36, 10}}) store_u16(file, at, v);
  for (std::size_t k = 0; k < subbands; ++k) {
    store_u16(file, 38 + 12 * k, 0x7fff);
    store_u16(file, 38 + 12 * k + 2, 0x8000);
    store_u16(file, 38 + 12 * subbands + 18 + 6 * k, 1);
  }
  file.push_back(255);  // 255 symbols
  for (int j = 0; j < 255; ++j) file.push_back(static_cast<std::uint8_t>(j));
  file.push_back(0x5a);
  DecodedPlanes d;
  ASSERT_EQ(decode_planes(file, std::uint64_t{1} << 22, d), StatusCode::kOk);
  EXPECT_EQ(d.planes[0].size(), 2048u * 2048u);
  EXPECT_EQ(synthesize_plane(d.planes[0], d.header.params, Channel::kY), StatusCode::kOk);
}

}  // namespace
}  // namespace varnic::decoder
