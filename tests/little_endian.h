// SPDX-License-Identifier: BSD-2-Clause
// Little-endian fields written into and read from forged file bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnic::test_bytes {

inline void store_u16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void store_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  store_u16(b, at, v);
  store_u16(b, at + 2, v >> 16);
}

inline std::uint32_t load_u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

}  // namespace varnic::test_bytes
