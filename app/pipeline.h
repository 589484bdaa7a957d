// SPDX-License-Identifier: BSD-2-Clause
// The program's calls into the encoder, the reconstruction and the colour reduction, in the
// shapes the commands need. Thin: every computation happens in the libraries.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "codec/settings.h"
#include "format/status.h"
#include "decoder/decoder.h"
#include "imagefile/imagefile.h"

namespace varnic::app::pipeline {

struct EncodeOutput {
  std::vector<std::uint8_t> stream;  // the whole compressed file
  decoder::CodeSet planes;           // the quantized, zerotree-marked values coded
  format::CodecParams working;        // the settings actually coded (levels lowered if needed)
};

// Compresses a picture buffer (mode 61 or 62 in `params`) with the comment in its header.
// The failing stage picks the status: building or transforming the planes, or coding a channel
// (format::StatusCode::kEncodeFailed).
format::StatusCode encode(std::span<const std::uint8_t> picture, const format::CodecParams& params,
                     std::string_view comment, EncodeOutput& out);

// A preview: `pixels` holds height bottom-up rows of width pixels of bits_per_pixel (24 or 8,
// rows padded to 4 bytes), to be drawn stretched over the whole picture.
using PreviewSink = std::function<void(std::span<const std::uint8_t> pixels, int width, int height,
                                       int bits_per_pixel)>;

// Turns a file's or the encoder's codes into a new `picture` (replaced only on success). With a
// preview sink, the sink hears the picture at each resolution before each synthesis step: each
// one the same decode stopped at that step.
format::StatusCode reconstruct(const decoder::CodeSet& planes, const format::CodecParams& params,
                               const format::Magic& magic, const PreviewSink* preview, std::vector<std::uint8_t>& picture);

// The 8-bit version of a picture: indices into `colour_table` (256 entries of blue, green, red, 0)
// for colour, a byte copy for grey and palette pictures (whose table is left alone).
format::StatusCode convert_to_8bit(std::span<const std::uint8_t> picture, int width, int height,
                              std::uint16_t image_mode, bool dither, std::vector<std::uint8_t>& index,
                              std::array<std::uint8_t, imagefile::kColourTableBytes>& colour_table);

// The fixed 256-colour palette of colour previews on 8-bit screens, as a colour table.
std::array<std::uint8_t, imagefile::kColourTableBytes> preview_palette();

// Maps a 24-bit preview onto the preview palette (8-bit screens).
format::StatusCode map_to_preview_palette(std::span<const std::uint8_t> pixels, int width, int height, bool dither,
                                     std::vector<std::uint8_t>& index);

}  // namespace varnic::app::pipeline
