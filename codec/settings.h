// SPDX-License-Identifier: BSD-2-Clause
// The encoder's settings: their start-up values, the derivation of every per-level and
// per-subband setting from one quality factor and an image type (with the two constant tables),
// and the parser and validator for settings typed in full, which the setup dialog, the command
// line and the library share.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "format/params.h"
#include "format/status.h"

namespace varnic::codec {

// The encoder's own level range; files may carry up to format::kMaxFileLevels.
inline constexpr int kMinLevels = varnic::kMinLevels;
inline constexpr int kMaxLevels = varnic::kMaxLevels;
inline constexpr int kMinQuality = varnic::kMinQuality;
inline constexpr int kMaxQuality = varnic::kMaxQuality;
// Levels 0..10 of the threshold table.
inline constexpr int kThresholdTableLevels = 11;

// Start-up values with the quality derivation already run (quality 50, "Other").
format::CodecParams default_codec_params();

// Fills dropped levels, the first 3(L+1) vector entries and L+1 thresholds from
// quality_factor_ and image_type_ (0..2, not checked). Out-of-range quality returns
// kQualityOutOfRange with only color_quality_ changed.
format::StatusCode derive_params_from_quality(format::CodecParams& params);

// Settings typed in full. Numbers are kept wide so that out-of-range input is seen by the
// validator instead of wrapping.
struct FullSettings {
  std::int64_t total_levels = 0;
  std::array<std::int64_t, format::kChannelCount> dropped_levels{};
  std::array<std::vector<std::int64_t>, format::kChannelCount> quant_vectors;
  std::vector<std::int64_t> thresholds;
};

// Which list a parse error belongs to, for the message.
enum class NumberListField { kQuantVectorA, kQuantVectorB, kQuantVectorC, kThresholdVector };

// The one number-list grammar (varnic::parse_number_list: decimal numbers separated by blanks or
// commas), with the field's "not numbers" status on failure.
format::StatusCode parse_number_list(std::string_view text, NumberListField field, std::vector<std::int64_t>& out);

// The one check of encode settings. It answers which setting breaks which bound, and every front
// end words that itself: the setup dialogs with their own labels (setup_status), the library's API
// in its own words, and through it the tool with its options and the web page with its fields.
enum class Setting : std::uint8_t {
  kNone,
  kQuality,
  kImageType,
  kLevels,
  kQuantY,  // the quantization vectors of the Y, I and Q planes, in this order
  kQuantI,
  kQuantQ,
  kThresholds,
  kDropped,  // entry 0 Y, 1 I, 2 Q
  kComment,  // its length in bytes
  kOptimize,
};
enum class Breach : std::uint8_t { kNone, kBelowMinimum, kAboveMaximum, kCount };
struct SettingsProblem {
  Setting setting = Setting::kNone;
  Breach breach = Breach::kNone;
  int entry = -1;          // the entry of a list at fault; -1 for a single value or a list's count
  std::int64_t bound = 0;  // the minimum, the maximum, or the count wanted
  std::int64_t value = 0;  // the value given, or the count given

  bool ok() const { return setting == Setting::kNone; }
};

// A single value (quality, image type, levels, comment bytes, optimiser level) against its range.
SettingsProblem check_value(Setting setting, std::int64_t value);

// In this order: total levels 1..6; per list (Y, I, Q vectors, thresholds) the count (3L+1, 3L+1,
// 3L+1, L+1) and then each entry (vectors 0..125, thresholds 0..65535); then the dropped levels of
// Y, I, Q, each 0..L-1.
SettingsProblem check_full_settings(const FullSettings& settings);

// The setup dialogs' message for a problem ("Total Levels is out of range!!!", ...).
format::StatusCode setup_status(const SettingsProblem& problem);
// check_full_settings worded by setup_status.
format::StatusCode validate_full_settings(const FullSettings& settings);

// Validates, then stores everything into params (levels, dropped levels, vectors, thresholds,
// padded size); nothing is stored on failure.
format::StatusCode apply_full_settings(const FullSettings& settings, format::CodecParams& params);

}  // namespace varnic::codec
