// Reconstruction display: coefficient planes to the picture buffer, all at
// once or level by level with a preview before each level, through the
// inverse colour lookup tables; and the whole decode of a .cod stream with its
// three timings.
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

struct ReconstructOptions {
  // The planes hold the encoder's quantized, zerotree-marked values, which are
  // dequantized first (the reconstruction shown after compressing).
  bool encoder_reconstruction = false;
  // Set: level by level with a preview before each level. Unset: all levels
  // at once. The final picture is the same either way.
  PreviewHook preview;
};

// Synthesises every plane in place and converts them into a new zero-filled
// picture buffer, which replaces `pixels` only on success. Grey (mode 61)
// uses the Y plane alone.
StatusCode reconstruct_picture(decoder::PlaneSet& planes, const format::CodecParams& params,
                           const format::Magic& magic, const ReconstructOptions& options,
                           std::vector<std::uint8_t>& pixels);

using Clock = std::function<utils::ClockReading()>;

struct DecodeRequest {
  std::uint64_t max_pixels = format::kDefaultPixelLimit;
  // Read around the timed stages; unset leaves every timing 0.
  Clock clock;
  PreviewHook preview;
};

// Seconds by the elapsed-time rule. The 8-bit conversion, when the caller
// runs one, adds its own time to the total.
struct DecodeTimings {
  float entropy_decode = 0.0f;  // header, tables and coefficients
  float wavelet = 0.0f;         // synthesis, previews and colour conversion
  float total = 0.0f;           // wavelet + entropy_decode
};

struct DecodedFile {
  format::FileHeader header;  // the file's settings, magic and comment
  decoder::PlaneSet planes;    // sample planes after synthesis
  std::uint16_t bits_per_pixel = 24;  // 24 colour, 8 grey
  utils::RowGeometry geometry;
  std::vector<std::uint8_t> pixels;  // geometry.picture_bytes bytes
  DecodeTimings timings;
};

// The whole decode of a stream held in memory. `out` is replaced only on
// success: a refused or damaged file leaves the caller's picture alone.
StatusCode decode_compressed_file(std::span<const std::uint8_t> file, const DecodeRequest& options,
                              DecodedFile& out);

}  // namespace varnic::display
