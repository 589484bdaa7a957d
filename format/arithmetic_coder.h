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
// The classic coder renormalises one bit per loop turn. Here each symbol
// renormalises once: the bits low and high share on top are settled (a count
// of leading zeros of low ^ high), and below them the positions where low
// reads 1 and high 0 are the pending underflow bits (a count of leading ones
// of low & ~high). Both counts together say how far the interval is shifted,
// and the bits move through a 64-bit window a word at a time. The result is
// the same bit for bit as the loop's.
//
// The model's search and update stay plain loops: symbols are kept sorted by
// decreasing count, so on coefficient data both end within a step or two and
// predict well; block-wise vector scans measured slower.
//
// The hot paths are inline and allocation-free; the encoder appends to a
// caller-owned byte vector, the decoder reads zeros past the end of its data
// and never touches memory outside it.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

  // The smallest symbol s >= 1 with cum(s) <= target, for 0 <= target < cum(0); cum(N + 1) = 0
  // ends the search.
  int find(std::int32_t target) const {
    int s = 1;
    while (cum_freq_[s] > target) ++s;
    return s;
  }

  // Run after every coded character, never after the end symbol.
  void update(int symbol) {
    if (cum_freq_[0] == kFrequencyCeiling) halve();
    int i = symbol;
    while (freq_[i] == freq_[i - 1]) --i;
    // Swapping a symbol with itself changes nothing, so the exchange needs no test.
    const int ch_i = index_to_char_[i];
    const int ch_s = index_to_char_[symbol];
    index_to_char_[i] = static_cast<std::uint8_t>(ch_s);
    index_to_char_[symbol] = static_cast<std::uint8_t>(ch_i);
    char_to_index_[ch_i] = static_cast<std::int16_t>(symbol);
    char_to_index_[ch_s] = static_cast<std::int16_t>(i);
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
inline constexpr std::uint32_t kLowBits = 0x7FFF;  // what stays of a register below its top bit

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

// How one renormalisation shifts the interval [low, high] (16-bit values, low < high): `settled`
// leading bits that low and high share leave the coder; then `underflow` times the interval
// straddles the middle within a quarter on each side (below the first differing bit, low reads
// 1 and high 0), each time doubling around the middle. Every symbol keeps at least four of the
// more than 16384 values of a renormalised interval (total <= 4096), so low and high differ
// above their last bit: at most 14 bits settle and no shift reaches 32.
struct Shift {
  int settled;
  int underflow;
};
inline Shift renormalisation(std::uint32_t low, std::uint32_t high) {
  const int settled = std::countl_zero((low ^ high) << 16);
  const int underflow = std::countl_one(((low & ~high) << (17 + settled)));
  return {settled, underflow};
}

// Bits stream MSB first through the coder; the file holds each byte's first bit in bit 0.
inline std::uint32_t reverse_bits_in_bytes(std::uint32_t x) {
  x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
  x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
  return ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
}
}  // namespace coder_detail

class ArithmeticEncoder {
 public:
  explicit ArithmeticEncoder(std::vector<std::uint8_t>& out) : out_(&out) {}

  // A fresh segment: empty bit buffer, full interval.
  void start() {
    window_ = 0;
    bits_ = 0;
    low_ = 0;
    high_ = coder_detail::kTopValue;
    bits_to_follow_ = 0;
  }

  void encode(const AdaptiveModel& model, int symbol) {
    using namespace coder_detail;
    const std::int32_t range = high_ - low_ + 1;
    const std::int32_t total = model.cum(0);
    const auto high = static_cast<std::uint32_t>(low_ + scale_by_model(range, model.cum(symbol - 1), total) - 1);
    const auto low = static_cast<std::uint32_t>(low_ + scale_by_model(range, model.cum(symbol), total));
    const Shift shift = renormalisation(low, high);
    if (shift.settled > 0) {
      const std::uint32_t settled = low >> (16 - shift.settled);
      if (bits_to_follow_ == 0) {
        put(settled, shift.settled);
      } else {
        // The first settled bit releases the pending ones, which take its opposite value.
        const std::uint32_t first = settled >> (shift.settled - 1);
        put(first, 1);
        put_run(first ^ 1u, bits_to_follow_);
        bits_to_follow_ = 0;
        put(settled & ((1u << (shift.settled - 1)) - 1), shift.settled - 1);
      }
    }
    bits_to_follow_ += shift.underflow;
    const int n = shift.settled + shift.underflow;
    // Below the top bit (0 in low, 1 in high after the shift) low takes in zeros and high ones.
    low_ = static_cast<std::int32_t>((low << n) & kLowBits);
    high_ = static_cast<std::int32_t>((((high << n) | ((1u << n) - 1)) & kLowBits) | 0x8000u);
  }

  // Closes the segment; always appends at least one byte.
  void finish() {
    const std::uint32_t bit = low_ < coder_detail::kFirstQuarter ? 0u : 1u;
    put(bit, 1);
    put_run(bit ^ 1u, bits_to_follow_ + 1);
    bits_to_follow_ = 0;
    // The bits left, zero-filled to a whole byte; an empty buffer still gives a zero byte.
    while (bits_ >= 8) put_byte(static_cast<std::uint32_t>(window_ >> (bits_ -= 8)));
    put_byte(static_cast<std::uint32_t>(window_ << (8 - bits_)));
  }

