// SPDX-License-Identifier: BSD-2-Clause
// The picture formats in one table: bitmap, Targa, PNG, PNM, .cod, and the photographs' JPEG, TIFF
// and WebP, each with its kind, its extensions, a test of the first bytes, and a reader and (but
// for the photographs) a writer over memory. Every reader gives the program's picture buffer
// (imagefile.h), the notices of what it had to convert, and what the file says beside its pixels
// (orientation, colour profile, metadata: photo.h), which read_picture then applies. Every writer
// takes rows in any order and byte order (codec::PictureRows). Adding a format is one entry in
// registry.cpp and one file with its reader and writer.
//
// A refusal comes as a FileStatus and, where the status alone cannot say it, a sentence naming the
// file's own numbers (the sides over the limit, libpng's reason, the PNM kind).
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/colour_transform.h"
#include "codec/encoder.h"
#include "imagefile/imagefile.h"
#include "imagefile/photo.h"
#include "optimize/optimize.h"
#include "varnic/limits.h"

namespace varnic::imagefile {


struct LoadedPicture {
  PictureBuffer picture;
  FileKind kind = FileKind::kUnknown;
  // One line per conversion the picture needed (alpha blended, samples reduced, metadata dropped).
  std::vector<std::string> notices;
  // As the reader found them; read_picture has applied them when it gives the picture.
  PhotoFacts facts;
};

// What a writer needs besides the rows: the encoder's settings for .cod, the deflate level for PNG.
struct WriteSettings {
  const format::CodecParams* params = nullptr;  // nullptr: codec::default_codec_params(), quality 50
  codec::EncodeRequest request;
  int optimize_level = 0;   // 0 classic, 1..3 the optimizing encoder (optimize.h)
  int quality = 50;         // the optimizer's quality, as in params
  optimize::Tune tune = optimize::Tune::kPsnr;
  // Set to the encoder's own status when it refuses (a picture too small, settings out of range).
  format::StatusCode* encoder_status = nullptr;
  int png_level = kDefaultPngLevel;  // kMinPngLevel..kMaxPngLevel; the Windows build's PNG has none
};

// `message` receives the refusal in words when the reader has more to say than status_message.
using PictureReader = FileStatus (*)(std::span<const std::uint8_t> bytes, const ReadLimits& limits,
                                     LoadedPicture& out, std::string& message);
using PictureWriter = FileStatus (*)(const codec::PictureRows& rows, const WriteSettings& settings,
                                     std::vector<std::uint8_t>& out, std::string& message);

// Where the rows of a file lie when they are stored just as the program holds them (a bitmap of
// 24-bit colour or of the 256 grey levels, uncompressed): such a file can be encoded from its rows
// in place.
struct StoredRows {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool grey = false;
  bool top_down = false;
  std::uint64_t pixel_offset = 0;
  std::size_t stride = 0;  // bytes from one row to the next in the file
};
// True with `out` filled when `head` (the first bytes of a file of `file_size` bytes) shows rows
// stored so, within the limits and all inside the file.
using StoredRowsProbe = bool (*)(std::span<const std::uint8_t> head, std::uint64_t file_size, const ReadLimits& limits,
                                 StoredRows& out);
// A picture file written as its rows come, so that neither the picture nor the file is ever whole
// in memory: the head once the shape is known, every row in the order the format stores them,
// then what closes the file. Every piece goes to the ByteWriter the writer was made with.
class RowFileWriter {
 public:
  virtual ~RowFileWriter() = default;
  // The rows it takes: top row first (else bottom row first), colour red first (else blue first).
  virtual bool top_down() const = 0;
  virtual bool rgb() const = 0;
  // The format's refusal of the shape (`message` says why when the status cannot), or kCannotWrite.
  virtual FileStatus begin(std::uint32_t width, std::uint32_t height, bool grey, std::string& message) = 0;
  // width x 1 or 3 bytes; false when they could not be written.
  virtual bool row(std::span<const std::uint8_t> pixels) = 0;
  virtual bool finish() = 0;
};
using RowFileWriterMaker = std::unique_ptr<RowFileWriter> (*)(const ByteWriter& write, const WriteSettings& settings);

struct FormatEntry {
  FileKind kind = FileKind::kUnknown;
  std::string_view name;                         // "PNG"
  std::span<const std::string_view> extensions;  // lower case with the dot; the one written first
  bool (*sniff)(std::span<const std::uint8_t> bytes) = nullptr;  // nullptr: known by extension only
  PictureReader read = nullptr;
  PictureWriter write = nullptr;            // nullptr: written through row_writer, if any
  StoredRowsProbe stored_rows = nullptr;    // nullptr: read whole only
  RowFileWriterMaker row_writer = nullptr;  // nullptr: written whole only

