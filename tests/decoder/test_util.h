// Shared helpers of the decoder tests: reading test files and rewriting
// streams into the older layouts.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace varnic::decoder::test {

inline std::string data_path(const std::string& relative) {
  return std::string(VARNIC_TEST_DATA) + "/" + relative;
}

inline std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::uint8_t> read_cod(const std::string& name) {
  return read_file(data_path("conformance/cod/" + name + ".cod"));
}

inline std::uint32_t load_u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
inline std::uint16_t load_u16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline void store_u16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void store_u32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  store_u16(b, at, v);
  store_u16(b, at + 2, v >> 16);
}

// Rewrites a version 2.5 stream as 2.4 (no comment) or 2.3 (no comment and
// 2-byte offsets): the header shrinks, so all six absolute offsets move and
// HeaderLength is fixed. Offsets that were 0 stay 0.
inline std::vector<std::uint8_t> rewrite_as_older(const std::vector<std::uint8_t>& v25, int minor) {
  const std::size_t levels = load_u16(v25, 36);
  const std::size_t subbands = 3 * levels + 1;
  const std::size_t restart_at = 38 + 12 * subbands;
  const std::size_t comment_length_at = restart_at + 18 + 6 * subbands;
  const std::size_t data_start = comment_length_at + 2 + load_u16(v25, comment_length_at);
  const std::size_t offset_bytes = minor == 3 ? 2 : 4;
  const std::size_t new_data_start = comment_length_at - (minor == 3 ? 12 : 0);
  const std::size_t shift = data_start - new_data_start;

  auto moved = [&](std::uint32_t offset) -> std::uint32_t {
    return offset == 0 ? 0 : static_cast<std::uint32_t>(offset - shift);
  };
  std::vector<std::uint8_t> out(v25.begin(), v25.begin() + 22);
  out[5] = static_cast<std::uint8_t>('0' + minor);
  store_u16(out, 14, static_cast<std::uint32_t>(new_data_start - 8));
  auto put_offset = [&](std::uint32_t v) {
    out.resize(out.size() + offset_bytes);
    if (offset_bytes == 2) {
      store_u16(out, out.size() - 2, v);
    } else {
      store_u32(out, out.size() - 4, v);
    }
  };
  for (int c = 0; c < 3; ++c) put_offset(moved(load_u32(v25, 22 + 4 * c)));
  out.insert(out.end(), v25.begin() + 34, v25.begin() + static_cast<std::ptrdiff_t>(restart_at));
  for (int c = 0; c < 3; ++c) put_offset(moved(load_u32(v25, restart_at + 4 * c)));
  out.insert(out.end(), v25.begin() + static_cast<std::ptrdiff_t>(restart_at + 12),
             v25.begin() + static_cast<std::ptrdiff_t>(comment_length_at));
  out.insert(out.end(), v25.begin() + static_cast<std::ptrdiff_t>(data_start), v25.end());
  return out;
}

}  // namespace varnic::decoder::test

namespace varnic::decoder {

// Header and every plane's coefficients, as the decode driver gets them, for tests of this module
// alone.
struct DecodedPlanes {
  format::FileHeader header_;
  PlaneSet planes_;
};
inline format::StatusCode decode_planes(std::span<const std::uint8_t> file, std::uint64_t max_pixels,
                                        DecodedPlanes& out) {
  DecodedPlanes d;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, d.header_));
  const format::CodecParams& p = d.header_.params;
  for (int c = 0; c < format::plane_count(p.image_mode); ++c) {
    format::CoefficientPlane& plane = d.planes_[static_cast<std::size_t>(c)];
    VARNIC_RETURN_IF_ERROR(plane.allocate(p.padded_width, p.padded_height));
    VARNIC_RETURN_IF_ERROR(decode_plane(file, d.header_, static_cast<format::Channel>(c), plane));
  }
  out = std::move(d);
  return format::StatusCode::kOk;
}

}  // namespace varnic::decoder
