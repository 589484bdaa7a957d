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
#include "format/symbol_plane.h"

namespace varnic::codec {

// Level shift the encoder subtracts from every pixel byte.
inline constexpr std::int32_t kEncoderPixelOffset = 128;

struct EncodeRequest {
  // Stored in the header as it stands; at most format::kMaxCommentLength bytes.
  std::string_view comment;
  // Threads working on the picture (1 = the calling thread only): the
  // channels are analysed at once and each channel's two segments coded at
  // the same time. The output bytes never depend on it.
  int threads = 1;
  // Return the coded planes in EncodedPicture::planes (for showing the
  // reconstruction), 2 bytes per padded sample and plane. Without them one
  // thread holds a single byte per padded sample that the channels take in
  // turn, besides the picture; threads hold one per channel in flight.
  bool keep_planes = true;
  // Called on the calling thread, in order, as stages finish, with the count
  // done and the total: stage 2c + 1 is channel c's transform and
  // quantization, stage 2c + 2 its coding. Returning false cancels with
  // kCancelled: no later stage is reported and no work not yet started runs.
  std::function<bool(int done, int total)> progress;
};

struct EncodedPicture {
  std::vector<std::uint8_t> stream;  // the whole .cod file
  // The settings as coded: effective levels, lowered dropped levels, padded
  // size, image size and mode, band limits, pixel offsets, and the end and
  // restart offsets written into the header.
  format::CodecParams params;
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
format::StatusCode make_working_params(const format::CodecParams& settings, std::uint32_t width, std::uint32_t height,
                         std::uint16_t image_mode, format::CodecParams& working);

// Where each channel's codes come from: writes every position of `codes` (allocated at the padded
// size, holding whatever an earlier channel left) with channel c's quantized values, unmarked, within format::kMinQuantized..kMaxQuantized, and
// may record the channel's band limits in working.channels[c]. Values in dropped levels are
// counted in the symbol table, never coded. With threads, called for several channels at once.
using ChannelCodes = std::function<format::StatusCode(int channel, format::CodecParams& working, format::SymbolPlane& codes)>;

// The stream of a picture whose working copy is made (make_working_params, header fields filled
// in but for the band limits `codes` records): each channel's codes, zerotrees, symbol table and
// segments, and the header. Honours the request's threads, planes kept, progress and cancelling.
format::StatusCode encode_codes(format::CodecParams& working, const ChannelCodes& codes, const EncodeRequest& options,
                        EncodedPicture& out);

// The whole road: validation, planes, header and every channel.
format::StatusCode encode_picture(const PictureRows& picture, const format::CodecParams& settings,
                     const EncodeRequest& options, EncodedPicture& out);

}  // namespace varnic::codec
