// SPDX-License-Identifier: BSD-2-Clause
// Colour reduction: a two-pass quantizer that builds a palette of at most 256
// colours by median cut over a coarse histogram and maps every pixel to its
// nearest entry, optionally with Floyd–Steinberg dithering; and the 8-bit
// conversion that feeds the 8-bit display.
//
// Pixels are 3 bytes, components 0, 1, 2 (blue, green, red in our buffers).
// Distances weight the components 1, 3, 2. All arithmetic is integer, so the
// indices and palettes are exact and reproducible on every machine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/status.h"

namespace varnic::colour {

inline constexpr int kMinColours = 3;
inline constexpr int kMaxColours = 256;

// Quantizes width × height packed 3-byte pixels (no row padding) into
// width × height packed indices.
//  dither:        Floyd–Steinberg error diffusion in serpentine order.
//  palette_given: map to the colour_count entries in `palette` as they are;
//                 otherwise build a palette from the picture and write its
//                 first <result> entries (3 bytes each) into `palette`.
//  colour_count:  kMinColours..kMaxColours.
// Returns the number of palette entries in use (colour_count when given),
// or 0 for a bad count, too small a buffer, an empty picture or no memory.
[[nodiscard]] int quantize_to_palette(std::span<const std::uint8_t> pixels, int width, int height,
                                      std::span<std::uint8_t> indices, bool dither, bool palette_given,
                                      std::span<std::uint8_t> palette, int colour_count);

// A display header's colour table: 256 entries of (blue, green, red, 0).
using ColourTable = std::array<std::uint8_t, 1024>;

// Makes the 8-bit version of a picture buffer (bottom-up rows padded to 4
// bytes): `index_buffer` becomes height rows of width indices, each padded
// with zeros to 4 bytes. Grey (61) and palette (622) pictures are copied and
// keep their table; colour pictures (62) are quantized to 256 colours and
// their palette written into `colour_table`, entries beyond the colours found
// black. On failure the index buffer is all zeros and the table unchanged.
[[nodiscard]] format::StatusCode convert_to_8bit(std::uint16_t image_mode, int width, int height,
                                            std::span<const std::uint8_t> picture, bool dithering,
                                            std::vector<std::uint8_t>& index_buffer, ColourTable& colour_table);

}  // namespace varnic::colour
