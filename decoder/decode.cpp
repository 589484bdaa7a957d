// SPDX-License-Identifier: BSD-2-Clause
// One plane's symbol table and coefficients.

#include "decoder/decoder.h"
#include "decoder/plane_symbols.h"

namespace varnic::decoder {

StatusCode decode_plane(std::span<const std::uint8_t> file, const format::FileHeader& header,
                    Channel channel, format::CoefficientPlane& plane) {
  return with_plane_table(file, header, channel, [&](const format::SymbolTable& table, std::size_t position) {
    return decode_plane_coefficients(file, header, channel, table, position, plane);
  });
}

}  // namespace varnic::decoder
