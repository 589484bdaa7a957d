#include "format/arithmetic_coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace varnic::codec {
using namespace ::varnic::format;

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

// Decodes until the end symbol or `limit` characters.
std::vector<int> DecodeSegment(int characters, std::span<const std::uint8_t> data,
                               std::size_t limit = 1u << 24) {
  std::vector<int> text;
  AdaptiveModel model;
  model.start(characters);
  ArithmeticDecoder decoder(data);
  decoder.start();
  while (text.size() < limit) {
    const int symbol = decoder.decode(model);
    if (symbol == model.end_symbol()) break;
    text.push_back(model.character_of(symbol));
    model.update(symbol);
  }
  return text;
}

TEST(ArithmeticCoderTest, IntervalScalingEqualsTheDivisionForEveryModelTotal) {
  // The largest numerators of each total are where a reciprocal would first
  // go wrong; random ranges cover the rest.
  std::mt19937 random(7);
  for (std::int32_t total = 1; total <= kFrequencyCeiling; ++total) {
    for (std::int32_t cum = 0; cum <= total; ++cum) {
      for (const std::int32_t range : {65536, 65535, 16385}) {
        ASSERT_EQ(coder_detail::scale_by_model(range, cum, total), range * cum / total)
            << range << " * " << cum << " / " << total;
      }
      const auto range = static_cast<std::int32_t>(random() % 65536) + 1;
      ASSERT_EQ(coder_detail::scale_by_model(range, cum, total), range * cum / total)
          << range << " * " << cum << " / " << total;
    }
  }
}

TEST(ArithmeticCoderTest, MatchesPublishedSegments) {
  EXPECT_EQ(EncodeSegment(1, {}), (std::vector<std::uint8_t>{4}));
  EXPECT_EQ(EncodeSegment(2, {0, 0, 1}), (std::vector<std::uint8_t>{123, 0}));
  EXPECT_EQ(EncodeSegment(3, {2, 2, 2, 0}), (std::vector<std::uint8_t>{174, 4}));
}

TEST(ArithmeticCoderTest, EmptySegmentIsShortAndDecodesToNothing) {
  for (const int n : {1, 2, 7, 255, 256}) {
    const auto bytes = EncodeSegment(n, {});
    EXPECT_GE(bytes.size(), 1u);
    EXPECT_LE(bytes.size(), 3u);
    EXPECT_TRUE(DecodeSegment(n, bytes).empty()) << "N = " << n;
  }
}

TEST(ArithmeticCoderTest, RandomStreamsRoundTripForEveryAlphabetSize) {
  std::mt19937 rng(20240611);
  for (int n = 1; n <= 255; ++n) {
    // Skewed draws, as coefficient planes are: most mass on a few characters.
    std::geometric_distribution<int> skewed(0.3);
    std::uniform_int_distribution<int> uniform(0, n - 1);
    std::vector<int> text(200 + 13 * n);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const int c = (i % 3 == 0) ? uniform(rng) : skewed(rng) % n;
      text[i] = c;
    }
    const auto bytes = EncodeSegment(n, text);
    // The span is exactly the segment: any read past it would be a bug the
    // sanitizers see, and the decoder must supply zeros instead.
    EXPECT_EQ(DecodeSegment(n, bytes), text) << "N = " << n;
  }
}

TEST(ArithmeticCoderTest, ModelHalvesExactlyAtTheCeiling) {
  AdaptiveModel model;
  model.start(1);  // character symbol 1 and end symbol 2, counts 1 and 1
  for (int i = 0; i < kFrequencyCeiling - 2; ++i) model.update(1);
  ASSERT_EQ(model.cum(0), kFrequencyCeiling);
  EXPECT_EQ(model.freq(1), 4095);
  // Next update halves first: (4095 + 1) / 2 = 2048 and (1 + 1) / 2 = 1, then
  // adds one to the coded symbol.
  model.update(1);
  EXPECT_EQ(model.freq(1), 2049);
  EXPECT_EQ(model.freq(2), 1);
  EXPECT_EQ(model.cum(0), 2050);
  EXPECT_EQ(model.cum(1), 1);
  EXPECT_EQ(model.cum(2), 0);
}

TEST(ArithmeticCoderTest, UpdateMovesSymbolToFrontOfItsRun) {
  AdaptiveModel model;
  model.start(3);
  model.update(model.symbol_of(2));  // all counts equal: character 2 jumps to index 1
  EXPECT_EQ(model.symbol_of(2), 1);
  EXPECT_EQ(model.symbol_of(0), 3);
  EXPECT_EQ(model.character_of(3), 0);
  EXPECT_EQ(model.freq(1), 2);
  EXPECT_EQ(model.cum(0), 5);
  EXPECT_EQ(model.cum(1), 3);
}

TEST(ArithmeticCoderTest, LongStreamsAcrossManyRescalingsRoundTrip) {
  std::mt19937 rng(7);
  for (const int n : {1, 2, 5, 40, 255}) {
    std::vector<int> text(60000);
    std::discrete_distribution<int> dist({50, 20, 10, 5, 5, 5, 3, 2});
    for (int& c : text) c = dist(rng) % n;
    const auto bytes = EncodeSegment(n, text);
    EXPECT_EQ(DecodeSegment(n, bytes), text) << "N = " << n;
  }
}

TEST(ArithmeticCoderTest, DecoderReadsZerosPastTheEnd) {
  std::mt19937 rng(99);
  std::vector<int> text(5000);
  std::uniform_int_distribution<int> dist(0, 9);
  for (int& c : text) c = dist(rng);
  auto bytes = EncodeSegment(10, text);

  // The decoder's look-ahead past the last code byte must not change what it
  // decodes: the exact span and the span with ten spare zeros agree.
  std::vector<std::uint8_t> padded = bytes;
  padded.resize(bytes.size() + 10, 0);
  EXPECT_EQ(DecodeSegment(10, padded), text);

  // A cut segment decodes without touching memory beyond it, flags the overrun
  // and keeps returning valid symbols.
  const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() / 2);
  AdaptiveModel model;
  model.start(10);
  ArithmeticDecoder decoder(cut);
  decoder.start();
  for (int i = 0; i < 20000; ++i) {
    const int symbol = decoder.decode(model);
    ASSERT_GE(symbol, 1);
    ASSERT_LE(symbol, model.end_symbol());
    if (symbol == model.end_symbol()) break;
    model.update(symbol);
  }
  EXPECT_TRUE(decoder.overrun());

  // An empty buffer is all zeros.
  ArithmeticDecoder empty(std::span<const std::uint8_t>{});
  empty.start();
  model.start(10);
  const int symbol = empty.decode(model);
  EXPECT_GE(symbol, 1);
  EXPECT_LE(symbol, model.end_symbol());
}

}  // namespace
}  // namespace varnic::codec