  // Neither writer: read only.
  [[nodiscard]] bool writable() const { return write != nullptr || row_writer != nullptr; }
};

[[nodiscard]] std::span<const FormatEntry> format_table();
// nullptr for kUnknown.
[[nodiscard]] const FormatEntry* find_format(FileKind kind);
// By the name's extension, case-insensitive; kUnknown when none matches.
[[nodiscard]] FileKind kind_from_extension(std::string_view path);
// By the first bytes; a format without a signature (Targa) by `name_hint`'s extension.
[[nodiscard]] FileKind sniff_kind(std::span<const std::uint8_t> bytes, std::string_view name_hint);

// The reader sniff_kind picks, then finish_photo with `photo`. `out` is replaced only on success;
// `message`, when given, receives the refusal in words (status_message when the reader says
// nothing more). A kind without a writer gives kUnknownKind from write_picture.
FileStatus read_picture(std::span<const std::uint8_t> bytes, std::string_view name_hint, const ReadLimits& limits,
                        LoadedPicture& out, std::string* message = nullptr, const PhotoOptions& photo = {});
FileStatus write_picture(const codec::PictureRows& rows, FileKind kind, const WriteSettings& settings,
                         std::vector<std::uint8_t>& out, std::string* message = nullptr);

// The same through files: read_whole_file within what a picture under the limit can take, and
// write_file_atomically. `system_error` as there.
FileStatus read_picture_file(const std::string& path, const ReadLimits& limits, LoadedPicture& out,
                             std::string* message = nullptr, int* system_error = nullptr,
                             const PhotoOptions& photo = {});
FileStatus write_picture_file(const std::string& path, const codec::PictureRows& rows, FileKind kind,
                              const WriteSettings& settings, Overwrite overwrite, std::string* message = nullptr,
                              int* system_error = nullptr);

// --- Pictures by rows, so that a large one is never whole in memory ----------------------------

// The largest head a StoredRowsProbe needs: headers and a full colour table.
inline constexpr std::size_t kStoredRowsHeadBytes = 2048;

// The rows of a picture file read where they lie, as the encoder asks for them.
class StoredRowReader {
 public:
  StoredRowReader() = default;
  ~StoredRowReader();
  StoredRowReader(const StoredRowReader&) = delete;
  StoredRowReader& operator=(const StoredRowReader&) = delete;

  // kOk; kUnknownKind when the file's rows are not stored as the program holds them (read such a
  // file whole with read_picture_file, which also gives its errors); kCannotOpen.
  FileStatus open(const std::string& path, const ReadLimits& limits);
  [[nodiscard]] const StoredRows& rows() const { return rows_; }
  // Row `row` counted from the top: width x 1 or 3 bytes as stored (blue first). False on a read
  // error. Safe from several threads at once.
  bool read(std::uint32_t row, std::span<std::uint8_t> out);

 private:
  // Reads `n` bytes at `offset`; false when the file has fewer.
  bool read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n);

  StoredRows rows_;
#if defined(_WIN32)
  std::ifstream file_;
  std::mutex mutex_;
#else
  int fd_ = -1;  // read at offsets, with no shared position: the encoder's threads read at once
#endif
};

// Receives the rows of a picture file written by rows: `begin` once with the shape, then `row` for
// each row in the order and byte order the format asks (width x 1 or 3 bytes). Either gives false
// when the file cannot take it.
struct RowFileSink {
  bool top_down = false;  // the top row first, else the bottom row first
  bool rgb = false;       // colour red first, else blue first
  std::function<bool(std::uint32_t width, std::uint32_t height, bool grey)> begin;
  std::function<bool(std::span<const std::uint8_t> row)> row;
};
// Whether `kind` can be written by rows.
[[nodiscard]] bool writes_by_rows(FileKind kind);
// The bytes of a file of `kind` handed to `write` piece by piece as `produce` hands its rows to the
// sink. kCannotWrite when `produce` gives false (it gave up, or `write` did); kUnknownKind for a
// kind written whole only; the format's refusal of the shape.
FileStatus write_picture_by_rows(FileKind kind, const WriteSettings& settings,
                                 const std::function<bool(const RowFileSink& sink)>& produce, const ByteWriter& write,
                                 std::string* message = nullptr);
// The same into a file written atomically: a failure leaves the destination as it was
// (`system_error` 0 when `produce` gave up by itself).
FileStatus write_picture_file_by_rows(const std::string& path, FileKind kind, const WriteSettings& settings,
                                      const std::function<bool(const RowFileSink& sink)>& produce, Overwrite overwrite,
                                      std::string* message = nullptr, int* system_error = nullptr);

// The largest file read_picture_file reads: the least compact format (ASCII PNM, up to 16 bytes a
// pixel) at the pixel limit, plus headers.
[[nodiscard]] std::uint64_t max_picture_file_bytes(const ReadLimits& limits);

// "the picture is WxH = N pixels, more than the limit of L": every format's words for a picture
// over the limit.
[[nodiscard]] std::string pixel_limit_message(std::uint64_t width, std::uint64_t height, std::uint64_t limit);

// A grey (mode 61) or colour (mode 62) picture with its stored header filled and, with `allocate`,
// zeroed pixels, with room for the padding of the picture turned a quarter (orient_picture).
// kBitmapSize for sides the program cannot hold, kOutOfMemory.
FileStatus new_picture(std::uint32_t width, std::uint32_t height, bool grey, bool allocate, PictureBuffer& out);
// new_picture's shape without pixels, for a bitmap or Targa writer, its refusal in words.
FileStatus shape_to_write(std::uint32_t width, std::uint32_t height, bool grey, PictureBuffer& out,
                          std::string& message);
// The rows of a grey or colour picture (not a palette one) for a writer.
[[nodiscard]] codec::PictureRows rows_of(const PictureBuffer& picture);
// Row y (counted from the bottom) of `rows`; colour as red-green-blue when `rgb`, else
// blue-green-red.
void copy_row(const codec::PictureRows& rows, std::uint32_t y, bool rgb, std::uint8_t* out);
// Copies `rows` into `out` bottom row first, blue first, rows `stride` bytes apart.
void copy_rows_bottom_up(const codec::PictureRows& rows, std::uint8_t* out, std::size_t stride);

}  // namespace varnic::imagefile
