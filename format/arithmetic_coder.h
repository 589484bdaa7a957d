// SPDX-License-Identifier: BSD-2-Clause
// Adaptive arithmetic coder: 16-bit code values, a frequency model that keeps
// its symbols ordered by decreasing count (so the decoder's linear search is
// short), and a total-frequency ceiling of 4096 at which all counts halve.
//
// Alphabet of N characters (0..N-1, N = 0..256): symbol indices 1..N stand for
// characters, N + 1 is the end-of-segment symbol. Code bits are packed into
// bytes least significant bit first. Every segment starts with a fresh model
// and coder on a byte boundary and ends with the end symbol and a flush byte.
//
// The hot paths are inline and allocation-free; the encoder appends to a
// caller-owned byte vector, the decoder reads zeros past the end of its data
// and never touches memory outside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace varnic::format {

inline constexpr int kMaxCharacters = 256;
inline constexpr std::int32_t kFrequencyCeiling = 4096;

class AdaptiveModel {
 public:
  // Every symbol, the end symbol included, starts at count 1.
  void start(int characters);

  int characters() const { return n_; }
  int end_symbol() const { return n_ + 1; }
  int symbol_of(int character) const { return char_to_index_[character]; }
  int character_of(int symbol) const { return index_to_char_[symbol]; }
  // cum(i): sum of the counts of the symbols above i; cum(0) is the total.
  std::int32_t cum(int i) const { return cum_freq_[i]; }
  std::int32_t freq(int i) const { return freq_[i]; }

  // Run after every coded character, never after the end symbol.
  void update(int symbol) {
    if (cum_freq_[0] == kFrequencyCeiling) halve();
    int i = symbol;
    while (freq_[i] == freq_[i - 1]) --i;
    if (i < symbol) {
      const int ch_i = index_to_char_[i];
      const int ch_s = index_to_char_[symbol];
      index_to_char_[i] = static_cast<std::uint8_t>(ch_s);
      index_to_char_[symbol] = static_cast<std::uint8_t>(ch_i);
      char_to_index_[ch_i] = static_cast<std::int16_t>(symbol);
      char_to_index_[ch_s] = static_cast<std::int16_t>(i);
    }
    freq_[i] += 1;
    for (int j = i - 1; j >= 0; --j) cum_freq_[j] += 1;
  }

 private:
  void halve();

  int n_ = 0;
  // Plain arrays: indexed by int symbols in the hot loops without sign conversions.
  std::int16_t char_to_index_[kMaxCharacters]{};
  std::uint8_t index_to_char_[kMaxCharacters + 2]{};
  std::int32_t freq_[kMaxCharacters + 2]{};
  std::int32_t cum_freq_[kMaxCharacters + 2]{};
};

namespace coder_detail {
inline constexpr std::int32_t kTopValue = 65535;
inline constexpr std::int32_t kFirstQuarter = 16384;
inline constexpr std::int32_t kHalf = 32768;
inline constexpr std::int32_t kThirdQuarter = 49152;

// Interval updates divide n = range * cum by the model total, where
// range <= 2^16 and cum <= total <= 4096. With m = ceil(2^40 / total) and
// e = m total - 2^40 < total, n m / 2^40 = n / total + n e / (total 2^40),
// and n e < 2^16 total^2 <= 2^40: the excess stays below 1 / total, so the
// floor is exact. One multiplication instead of a division per bound.
inline constexpr int kReciprocalShift = 40;
static_assert(kFrequencyCeiling <= 4096, "the reciprocals are exact up to a total of 4096");
struct Reciprocals {
  std::array<std::uint64_t, kFrequencyCeiling + 1> of{};
};
constexpr Reciprocals make_reciprocals() {
  Reciprocals r;
  for (std::uint64_t d = 1; d <= static_cast<std::uint64_t>(kFrequencyCeiling); ++d) {
    r.of[d] = ((std::uint64_t{1} << kReciprocalShift) + d - 1) / d;
  }
  return r;
}
inline constexpr Reciprocals kReciprocals = make_reciprocals();

// range * cum / total, as the coder's interval update computes it.
inline std::int32_t scale_by_model(std::int32_t range, std::int32_t cum, std::int32_t total) {
  const std::uint64_t n = static_cast<std::uint64_t>(range) * static_cast<std::uint64_t>(cum);
  return static_cast<std::int32_t>((n * kReciprocals.of[static_cast<std::size_t>(total)]) >> kReciprocalShift);
}
}  // namespace coder_detail

class ArithmeticEncoder {
 public:
  explicit ArithmeticEncoder(std::vector<std::uint8_t>& out) : out_(&out) {}

  // A fresh segment: empty bit buffer, full interval.
  void start() {
    buffer_ = 0;
    bits_free_ = 8;
    low_ = 0;
    high_ = coder_detail::kTopValue;
    bits_to_follow_ = 0;
  }

