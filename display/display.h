// SPDX-License-Identifier: BSD-2-Clause
// From coefficient planes to pixels, the one pipeline every reader of .cod files goes through:
// the coefficient planes of a stream (decode_coefficients), their synthesis level by level with
// previews, progress, cancelling, an early stop for reduced pictures and threads (reconstruct),
// and the pixels in the layout the caller wants, through the format's inverse colour tables.
// decode_file is the two together; the desktop program calls them one after the other to time
// them apart.
//
// Picture buffers are rows bottom-up (plane row 0 is the first row), each
// padded with zero bytes to a multiple of 4; colour pixels are blue, green,
// red, except for version 2.3 streams, whose colour conversion writes red,
// green, blue over all padded samples one after another (no row padding) and
// stops when the buffer is full.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "decoder/decoder.h"
#include "format/format.h"
#include "utils/picture_layout.h"

namespace varnic::display {

using format::StatusCode;

// The fixed preview palette for 8-bit screens: 4 blue levels (0, 64, 128,
// 192) by 8 green by 8 red levels (0, 32, .., 224); entry i has blue
// 64 (i / 64), green 32 ((i / 8) mod 8), red 32 (i mod 8).
struct PaletteEntry {
  std::uint8_t blue, green, red;
};
using PreviewPaletteTable = std::array<PaletteEntry, 256>;
const PreviewPaletteTable& preview_palette();

// Final conversion of sample planes (after every synthesis step) into a
// picture buffer of utils::row_geometry(width, height, 8 or 24).picture_bytes
// bytes, which the caller has zero-filled. Grey uses Y only. Colour needs
// major digit '2' in the magic; minor '4' or '5' gives padded BGR rows, '3'
// the packed RGB sequence; any other magic leaves the buffer as it is.
void planes_to_pixels(const decoder::PlaneSet& planes, const format::CodecParams& params,
                      const format::Magic& magic, std::span<std::uint8_t> pixels);

// The same final conversion into a caller's rows instead of a picture
// buffer: `rows` holds image_height rows of `stride` bytes, the top row first
// when top_down, pixels red-green-blue when rgb_order (else blue-green-red);
// only the pixel bytes of each row are written. Gives exactly the pixels of
// planes_to_pixels for grey pictures and padded-row colour versions; returns
// false (writing nothing) for the packed 2.3 layout and unknown magics.
// Only picture rows first..last-1, counted from the bottom, are converted, so
// that threads can share the rows.
bool planes_to_rows(const decoder::PlaneSet& planes, const format::CodecParams& params,
                    const format::Magic& magic, bool top_down, bool rgb_order,
                    std::span<std::uint8_t> rows, std::size_t stride, std::uint32_t first = 0,
                    std::uint32_t last = UINT32_MAX);

// A preview of the picture before synthesis step `level` (0 = the coarsest
// low band alone): the top-left (padded_height >> s) x (padded_width >> s)
// samples, s = total_levels - level, each divided by 2^s. Meant to be drawn
// stretched over the whole picture.
struct PreviewFrame {
  int level = 0;
  int total_levels = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits_per_pixel = 8;  // 8 grey, 24 colour
  // Rows bottom-up padded to 4 bytes, in the picture's byte order. Empty for
  // a colour picture whose magic selects no conversion.
  std::span<const std::uint8_t> pixels;
};

// Renders the preview of `level` into `out` (resized to fit).
void render_preview(const decoder::PlaneSet& planes, const format::CodecParams& params,
                    const format::Magic& magic, int level, std::vector<std::uint8_t>& out,
                    PreviewFrame& frame);

// Called before each synthesis step with the preview of the planes as they
// stand; returning false abandons the reconstruction with kCancelled.
using PreviewHook = std::function<bool(const PreviewFrame&)>;

// Called on the calling thread once the coefficient planes are decoded (done = total = planes)
// and after each synthesis step (done = steps so far of `total`); returning false cancels with
// kCancelled.
enum class DecodeStage { kPlanesDecoded, kLevelSynthesised };
using ProgressHook = std::function<bool(DecodeStage stage, int done, int total)>;

enum class PixelLayout {
  kPictureBuffer,  // the program's picture buffer, as described above
  kRows,           // top row first, rows packed, colour in rgb_order: a library caller's picture
};

struct ReconstructRequest {
  // The planes hold the encoder's quantized, zerotree-marked values (the reconstruction shown
  // after compressing): they are dequantized first.
  bool dequantize = false;
  // Stop the synthesis this many levels early (0..levels-1): the picture comes out at
  // ceil(width / 2^reduce) x ceil(height / 2^reduce), its samples scaled as the previews are.
  int reduce = 0;
  // Planes are synthesised on up to this many threads, one plane each.
  int threads = 1;
  PixelLayout layout = PixelLayout::kPictureBuffer;
  bool rgb_order = false;  // kRows only: red first rather than blue first
  PreviewHook preview;     // set: a preview before every level (the levels of all planes in step)
  ProgressHook progress;
};

// Pixels in a request's layout.
struct DecodedPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bits_per_pixel = 24;  // 24 colour, 8 grey
  std::size_t stride = 0;   // bytes from one row to the next
  std::vector<std::uint8_t> pixels;
};

