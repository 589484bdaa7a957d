// SPDX-License-Identifier: BSD-2-Clause
// varnic: compress 24-bit colour and 8-bit grey pictures held in memory into .cod streams
// (format version 2.5) and decode .cod streams of versions 2.3, 2.4 and 2.5.
//
// Every call is reentrant: the library keeps no global mutable state, so several threads may
// encode and decode at once as long as they do not share arguments. No exception crosses this
// interface. Every call returns a Result holding either its value or a Status with a message that
// names the cause; nothing the caller passes in is modified, so a failure leaves no half-written
// output behind.
//
// Pictures in memory are rows of pixels, top row first unless the view says otherwise.
// Compressed streams are whole .cod files: a header, then the Y plane's data and, for colour
// pictures, the I and Q planes' data.
#pragma once

// The interface uses std::span and defaulted comparisons: it needs C++20 or later (the CMake
// package asks for at least C++20; with pkg-config, choose -std=c++20 or a later one yourself).
#if !defined(__cplusplus) || (__cplusplus < 202002L && (!defined(_MSVC_LANG) || _MSVC_LANG < 202002L))
#error "varnic.h needs C++20 or later: compile with -std=c++20 (or a later standard)"
#endif

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "varnic/files.h"
#include "varnic/limits.h"
#include "varnic/rules.h"
#include "varnic/version.h"

// The C++ interface is linked into the project's own programs and exported by no shared
// library: libvarnic exports only the C interface of varnic_c.h, whose ABI does not depend on a
// C++ standard library's.
#define VARNIC_API

namespace varnic {

// The library's release, "MAJOR.MINOR.PATCH" (VARNIC_VERSION_STRING of the header the program was
// built with may be older). Releases are not format versions: every release writes .cod 2.5.
[[nodiscard]] VARNIC_API std::string_view version() noexcept;
// The line every varnic program prints for --version: "varnic 1.0.0 (.cod 2.5; reads 2.3–2.5)".
[[nodiscard]] VARNIC_API std::string_view version_text() noexcept;

enum class Status : std::uint8_t {
  kOk = 0,
  kInvalidArgument,     // an option or a picture description is out of range
  kPictureTooSmall,     // a side of 1 or 2 pixels: not even one wavelet level fits
  kNotCompressedFile,   // the first bytes are not the format's magic
  kVersionTooLow,       // format version below 2.3, or major digit not 2
  kVersionTooHigh,      // format version above 2.5
  kInvalidFile,         // the header or the coded data break the format's limits
  kLimitExceeded,       // the picture has more pixels than Limits allows
  kOutOfMemory,
  kCancelled,           // the progress callback asked to stop
  kInternalError,
  kFileError,           // a file cannot be opened, read or written (the message says which and why)
};

// Stable identifier such as "limit-exceeded", for logs and scripts.
[[nodiscard]] VARNIC_API std::string_view to_string(Status status) noexcept;
// A sentence describing the class of failure; Result::message() names the actual cause.
[[nodiscard]] VARNIC_API std::string_view message(Status status) noexcept;

// Either a value or a failure. value() may only be called when ok().
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
  Result(Status status, std::string message) : status_(status), message_(std::move(message)) {
    if (status_ == Status::kOk) status_ = Status::kInternalError;  // an error must say why
  }

  [[nodiscard]] bool ok() const noexcept { return status_ == Status::kOk; }
  explicit operator bool() const noexcept { return ok(); }
  [[nodiscard]] Status status() const noexcept { return status_; }
  // Empty when ok(); otherwise the cause, e.g. "Quality factor is out of range!".
  [[nodiscard]] const std::string& message() const noexcept { return message_; }

  [[nodiscard]] T& value() & { return *value_; }
  [[nodiscard]] const T& value() const& { return *value_; }
  [[nodiscard]] T&& value() && { return std::move(*value_); }

 private:
  Status status_ = Status::kOk;
  std::string message_;
  std::optional<T> value_;
};

