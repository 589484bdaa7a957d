// SPDX-License-Identifier: BSD-2-Clause
// The compressed (.cod) stream, described once for its writer and all its readers.
//
// A file is the byte image of one stream. All integers are little-endian; offsets count from the
// first byte of the magic, and the offsets stored in the file count the same way.
//
//   0     8          magic "QVT2.5aZ": "QVT", major digit '2', '.', minor digit '3'..'5', 'a',
//                    and 'Z' when the planes' coefficients are coded (otherwise every plane is
//                    zero and the picture reconstructs flat)
//   8     2 x 3      dropped levels of Y, I, Q (int16): finest levels not coded
//   14    2          header length: bytes from offset 8 to the end of the comment (0: the plane
//                    data follow the last field)
//   16    2 x 3      width, height (int16, 1..32767), using-mask (int16, carried only)
//   22    4 x 3      end offsets of Y, I, Q: first byte after each plane's data
//   34    2          image mode: 61 grey (Y only), 62 colour (Y, I, Q)
//   36    2          total levels L (1..10)
//   38    12 x S     per subband k = 0..3L (S = 3L + 1): max and min of Y, of I, of Q (int16)
//   R     4 x 3      restart offsets of Y, I, Q: where each plane's second segment starts
//   R+12  2 x 3      pixel offsets (level shifts) of Y, I, Q (int16); readers add Y's back
//   R+18  6 x S      per subband k: quantization steps of Y, I, Q (uint16)
//   T     2          comment length n, then n comment bytes (version 2.5 only)
// Version 2.4 has no comment; version 2.3 also stores the six offsets in 2 bytes each.
// Subband k = 3l + o is orientation o (0 v bottom-left, 1 h top-right, 2 d bottom-right) of level
// l (0 finest); k = 3L is the low band.
//
// Each plane (Y; then I at Y's end offset and Q at I's for colour) is a symbol count N (1..255),
// N symbols each stored as value + kSymbolBias in the order of decreasing frequency, and two
// segments of adaptive arithmetic code (arithmetic_coder.h), each with a fresh model and ending
// with the end symbol and a flush byte: the first from the byte after the table, the second at
// the restart offset. The values are the quantized coefficients in coding order: the low band row
// by row, then per level from the coarsest the bands h, v, d, each row by row, leaving out the
// positions inside zerotrees and everything in the dropped levels; the second segment holds
// exactly the finest coded level.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/params.h"
#include "format/plane.h"
#include "format/status.h"
#include "varnic/limits.h"

namespace varnic::format {

// What the writer emits: version 2.5, coefficients coded.
inline constexpr char kMagic[] = "QVT2.5aZ";
inline constexpr std::size_t kMagicSize = sizeof kMagic - 1;
using Magic = std::array<std::uint8_t, kMagicSize>;
constexpr Magic make_magic() {
  Magic m{};
  for (std::size_t i = 0; i < kMagicSize; ++i) m[i] = static_cast<std::uint8_t>(kMagic[i]);
  return m;
}
inline constexpr Magic kCurrentMagic = make_magic();
// The first three bytes name the format whatever the version.
inline constexpr std::size_t kFamilyBytes = 3;
inline constexpr std::size_t kMajorDigitOffset = 3;
inline constexpr std::size_t kMinorDigitOffset = 5;
// Readers accept minor versions from this one to the one written.
inline constexpr char kOldestMinorDigit = '3';
inline constexpr std::size_t kCodedFlagOffset = 7;
inline constexpr std::uint8_t kCodedFlag = kCurrentMagic[kCodedFlagOffset];

// Width and height are int16 fields.
inline constexpr int kMaxSide = varnic::kMaxSide;
inline constexpr std::size_t kMaxCommentLength = varnic::kMaxCommentBytes;
// Readers keep this many zero bytes after a loaded file: the arithmetic decoder may look two bytes
// past a segment's last code byte (ours reads zeros past the end anyway).
inline constexpr std::size_t kSpareBytes = 10;
// Declared sizes above this are refused before anything is allocated, unless the caller says
// otherwise.
inline constexpr std::uint64_t kDefaultPixelLimit = kDefaultMaxPixels;
// Symbols are stored as value + kSymbolBias, so the values -128..127 fit in a byte.
inline constexpr int kSymbolBias = 128;
// The count is one byte and 0 is refused; the markers keep real planes within 255 values.
inline constexpr int kMaxSymbols = 255;

// True when the bytes begin with the format's letters, whatever the version: enough to choose
// the reader, not to accept the file.
bool has_family_magic(std::span<const std::uint8_t> bytes);

// The open-time version check on the first 8 bytes: not the format's letters (or fewer than 8
// bytes), a major digit other than '2' or a minor below '3' (too low), a minor above '5' (too
// high). The digits compare as signed 8-bit values.
StatusCode check_version(std::span<const std::uint8_t> file);

// A plane's symbol list: symbol j (1..count) is the value values[j - 1] - kSymbolBias.
struct SymbolTable {
  int count = 0;
  std::array<std::uint8_t, 256> values{};