// Synthesises the planes in place and converts them; `out` is replaced only on success. Grey
// (mode 61) uses the Y plane alone.
StatusCode reconstruct(decoder::PlaneSet& planes, const format::CodecParams& params, const format::Magic& magic,
                       const ReconstructRequest& request, DecodedPicture& out);

// The header (limits and all checks of format::parse_header) and the coefficient planes of a
// stream, decoded on up to `threads` threads. `header` and `planes` are replaced only on success.
StatusCode decode_coefficients(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads,
                               format::FileHeader& header, decoder::PlaneSet& planes);

struct DecodedFile {
  format::FileHeader header;  // the file's settings, magic and comment
  decoder::PlaneSet planes;   // sample planes after synthesis
  DecodedPicture picture;
};

// decode_coefficients then reconstruct. With threads and neither preview nor progress, each plane
// goes from its coefficients to samples in one task. `out` is replaced only on success: a refused
// or damaged file leaves the caller's picture alone.
StatusCode decode_file(std::span<const std::uint8_t> file, std::uint64_t max_pixels, const ReconstructRequest& request,
                       DecodedFile& out);

// The streamed decode: planes kept as byte codes (decoder::decode_plane_symbols), synthesised
// row by row (decoder::LineSynthesis) and converted to pixels as each row is finished, so a
// picture costs about one byte per pixel and plane besides the file. The pixels are those of
// decode_file with the kRows layout, delivered bottom row first.
struct RowSink {
  // Called once with the file's header before any row; returning false cancels.
  std::function<bool(const format::FileHeader&)> begin;
  // Row `row` counted from the bottom (0 is the bottom row), image_width pixels of 1 byte (grey)
  // or 3 (colour, red first when rgb_order); returning false cancels.
  std::function<bool(std::uint32_t row, std::span<const std::uint8_t> pixels)> row;
};
// Planes are decoded on up to `threads` threads. Version 2.3 colour files, whose pixels come
// from the packed layout, go through decode_file and are then handed over the same way.
StatusCode decode_rows(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads, bool rgb_order,
                       const RowSink& sink);

// One row of synthesised samples as pixels: grey bytes, or colour through the inverse tables,
// in the byte order asked for. The same bytes as planes_to_rows.
void samples_to_grey_row(const std::int16_t* y, std::uint32_t width, std::int32_t offset, std::uint8_t* out);
void samples_to_colour_row(const std::int16_t* y, const std::int16_t* i, const std::int16_t* q, std::uint32_t width,
                           std::int32_t offset, bool rgb_order, std::uint8_t* out);

}  // namespace varnic::display
