// SPDX-License-Identifier: BSD-2-Clause
// The streamed decode of version 2.3 colour files, whose rows are cut out of one sequence of every
// padded sample: the input is read as a 2.3 file (its minor digit forced), and its rows must be
// that sequence, the same top row first, red first and on threads. Files the header check refuses
// are the .cod reader's target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/decode_rows.h"
#include "utils/picture_layout.h"

using varnic::fuzz::kPixelLimit;
using varnic::fuzz::require;
namespace display = varnic::display;
namespace format = varnic::format;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  if (file.size() > format::kMinorDigitOffset) file[format::kMinorDigitOffset] = '3';
  format::FileHeader header;
  if (format::parse_header(file, kPixelLimit, header) != format::StatusCode::kOk) return 0;
  const format::CodecParams& p = header.params;
  display::DecodeRequest picture;
  picture.threads = size % 2 == 0 ? 1 : 3;
  const varnic::fuzz::Rows rows = varnic::fuzz::decode_file_rows(file, picture);
  require(rows.status == format::StatusCode::kOk, "a file whose header is accepted decodes");
  display::DecodeRequest flipped;
  flipped.top_down = true;
  flipped.rgb_order = true;
  const varnic::fuzz::Rows red_first = varnic::fuzz::decode_file_rows(file, flipped);
  require(red_first.status == format::StatusCode::kOk && red_first.rows.size() == rows.rows.size(), "top row first decodes");
  const std::size_t bpp = header.is_colour() ? 3 : 1;
  for (std::size_t r = 0; r < rows.rows.size(); ++r) {
    for (std::size_t x = 0; x < rows.rows[r].size(); ++x) {
      require(red_first.rows[r][x] == rows.rows[r][bpp == 3 ? x - x % 3 + 2 - x % 3 : x], "red first swaps each pixel");
    }
  }
  if (!header.is_colour()) return 0;

  // The sequence: every padded sample red first, as the whole region at full size gives it.
  display::DecodeRequest region;
  region.whole_region = true;
  const varnic::fuzz::Rows whole = varnic::fuzz::decode_file_rows(file, region);
  require(whole.status == format::StatusCode::kOk, "the whole region decodes");
  std::vector<uint8_t> sequence;
  for (const auto& row : whole.rows) sequence.insert(sequence.end(), row.begin(), row.end());
  const varnic::utils::RowGeometry g = varnic::utils::row_geometry(p.image_width, p.image_height, 24);
  sequence.resize(std::max(sequence.size(), g.picture_bytes), 0);
  for (std::size_t r = 0; r < rows.rows.size(); ++r) {
    require(std::equal(rows.rows[r].begin(), rows.rows[r].end(), sequence.begin() + static_cast<std::ptrdiff_t>(g.stride * r)),
            "each row is the sequence's bytes at its place in the picture buffer");
  }
  return 0;
}
