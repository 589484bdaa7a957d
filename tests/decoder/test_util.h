// SPDX-License-Identifier: BSD-2-Clause
// Shared helpers of the decoder tests: conformance files, little-endian patching, and a whole
// stream's coefficient planes as the decode driver gets them.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/little_endian.h"

namespace varnic::decoder {
using namespace ::varnic::format;

inline std::vector<std::uint8_t> read_cod(const std::string& name) {
  std::ifstream in(std::string(VARNIC_TEST_DATA) + "/conformance/cod/" + name + ".cod", std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using test_bytes::load_u32;
using test_bytes::store_u16;
using test_bytes::store_u32;

struct DecodedPlanes {
  FileHeader header;
  PlaneSet planes;
};
inline StatusCode decode_planes(std::span<const std::uint8_t> file, std::uint64_t max_pixels, DecodedPlanes& out) {
  VARNIC_RETURN_IF_ERROR(parse_header(file, max_pixels, out.header));
  const CodecParams& p = out.header.params;
  for (int c = 0; c < plane_count(p.image_mode); ++c) {
    CoefficientPlane& plane = out.planes[static_cast<std::size_t>(c)];
    VARNIC_RETURN_IF_ERROR(plane.allocate(p.padded_width, p.padded_height));
    VARNIC_RETURN_IF_ERROR(decode_plane(file, out.header, static_cast<Channel>(c), plane));
  }
  return StatusCode::kOk;
}

}  // namespace varnic::decoder
