// The picture formats in one table: bitmap, Targa, PNG, PNM and .cod, each with its kind, its
// extensions, a test of the first bytes, and a reader and a writer over memory. Every reader gives
// the program's picture buffer (imagefile.h) and the notices of what it had to convert; every
// writer takes rows in any order and byte order (codec::PictureRows). Adding a format is one entry
// in registry.cpp and one file with its reader and writer.
//
// A refusal comes as a FileStatus and, where the status alone cannot say it, a sentence naming the
// file's own numbers (the sides over the limit, libpng's reason, the PNM kind).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/colour_transform.h"
#include "codec/encoder.h"
#include "imagefile/imagefile.h"

namespace varnic::imagefile {

using varnic::FileKind;

struct LoadedPicture {
  PictureBuffer picture;
  FileKind kind = FileKind::kUnknown;
  // One line per conversion the picture needed (alpha blended, samples reduced, metadata dropped).
  std::vector<std::string> notices;
};

// What a writer needs besides the rows: only .cod uses it.
struct WriteSettings {
  const format::CodecParams* params = nullptr;  // nullptr: codec::default_codec_params(), quality 50
  codec::EncodeRequest request;
  int optimize_level = 0;   // 0 classic, 1..3 the optimising encoder (optimize.h)
  int quality = 50;         // the optimiser's quality, as in params
  // Set to the encoder's own status when it refuses (a picture too small, settings out of range).
  format::StatusCode* encoder_status = nullptr;
};

// `message` receives the refusal in words when the reader has more to say than status_message.
using PictureReader = FileStatus (*)(std::span<const std::uint8_t> bytes, const ReadLimits& limits,
                                     LoadedPicture& out, std::string& message);
using PictureWriter = FileStatus (*)(const codec::PictureRows& rows, const WriteSettings& settings,
                                     std::vector<std::uint8_t>& out, std::string& message);

struct FormatEntry {
  FileKind kind = FileKind::kUnknown;
  std::string_view name;                         // "PNG"
  std::span<const std::string_view> extensions;  // lower case with the dot; the one written first
  bool (*sniff)(std::span<const std::uint8_t> bytes) = nullptr;  // nullptr: known by extension only
  PictureReader read = nullptr;
  PictureWriter write = nullptr;
};

[[nodiscard]] std::span<const FormatEntry> format_table();
// nullptr for kUnknown.
[[nodiscard]] const FormatEntry* find_format(FileKind kind);
// By the name's extension, case-insensitive; kUnknown when none matches.
[[nodiscard]] FileKind kind_from_extension(std::string_view path);
// By the first bytes; a format without a signature (Targa) by `name_hint`'s extension.
[[nodiscard]] FileKind sniff_kind(std::span<const std::uint8_t> bytes, std::string_view name_hint);

// The reader sniff_kind picks. `out` is replaced only on success; `message`, when given, receives
// the refusal in words (status_message when the reader says nothing more).
FileStatus read_picture(std::span<const std::uint8_t> bytes, std::string_view name_hint, const ReadLimits& limits,
                        LoadedPicture& out, std::string* message = nullptr);
FileStatus write_picture(const codec::PictureRows& rows, FileKind kind, const WriteSettings& settings,
                         std::vector<std::uint8_t>& out, std::string* message = nullptr);

// The same through files: read_whole_file within what a picture under the limit can take, and
// write_file_atomically. `system_error` as there.
FileStatus read_picture_file(const std::string& path, const ReadLimits& limits, LoadedPicture& out,
                             std::string* message = nullptr, int* system_error = nullptr);
FileStatus write_picture_file(const std::string& path, const codec::PictureRows& rows, FileKind kind,
                              const WriteSettings& settings, Overwrite overwrite, std::string* message = nullptr,
                              int* system_error = nullptr);

// The largest file read_picture_file reads: the least compact format (ASCII PNM, up to 16 bytes a
// pixel) at the pixel limit, plus headers.
[[nodiscard]] std::uint64_t max_picture_file_bytes(const ReadLimits& limits);

// "the picture is WxH = N pixels, more than the limit of L": every format's words for a picture
// over the limit.
[[nodiscard]] std::string pixel_limit_message(std::uint64_t width, std::uint64_t height, std::uint64_t limit);

// A grey (mode 61) or colour (mode 62) picture with its stored header filled and, with `allocate`,
// zeroed pixels. kBitmapSize for sides the program cannot hold, kOutOfMemory.
FileStatus new_picture(std::uint32_t width, std::uint32_t height, bool grey, bool allocate, PictureBuffer& out);
// The rows of a grey or colour picture (not a palette one) for a writer.
[[nodiscard]] codec::PictureRows rows_of(const PictureBuffer& picture);
// Copies `rows` into `out` bottom row first, blue first, rows `stride` bytes apart.
void copy_rows_bottom_up(const codec::PictureRows& rows, std::uint8_t* out, std::size_t stride);

}  // namespace varnic::imagefile
