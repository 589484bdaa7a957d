// SPDX-License-Identifier: BSD-2-Clause
// The picture file kinds varnic reads and writes and the rule for replacing files. This header
// stands alone (varnic.h includes it, and so does the library's own file layer), so that each
// name is defined once.
#pragma once

#include <cstdint>

namespace varnic {

enum class FileKind : std::uint8_t {
  kUnknown,
  kBmp,  // Windows bitmap: 24-bit colour, 8-bit grey or palette
  kTga,  // Targa: no signature, known by its extension (.tga)
  kPng,
  kPnm,  // PGM and PPM, ASCII or binary, any maximum value
  kCod,  // the compressed format itself
  // Photographs, read only (writing them would compress twice); builds without their libraries
  // (Windows) refuse them with a message saying so.
  kJpeg,
  kTiff,  // the first page; 8- or 16-bit grey, RGB or CMYK
  kWebp,
};

// kRefuse never replaces an existing file, not even one another process creates meanwhile.
enum class Overwrite : std::uint8_t { kReplace, kRefuse };

}  // namespace varnic