// Maximum pixels (width x height) a call will accept or allocate for (see limits.h).
struct Limits {
  static constexpr std::uint64_t kDefaultMaxPixels = varnic::kDefaultMaxPixels;
  std::uint64_t max_pixels = kDefaultMaxPixels;
};

// Called from the calling thread. Encoding reports twice per plane, after its transform and
// after its coding (done 1..2 x planes, kEncodePlane). Decoding reports once when every plane is
// decoded (done = total = planes, kDecodePlane), then a few dozen times as the rows are
// synthesized, every level of a row at once (kSynthesisLevel: done rows of total).
// Return false to stop: the call then fails with Status::kCancelled.
struct Progress {
  enum class Stage : std::uint8_t { kEncodePlane, kDecodePlane, kSynthesisLevel };
  Stage stage = Stage::kEncodePlane;
  int done = 0;   // steps finished so far, 1..total
  int total = 0;
};
using ProgressCallback = std::function<bool(const Progress&)>;

enum class PixelFormat : std::uint8_t {
  kGrey8,   // one byte per pixel, 0 black .. 255 white
  kRgb24,   // red, green, blue
  kBgr24,   // blue, green, red (the byte order of bitmap and Targa files)
};

[[nodiscard]] constexpr int bytes_per_pixel(PixelFormat format) noexcept {
  return format == PixelFormat::kGrey8 ? 1 : 3;
}

// A picture owned by the caller. Rows are `stride` bytes apart (0 means tightly packed).
struct PictureView {
  const std::uint8_t* data = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t stride = 0;
  PixelFormat format = PixelFormat::kRgb24;
  bool bottom_up = false;  // true when the first row in memory is the bottom row (bitmap order)
};

// A picture owned by the library's caller. decode gives the top row first, rows tightly packed;
// read_picture keeps a file's own row order and padding (a bitmap's rows bottom-up, padded to 4
// bytes), so that a large picture is never held twice.
struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelFormat format = PixelFormat::kRgb24;
  std::vector<std::uint8_t> pixels;
  std::size_t row_stride = 0;  // bytes from one row to the next; 0: tightly packed
  bool bottom_up = false;      // true when the first row in memory is the bottom row

  [[nodiscard]] std::size_t stride() const noexcept {
    return row_stride != 0 ? row_stride : std::size_t{width} * static_cast<std::size_t>(bytes_per_pixel(format));
  }
  // Row y counted from the top, whatever the layout.
  [[nodiscard]] const std::uint8_t* row(std::uint32_t y) const noexcept {
    return pixels.data() + stride() * (bottom_up ? height - 1 - y : y);
  }
  [[nodiscard]] PictureView view() const noexcept {
    return PictureView{pixels.data(), width, height, stride(), format, bottom_up};
  }
};

enum class ImageType : std::uint8_t { kOther = 0, kLandscape = 1, kFaces = 2 };

// What the optimizing encoder's choices minimise besides the size: squared error (PSNR), or error
// weighted for structural similarity (SSIM: less where texture masks it, more in flat areas).
enum class Tune : std::uint8_t { kPsnr = 0, kSsim = 1 };

