// SPDX-License-Identifier: BSD-2-Clause
// The parameter records a compressed stream carries, and the geometry they imply: subband
// numbering, band rectangles and the padded plane size. The encoder fills them from its
// settings, the header writer and parser (format.h) move them to and from the file, and the
// decoder and the reconstruction read them.
//
// Records are plain values passed explicitly, so several pictures can be coded at once on
// different threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "varnic/limits.h"

namespace varnic::format {

// The file's per-subband arrays hold 3 x 10 + 1 entries: at most 10 levels, whatever the
// encoder's own settings allow.
inline constexpr int kMaxFileLevels = varnic::kMaxFileLevels;
inline constexpr int kMaxSubbands = 3 * kMaxFileLevels + 1;
// Dead-zone thresholds are kept for levels 0..11: one more than the levels, as the setup
// dialog shows them.
inline constexpr int kThresholdEntries = 12;

inline constexpr std::uint16_t kImageModeGrey = 61;
inline constexpr std::uint16_t kImageModeColour = 62;
// An 8-bit picture with a colour table: shown, never compressed, never in a file.
inline constexpr std::uint16_t kImageModePalette = 622;

// Planes in file order; the letters y, i, q.
enum class Channel : int { kY = 0, kI = 1, kQ = 2 };
inline constexpr int kChannelCount = 3;

// o of subband k = 3l + o: v bottom-left, h top-right, d bottom-right.
enum class Orientation : int { kV = 0, kH = 1, kD = 2 };

// Level 0 is the finest (first computed) level.
constexpr int subband_index(int level, Orientation orientation) {
  return 3 * level + static_cast<int>(orientation);
}
constexpr int low_band_index(int total_levels) { return 3 * total_levels; }
constexpr int subband_count(int total_levels) { return 3 * total_levels + 1; }

struct ChannelParams {
  // Level shift subtracted before the transform; the encoder uses 128.
  std::int32_t pixel_offset = 0;
  // Per subband k: truncated extremes of the thresholded coefficients.
  std::array<std::int16_t, kMaxSubbands> band_max{};
  std::array<std::int16_t, kMaxSubbands> band_min{};
  // Per subband k: quantization steps on each side of zero (0 zeroes the band),
  // at most kMaxQuantStep (plane.h).
  std::array<std::uint16_t, kMaxSubbands> quant_vector{};
  // Edited in the setup dialog only; neither coded nor written.
  std::array<std::uint16_t, kMaxSubbands> mask_factor{};
  // Finest levels not coded at all: 0 .. total_levels_ - 1.
  std::int32_t dropped_levels = 0;
  // File offsets after the plane's data and of its second coded segment.
  std::uint32_t end_offset = 0;
  std::uint32_t restart_offset = 0;
};

struct CodecParams {
  std::uint16_t total_levels = 5;  // 1..6 for the encoder, 1..kMaxFileLevels in a file
  std::int16_t quality_factor = 50;  // 0..99, higher is better
  std::int16_t color_quality = 50;   // always overwritten with quality_factor_
  std::int16_t image_type = 0;       // 0 other, 1 landscape, 2 faces (varnic::ImageType)
  std::uint16_t image_mode = kImageModeColour;
  std::uint32_t image_width = 32;
  std::uint32_t image_height = 32;
  // Derived by compute_padded_size.
  std::uint32_t padded_width = 32;
  std::uint32_t padded_height = 32;
  std::uint32_t plane_size = 1024;
  std::int32_t using_mask = 0;  // carried in the header only
  // Per level l (0 finest): dead-zone threshold; total_levels_ + 1 are kept.
  std::array<std::uint16_t, kThresholdEntries> threshold_vector{};
  std::string threshold_text = "20 10 10 10 5 5 0 0 0 0";
  std::string mask_threshold_text = "15 10 8 5 5 2 0 0 0 0";
  std::array<ChannelParams, kChannelCount> channels{};

  ChannelParams& channel(Channel c) { return channels[static_cast<std::size_t>(c)]; }
  const ChannelParams& channel(Channel c) const { return channels[static_cast<std::size_t>(c)]; }
};

// Rounds both sides up to a multiple of 2^total_levels_ and sets plane_size_.
void compute_padded_size(CodecParams& params);

// Planes a picture of this mode has: 3 for colour, 1 for grey.
constexpr int plane_count(std::uint16_t image_mode) {
  return image_mode == kImageModeColour ? kChannelCount : 1;
}

// Position of subband k in a plane transformed with total_levels levels.
struct BandRect {
  std::uint32_t row = 0, col = 0, rows = 0, cols = 0;
};
BandRect subband_rect(std::uint32_t padded_width, std::uint32_t padded_height, int total_levels,
                      int subband);

}  // namespace varnic::format
