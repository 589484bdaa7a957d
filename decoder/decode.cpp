// Plane-by-plane decoding of a whole stream into new planes.

#include "decoder/decoder.h"

namespace varnic::decoder {

Status decode_plane(std::span<const std::uint8_t> file, const FileHeader& header,
                    Channel channel, codec::CoefficientPlane& plane) {
  // Without the 'Z' flag the planes stay zero and reconstruct to a flat
  // picture; the data after the header is not even looked at.
  if (!header.has_coefficients()) return Status::kOk;
  SymbolTable table;
  std::size_t position = 0;
  VARNIC_RETURN_IF_ERROR(parse_plane_header(file, header, channel, table, position));
  decode_plane_coefficients(file, header, channel, table, position, plane);
  return Status::kOk;
}

Status decode_planes(std::span<const std::uint8_t> file, const DecodeLimits& limits,
                     DecodedPlanes& out) {
  DecodedPlanes decoded;
  VARNIC_RETURN_IF_ERROR(parse_file_header(file, limits, decoded.header_));
  const codec::CodecParams& p = decoded.header_.params_;
  const int planes = decoded.header_.is_colour() ? codec::kChannelCount : 1;
  for (int c = 0; c < planes; ++c) {
    VARNIC_RETURN_IF_ERROR(decoded.planes_[c].Allocate(p.padded_width_, p.padded_height_));
  }
  for (int c = 0; c < planes; ++c) {
    VARNIC_RETURN_IF_ERROR(
        decode_plane(file, decoded.header_, static_cast<Channel>(c), decoded.planes_[c]));
  }
  out = std::move(decoded);
  return Status::kOk;
}

}  // namespace varnic::decoder