// Encoder settings, with the ranges and defaults of limits.h. The quality factor and image type
// derive every per-level setting; any of the full settings given here replaces the derived value
// (the same rules as the desktop program's Master Setup). check_encode_options says what breaks
// them. A picture too small for L levels is coded with the largest level count that fits.
struct EncodeOptions {
  int quality = kDefaultQuality;    // kMinQuality..kMaxQuality, higher is better and larger
  ImageType type = ImageType::kOther;
  std::optional<int> levels;        // kMinLevels..kMaxLevels wavelet levels; kDefaultLevels when not given
  // Quantization vectors of the Y, I and Q planes: per subband k = 0..3L (finest first, low band
  // last), 0..kMaxQuantStep steps on each side of zero.
  std::optional<std::vector<int>> quant_y;
  std::optional<std::vector<int>> quant_i;
  std::optional<std::vector<int>> quant_q;
  std::optional<std::vector<int>> thresholds;  // per level l = 0..L (finest first), dead zone 0..kMaxThreshold
  std::optional<std::array<int, 3>> dropped;   // dropped levels Y, I, Q: finest levels not coded, 0..L-1
  std::string comment;              // stored as given, at most kMaxCommentBytes
  int threads = 1;                  // 1..kMaxThreads worker threads; output never depends on it
  // 0: the classic encoder (the quality tables, the bytes every earlier version wrote). 1..3: the
  // optimizing encoder, whose files every reader decodes: steps chosen per subband from the
  // quality, mean colour corrected (1, at most about twice the classic time), rate-distortion
  // choices of every value and zerotree with the coder in the loop and reconstruction points at
  // the data (2, at most about three times), more rounds and level counts tried too (3, at most
  // about twelve times). Levels may be given; vectors, thresholds and dropped levels may not, and
  // the type is unused.
  int optimize = kDefaultOptimize;  // kMinOptimize..kMaxOptimize
  // Instead of `quality`: the highest quality whose file has at most target_size bytes, or the
  // lowest whose decoded picture reaches target_psnr decibels (PSNR over RGB, grey for grey
  // pictures), found by bisection in at most 8 trial encodes (file size and PSNR grow with the
  // quality almost everywhere, and the file given always meets the target). One at most; a target
  // no quality reaches fails with kLimitExceeded, naming the nearest one reached.
  std::optional<std::uint64_t> target_size;  // at least 1
  std::optional<double> target_psnr;         // at least kMinTargetPsnr
  Tune tune = Tune::kPsnr;          // the optimizing encoder's only: kSsim needs optimize 1..3
  Limits limits;
  ProgressCallback progress;
};

// Wall-clock seconds spent in each stage; informational only.
struct Timings {
  double transform = 0;  // colour transform and wavelet (either direction)
  double entropy = 0;    // arithmetic coding or decoding
  double total = 0;
};

struct Encoded {
  std::vector<std::uint8_t> bytes;   // the whole .cod file
  int quality = 0;                   // the one asked for, or the one a target chose
  double psnr = 0;                   // of the decoded picture, when a PSNR target chose the quality
  int levels = 0;                    // levels actually coded (below the request for small pictures)
  std::array<int, 3> dropped{};      // dropped levels actually written, Y, I, Q
  // What the optimizer chose (zero for the classic encoder): the distortion scale E that sets
  // every subband's step, and the mean shift added to the Y, I, Q samples to cancel the colour
  // bias of the decoder's rounding.
  double distortion_scale = 0;
  std::array<double, 3> offsets{};
  Timings timings;
};

[[nodiscard]] VARNIC_API Result<Encoded> encode(const PictureView& picture, const EncodeOptions& options);

// A picture the encoder reads row by row instead of from memory, so that neither the caller nor
// the library holds it whole: the classic encoder (optimize 0) then needs about one byte per
// pixel and plane. Every row is read twice per plane, from several threads at once when the
// options give threads, so read_row must be safe to call concurrently with different buffers.
struct PictureSource {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelFormat format = PixelFormat::kRgb24;
  // Copies row `row`, counted from the top, into `out` (width x bytes_per_pixel bytes); false when
  // it cannot, which fails the encode with Status::kInvalidFile.
  std::function<bool(std::uint32_t row, std::span<std::uint8_t> out)> read_row;
};
[[nodiscard]] VARNIC_API Result<Encoded> encode(const PictureSource& picture, const EncodeOptions& options);

// Header facts of a .cod stream, read without decoding any coefficient.
struct Info {
  int version_major = 0;             // 2
  int version_minor = 0;             // 3, 4 or 5
  bool coded = true;                 // byte 7 is 'Z'; otherwise the picture decodes flat
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool grey = false;                 // one plane (8-bit grey) rather than three (24-bit colour)
  int levels = 0;
  std::array<int, 3> dropped{};      // Y, I, Q (I and Q carry no meaning for grey pictures)
  std::string comment;               // empty before version 2.5
  std::uint64_t file_bytes = 0;
  std::uint64_t header_bytes = 0;    // magic and header, up to the first plane's data
  std::array<std::uint64_t, 3> plane_bytes{};  // coded bytes of Y, I, Q (0 for absent planes)
  // Per channel Y, I, Q and subband k = 0..3L (finest level first, low band last): the
  // dequantization step BandMax / QuantVector, 0 for a band coded as zeros.
  std::array<std::vector<double>, 3> steps;
  std::uint64_t bitmap_bytes = 0;    // size of the uncompressed bitmap file of the picture
  double ratio = 0;                  // bitmap_bytes / file_bytes
};

