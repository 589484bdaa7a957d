// SPDX-License-Identifier: BSD-2-Clause
// The one decode driver: a stream's codes (decoder/decoder.h), synthesized row by row and turned
// into rows of pixels through the format's inverse colour tables as each is finished, bottom row
// first or top row first. The whole picture, a reduced one and every preview level of the desktop program are the
// same decode stopped after more or fewer synthesis steps. decode_rows is the whole road from a
// file; the desktop program calls decode_coefficients and reconstruct apart to time them apart.
//
// Rows come as the program's picture buffer holds them: the pixels (grey bytes, or three bytes
// per pixel blue first unless asked for red first), then zero bytes to a multiple of 4. Version
// 2.3 colour files are the exception at full size: their colour conversion writes red, green,
// blue over all padded samples one after another, and the picture buffer's rows are cut out of
// that sequence (its bytes fill the row padding too, and a picture larger than the sequence ends
// in zeros).
//
// Memory: the codes of the planes, kept only where the picture reads them (about a byte per
// pixel and plane), and a few rows per level; with the picture held by the caller at b bytes a
// pixel, codes that would take the decode past 4 bytes a pixel (plus kCodeSlack) leave their
// finest level in the stream, read twice instead of held.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "decoder/decoder.h"
#include "format/format.h"

namespace varnic::display {


// The fixed preview palette for 8-bit screens: 4 blue levels (0, 64, 128,
// 192) by 8 green by 8 red levels (0, 32, .., 224); entry i has blue
// 64 (i / 64), green 32 ((i / 8) mod 8), red 32 (i mod 8).
struct PaletteEntry {
  std::uint8_t blue, green, red;
};
using PreviewPaletteTable = std::array<PaletteEntry, 256>;
const PreviewPaletteTable& preview_palette();

// The most a decode may take, in bytes per pixel of the picture it gives, besides kCodeSlack.
inline constexpr std::uint64_t kBoundBytesPerPixel = 4;
// What the codes may take beyond the bound's share: small pictures keep all their codes, whatever
// the caller holds. The rest of the bound's 64 MiB is the program's own (code, stacks, rows).
inline constexpr std::uint64_t kCodeSlack = std::uint64_t{32} << 20;

// Called on the calling thread once the planes' codes are decoded (done = total = planes), then
// as the rows are synthesized (done rows of total, a few dozen times); returning false cancels
// with kCancelled.
enum class DecodeStage { kPlanesDecoded, kRowsSynthesized };
using ProgressHook = std::function<bool(DecodeStage stage, std::uint32_t done, std::uint32_t total)>;

struct DecodeRequest {
  // Synthesis steps left out, 0..levels - 1: the picture is ceil(W / 2^reduce) x ceil(H / 2^reduce),
  // each sample divided by 2^reduce (toward zero) before it becomes a pixel, as the previews are.
  int reduce = 0;
  // The whole region the planes have at that size (the padded size >> reduce), as a preview shows
  // it, instead of the picture's share; reduce may then also be levels (the low band alone).
  bool whole_region = false;
  bool rgb_order = false;  // colour pixels red first rather than blue first
  bool top_down = false;   // rows top row first rather than bottom row first
  int threads = 1;         // planes are decoded and synthesized on up to this many threads
  // Bytes per pixel of the picture the caller keeps while the rows come (0 for rows written
  // out as they come): the codes are held within what the bound leaves. Rows top row first
  // always hold every code.
  int held_bytes_per_pixel = 0;
  ProgressHook progress;
};

struct PictureShape {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bits_per_pixel = 24;  // 24 colour, 8 grey
  std::size_t stride = 0;   // bytes of every row handed over, padding included
};

// The shape of what `request` gives; kReconstructFailed for a reduce out of range.
format::StatusCode picture_shape(const format::CodecParams& params, const format::Magic& magic,
                         const DecodeRequest& request, PictureShape& shape);

struct RowSink {
  // Called once with the file's header, after its codes are decoded and before any row;
  // returning false cancels.
  std::function<bool(const format::FileHeader& header, const PictureShape& shape)> begin;
  // Row `row` counted from the bottom (0 is the bottom row), `shape.stride` bytes, in the order
  // asked for; returning false cancels.
  std::function<bool(std::uint32_t row, std::span<const std::uint8_t> bytes)> row;
};

// The whole road from a file: the header (limits and all checks of format::parse_header), every
// plane's codes, then the rows.
format::StatusCode decode_rows(std::span<const std::uint8_t> file, std::uint64_t max_pixels, const DecodeRequest& request,
                       const RowSink& sink);

// The rows from codes already decoded (every band `request` reads held or streamed: the desktop
// program's whole codes, the encoder's quantized planes through decoder::codes_from_quantized).
// sink.begin is not called. Grey (mode 61) uses the Y codes alone.
format::StatusCode decode_codes(const decoder::CodeSet& codes, const format::CodecParams& params, const format::Magic& magic,
                        const DecodeRequest& request, const RowSink& sink);

// --- The program's picture buffer ------------------------------------------------------------

// Pixels as the picture buffer holds them: rows bottom-up, `stride` bytes apart.
struct DecodedPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bits_per_pixel = 24;
  std::size_t stride = 0;
  std::vector<std::uint8_t> pixels;
};

struct DecodedFile {
  format::FileHeader header;  // the file's settings, magic and comment
  DecodedPicture picture;
};

// decode_rows into a picture buffer. `out` is replaced only on success: a refused or damaged file
// leaves the caller's picture alone.
format::StatusCode decode_file(std::span<const std::uint8_t> file, std::uint64_t max_pixels, const DecodeRequest& request,
                       DecodedFile& out);

// The header (as decode_rows checks it) and every plane's codes whole, decoded on up to `threads`
// threads, for reconstruct. `header` and `codes` are replaced only on success.
format::StatusCode decode_coefficients(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads,
                               format::FileHeader& header, decoder::CodeSet& codes);

// A preview of the picture before synthesis step `level` (0 = the coarsest low band alone): the
// whole region of (padded_height >> s) x (padded_width >> s) samples, s = total_levels - level,
// each divided by 2^s. Meant to be drawn stretched over the whole picture.
struct PreviewFrame {
  int level = 0;
  int total_levels = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits_per_pixel = 8;  // 8 grey, 24 colour
  std::span<const std::uint8_t> pixels;  // rows bottom-up padded to 4 bytes, in the picture's byte order
};
// Returning false abandons the reconstruction with kCancelled.
using PreviewHook = std::function<bool(const PreviewFrame&)>;

// The picture buffer of whole codes, with a preview before each synthesis step when `preview`
// is set (each one the decode stopped at that step). `out` is replaced only on success.
format::StatusCode reconstruct(const decoder::CodeSet& codes, const format::CodecParams& params, const format::Magic& magic,
                       const PreviewHook& preview, DecodedPicture& out);

// --- Pixels ------------------------------------------------------------------------------------

// One row of synthesized samples as pixels, each sample divided by 2^shift first (toward zero):
// grey bytes, or colour through the inverse tables in the byte order asked for.
void grey_pixels(const std::int16_t* y, std::uint32_t width, int shift, std::int32_t offset, std::uint8_t* out);
void colour_pixels(const std::int16_t* y, const std::int16_t* i, const std::int16_t* q, std::uint32_t width, int shift,
                   std::int32_t offset, bool rgb_order, std::uint8_t* out);

}  // namespace varnic::display
