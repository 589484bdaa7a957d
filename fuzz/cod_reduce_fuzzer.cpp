// SPDX-License-Identifier: BSD-2-Clause
// The reduced decode on arbitrary bytes. The last byte picks how many levels to leave out; the
// picture must then be the top-left corner of the whole region a preview shows at that size,
// whether its rows come bottom row first or top row first and whether the finest codes it reads
// are held or left in the stream. Files the header check refuses are the .cod reader's target.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/decode_rows.h"

using varnic::fuzz::kPixelLimit;
using varnic::fuzz::require;
namespace display = varnic::display;
namespace decoder = varnic::decoder;
namespace format = varnic::format;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  format::FileHeader header;
  if (format::parse_header(file, kPixelLimit, header) != format::StatusCode::kOk) return 0;
  const format::CodecParams& p = header.params;
  display::DecodeRequest picture;
  picture.reduce = size > 0 ? data[size - 1] % p.total_levels : 0;
  const varnic::fuzz::Rows reduced = varnic::fuzz::decode_file_rows(file, picture);
  require(reduced.status == format::StatusCode::kOk, "a file whose header is accepted decodes");

  display::DecodeRequest bottom_up = picture;
  bottom_up.top_down = true;
  require(varnic::fuzz::decode_file_rows(file, bottom_up).rows == reduced.rows, "top row first gives the same rows");

  // The codes of the whole region at that size, held whole or with the finest left in the stream.
  decoder::SynthesisPlan plan;
  require(decoder::plan_synthesis(p, p.total_levels - picture.reduce, p.padded_height >> picture.reduce,
                                  p.padded_width >> picture.reduce, plan) == format::StatusCode::kOk,
          "a header the parser accepts can be synthesized");
  for (const bool leave_last : {false, true}) {
    decoder::CodeSet codes;
    for (int c = 0; c < format::plane_count(p.image_mode); ++c) {
      require(decoder::decode_plane_codes(file, header, static_cast<format::Channel>(c), plan, leave_last,
                                          codes[static_cast<std::size_t>(c)]) == format::StatusCode::kOk,
              "codes decode where the rows did");
    }
    const varnic::fuzz::Rows again = varnic::fuzz::decode_code_rows(codes, header, picture);
    require(again.status == format::StatusCode::kOk && again.rows == reduced.rows,
            "held and streamed codes give the same picture");
    // Version 2.3's full colour picture is its packed sequence, no region's corner.
    const bool packed = header.is_colour() && header.minor_version() == 3 && picture.reduce == 0;
    if (leave_last || packed) continue;
    display::DecodeRequest region = picture;
    region.whole_region = true;
    const varnic::fuzz::Rows whole = varnic::fuzz::decode_code_rows(codes, header, region);
    require(whole.status == format::StatusCode::kOk && whole.rows.size() >= reduced.rows.size(), "the region decodes");
    for (std::size_t r = 0; r < reduced.rows.size(); ++r) {
      require(std::equal(reduced.rows[r].begin(), reduced.rows[r].end(), whole.rows[r].begin()),
              "the reduced picture is the corner of the preview's region");
    }
  }
  return 0;
}