[[nodiscard]] VARNIC_API Result<Info> probe(std::span<const std::uint8_t> file, const Limits& limits = {});
// The same from a path, reading only the header and the planes' symbol tables: a few kilobytes
// whatever the file's size. On failure `system_error` as for read_file.
[[nodiscard]] VARNIC_API Result<Info> probe_file(const std::string& path, const Limits& limits = {},
                                                 int* system_error = nullptr);

struct DecodeOptions {
  // Decode at 1/2^reduce of the size by stopping the synthesis `reduce` levels early:
  // 0 <= reduce < levels. The result is ceil(W / 2^reduce) x ceil(H / 2^reduce).
  int reduce = 0;
  PixelFormat colour_format = PixelFormat::kRgb24;  // kRgb24 or kBgr24; grey files give kGrey8
  int threads = 1;  // 1..kMaxThreads
  Limits limits;
  ProgressCallback progress;
  // The deflate level of the PNG files decode_to_file and decode_to_stream write, kMinPngLevel (stored)
  // ..kMaxPngLevel (smallest, slowest); other kinds and calls do not use it, and the Windows build,
  // whose system PNG encoder has no level, only checks it.
  int png_level = kDefaultPngLevel;
};

struct Decoded {
  Picture picture;
  Info info;
  Timings timings;
};

[[nodiscard]] VARNIC_API Result<Decoded> decode(std::span<const std::uint8_t> file,
                                     const DecodeOptions& options = {});

// decode without holding the picture: each row is handed over as soon as it is finished, bottom
// row first. Every decode, reduced or not, stays within 4 bytes per pixel of the picture it gives
// plus 64 MiB, counting the rows as if the caller kept them all, whatever the file declares.
// `begin` gets the header facts and the rows' pixel format before the first row; `rows` gets each
// row's index counted from the top and its pixels (packed, valid during the call). Either
// returning false stops the decode with Status::kCancelled.
struct RowShape {
  std::uint32_t width = 0;  // of the decoded picture: a reduced decode's, not the file's
  std::uint32_t height = 0;
  PixelFormat format = PixelFormat::kRgb24;
};
struct RowReceiver {
  std::function<bool(const Info& info, const RowShape& shape)> begin;
  std::function<bool(std::uint32_t row, std::span<const std::uint8_t> pixels)> rows;
};
[[nodiscard]] VARNIC_API Result<Info> decode_rows(std::span<const std::uint8_t> file, const DecodeOptions& options,
                                                  const RowReceiver& receiver);
// The picture decode gives for `file` with `options` (size and format), from the header alone.
[[nodiscard]] VARNIC_API Result<RowShape> decoded_shape(std::span<const std::uint8_t> file,
                                                        const DecodeOptions& options = {});

// The one check of encode settings: which option of EncodeOptions breaks which bound. encode runs
// it first and refuses with describe()'s words; a tool or a page runs it before reading any picture
// and words the answer for its own options or fields. The setup dialogs of the desktop program use
// the same rules.
enum class EncodeOption : std::uint8_t {
  kNone,
  kQuality,
  kType,
  kLevels,
  kQuantY,
  kQuantI,
  kQuantQ,
  kThresholds,
  kDropped,  // entry 0 Y, 1 I, 2 Q
  kComment,  // its length in bytes
  kOptimize,
  kThreads,
  kTargetSize,
  kTargetPsnr,  // its value in whole decibels, rounded down (0 for a value that is not a number)
  kTune,
};
struct OptionProblem {
  enum class Kind : std::uint8_t {
    kNone,
    kBelowMinimum,      // value is below bound
    kAboveMaximum,      // value is above bound
    kWrongCount,        // a list of `value` numbers where `bound` are needed (3 x levels + 1, levels + 1)
    kOptimizerChooses,  // a list given with an optimizer level, which chooses it itself
    kConflict,          // given with another setting that excludes it (both targets)
    kNeedsOptimizer,    // a choice only the optimizing encoder makes, given without a level
  };
  EncodeOption option = EncodeOption::kNone;
  Kind kind = Kind::kNone;
  int entry = -1;          // the entry of a list at fault, from 0; -1 for a single value or a count
  std::int64_t bound = 0;  // the minimum, the maximum, or the count needed
  std::int64_t value = 0;  // the value given, or the count given

