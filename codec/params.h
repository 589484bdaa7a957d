// Compression settings: the parameter records, subband numbering, padded plane
// geometry, the derivation of every setting from one quality factor, and the
// validator for settings typed in full (setup dialog and command line share it).
//
// Records are plain values passed explicitly, so several pictures can be coded
// at once on different threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec/status.h"

namespace varnic::codec {

// Per-subband vectors have room for 3 * 10 + 1 entries: the file format allows
// up to 10 levels even though the encoder settings stop at 6.
inline constexpr int kMaxSubbands = 31;
inline constexpr int kThresholdEntries = 12;
inline constexpr int kMinLevels = 1;
inline constexpr int kMaxLevels = 6;
// Quantized values must stay clear of the two zerotree markers (-127, -126).
inline constexpr int kMaxQuantStep = 125;
inline constexpr int kMinQuality = 0;
inline constexpr int kMaxQuality = 99;

inline constexpr std::uint16_t kImageModeGrey = 61;
inline constexpr std::uint16_t kImageModeColour = 62;
// An 8-bit picture with a colour table: shown, never compressed.
inline constexpr std::uint16_t kImageModePalette = 622;

enum class ImageType : std::int16_t { kOther = 0, kLandscape = 1, kFaces = 2 };

// Planes in file order; the letters y, i, q of the format.
enum class Channel : int { kY = 0, kI = 1, kQ = 2 };
inline constexpr int kChannelCount = 3;

// o of subband k = 3l + o: v bottom-left, h top-right, d bottom-right.
enum class Orientation : int { kV = 0, kH = 1, kD = 2 };

// Level 0 is the finest (first computed) level.
constexpr int SubbandIndex(int level, Orientation orientation) {
  return 3 * level + static_cast<int>(orientation);
}
constexpr int LowBandIndex(int total_levels) { return 3 * total_levels; }
constexpr int SubbandCount(int total_levels) { return 3 * total_levels + 1; }

struct ChannelParams {
  // Level shift subtracted before the transform; the encoder uses 128.
  std::int32_t pixel_offset_ = 0;
  // Per subband k: truncated extremes of the thresholded coefficients.
  std::array<std::int16_t, kMaxSubbands> band_max_{};
  std::array<std::int16_t, kMaxSubbands> band_min_{};
  // Per subband k: quantization steps on each side of zero (0 zeroes the band),
  // at most kMaxQuantStep.
  std::array<std::uint16_t, kMaxSubbands> quant_vector_{};
  // Edited in the setup dialog only; neither coded nor written.
  std::array<std::uint16_t, kMaxSubbands> mask_factor_{};
  // Finest levels not coded at all: 0 .. total_levels_ - 1.
  std::int32_t dropped_levels_ = 0;
  // File offsets after the plane's data and of its second coded segment.
  std::uint32_t end_offset_ = 0;
  std::uint32_t restart_offset_ = 0;
};

struct CodecParams {
  std::uint16_t total_levels_ = 5;  // 1..6
  std::int16_t quality_factor_ = 50;  // 0..99, higher is better
  std::int16_t color_quality_ = 50;   // always overwritten with quality_factor_
  std::int16_t image_type_ = 0;       // ImageType
  std::uint16_t image_mode_ = kImageModeColour;
  std::uint32_t image_width_ = 32;
  std::uint32_t image_height_ = 32;
  // Derived by ComputePaddedSize.
  std::uint32_t padded_width_ = 32;
  std::uint32_t padded_height_ = 32;
  std::uint32_t plane_size_ = 1024;
  std::int32_t using_mask_ = 0;  // carried in the header only
  // Per level l (0 finest): dead-zone threshold; total_levels_ + 1 are kept.
  std::array<std::uint16_t, kThresholdEntries> threshold_vector_{};
  std::string threshold_text_ = "20 10 10 10 5 5 0 0 0 0";
  std::string mask_threshold_text_ = "15 10 8 5 5 2 0 0 0 0";
  std::array<ChannelParams, kChannelCount> channels_{};

  ChannelParams& channel(Channel c) { return channels_[static_cast<std::size_t>(c)]; }
  const ChannelParams& channel(Channel c) const { return channels_[static_cast<std::size_t>(c)]; }
};

// Start-up values with the quality derivation already run (quality 50, "Other").
CodecParams DefaultCodecParams();

// Rounds both sides up to a multiple of 2^total_levels_ and sets plane_size_.
void ComputePaddedSize(CodecParams& params);

// Fills dropped levels, the first 3(L+1) vector entries and L+1 thresholds
// from quality_factor_ and image_type_ (0..2, not checked). Out-of-range
// quality returns kQualityOutOfRange with only color_quality_ changed.
Status DeriveParamsFromQuality(CodecParams& params);

// Row `row` (1..8) of the quality vector table, 31 entries.
const std::array<std::uint16_t, kMaxSubbands>& QualityVectorRow(int row);
// The thresholds of quality q (0..99) for levels 0..10.
const std::array<std::uint16_t, 11>& QualityThresholds(int quality);

// Settings typed in full. Numbers are kept wide so that out-of-range input is
// seen by the validator instead of wrapping.
struct FullSettings {
  std::int64_t total_levels = 0;
  std::array<std::int64_t, kChannelCount> dropped_levels{};
  std::array<std::vector<std::int64_t>, kChannelCount> quant_vectors;
  std::vector<std::int64_t> thresholds;
};

// Which list a parse error belongs to, for the message.
enum class NumberListField { kQuantVectorA, kQuantVectorB, kQuantVectorC, kThresholdVector };

// Parses whitespace-separated decimal numbers (any whitespace, newlines
// included). Anything but digits and whitespace gives the field's
// "not numbers" status. Numbers too long to matter are saturated, not wrapped.
Status ParseNumberList(std::string_view text, NumberListField field,
                       std::vector<std::int64_t>& out);

// Checks, in this order: total levels 1..6; per list (A, B, C, thresholds) the
// count (3L+1, 3L+1, 3L+1, L+1) and the range (vectors <= 125, thresholds
// <= 65535); then dropped levels of Y, I, Q in 0..L-1.
Status ValidateFullSettings(const FullSettings& settings);

// Validates, then stores everything into params (levels, dropped levels,
// vectors, thresholds, padded size); nothing is stored on failure.
Status ApplyFullSettings(const FullSettings& settings, CodecParams& params);

}  // namespace varnic::codec
