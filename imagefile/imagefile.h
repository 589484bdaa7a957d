// SPDX-License-Identifier: BSD-2-Clause
// PictureBuffer files: Windows bitmaps and Targa pictures read into, and written
// from, the program's picture-buffer layout; whole .cod files loaded with
// their version check and saved as they are; every file written atomically.
//
// PictureBuffer-buffer layout: rows bottom-up, each padded with zero bytes to a
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

#include "format/format.h"
#include "utils/picture_layout.h"
#include "varnic/files.h"

namespace varnic::imagefile {


inline constexpr std::size_t kFileHeaderBytes = 14;
inline constexpr std::size_t kInfoHeaderBytes = 40;
inline constexpr std::size_t kTargaHeaderBytes = 18;
inline constexpr std::size_t kColourTableEntries = 256;
inline constexpr std::size_t kColourTableBytes = 4 * kColourTableEntries;
inline constexpr std::size_t kDisplayHeaderBytes = kInfoHeaderBytes + kColourTableBytes;  // 1064
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
  kBitmapSize,         // width or height 0, above format::kMaxSide, or too large a row
  kBitmapColours,      // more than 256 colours used
  kBitmapTruncated,    // header, colour table or pixel rows end past the file
  kTargaType,          // image types 0, 1, 9, 10, 11
  kTargaDepth,         // pixel depth other than 8 or 24
  kTargaColourMap,     // map entries not 24 bits, or entries beyond 256
  kTargaSize,          // width or height 0 or above format::kMaxSide
  kTargaTruncated,     // header, ID, colour map or pixel rows end past the file
  kPictureTooLarge,    // width × height above the caller's pixel limit
  kFileTooLarge,       // file larger than any picture within the pixel limit
  kOutOfMemory,
  kCannotWrite,        // a write, flush or rename failed; the old file is intact
  // The registry's formats (registry.h).
  kUnknownKind,        // no format's signature, and no Targa extension
  kPictureSides,       // a PNG or PNM side above format::kMaxSide
  kNotPng,             // no PNG signature
  kPngCorrupt,         // libpng refused the data
  kPngTruncated,       // less compressed data than the picture needs
  kNotPnm,             // no 'P' and digit
  kPnmKind,            // P1, P4 or P7
  kPnmHeader,          // width, height or maxval missing
  kPnmEmpty,           // width or height 0
  kPnmMaxval,          // maxval 0 or above 65535
  kPnmBlank,           // binary samples not preceded by one blank
  kPnmTruncated,       // fewer samples than the picture needs
  kPnmSample,          // a sample above maxval
  kCompressedDamaged,  // a .cod file the decoder refuses
  kCannotEncode,       // the encoder refused the picture or the settings
  kJpegCorrupt,        // libjpeg refused the data
  kJpegTruncated,      // less coded data than the picture needs, or the file ends inside it
  kTiffCorrupt,        // libtiff refused the file, or its strips or tiles
  kWebpCorrupt,        // libwebp refused the data, or a chunk ends past the file
  kPhotoLayout,        // samples of a kind not read: floating point, an animation, odd bit depths
  kCmykWithoutProfile, // CMYK samples whose colours no embedded profile gives
  kFormatNotBuilt,     // JPEG, TIFF or WebP in a build without their libraries (Windows)
};

// The exact message of a status ("" for kOk).
const char* status_message(FileStatus status);

// Message-box text and caption for a status about `path`, laid out as the
// program's file messages are: open and version faults and write faults show
// the path as text and the message as caption; bitmap and Targa faults the
// other way round.
struct FileMessage {
  std::string text;
  std::string caption;
};
FileMessage file_message(FileStatus status, std::string_view path);

// The platform's 40-byte bitmap information header.
struct InfoHeader {
  std::uint32_t size = kInfoHeaderBytes;
  std::int32_t width = 0;
  std::int32_t height = 0;  // positive: rows bottom-up
  std::uint16_t planes = 1;
  std::uint16_t bit_count = 24;  // 24 or 8
  std::uint32_t compression = 0;
  std::uint32_t image_size = 0;
  std::int32_t x_pels_per_metre = 0;
  std::int32_t y_pels_per_metre = 0;
  std::uint32_t colours_used = 0;       // 0..256
  std::uint32_t colours_important = 0;  // 0..256
};

// A display header: the information header and a 256-entry colour table of
// (blue, green, red, 0) entries.
struct DisplayHeader {
  InfoHeader info;
  std::array<std::uint8_t, kColourTableBytes> colour_table{};
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

// A picture as the program holds it.
struct PictureBuffer {
  int width = 0;                        // 1..format::kMaxSide
  int height = 0;                       // 1..format::kMaxSide
  int bits_per_pixel = 24;              // 24 or 8
  std::uint16_t image_mode = format::kImageModeColour;
  std::vector<std::uint8_t> pixels;     // picture-buffer layout, picture_bytes_ long
  DisplayHeader header;                 // normalised information header and colour table