  // True when there is a problem.
  explicit operator bool() const noexcept { return option != EncodeOption::kNone; }
};
[[nodiscard]] VARNIC_API OptionProblem check_encode_options(const EncodeOptions& options);
// The library's own words for a problem, naming the setting as this header does and no tool's
// option: "the Y quantization vector's entry 4 is 126, above the maximum 125".
[[nodiscard]] VARNIC_API std::string describe(const OptionProblem& problem);

// How far apart two pictures of the same size are. Grey pictures count as colour pictures with
// equal components.
struct Comparison {
  double psnr_rgb = 0;     // over all red, green and blue samples; infinity when identical
  double psnr_y = 0;       // over luma 0.299 R + 0.587 G + 0.114 B (unrounded)
  int max_difference = 0;  // largest absolute difference of one sample
};
[[nodiscard]] VARNIC_API Result<Comparison> compare_pictures(const PictureView& a, const PictureView& b);

// A copy of `picture` top row first, rows packed, in `format`: grey is repeated into colour,
// colour is never made grey (kInvalidArgument).
[[nodiscard]] VARNIC_API Result<Picture> convert_picture(const PictureView& picture, PixelFormat format);

// --- Picture files: bitmap, Targa, PNG, PNM and .cod; JPEG, TIFF and WebP read ----------------

// By the name's extension, case-insensitive (.bmp .dib, .tga .targa, .png, .pnm .ppm .pgm, .cod,
// .jpg .jpeg .jpe .jfif, .tif .tiff, .webp).
[[nodiscard]] VARNIC_API FileKind kind_from_extension(std::string_view path) noexcept;
// By the first bytes; Targa, which has no signature, by name_hint's extension.
[[nodiscard]] VARNIC_API FileKind sniff_kind(std::span<const std::uint8_t> bytes,
                                             std::string_view name_hint = {}) noexcept;
// The first bytes every .cod file of any version starts with, for other programs' content sniffing.
[[nodiscard]] VARNIC_API std::string_view cod_signature() noexcept;
// The extension a file of this kind is written with (".bmp", ...); empty for kUnknown.
[[nodiscard]] VARNIC_API std::string_view extension_of(FileKind kind) noexcept;

struct PictureFile {
  // Grey files give kGrey8, colour files kBgr24, bottom-up; palettes are expanded, transparency
  // is blended over white, and (unless ReadOptions says otherwise) colours are converted to sRGB
  // and the picture is turned upright. A .cod file is decoded.
  Picture picture;
  FileKind kind = FileKind::kUnknown;
  // One sentence per conversion the picture needed ("16-bit samples reduced to 8 bits", "rotated
  // 90° clockwise as its EXIF orientation says"), and one naming the metadata left behind.
  std::vector<std::string> notices;
  // The file's EXIF in one line, "taken 2023-06-01 14:22:05, Pixel 7, 1/120 s, f/1.9, ISO 50,
  // 6.8 mm", within EncodeOptions::comment's 2047 bytes; empty when there is none.
  std::string exif_summary;
};

// What is done with what a photograph says beside its pixels. A .cod file has no place for a
// colour profile or an orientation, and every reader shows its pixels as sRGB, as they are.
struct ReadOptions {
  // false: the picture is turned as its EXIF orientation (1..8) says; true: the stored rows.
  bool keep_orientation = false;
  // false: samples are converted to sRGB (perceptual intent) from an embedded ICC profile or a
  // PNG's gAMA and cHRM; true: kept as stored. CMYK is converted whatever this says.
  bool keep_colours = false;
};