 private:
  // n <= 32 bits, the first in the highest place.
  void put(std::uint32_t bits, int n) {
    window_ = (window_ << n) | bits;
    bits_ += n;
    if (bits_ >= 32) {
      bits_ -= 32;
      const std::uint32_t word = coder_detail::reverse_bits_in_bytes(static_cast<std::uint32_t>(window_ >> bits_));
      const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
                                     static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
      out_->insert(out_->end(), bytes, bytes + 4);
    }
  }
  void put_run(std::uint32_t bit, std::int32_t count) {
    const std::uint32_t ones = 0u - bit;
    for (; count > 32; count -= 32) put(ones, 32);
    if (count > 0) put(ones >> (32 - count), count);
  }
  void put_byte(std::uint32_t bits) {
    out_->push_back(static_cast<std::uint8_t>(coder_detail::reverse_bits_in_bytes(bits & 0xFFu)));
  }

  std::vector<std::uint8_t>* out_;
  std::uint64_t window_ = 0;  // the last bits_ bits are waiting, bits_ < 32 between calls
  int bits_ = 0;
  std::int32_t low_ = 0;
  std::int32_t high_ = coder_detail::kTopValue;
  std::int32_t bits_to_follow_ = 0;
};

class ArithmeticDecoder {
 public:
  // Decodes from data, starting at byte `position` (which may lie past the end).
  explicit ArithmeticDecoder(std::span<const std::uint8_t> data, std::size_t position = 0)
      : data_(data), fetch_(position) {}

  // A fresh segment at the current position: the first 16 bits become the code value.
  void start() {
    fetch_ = position();
    window_ = 0;
    bits_ = 0;
    value_ = static_cast<std::int32_t>(take(16));
    low_ = 0;
    high_ = coder_detail::kTopValue;
  }
  // Moves to a new segment and starts there.
  void restart(std::size_t position) {
    fetch_ = position;
    window_ = 0;
    bits_ = 0;
    start();
  }

  int decode(const AdaptiveModel& model) {
    using namespace coder_detail;
    const std::int32_t range = high_ - low_ + 1;
    const std::int32_t total = model.cum(0);
    // The renormalisation keeps low <= value <= high whatever the input bits, so the target
    // lies in 0..total-1; the clamps only make that plain to the search.
    std::int32_t target = ((value_ - low_ + 1) * total - 1) / range;
    target = target < 0 ? 0 : (target >= total ? total - 1 : target);
    const int symbol = model.find(target);
    const auto high = static_cast<std::uint32_t>(low_ + scale_by_model(range, model.cum(symbol - 1), total) - 1);
    const auto low = static_cast<std::uint32_t>(low_ + scale_by_model(range, model.cum(symbol), total));
    const Shift shift = renormalisation(low, high);
    const int n = shift.settled + shift.underflow;
    const std::uint32_t bits = take(n);
    // value lies between low and high, so it shares their settled bits and its top bit after the
    // settled shift stays while the underflow bits below it leave, as for low and high.
    const auto value = static_cast<std::uint32_t>(value_);
    value_ = static_cast<std::int32_t>(((value << shift.settled) & 0x8000u) | (((value << n) | bits) & kLowBits));
    low_ = static_cast<std::int32_t>((low << n) & kLowBits);
    high_ = static_cast<std::int32_t>((((high << n) | ((1u << n) - 1)) & kLowBits) | 0x8000u);
    return symbol;
  }

  // Next byte the decoder would load, reading a bit at a time; one past the end at most.
  std::size_t position() const {
    const std::uint64_t next = (consumed_bits() + 7) / 8;
    return next > data_.size() ? data_.size() + 1 : static_cast<std::size_t>(next);
  }
  // True once a byte past the end of the data was needed (read as zero).
  bool overrun() const { return consumed_bits() > std::uint64_t{data_.size()} * 8; }

 private:
  std::uint64_t consumed_bits() const { return fetch_ * 8 - static_cast<std::uint64_t>(bits_); }
  // The next n <= 16 bits of the segment.
  std::uint32_t take(int n) {
    if (bits_ < n) refill();
    const auto out = static_cast<std::uint32_t>((window_ >> 1) >> (63 - n));
    window_ <<= n;
    bits_ -= n;
    return out;
  }
  // Four more bytes behind the bits_ (< 32) waiting at the top of the window.
  void refill() {
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    const std::size_t size = data_.size();
    if (fetch_ + 4 <= size) {
      std::memcpy(bytes, data_.data() + fetch_, 4);
    } else {
      for (std::uint64_t i = 0; i < 4 && fetch_ + i < size; ++i) bytes[i] = data_[static_cast<std::size_t>(fetch_ + i)];
    }
    fetch_ += 4;
    const std::uint32_t word = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                               (std::uint32_t{bytes[2]} << 8) | bytes[3];
    window_ |= std::uint64_t{coder_detail::reverse_bits_in_bytes(word)} << (32 - bits_);
    bits_ += 32;
  }

  std::span<const std::uint8_t> data_;
  std::uint64_t fetch_ = 0;   // next byte to load into the window (wide: garbage may run far past the end)
  std::uint64_t window_ = 0;  // bits_ waiting bits at the top, zeros below
  int bits_ = 0;
  std::int32_t value_ = 0;
  std::int32_t low_ = 0;
  std::int32_t high_ = coder_detail::kTopValue;
};

}  // namespace varnic::format