  utils::RowGeometry geometry() const {
    return utils::row_geometry(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), bits_per_pixel);
  }
};

struct ReadLimits {
  std::uint64_t max_pixels = format::kDefaultPixelLimit;
};

// Readers of memory buffers. On success `out` is replaced; on failure it is
// not touched.
FileStatus read_bitmap(std::span<const std::uint8_t> data, PictureBuffer& out, const ReadLimits& limits = {});
FileStatus read_targa(std::span<const std::uint8_t> data, PictureBuffer& out, const ReadLimits& limits = {});

// A whole .cod file followed by format::kSpareBytes zero bytes.
struct CompressedFile {
  std::vector<std::uint8_t> bytes;  // file_size + format::kSpareBytes
  std::size_t file_size = 0;

  std::span<const std::uint8_t> file() const { return {bytes.data(), file_size}; }
};
FileStatus load_compressed(std::span<const std::uint8_t> data, CompressedFile& out);

// Path wrappers. Files larger than a picture within the limit could be are
// refused before they are read.
FileStatus read_bitmap_file(const std::string& path, PictureBuffer& out, const ReadLimits& limits = {});
FileStatus read_targa_file(const std::string& path, PictureBuffer& out, const ReadLimits& limits = {});
FileStatus load_compressed_file(const std::string& path, CompressedFile& out,
                                const ReadLimits& limits = {});
// Reads a whole file of at most max_bytes bytes. Pipes and devices are refused without waiting
// for a writer. On failure `system_error`, when given, receives the system's errno, EISDIR for a
// directory, and 0 for other things that are not regular files.
FileStatus read_whole_file(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t max_bytes,
                           int* system_error = nullptr);

// Fills `out` with the file's bytes at `offset`; false when they cannot all be read.
using PieceReader = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;
using PieceUser = std::function<FileStatus(std::uint64_t size, const PieceReader& read)>;
// The file opened as read_whole_file opens it, handed to `use` with its size and a reader of any of
// its pieces, for callers that need a few bytes of a file that may be huge. Gives `use`'s status.
FileStatus read_file_pieces(const std::string& path, const PieceUser& use, int* system_error = nullptr);

// Encoders to bytes. A bitmap carries the picture's stored header with the
// mode's depth and colour counts; a Targa file is type 3 (grey) or type 2
// (true colour, also for palette pictures, whose palette is applied).
// A picture whose sides, depth or buffer size are inconsistent gives no bytes.
std::vector<std::uint8_t> encode_bitmap(const PictureBuffer& picture);
std::vector<std::uint8_t> encode_targa(const PictureBuffer& picture);

// Writes `bytes` to `path` through a temporary file in the destination's real
// directory (symbolic links followed), with an existing file's permission
// bits, flushed to disk and renamed over the destination only when complete.
// Any failure removes the temporary file and leaves the old file as it was.
// Where the file system allows, the temporary file has no name until it is
// complete. With Overwrite::kRefuse an existing destination is never replaced,
// even one created by another process while this one was writing: the result
// is then kCannotWrite with EEXIST. `system_error` as for read_whole_file.
FileStatus write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                 Overwrite overwrite = Overwrite::kReplace, int* system_error = nullptr);

// The same with the bytes made piece by piece: `produce` calls `write` with each piece in order
// and returns false (with `write` false, or on its own failure) to abandon the file, which then
// leaves the destination as it was (kCannotWrite, `system_error` 0 when `produce` gave up). A
// large file never has to be whole in memory.
using ByteWriter = std::function<bool(std::span<const std::uint8_t>)>;
FileStatus write_file_atomically(const std::string& path, const std::function<bool(const ByteWriter& write)>& produce,
                                 Overwrite overwrite = Overwrite::kReplace, int* system_error = nullptr);

// Removes the named temporary files of writes in progress. Async-signal-safe:
// for a handler of SIGTERM and SIGINT that then ends the process.
void remove_temporary_files() noexcept;

// An inconsistent picture (see the encoders) is kCannotWrite, and nothing is written.
FileStatus save_bitmap_file(const std::string& path, const PictureBuffer& picture);
FileStatus save_targa_file(const std::string& path, const PictureBuffer& picture);
FileStatus save_compressed_file(const std::string& path, std::span<const std::uint8_t> stream);

// The name after the last '/' of `path` (on Windows also a backslash or a colon), shortened
// to kMaxFileTitle bytes with "..." in its middle when longer; multi-byte UTF-8 characters are
// kept whole.
std::string file_title(std::string_view path);

}  // namespace varnic::imagefile
