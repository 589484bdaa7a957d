// One plane's symbol table and coefficients.

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
  return decode_plane_coefficients(file, header, channel, table, position, plane);
}

}  // namespace varnic::decoder
