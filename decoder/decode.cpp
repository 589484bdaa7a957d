// Plane-by-plane decoding of a whole stream into new planes.

#include "decoder/decoder.h"

namespace varnic::decoder {

StatusCode decode_plane(std::span<const std::uint8_t> file, const format::FileHeader& header,
                    Channel channel, format::CoefficientPlane& plane) {
  // Without the 'Z' flag the planes stay zero and reconstruct to a flat
  // picture; the data after the header is not even looked at.
  if (!header.has_coefficients()) return StatusCode::kOk;
  format::SymbolTable table;
  std::size_t position = 0;
  VARNIC_RETURN_IF_ERROR(format::read_symbol_table(file, format::plane_start(header, channel), table, position));
  decode_plane_coefficients(file, header, channel, table, position, plane);
  return StatusCode::kOk;
}

StatusCode decode_planes(std::span<const std::uint8_t> file, std::uint64_t max_pixels,
                     DecodedPlanes& out) {
  DecodedPlanes decoded;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, decoded.header_));
  const format::CodecParams& p = decoded.header_.params;
  const int planes = decoded.header_.is_colour() ? format::kChannelCount : 1;
  for (int c = 0; c < planes; ++c) {
    VARNIC_RETURN_IF_ERROR(decoded.planes_[c].allocate(p.padded_width_, p.padded_height_));
  }
  for (int c = 0; c < planes; ++c) {
    VARNIC_RETURN_IF_ERROR(
        decode_plane(file, decoded.header_, static_cast<Channel>(c), decoded.planes_[c]));
  }
  out = std::move(decoded);
  return StatusCode::kOk;
}

}  // namespace varnic::decoder