  void encode(const AdaptiveModel& model, int symbol) {
    using namespace coder_detail;
    // The bounds live in locals: the output bytes are chars, which may alias
    // any member, so members would be reloaded after every byte.
    const std::int32_t range = high_ - low_ + 1;
    const std::int32_t total = model.cum(0);
    std::int32_t high = low_ + scale_by_model(range, model.cum(symbol - 1), total) - 1;
    std::int32_t low = low_ + scale_by_model(range, model.cum(symbol), total);
    for (;;) {
      if (high < kHalf) {
        bit_plus_follow(0);
      } else if (low >= kHalf) {
        bit_plus_follow(1);
        low -= kHalf;
        high -= kHalf;
      } else if (low >= kFirstQuarter && high < kThirdQuarter) {
        ++bits_to_follow_;
        low -= kFirstQuarter;
        high -= kFirstQuarter;
      } else {
        break;
      }
      low = 2 * low;
      high = 2 * high + 1;
    }
    low_ = low;
    high_ = high;
  }

  // Closes the segment; always appends at least one byte.
  void finish() {
    ++bits_to_follow_;
    bit_plus_follow(low_ < coder_detail::kFirstQuarter ? 0 : 1);
    out_->push_back(static_cast<std::uint8_t>(buffer_ >> bits_free_));
  }

 private:
  void output_bit(int bit) {
    buffer_ = (buffer_ >> 1) | (bit ? 0x80u : 0u);
    if (--bits_free_ == 0) {
      out_->push_back(static_cast<std::uint8_t>(buffer_));
      buffer_ = 0;
      bits_free_ = 8;
    }
  }
  void bit_plus_follow(int bit) {
    output_bit(bit);
    for (; bits_to_follow_ > 0; --bits_to_follow_) output_bit(!bit);
  }

  std::vector<std::uint8_t>* out_;
  std::uint32_t buffer_ = 0;
  int bits_free_ = 8;
  std::int32_t low_ = 0;
  std::int32_t high_ = coder_detail::kTopValue;
  std::int32_t bits_to_follow_ = 0;
};

class ArithmeticDecoder {
 public:
  // Decodes from data, starting at byte `position` (which may lie past the end).
  explicit ArithmeticDecoder(std::span<const std::uint8_t> data, std::size_t position = 0)
      : data_(data), position_(position) {}

  // A fresh segment at the current position: the first 16 bits become the code value.
  void start() {
    bits_left_ = 0;
    value_ = 0;
    for (int i = 0; i < 16; ++i) value_ = 2 * value_ + input_bit();
    low_ = 0;
    high_ = coder_detail::kTopValue;
  }
  // Moves to a new segment and starts there.
  void restart(std::size_t position) {
    position_ = position;
    start();
  }

  int decode(const AdaptiveModel& model) {
    using namespace coder_detail;
    // Locals, as in the encoder: the callers' byte stores may alias members.
    std::int32_t low = low_;
    std::int32_t high = high_;
    std::int32_t value = value_;
    const std::int32_t range = high - low + 1;
    const std::int32_t total = model.cum(0);
    std::int32_t cum = ((value - low + 1) * total - 1) / range;
    // Valid streams keep low <= value <= high; the clamp keeps garbage from
    // running the search past the end symbol.
    if (cum < 0) cum = 0;
    if (cum >= total) cum = total - 1;
    int symbol = 1;
    while (model.cum(symbol) > cum) ++symbol;
    high = low + scale_by_model(range, model.cum(symbol - 1), total) - 1;
    low = low + scale_by_model(range, model.cum(symbol), total);
    for (;;) {
      if (high < kHalf) {
        // nothing to subtract
      } else if (low >= kHalf) {
        value -= kHalf;
        low -= kHalf;
        high -= kHalf;
      } else if (low >= kFirstQuarter && high < kThirdQuarter) {
        value -= kFirstQuarter;
        low -= kFirstQuarter;
        high -= kFirstQuarter;
      } else {
        break;
      }
      low = 2 * low;
      high = 2 * high + 1;
      value = 2 * value + input_bit();
    }
    low_ = low;
    high_ = high;
    value_ = value;
    return symbol;
  }

  // Next byte the decoder would load.
  std::size_t position() const { return position_; }
  // True once a byte past the end of the data was needed (read as zero).
  bool overrun() const { return position_ > data_.size(); }

 private:
  int input_bit() {
    if (bits_left_ == 0) {
      buffer_ = position_ < data_.size() ? data_[position_] : 0;
      // Saturate instead of wrapping on absurdly long garbage runs.
      if (position_ <= data_.size()) ++position_;
      bits_left_ = 8;
    }
    const int bit = static_cast<int>(buffer_ & 1u);
    buffer_ >>= 1;
    --bits_left_;
    return bit;
  }

  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
  std::uint32_t buffer_ = 0;
  int bits_left_ = 0;
  std::int32_t value_ = 0;
  std::int32_t low_ = 0;
  std::int32_t high_ = coder_detail::kTopValue;
};

}  // namespace varnic::format
