// SPDX-License-Identifier: BSD-2-Clause
// Small rules that the tool, the desktop program, the viewers, the web page and the library's own
// layers apply alike: transparency over white, the rows and size of an uncompressed bitmap, the
// compression ratio, UTF-8 text, and the number lists a person types for the quantization
// vectors and thresholds. Header-only and standalone, like limits.h, so every layer can use the
// one definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnic {

// --- Pixels -------------------------------------------------------------------------------------

// A straight-alpha sample (0..255) composited over white, rounded to nearest.
constexpr std::uint8_t blend_over_white(unsigned value, unsigned alpha) noexcept {
  return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// Bytes of one row of a bitmap (a bitmap file, the desktop program's picture buffers): the
// pixels padded with zero bytes to a multiple of 4. Exact for sides up to 2^32.
constexpr std::uint64_t padded_row_bytes(std::uint64_t width, int bytes_per_pixel) noexcept {
  return (width * static_cast<std::uint64_t>(bytes_per_pixel) + 3) / 4 * 4;
}

// Size of the uncompressed bitmap file of a picture: file and info headers (14 + 40 bytes), the
// 256-entry grey table of a grey picture, then the padded rows.
constexpr std::uint64_t bitmap_file_bytes(std::uint32_t width, std::uint32_t height, bool grey) noexcept {
  return 14 + 40 + (grey ? 256 * 4 : 0) + padded_row_bytes(width, grey ? 1 : 3) * height;
}

// The compression ratio every front end shows: the uncompressed bitmap file against the
// compressed one, so that pictures compare whatever file they were read from. 0 for no bytes.
constexpr double compression_ratio(std::uint32_t width, std::uint32_t height, bool grey,
                                   std::uint64_t compressed_bytes) noexcept {
  return compressed_bytes == 0 ? 0.0
                               : static_cast<double>(bitmap_file_bytes(width, height, grey)) /
                                     static_cast<double>(compressed_bytes);
}

// --- Text ---------------------------------------------------------------------------------------
// Comments and file names are bytes. They are UTF-8 where they are valid UTF-8 (no overlong
// forms, no surrogates, nothing above U+10FFFF); other bytes come from other programs.

// Bytes (1..4) of the valid UTF-8 character `text` starts with; 0 when it starts with none.
constexpr std::size_t utf8_sequence_length(std::string_view text) noexcept {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte, narrowed where a lead byte could
  unsigned char high = 0xBF;  // start an overlong form, a surrogate or a code point past U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
  return length;
}

constexpr bool is_utf8(std::string_view text) noexcept {
  while (!text.empty()) {
    const std::size_t length = utf8_sequence_length(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

// The longest start of UTF-8 `text` of at most max_bytes that does not split a character.
constexpr std::string_view cut_utf8(std::string_view text, std::size_t max_bytes) noexcept {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// How text of unknown encoding is shown: as it is when it is UTF-8, otherwise every byte as its
// Latin-1 character (the comments of older programs).
inline std::string displayable_text(std::string_view bytes) {
  if (is_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// --- Number lists -------------------------------------------------------------------------------

// Decimal numbers separated by blanks (any whitespace, newlines included) or by one comma with
// blanks around it at will: "20 10 5", "20,10,5" and "20, 10,\n5" are the same list. Nothing
// else is allowed: no signs, no other characters, no comma before the first number or after the
// last. An empty or blank text is the empty list. Numbers above the int range are kept at its
// maximum, which every validator refuses, so that none wraps round to a small one.
inline std::optional<std::vector<int>> parse_number_list(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  constexpr long long kSaturated = std::numeric_limits<int>::max();
  std::vector<int> out;
  std::size_t p = 0;
  bool comma = false;  // a comma since the last number
  for (;;) {
    while (p < text.size() && blank(text[p])) ++p;
    if (p == text.size()) break;
    if (text[p] == ',') {
      if (out.empty() || comma) return std::nullopt;
      comma = true;
      ++p;
      continue;
    }
    if (!digit(text[p])) return std::nullopt;
    long long value = 0;
    while (p < text.size() && digit(text[p])) {
      value = value * 10 + (text[p] - '0');
      if (value > kSaturated) value = kSaturated;
      ++p;
    }
    if (p < text.size() && !blank(text[p]) && text[p] != ',') return std::nullopt;
    out.push_back(static_cast<int>(value));
    comma = false;
  }
  if (comma) return std::nullopt;
  return out;
}

}  // namespace varnic
