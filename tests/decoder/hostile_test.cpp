// SPDX-License-Identifier: BSD-2-Clause
// Intact, damaged and hostile streams against the whole-plane model (reference.h): the samples of
// every plane, whole, reduced, top row first, with the finest codes left in the stream and with the
// segments walked on two threads, equal the model's, and anything else is a clean refusal, never a
// read outside the buffer (this suite also runs under the sanitizers).
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "reference.h"
#include "test_util.h"

namespace varnic::decoder {
namespace {

constexpr std::uint64_t kSmallLimit = std::uint64_t{1} << 20;  // hostile sizes stay cheap

// Whether the file's header is accepted; when it is, the codes decode and every plane's rows under
// every way of asking for them equal the model's. `reduces` asks for the reduced pictures too.
bool matches_reference(const std::vector<std::uint8_t>& file, bool reduces) {
  FileHeader header;
  if (parse_header(file, kSmallLimit, header) != StatusCode::kOk) return false;
  const CodecParams& p = header.params;
  for (int c = 0; c < plane_count(p.image_mode); ++c) {
    const auto channel = static_cast<Channel>(c);
    reference::Plane model = reference::coefficients(file, header, channel);
    for (int reduce = 0; reduce < (reduces ? p.total_levels : 1); ++reduce) {
      reference::Plane plane = model;
      reference::synthesize(plane, p, channel, p.total_levels - reduce);
      const SynthesisPlan plan = plan_for(p, reduce);
      for (const bool leave_last : {false, true}) {
        PlaneCodes codes;
        const StatusCode status = decode_plane_codes(file, header, channel, plan, leave_last, codes);
        if (status != StatusCode::kOk) {
          ADD_FAILURE() << "a header accepted with codes refused: " << message(status);
          return false;
        }
        if (reduce == 0 && !leave_last) {
          // The two segments' walks on two threads at once give the same codes.
          PlaneDecode split;
          EXPECT_EQ(split.start(file, header, channel, plan, false), StatusCode::kOk);
          std::thread second([&split] {
            if (split.parts() > 1) split.walk(1);
          });
          split.walk(0);
          second.join();
          PlaneCodes joined;
          EXPECT_EQ(split.finish(joined), StatusCode::kOk);
          EXPECT_EQ(synthesized_rows(joined, p, channel, plan), synthesized_rows(codes, p, channel, plan)) << "plane " << c;
        }
        for (const bool top_down : {false, true}) {
          if (leave_last && top_down) continue;  // bands in the stream are read forwards only
          const auto rows = synthesized_rows(codes, p, channel, plan, top_down);
          EXPECT_EQ(rows.size(), plan.out_rows);
          for (std::uint32_t r = 0; r < rows.size(); ++r) {
            const auto* want = &plane.v[static_cast<std::size_t>(r) * p.padded_width];
            if (!std::equal(rows[r].begin(), rows[r].end(), want)) {
              ADD_FAILURE() << "plane " << c << " reduce " << reduce << " row " << r << (leave_last ? " streamed" : "")
                            << (top_down ? " top down" : "");
              return true;
            }
          }
        }
      }
    }
  }
  return true;
}

TEST(HostileTest, ConformanceStreamsIntactCutAndNoisyEqualTheModelEveryWay) {
  for (const char* name : {"astronaut_L3_drop", "astronaut_comment_noZ", "astronaut_comment_v23", "astronaut_q99",
                           "camera_q10", "odd_37x21_q50", "tiny_9x5_g_q30"}) {
    SCOPED_TRACE(name);
    const auto intact = read_cod(name);
    // Cut short (the planes' offsets then point past the end), and with the second half of the
    // bytes replaced by noise: the streams then end early, inside trees.
    std::vector<std::vector<std::uint8_t>> files = {intact, {intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(intact.size() * 3 / 4)}};
    for (std::uint32_t noise : {1u, 2u}) {
      files.push_back(intact);
      for (std::size_t i = intact.size() / 2; i < intact.size(); ++i) files.back()[i] = static_cast<std::uint8_t>((noise = noise * 1664525u + 1013904223u) >> 24);
    }
    EXPECT_TRUE(matches_reference(files[0], true));
    for (std::size_t f = 1; f < files.size(); ++f) matches_reference(files[f], true);
  }
}

TEST(HostileTest, RandomCorruptionAndGarbageAfterAValidHeader) {
  std::mt19937 rng(20261206);
  const auto base = read_cod("small_64x48_q50");
  int decoded = 0;  // files whose header survived, so that the model was held against them
  for (int round = 0; round < 1000; ++round) {
    auto file = base;
    for (int f = 1 + static_cast<int>(rng() % 8); f > 0; --f) {
      // Half of the damage goes into the header, where it matters most.
      file[(rng() % 2) ? rng() % 400 : rng() % file.size()] = static_cast<std::uint8_t>(rng());
    }
    if (rng() % 4 == 0) file.resize(rng() % file.size());
    decoded += matches_reference(file, round % 8 == 0) ? 1 : 0;
  }
  FileHeader h;
  ASSERT_EQ(parse_header(base, kSmallLimit, h), StatusCode::kOk);
  for (int round = 0; round < 100; ++round) {
    auto file = base;
    for (std::size_t i = h.data_start + 40; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(rng());
    decoded += matches_reference(file, round % 8 == 0) ? 1 : 0;
  }
  EXPECT_GT(decoded, 300);
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
  FileHeader header;
  ASSERT_EQ(parse_header(file, std::uint64_t{1} << 22, header), StatusCode::kOk);
  const SynthesisPlan plan = plan_for(header.params, 0);
  PlaneCodes codes;
  ASSERT_EQ(decode_plane_codes(file, header, Channel::kY, plan, false, codes), StatusCode::kOk);
  EXPECT_EQ(synthesized_rows(codes, header.params, Channel::kY, plan).size(), 2048u);
}

}  // namespace
}  // namespace varnic::decoder
