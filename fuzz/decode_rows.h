// SPDX-License-Identifier: BSD-2-Clause
// The rows of a decode gathered for the decode targets, each at its index counted from the bottom,
// with the decoder's status.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "display/display.h"
#include "fuzz/picture_checks.h"

namespace varnic::fuzz {

struct Rows {
  format::StatusCode status = format::StatusCode::kOk;
  std::vector<std::vector<std::uint8_t>> rows;
};

// A sink that keeps each row's pixel bytes (`pixel_bytes` of the stride: the padding left out).
inline display::RowSink gather(Rows& out, std::size_t& pixel_bytes) {
  display::RowSink sink;
  sink.begin = [&out, &pixel_bytes](const format::FileHeader&, const display::PictureShape& shape) {
    out.rows.assign(shape.height, {});
    pixel_bytes = std::size_t{shape.width} * static_cast<std::size_t>(shape.bits_per_pixel / 8);
    return true;
  };
  sink.row = [&out, &pixel_bytes](std::uint32_t row, std::span<const std::uint8_t> bytes) {
    require(row < out.rows.size() && out.rows[row].empty(), "every row comes once");
    out.rows[row].assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pixel_bytes));
    return true;
  };
  return sink;
}

inline Rows decode_file_rows(std::span<const std::uint8_t> file, const display::DecodeRequest& request) {
  Rows out;
  std::size_t pixel_bytes = 0;
  out.status = display::decode_rows(file, kPixelLimit, request, gather(out, pixel_bytes));
  return out;
}

// The same from codes decoded already; the rows' shape comes from the request.
inline Rows decode_code_rows(const decoder::CodeSet& codes, const format::FileHeader& header,
                             const display::DecodeRequest& request) {
  Rows out;
  std::size_t pixel_bytes = 0;
  const display::RowSink sink = gather(out, pixel_bytes);
  display::PictureShape shape;
  out.status = display::picture_shape(header.params, header.magic, request, shape);
  if (out.status == format::StatusCode::kOk && sink.begin(header, shape)) {
    out.status = display::decode_codes(codes, header.params, header.magic, request, sink);
  }
  return out;
}

}  // namespace varnic::fuzz
