// SPDX-License-Identifier: BSD-2-Clause
// The arithmetic coder on its own: exact interval scaling, a few pinned segments, and round trips
// over adversarial symbol streams, cut segments and reads past the end.
#include "format/arithmetic_coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace varnic::format {
namespace {

std::vector<std::uint8_t> EncodeSegment(int characters, const std::vector<int>& text) {
  std::vector<std::uint8_t> out;
  AdaptiveModel model;
  model.start(characters);
  ArithmeticEncoder encoder(out);
  encoder.start();
  for (const int c : text) {
    const int symbol = model.symbol_of(c);
    encoder.encode(model, symbol);
    model.update(symbol);
  }
  encoder.encode(model, model.end_symbol());
  encoder.finish();
  return out;
}

// Decodes until the end symbol or `limit` characters; every symbol must be in range.
std::vector<int> DecodeSegment(int characters, std::span<const std::uint8_t> data, bool* overrun = nullptr,
                               std::size_t limit = 1u << 24) {
  std::vector<int> text;
  AdaptiveModel model;
  model.start(characters);
  ArithmeticDecoder decoder(data);
  decoder.start();
  while (text.size() < limit) {
    const int symbol = decoder.decode(model);
    EXPECT_TRUE(symbol >= 1 && symbol <= model.end_symbol()) << symbol;
    if (symbol == model.end_symbol()) break;
    text.push_back(model.character_of(symbol));
    model.update(symbol);
  }
  if (overrun != nullptr) *overrun = decoder.overrun();
  return text;
}

TEST(ArithmeticCoderTest, IntervalScalingEqualsTheDivisionForEveryModelTotal) {
  // The largest numerators of each total are where a reciprocal would first go wrong; random
  // ranges cover the rest.
  std::mt19937 random(7);
  for (std::int32_t total = 1; total <= kFrequencyCeiling; ++total) {
    for (std::int32_t cum = 0; cum <= total; ++cum) {
      for (const std::int32_t range : {65536, 65535, 16385, static_cast<std::int32_t>(random() % 65536) + 1}) {
        ASSERT_EQ(coder_detail::scale_by_model(range, cum, total), range * cum / total)
            << range << " * " << cum << " / " << total;
      }
    }
  }
}

// Pins the model's update order and the coder's output bits, which a round trip cannot see.
TEST(ArithmeticCoderTest, MatchesPublishedSegments) {
  EXPECT_EQ(EncodeSegment(1, {}), (std::vector<std::uint8_t>{4}));
  EXPECT_EQ(EncodeSegment(2, {0, 0, 1}), (std::vector<std::uint8_t>{123, 0}));
  EXPECT_EQ(EncodeSegment(3, {2, 2, 2, 0}), (std::vector<std::uint8_t>{174, 4}));
}

TEST(ArithmeticCoderTest, SkewedUniformEmptyAndLongStreamsRoundTripForEveryAlphabetSize) {
  std::mt19937 rng(20240611);
  for (int n = 1; n <= 255; ++n) {
    // Skewed draws, as coefficient planes are: most mass on a few characters. Long streams go
    // through many rescalings of the model.
    const std::size_t length = n % 50 == 1 ? 60000 : 200 + 13 * static_cast<std::size_t>(n);
    std::geometric_distribution<int> skewed(0.3);
    std::vector<int> text(length);
    const auto alphabet = static_cast<std::mt19937::result_type>(n);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = i % 3 == 0 ? static_cast<int>(rng() % alphabet) : skewed(rng) % n;
    for (const auto& t : {std::vector<int>{}, text}) {
      const auto bytes = EncodeSegment(n, t);
      EXPECT_GE(bytes.size(), 1u);
      // The span is exactly the segment: the decoder must supply zeros past it.
      EXPECT_EQ(DecodeSegment(n, bytes), t) << "N = " << n << ", length " << t.size();
    }
  }
}

TEST(ArithmeticCoderTest, CutAndEmptySegmentsFlagTheOverrunAndStillGiveValidSymbols) {
  std::vector<int> text(5000);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<int>(i * 7 % 10);
  const auto bytes = EncodeSegment(10, text);
  bool overrun = false;
  DecodeSegment(10, std::span(bytes).first(bytes.size() / 2), &overrun, 20000);
  EXPECT_TRUE(overrun);
  DecodeSegment(10, {}, &overrun, 10);
  EXPECT_TRUE(overrun);
}

}  // namespace
}  // namespace varnic::format
