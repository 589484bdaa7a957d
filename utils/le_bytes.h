// SPDX-License-Identifier: BSD-2-Clause
// Little-endian integers in byte buffers, for every file format the program reads or writes.
// Callers check bounds first; nothing here does.
#pragma once

#include <cstdint>

namespace varnic::utils {

inline std::uint16_t load_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t load_i32(const std::uint8_t* p) { return static_cast<std::int32_t>(load_u32(p)); }

inline void store_u16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void store_u32(std::uint8_t* p, std::uint32_t v) {
  store_u16(p, v);
  store_u16(p + 2, v >> 16);
}

}  // namespace varnic::utils
