// SPDX-License-Identifier: BSD-2-Clause
// Builds bitmap and Targa files byte by byte for the reader tests, so that
// every field the readers look at can be forged independently of our writers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/little_endian.h"

namespace varnic::imagefile::testing {

using test_bytes::store_u16;
using test_bytes::store_u32;

// A bitmap file described by its fields. rows_ are given top row first,
// unpadded; build() stores them bottom-up (or top-down for a negative height)
// with pad_byte_ in the padding.
struct BmpLayout {
  char type0_ = 'B', type1_ = 'M';
  std::uint32_t header_size_ = 40;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;  // negative: rows stored top row first
  std::uint16_t bit_count_ = 24;
  std::uint32_t compression_ = 0;
  std::uint32_t colours_used_ = 0;
  std::vector<std::uint8_t> table_;  // 4 bytes per entry, written after the header
  std::size_t gap_ = 0;              // bytes between table and pixels
  std::uint8_t pad_byte_ = 0;
  std::vector<std::vector<std::uint8_t>> rows_;  // top row first

  std::vector<std::uint8_t> build() const {
    const std::size_t offset = 14 + header_size_ + table_.size() + gap_;
    // Room for all 40 classic header bytes even when a shorter header is forged.
    std::vector<std::uint8_t> f(std::max<std::size_t>(offset, 54), 0);
    f[0] = static_cast<std::uint8_t>(type0_);
    f[1] = static_cast<std::uint8_t>(type1_);
    store_u32(f, 10, static_cast<std::uint32_t>(offset));
    store_u32(f, 14, header_size_);
    store_u32(f, 18, static_cast<std::uint32_t>(width_));
    store_u32(f, 22, static_cast<std::uint32_t>(height_));
    store_u16(f, 26, 1);
    store_u16(f, 28, bit_count_);
    store_u32(f, 30, compression_);
    store_u32(f, 46, colours_used_);
    std::copy(table_.begin(), table_.end(), f.begin() + 14 + header_size_);
    const bool top_down = height_ < 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const auto& row = top_down ? rows_[i] : rows_[rows_.size() - 1 - i];
      f.insert(f.end(), row.begin(), row.end());
      while ((f.size() - offset) % 4 != 0) f.push_back(pad_byte_);
    }
    store_u32(f, 2, static_cast<std::uint32_t>(f.size()));
    return f;
  }
};

// A Targa file; rows_ are given top row first and stored bottom-up unless
// top_down_ sets descriptor bit 5.
struct TgaLayout {
  std::string id_;
  std::uint8_t map_type_ = 0;
  std::uint8_t image_type_ = 2;
  std::uint16_t map_first_ = 0;
  std::uint16_t map_length_ = 0;
  std::uint8_t map_entry_bits_ = 0;
  std::vector<std::uint8_t> map_;  // 3 bytes per entry
  std::uint16_t width_ = 0;
  std::uint16_t height_ = 0;
  std::uint8_t depth_ = 24;
  bool top_down_ = false;
  std::vector<std::vector<std::uint8_t>> rows_;  // top row first

  std::vector<std::uint8_t> build() const {
    std::vector<std::uint8_t> f(18, 0);
    f[0] = static_cast<std::uint8_t>(id_.size());
    f[1] = map_type_;
    f[2] = image_type_;
    store_u16(f, 3, map_first_);
    store_u16(f, 5, map_length_);
    f[7] = map_entry_bits_;
    store_u16(f, 8, 7);  // origins are not used by the reader
    store_u16(f, 10, 9);
    store_u16(f, 12, width_);
    store_u16(f, 14, height_);
    f[16] = depth_;
    f[17] = static_cast<std::uint8_t>(top_down_ ? 0x28 : 0x08);  // alpha bits are ignored
    for (const char c : id_) f.push_back(static_cast<std::uint8_t>(c));
    f.insert(f.end(), map_.begin(), map_.end());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const auto& row = top_down_ ? rows_[i] : rows_[rows_.size() - 1 - i];
      f.insert(f.end(), row.begin(), row.end());
    }
    return f;
  }
};

// Rows of a w × h picture with distinct bytes, top row first.
inline std::vector<std::vector<std::uint8_t>> make_rows(int width, int height, int bytes_per_pixel,
                                                        std::uint8_t seed = 1) {
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(height));
  std::uint32_t x = seed;
  for (auto& row : rows) {
    row.resize(static_cast<std::size_t>(width * bytes_per_pixel));
    for (auto& b : row) {
      x = x * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(x >> 16);
    }
  }
  return rows;
}

// The picture-buffer layout of rows given top first: bottom-up, zero padding to 4 bytes.
inline std::vector<std::uint8_t> buffer_of(const std::vector<std::vector<std::uint8_t>>& rows) {
  std::vector<std::uint8_t> out;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    out.insert(out.end(), it->begin(), it->end());
    while (out.size() % 4 != 0) out.push_back(0);
  }
  return out;
}

}  // namespace varnic::imagefile::testing