[[nodiscard]] VARNIC_API Result<PictureFile> read_picture(std::span<const std::uint8_t> bytes,
                                                          std::string_view name_hint = {}, const Limits& limits = {},
                                                          const ReadOptions& options = {});
// Files larger than any picture within the limit could be are refused before they are read.
[[nodiscard]] VARNIC_API Result<PictureFile> read_picture_file(const std::string& path, const Limits& limits = {},
                                                               const ReadOptions& options = {});

// The file bytes of `picture` as `kind`: PNM as P5 or P6, a bitmap or Targa of sides at most
// 32767, .cod through encode with `options` (which the other kinds ignore).
[[nodiscard]] VARNIC_API Result<std::vector<std::uint8_t>> write_picture(const PictureView& picture, FileKind kind,
                                                                         const EncodeOptions& options = {});
// Written atomically: the file appears complete or not at all, and a failure leaves an existing
// file as it was. kind kUnknown takes it from the path's extension. Gives the bytes written.
[[nodiscard]] VARNIC_API Result<std::uint64_t> write_picture_file(const std::string& path, const PictureView& picture,
                                                                  FileKind kind = FileKind::kUnknown,
                                                                  Overwrite overwrite = Overwrite::kReplace,
                                                                  const EncodeOptions& options = {});

// A picture file whose rows encode(PictureSource) reads where they lie, so that the picture is
// never whole in memory: a bitmap of 24-bit colour or of the 256 grey levels, uncompressed, gives
// kBgr24 or kGrey8 rows. Any other file gives kInvalidArgument: read_picture_file reads it (and
// reports what is wrong with it). The source keeps the file open while it or a copy lives.
[[nodiscard]] VARNIC_API Result<PictureSource> open_picture_rows(const std::string& path, const Limits& limits = {});

// A .cod file decoded into a picture file of `kind` (bmp, tga, png or pnm), written atomically row
// by row as the rows are finished, so that neither picture nor file is whole in memory: within
// 4 bytes per pixel plus 64 MiB. The decoder's refusal gives its status; a file that cannot be
// written kFileError, with `system_error` as for write_file.
struct WrittenPicture {
  Info info;
  std::uint32_t width = 0;  // of the picture written: a reduced decode's
  std::uint32_t height = 0;
  std::uint64_t bytes = 0;  // of the file written
};
[[nodiscard]] VARNIC_API Result<WrittenPicture> decode_to_file(std::span<const std::uint8_t> file,
                                                               const std::string& path, FileKind kind,
                                                               Overwrite overwrite = Overwrite::kReplace,
                                                               const DecodeOptions& options = {},
                                                               int* system_error = nullptr);

// The same into `write`, which gets the file's bytes piece by piece in order and gives false when
// it cannot take them (kFileError then): for a pipe or standard output, which get no byte when the
// decoder refuses the file's header.
using ByteSink = std::function<bool(std::span<const std::uint8_t> piece)>;
[[nodiscard]] VARNIC_API Result<WrittenPicture> decode_to_stream(std::span<const std::uint8_t> file, FileKind kind,
                                                                 const ByteSink& write,
                                                                 const DecodeOptions& options = {});

// Whole files for callers that handle the bytes themselves, with the same rules: at most
// max_bytes read (pipes and devices are refused), writes atomic. On failure `system_error`, when
// given, receives the system's error number (0 for a thing that is not a regular file).
[[nodiscard]] VARNIC_API Result<std::vector<std::uint8_t>> read_file(const std::string& path, std::uint64_t max_bytes,
                                                                     int* system_error = nullptr);
[[nodiscard]] VARNIC_API Result<std::uint64_t> write_file(const std::string& path, std::span<const std::uint8_t> bytes,
                                                          Overwrite overwrite = Overwrite::kReplace,
                                                          int* system_error = nullptr);
// Removes the temporary files of writes in progress; async-signal-safe, for a handler that then
// ends the process.
VARNIC_API void remove_unfinished_files() noexcept;

}  // namespace varnic
