// SPDX-License-Identifier: BSD-2-Clause
// The arithmetic coder on its own: exact interval scaling, a few pinned segments, the bit-serial
// definition (one renormalisation step per bit, one model entry per step) matched bit for bit on
// skewed text and on garbage, and round trips over cut segments and reads past the end.
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

// The coder as defined, one bit and one model entry per step: what the word-wide coder must
// reproduce exactly, on garbage too (a damaged file's pixels must not change).
struct SerialModel {
  int freq[kMaxCharacters + 2], cum[kMaxCharacters + 2], to_index[kMaxCharacters], to_char[kMaxCharacters + 2];
  int n;
  explicit SerialModel(int characters) : n(characters) {
    for (int i = 0; i < n; ++i) to_char[i + 1] = i, to_index[i] = i + 1;
    for (int i = 0; i <= n + 1; ++i) freq[i] = 1, cum[i] = n + 1 - i;
    freq[0] = 0;
  }
  void update(int s) {
    if (cum[0] == kFrequencyCeiling) {
      for (int i = n + 1, c = 0; i >= 0; --i) {
        freq[i] = (freq[i] + 1) / 2;
        cum[i] = c;
        c += freq[i];
      }
    }
    int i = s;
    while (freq[i] == freq[i - 1]) --i;
    std::swap(to_char[i], to_char[s]);
    to_index[to_char[i]] = i;
    to_index[to_char[s]] = s;
    ++freq[i];
    for (int j = 0; j < i; ++j) ++cum[j];
  }
};

// Interval update and the bit-by-bit renormalisation; `bit` takes each decision in turn.
template <class Bit>
void SerialStep(const SerialModel& m, int s, std::int32_t& low, std::int32_t& high, Bit bit) {
  const std::int32_t range = high - low + 1;
  high = low + range * m.cum[s - 1] / m.cum[0] - 1;
  low = low + range * m.cum[s] / m.cum[0];
  for (;;) {
    std::int32_t sub = 0;
    if (high < 32768) {
      bit(0);
    } else if (low >= 32768) {
      bit(1), sub = 32768;
    } else if (low >= 16384 && high < 49152) {
      bit(2), sub = 16384;
    } else {
      return;
    }
    low = 2 * (low - sub);
    high = 2 * (high - sub) + 1;
  }
}

std::vector<std::uint8_t> SerialEncode(int n, const std::vector<int>& text) {
  SerialModel m(n);
  std::vector<std::uint8_t> out;
  int buffer = 0, count = 0, follow = 0;
  auto put = [&](int b) {
    buffer = (buffer >> 1) | (b << 7);
    if (++count == 8) out.push_back(static_cast<std::uint8_t>(buffer)), count = 0;
  };
  auto settle = [&](int b) {
    put(b);
    for (; follow > 0; --follow) put(1 - b);
  };
  std::int32_t low = 0, high = 65535;
  auto step = [&](int b) { b == 2 ? void(++follow) : settle(b); };
  for (const int c : text) {
    const int s = m.to_index[c];
    SerialStep(m, s, low, high, step);
    m.update(s);
  }
  SerialStep(m, n + 1, low, high, step);
  ++follow;
  settle(low < 16384 ? 0 : 1);
  out.push_back(static_cast<std::uint8_t>(count == 0 ? 0 : buffer >> (8 - count)));
  return out;
}

// Characters until the end symbol or `limit` of them.
std::vector<int> SerialDecode(int n, std::span<const std::uint8_t> data, std::size_t limit) {
  SerialModel m(n);
  std::size_t bit_index = 0;
  auto next = [&]() -> std::int32_t {
    const std::size_t byte = bit_index / 8;
    const int b = byte < data.size() ? (data[byte] >> (bit_index % 8)) & 1 : 0;
    ++bit_index;
    return b;
  };
  std::int32_t value = 0, low = 0, high = 65535;
  for (int i = 0; i < 16; ++i) value = 2 * value + next();
  std::vector<int> text;
  while (text.size() < limit) {
    const std::int32_t target = ((value - low + 1) * m.cum[0] - 1) / (high - low + 1);
    int s = 1;
    while (m.cum[s] > target) ++s;
    SerialStep(m, s, low, high, [&](int b) { value = 2 * (value - (b == 0 ? 0 : b == 1 ? 32768 : 16384)) + next(); });
    if (s == n + 1) break;
    text.push_back(m.to_char[s]);
    m.update(s);
  }
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

TEST(ArithmeticCoderTest, MatchesTheBitSerialCoderOnSkewedTextAndGarbageForEveryAlphabetSize) {
  std::mt19937 rng(20240611);
  for (int n = 1; n <= 255; ++n) {
    // Skewed draws, as coefficient planes are: most mass on a few characters. Long streams go
    // through many rescalings of the model.
    const std::size_t length = n % 50 == 1 ? 60000 : 200 + 13 * static_cast<std::size_t>(n);
    std::geometric_distribution<int> skewed(n % 3 == 0 ? 0.05 : 0.3);
    std::vector<int> text(length);
    const auto alphabet = static_cast<std::mt19937::result_type>(n);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = i % 3 == 0 ? static_cast<int>(rng() % alphabet) : skewed(rng) % n;
    for (const auto& t : {std::vector<int>{}, text}) {
      const auto bytes = EncodeSegment(n, t);
      EXPECT_EQ(bytes, SerialEncode(n, t)) << "N = " << n << ", length " << t.size();
      // The span is exactly the segment: the decoder must supply zeros past it.
      EXPECT_EQ(DecodeSegment(n, bytes), t) << "N = " << n << ", length " << t.size();
    }
    std::vector<std::uint8_t> garbage(1 + rng() % 64);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(rng());
    EXPECT_EQ(DecodeSegment(n, garbage, nullptr, 2000), SerialDecode(n, garbage, 2000)) << "N = " << n;
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
