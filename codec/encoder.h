// SPDX-License-Identifier: BSD-2-Clause
// The encoder: picture -> coefficient planes -> compressed stream (format 2.5,
// layout in format.h).
//
// encode_picture never touches the caller's settings. It works on a copy whose
// level count is lowered to what the picture size allows (each level needs a
// region of at least 4 x 4), whose dropped levels are lowered below that count,
// and which receives the band limits, level shifts and stream offsets. That
// copy and the coded planes come back with the stream, so the caller can show
// the reconstruction of exactly what was coded.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "codec/colour_transform.h"
#include "codec/settings.h"
#include "format/format.h"

namespace varnic::codec {

// Level shift the encoder subtracts from every pixel byte.
inline constexpr std::int32_t kEncoderPixelOffset = 128;

struct EncodeRequest {
  // Stored in the header as it stands; at most format::kMaxCommentLength bytes.
  std::string_view comment;
  // Threads working on the picture (1 = the calling thread only): each
  // channel's transform, quantization and symbol count are split by rows and
  // column strips, and its two segments are coded at the same time. The
  // output bytes never depend on it.
  int threads = 1;
  // Return the coded planes in EncodedPicture::planes (for showing the
  // reconstruction). Without them the encoder holds a single plane that the
  // channels take in turn: 6 bytes per padded sample besides the picture,
  // instead of 10 (with threads two planes: 8).
  bool keep_planes = true;
  // Called on the calling thread after each finished stage with the count
  // done and the total: stage 2c + 1 is channel c's transform and
  // quantization, stage 2c + 2 its coding. Returning false cancels with
  // kCancelled.
  std::function<bool(int done, int total)> progress;
};

struct EncodedPicture {
  std::vector<std::uint8_t> stream;  // the whole .cod file
  // The settings as coded: effective levels, lowered dropped levels, padded
  // size, image size and mode, band limits, pixel offsets, and the end and
  // restart offsets written into the header.
  CodecParams params;
  // Y, I, Q (I and Q empty for grey): quantized values with the zerotree
  // markers, as the reconstruction after compressing expects them. All empty
  // (and plane_count 0) unless the options keep the planes.
  std::array<format::CoefficientPlane, format::kChannelCount> planes;
  int plane_count = 0;
};

// Largest level count <= total_levels for which both sides exceed 2^levels
// (so every level's region is at least 4 x 4); 0 when not even one fits.
int effective_levels(std::uint32_t width, std::uint32_t height, int total_levels);

// The working copy for a picture of this size and mode (61 grey, 62 colour):
// checks the settings the encoder depends on and the picture size, applies
// the effective level count and lowers dropped levels.
StatusCode make_working_params(const CodecParams& settings, std::uint32_t width, std::uint32_t height,
                         std::uint16_t image_mode, CodecParams& working);

// Appends one channel to the stream: marks zerotrees in the plane, writes the
// header first for Y, then the symbol table and both coded segments, and
// patches the channel's offsets into the header (and into `params`).
StatusCode encode_channel(format::CoefficientPlane& plane, format::Channel channel, CodecParams& params,
                     std::string_view comment, std::vector<std::uint8_t>& stream);

// The whole road: validation, planes, header and every channel.
StatusCode encode_picture(const PictureRows& picture, const CodecParams& settings,
                     const EncodeRequest& options, EncodedPicture& out);

}  // namespace varnic::codec
