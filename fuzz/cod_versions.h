// SPDX-License-Identifier: BSD-2-Clause
// Rewrites a version 2.5 .cod stream in the layout of 2.4 (no comment field) or 2.3 (also 16-bit
// offsets). Used to make seed files and test files of the older versions, which our writer never
// produces. Worked from the layout alone, independently of the reader's field tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnic::fuzz {

namespace cod_detail {
inline std::uint32_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return get16(b, at) | (get16(b, at + 2) << 16);
}
inline void put(std::vector<std::uint8_t>& out, std::uint32_t v, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
}  // namespace cod_detail

// Every byte after a removed field moves up, so the six absolute offsets shrink by what was
// removed before them (zero offsets, which mean "absent", stay zero) and HeaderLength is
// recomputed. `v25` must be a well-formed 2.5 stream; `minor` is 3 or 4.
inline std::vector<std::uint8_t> rewrite_as_version(const std::vector<std::uint8_t>& v25, int minor) {
  using namespace cod_detail;
  using It = std::vector<std::uint8_t>::difference_type;
  const std::size_t subbands = 3 * get16(v25, 36) + 1;
  const std::size_t restart_at = 38 + 12 * subbands;
  const std::size_t comment_at = restart_at + 18 + 6 * subbands;
  const std::size_t data_at = comment_at + 2 + get16(v25, comment_at);
  const std::size_t offset_bytes = minor == 3 ? 2 : 4;
  const std::size_t new_data_at = comment_at - (minor == 3 ? 12 : 0);
  const std::uint32_t shift = static_cast<std::uint32_t>(data_at - new_data_at);
  auto moved = [&](std::uint32_t offset) { return offset == 0 ? 0 : offset - shift; };

  std::vector<std::uint8_t> out(v25.begin(), v25.begin() + 14);
  out[5] = static_cast<std::uint8_t>('0' + minor);
  put(out, static_cast<std::uint32_t>(new_data_at - 8), 2);
  out.insert(out.end(), v25.begin() + 16, v25.begin() + 22);
  for (std::size_t c = 0; c < 3; ++c) put(out, moved(get32(v25, 22 + 4 * c)), offset_bytes);
  out.insert(out.end(), v25.begin() + 34, v25.begin() + static_cast<It>(restart_at));
  for (std::size_t c = 0; c < 3; ++c) put(out, moved(get32(v25, restart_at + 4 * c)), offset_bytes);
  out.insert(out.end(), v25.begin() + static_cast<It>(restart_at + 12), v25.begin() + static_cast<It>(comment_at));
  out.insert(out.end(), v25.begin() + static_cast<It>(data_at), v25.end());
  return out;
}

}  // namespace varnic::fuzz