  int value(int character) const { return values[static_cast<std::size_t>(character)] - kSymbolBias; }
};
void append_symbol_table(const SymbolTable& table, std::vector<std::uint8_t>& out);
// Reads the table at `start`; `position` is left just after it. A count of 0 or a table past the
// end of the file is refused.
StatusCode read_symbol_table(std::span<const std::uint8_t> file, std::size_t start, SymbolTable& table,
                             std::size_t& position);

// The header's fields, in file order.
enum class HeaderField {
  kDroppedLevels,  // per channel
  kHeaderLength,
  kWidth,
  kHeight,
  kUsingMask,
  kEndOffset,  // per channel
  kImageMode,
  kTotalLevels,
  kBandMax,  // per subband and channel, each followed by kBandMin
  kBandMin,
  kRestartOffset,  // per channel
  kPixelOffset,    // per channel
  kQuantStep,      // per subband and channel
  kCommentLength,  // version 2.5 only; the comment bytes follow
};

// Where a field lies in a header of this version (3..5) and level count.
std::size_t field_offset(int minor_version, int total_levels, HeaderField field, Channel channel = Channel::kY,
                         int subband = 0);

// A validated header.
struct FileHeader {
  Magic magic{};
  // The file's settings: levels, sizes (padded size computed), mode, using-mask and per channel
  // the dropped levels, band limits, pixel offsets, quantization steps and offsets. Fields the
  // file does not carry keep their defaults.
  CodecParams params;
  std::string comment;  // raw bytes, version 2.5 only
  std::uint16_t header_length = 0;
  std::size_t data_start = 0;  // offset of the Y plane's symbol count

  int minor_version() const { return magic[kMinorDigitOffset] - '0'; }
  int major_version() const { return magic[kMajorDigitOffset] - '0'; }
  bool has_coefficients() const { return magic[kCodedFlagOffset] == kCodedFlag; }
  bool is_colour() const { return params.image_mode == kImageModeColour; }
};

// The version check, the fields by the file's version, and every field that sizes an allocation
// or steers a read: total levels 1..10, image mode 61/62, sides 1..32767, dropped levels of coded
// planes 0..L-1, a comment of at most 2047 bytes, padded sides of at least 2^(L+1), width x height
// within max_pixels, and for files with coefficients the plane offsets and symbol counts. `out` is
// written only on success.
StatusCode parse_header(std::span<const std::uint8_t> file, std::uint64_t max_pixels, FileHeader& out);

// Fills `out` with the file's bytes at `offset`; false when they cannot be read.
using ReadAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;
// The same checks on a file of `file_size` bytes read piece by piece: the header and each coded
// plane's symbol table, a few kilobytes whatever the file's size.
StatusCode parse_header(const ReadAt& read, std::uint64_t file_size, std::uint64_t max_pixels, FileHeader& out);

// Offset of a channel's symbol count: Y after the header, I at Y's end offset, Q at I's.
std::size_t plane_start(const FileHeader& header, Channel channel);

// Copies what the file carries into the program's settings, the way opening a file overwrites
// them: levels, sizes (and padded size), mode, using-mask, and per channel the dropped levels,
// offsets, pixel offset and the first 3L+1 band limits and quantization steps. Quality, image
// type, thresholds, mask factors and the vector entries past 3L+1 keep the caller's values.
void apply_file_settings(const FileHeader& header, CodecParams& settings);

// Appends a version 2.5 header for `params` (levels, sizes, mode, using-mask, band limits, pixel
// offsets, steps, dropped levels) with its comment; the six offsets are left 0 for
// patch_plane_offsets.
void append_header(const CodecParams& params, std::string_view comment, std::vector<std::uint8_t>& out);
// Rewrites one channel's band limits, or its two offsets, in a version 2.5 header of
// `total_levels` levels at the start of `stream`.
void patch_band_limits(std::span<std::uint8_t> stream, const CodecParams& params, Channel channel);
void patch_plane_offsets(std::span<std::uint8_t> stream, int total_levels, Channel channel, std::uint32_t restart,
                         std::uint32_t end);

}  // namespace varnic::format
