// Picture files: Windows bitmaps and Targa pictures read into, and written
// from, the program's picture-buffer layout; whole .cod files loaded with
// their version check and saved as they are; every file written atomically.
//
// Picture-buffer layout: rows bottom-up, each padded with zero bytes to a
// multiple of 4; 24-bit pixels are blue, green, red; 8-bit pixels are grey
// levels (mode 61) or colour-table indices (mode 622).
//
// The readers work on memory buffers so that tests and fuzzers need no files;
// the *_file wrappers read or write paths. A reader fills its output only on
// success: a refused file leaves the caller's previous picture untouched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/params.h"

namespace varnic::imagefile {

// ImageMode values, the codec's own.
inline constexpr std::uint16_t kModeGrey = codec::kImageModeGrey;
inline constexpr std::uint16_t kModeColour = codec::kImageModeColour;
inline constexpr std::uint16_t kModePalette = codec::kImageModePalette;  // 8-bit colour palette

// The .cod header stores sides as int16, so nothing wider can be coded.
inline constexpr int kMaxSide = 32767;
// Default refusal threshold for declared picture sizes (about 768 MiB at 24 bits).
inline constexpr std::uint64_t kDefaultPixelLimit = std::uint64_t{1} << 28;

inline constexpr std::size_t kFileHeaderBytes = 14;
inline constexpr std::size_t kInfoHeaderBytes = 40;
inline constexpr std::size_t kTargaHeaderBytes = 18;
inline constexpr std::size_t kColourTableEntries = 256;
inline constexpr std::size_t kColourTableBytes = 4 * kColourTableEntries;
inline constexpr std::size_t kDisplayHeaderBytes = kInfoHeaderBytes + kColourTableBytes;  // 1064
// The arithmetic decoder looks a few bytes past the last code byte; a loaded
// .cod file is followed by this many zero bytes.
inline constexpr std::size_t kCompressedSpareBytes = 10;
// FileTitle holds 79 characters and a terminator.
inline constexpr std::size_t kMaxFileTitle = 79;

// Faults of reading and writing files. Every value has one message
// (status_message) and one message-box layout (file_message).
enum class [[nodiscard]] FileStatus : int {
  kOk = 0,
  kCannotOpen,         // file missing or unreadable, or the destination cannot be created
  kNotCompressed,      // no "QVT" magic, or shorter than the 8-byte magic
  kVersionTooLow,      // major digit not 2, or minor below 3
  kVersionTooHigh,     // minor above 5
  kNotBitmap,          // neither "BM" nor "MB", or an information header under 40 bytes
  kBitmapDepth,        // bit count other than 24 or 8
  kBitmapCompressed,   // compression field not 0
  kBitmapSize,         // width or height 0, above kMaxSide, or too large a row
  kBitmapColours,      // more than 256 colours used
  kBitmapTruncated,    // header, colour table or pixel rows end past the file
  kTargaType,          // image types 0, 1, 9, 10, 11
  kTargaDepth,         // pixel depth other than 8 or 24
  kTargaColourMap,     // map entries not 24 bits, or entries beyond 256
  kTargaSize,          // width or height 0 or above kMaxSide
  kTargaTruncated,     // header, ID, colour map or pixel rows end past the file
  kPictureTooLarge,    // width × height above the caller's pixel limit
  kFileTooLarge,       // file larger than any picture within the pixel limit
  kOutOfMemory,
  kCannotWrite,        // a write, flush or rename failed; the old file is intact
};

// The exact message of a status ("" for kOk).
const char* status_message(FileStatus status);

// Message-box text and caption for a status about `path`, laid out as the
// program's file messages are: open and version faults and write faults show
// the path as text and the message as caption; bitmap and Targa faults the
// other way round.
struct FileMessage {
  std::string text_;
  std::string caption_;
};
FileMessage file_message(FileStatus status, std::string_view path);

// The platform's 40-byte bitmap information header.
struct InfoHeader {
  std::uint32_t size_ = kInfoHeaderBytes;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;  // positive: rows bottom-up
  std::uint16_t planes_ = 1;
  std::uint16_t bit_count_ = 24;  // 24 or 8
  std::uint32_t compression_ = 0;
  std::uint32_t image_size_ = 0;
  std::int32_t x_pels_per_metre_ = 0;
  std::int32_t y_pels_per_metre_ = 0;
  std::uint32_t colours_used_ = 0;       // 0..256
  std::uint32_t colours_important_ = 0;  // 0..256
};

// A display header: the information header and a 256-entry colour table of
// (blue, green, red, 0) entries.
struct DisplayHeader {
  InfoHeader info_;
  std::array<std::uint8_t, kColourTableBytes> colour_table_{};
};

// The 1064 bytes of a display header as the platform's drawing calls take them.
std::array<std::uint8_t, kDisplayHeaderBytes> serialize_display_header(const DisplayHeader& header);
void write_info_header(const InfoHeader& info, std::span<std::uint8_t, kInfoHeaderBytes> out);
InfoHeader parse_info_header(std::span<const std::uint8_t, kInfoHeaderBytes> bytes);

// Entry i = (i, i, i, 0).
void set_grey_colour_table(DisplayHeader& header);
// True when every entry has blue = green = red.
bool is_grey_palette(const DisplayHeader& header);

// Fills the information header for drawing a picture of `mode` (61, 62 or
// 622): size, sides and planes always; for grey pictures or an 8-bit screen
// 8 bits and 256 colours; for colour 24 bits and no colours; a palette
// picture on a true-colour screen keeps the depth and counts it was read with.
void fill_bitmap_header(std::uint16_t mode, bool eight_bit_display, int width, int height,
                        std::uint32_t picture_bytes, DisplayHeader& header);

// Row layout of a picture buffer and its 8-bit index buffer.
struct RowGeometry {
  std::size_t row_bytes_ = 0;        // bits × width / 8
  std::size_t row_padding_ = 0;      // zero bytes after each row (0..3)
  std::size_t picture_bytes_ = 0;    // (row_bytes + row_padding) × height
  std::size_t index_row_padding_ = 0;
  std::size_t index_bytes_ = 0;      // (width + index_row_padding) × height
};
RowGeometry row_geometry(int bits_per_pixel, int width, int height);

// A picture as the program holds it.
struct Picture {
  int width_ = 0;                        // 1..kMaxSide
  int height_ = 0;                       // 1..kMaxSide
  int bits_per_pixel_ = 24;              // 24 or 8
  std::uint16_t image_mode_ = kModeColour;
  std::vector<std::uint8_t> pixels_;     // picture-buffer layout, picture_bytes_ long
  DisplayHeader header_;                 // normalised information header and colour table

