// Layout of the compressed (.cod) file, shared by the writer and the reader.
//
// All integers little-endian; offsets count from the first magic byte.
//   0   8      magic "QVT2.5aZ": "QVT", major digit, '.', minor digit, 'a', 'Z'
//   8   2x3    dropped levels of Y, I, Q (int16)
//   14  2      header length: bytes from offset 8 to the end of the comment
//   16  2x3    width, height, using-mask (int16)
//   22  4x3    end offsets of Y, I, Q (uint32; uint16 in version 2.3)
//   34  2      image mode (61 grey, 62 colour)
//   36  2      total levels L
//   38  12*S   per subband k = 0..3L: max/min of Y, I, Q (int16), S = 3L + 1
//   R   4x3    restart offsets of Y, I, Q (uint32; uint16 in 2.3)
//   R+12 2x3   pixel offsets of Y, I, Q (int16)
//   R+18 6*S   per subband: quantization steps of Y, I, Q (uint16)
//   T   2      comment length n (2.5 only), then n comment bytes
// Then per plane (Y; I and Q for colour): symbol count N, N symbols stored as
// value + 128, arithmetic segment 1, and segment 2 at the restart offset.
// Version 2.4 has no comment; 2.3 also has 2-byte offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/status.h"

namespace varnic::codec {

inline constexpr char kMagic[] = "QVT2.5aZ";  // what the writer emits
inline constexpr std::size_t kMagicSize = 8;
inline constexpr std::size_t kMajorDigitOffset = 3;
inline constexpr std::size_t kMinorDigitOffset = 5;
// Coefficients are decoded only when this byte is 'Z'.
inline constexpr std::size_t kCodedFlagOffset = 7;
inline constexpr char kCodedFlag = 'Z';

inline constexpr std::size_t kDroppedLevelsOffset = 8;
inline constexpr std::size_t kHeaderLengthOffset = 14;
inline constexpr std::size_t kHeaderLengthBase = 8;  // header length counts from here
inline constexpr std::size_t kWidthOffset = 16;
inline constexpr std::size_t kHeightOffset = 18;
inline constexpr std::size_t kUsingMaskOffset = 20;
inline constexpr std::size_t kEndOffsetsOffset = 22;

// The file's arrays hold 31 subbands, hence at most 10 levels.
inline constexpr int kMaxFileLevels = 10;
inline constexpr int kMaxFileSide = 32767;
inline constexpr std::size_t kMaxCommentLength = 2047;
// The reader keeps this many zero bytes after the file for the arithmetic
// decoder's look-ahead (our decoder reads zeros past the end anyway).
inline constexpr std::size_t kSpareBytes = 10;

// Header field positions for one version and level count.
struct HeaderLayout {
  int minor_version = 5;              // 3, 4 or 5
  std::size_t offset_width = 4;       // 2 in version 2.3
  std::size_t end_offsets = kEndOffsetsOffset;
  std::size_t image_mode = 0;
  std::size_t total_levels = 0;
  std::size_t band_limits = 0;
  std::size_t restart_offsets = 0;
  std::size_t pixel_offsets = 0;
  std::size_t quant_rows = 0;
  std::size_t comment_length = 0;     // 0 when the version has no comment
  std::size_t fixed_end = 0;          // first byte after the fixed fields
};

// Positions that do not depend on L (end offsets, mode, levels) are valid for
// any total_levels; pass the file's L for the rest.
HeaderLayout ComputeHeaderLayout(int minor_version, int total_levels);

// The open-time version check on the first 8 bytes (fewer bytes: not a
// compressed file). Digits compare as signed 8-bit values.
Status CheckVersion(std::span<const std::uint8_t> file);

inline void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace varnic::codec
