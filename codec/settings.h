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
inline constexpr int kMinLevels = 1;
inline constexpr int kMaxLevels = 6;
inline constexpr int kMinQuality = 0;
inline constexpr int kMaxQuality = 99;
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

// Parses whitespace-separated decimal numbers (any whitespace, newlines included). Anything but
// digits and whitespace gives the field's "not numbers" status. Numbers too long to matter are
// saturated, not wrapped.
format::StatusCode parse_number_list(std::string_view text, NumberListField field, std::vector<std::int64_t>& out);

// Checks, in this order: total levels 1..6; per list (A, B, C, thresholds) the count (3L+1, 3L+1,
// 3L+1, L+1) and the range (vectors <= 125, thresholds <= 65535); then dropped levels of Y, I, Q
// in 0..L-1.
format::StatusCode validate_full_settings(const FullSettings& settings);

// Validates, then stores everything into params (levels, dropped levels, vectors, thresholds,
// padded size); nothing is stored on failure.
format::StatusCode apply_full_settings(const FullSettings& settings, format::CodecParams& params);

}  // namespace varnic::codec