  RowGeometry geometry() const { return row_geometry(bits_per_pixel_, width_, height_); }
};

struct ReadLimits {
  std::uint64_t max_pixels_ = kDefaultPixelLimit;
};

// Readers of memory buffers. On success `out` is replaced; on failure it is
// not touched.
FileStatus read_bitmap(std::span<const std::uint8_t> data, Picture& out, const ReadLimits& limits = {});
FileStatus read_targa(std::span<const std::uint8_t> data, Picture& out, const ReadLimits& limits = {});

// The version check of a .cod file's first 8 bytes.
FileStatus check_compressed_magic(std::span<const std::uint8_t> data);

// A whole .cod file followed by kCompressedSpareBytes zero bytes.
struct CompressedFile {
  std::vector<std::uint8_t> bytes_;  // file_size_ + kCompressedSpareBytes
  std::size_t file_size_ = 0;

  std::span<const std::uint8_t> file() const { return {bytes_.data(), file_size_}; }
};
FileStatus load_compressed(std::span<const std::uint8_t> data, CompressedFile& out);

// Path wrappers. Files larger than a picture within the limit could be are
// refused before they are read.
FileStatus read_bitmap_file(const std::string& path, Picture& out, const ReadLimits& limits = {});
FileStatus read_targa_file(const std::string& path, Picture& out, const ReadLimits& limits = {});
FileStatus load_compressed_file(const std::string& path, CompressedFile& out,
                                const ReadLimits& limits = {});
// Reads a whole file of at most max_bytes bytes.
FileStatus read_whole_file(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t max_bytes);

// Encoders to bytes. A bitmap carries the picture's stored header with the
// mode's depth and colour counts; a Targa file is type 3 (grey) or type 2
// (true colour, also for palette pictures, whose palette is applied).
// A picture whose sides, depth or buffer size are inconsistent gives no bytes.
std::vector<std::uint8_t> encode_bitmap(const Picture& picture);
std::vector<std::uint8_t> encode_targa(const Picture& picture);
// The bitmap file of a grey or colour picture whose pixels the caller holds
// in another layout: `shape` gives sides, mode and header (its pixels are
// not read) and `fill_rows` writes the pixel area, bottom row first, rows
// padded to 4 bytes (the padding arrives zeroed). Saves a whole intermediate
// picture. Palette pictures and inconsistent shapes give no bytes.
std::vector<std::uint8_t> encode_bitmap(const Picture& shape,
                                        const std::function<void(std::span<std::uint8_t>)>& fill_rows);

// Writes `bytes` to `path` through a temporary file in the destination's real
// directory (symbolic links followed), with an existing file's permission
// bits, flushed to disk and renamed over the destination only when complete.
// Any failure removes the temporary file and leaves the old file as it was.
FileStatus write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes);

// An inconsistent picture (see the encoders) is kCannotWrite, and nothing is written.
FileStatus save_bitmap_file(const std::string& path, const Picture& picture);
FileStatus save_targa_file(const std::string& path, const Picture& picture);
FileStatus save_compressed_file(const std::string& path, std::span<const std::uint8_t> stream);

// The name after the last '/' of `path` (on Windows also a backslash or a colon), shortened
// to kMaxFileTitle bytes with "..." in its middle when longer; multi-byte UTF-8 characters are
// kept whole.
std::string file_title(std::string_view path);

}  // namespace varnic::imagefile
