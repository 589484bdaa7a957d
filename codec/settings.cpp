// SPDX-License-Identifier: BSD-2-Clause
#include "codec/settings.h"

#include <algorithm>
#include <optional>

#include "format/plane.h"
#include "varnic/rules.h"

namespace varnic::codec {

using format::Channel;
using format::CodecParams;
using format::StatusCode;
using format::ChannelParams;
using format::kChannelCount;
using format::kMaxSubbands;

namespace {

using VectorRow = std::array<std::uint16_t, kMaxSubbands>;

// The eight distinct quantization rows, indexed by subband k = 0..30.
constexpr VectorRow kVectorRows[8] = {
    {4, 4, 0, 8, 8, 0, 12, 12, 6, 24, 24, 24, 30, 30, 30, 40,
     40, 40, 50, 50, 50, 60, 60, 60, 70, 70, 70, 80, 80, 80, 90},
    {5, 5, 5, 5, 5, 5, 10, 10, 10, 15, 15, 15, 20, 20, 20, 30,
     30, 30, 40, 40, 40, 50, 50, 50, 60, 60, 60, 70, 70, 70, 90},
    {4, 4, 0, 8, 8, 0, 12, 12, 12, 24, 24, 24, 30, 30, 30, 40,
     40, 40, 50, 50, 50, 60, 60, 60, 70, 70, 70, 80, 80, 80, 90},
    {6, 6, 0, 12, 12, 6, 24, 24, 24, 30, 30, 30, 40, 40, 40, 50,
     50, 50, 60, 60, 60, 70, 70, 70, 80, 80, 80, 90, 90, 90, 100},
    {8, 8, 0, 16, 16, 8, 32, 32, 32, 40, 40, 40, 50, 50, 50, 60,
     60, 60, 70, 70, 70, 80, 80, 80, 90, 90, 90, 100, 100, 100, 110},
    {25, 25, 25, 50, 50, 50, 80, 80, 80, 100, 100, 100, 100, 100, 100, 100,
     100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100},
    {50, 50, 50, 80, 80, 80, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
     100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100},
    {100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
     100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100},
};

// Rows (1-based) for Y, I, Q by image type and quality decile. Only the Y row
// of decile 0 depends on the type.
struct RowChoice {
  std::uint8_t y, i, q;
};
constexpr RowChoice kRowsByDecile[3][10] = {
    // "Other"
    {{1, 2, 2}, {3, 2, 2}, {3, 2, 2}, {4, 3, 3}, {4, 3, 3},
     {4, 3, 3}, {5, 4, 4}, {6, 5, 5}, {7, 6, 6}, {8, 8, 8}},
    // "Landscape"
    {{3, 2, 2}, {3, 2, 2}, {3, 2, 2}, {4, 3, 3}, {4, 3, 3},
     {4, 3, 3}, {5, 4, 4}, {6, 5, 5}, {7, 6, 6}, {8, 8, 8}},
    // "Faces"
    {{3, 2, 2}, {3, 2, 2}, {3, 2, 2}, {4, 3, 3}, {4, 3, 3},
     {4, 3, 3}, {5, 4, 4}, {6, 5, 5}, {7, 6, 6}, {8, 8, 8}},
};

using ThresholdRow = std::array<std::uint16_t, kThresholdTableLevels>;

// Dead-zone thresholds per quality 0..99 and level 0..10. The rows are not
// monotonic everywhere (21 and 54); they are kept exactly as they are.
constexpr ThresholdRow kThresholdRows[100] = {
    {200, 180, 150, 100, 40, 20, 20, 10, 10, 10, 5},  // 0
    {190, 170, 140, 92, 36, 18, 18, 10, 10, 10, 5},
    {180, 160, 130, 85, 32, 16, 16, 10, 10, 10, 5},
    {170, 150, 120, 80, 28, 14, 14, 10, 10, 10, 5},
    {160, 140, 110, 75, 24, 12, 12, 10, 10, 10, 5},
    {150, 130, 100, 70, 20, 10, 10, 10, 10, 10, 5},  // 5
    {140, 120, 90, 65, 10, 10, 10, 10, 10, 10, 5},
    {130, 110, 80, 60, 10, 10, 10, 10, 10, 10, 5},
    {110, 95, 70, 55, 10, 10, 10, 10, 10, 10, 5},
    {100, 80, 60, 50, 10, 10, 10, 10, 10, 10, 5},
    {82, 72, 60, 40, 10, 10, 10, 10, 10, 10, 5},  // 10
    {80, 70, 60, 40, 10, 10, 10, 10, 10, 10, 5},
    {78, 68, 58, 40, 10, 10, 10, 10, 10, 10, 5},
    {77, 67, 58, 40, 10, 10, 10, 10, 10, 10, 5},
    {76, 66, 58, 40, 10, 10, 10, 10, 10, 10, 5},
    {75, 65, 55, 40, 10, 10, 10, 10, 10, 10, 5},  // 15
    {75, 65, 55, 40, 10, 10, 10, 10, 10, 10, 5},
    {75, 65, 55, 40, 10, 10, 10, 10, 10, 10, 5},
    {75, 65, 55, 40, 10, 10, 10, 10, 10, 10, 5},
    {75, 65, 55, 40, 10, 10, 10, 10, 10, 10, 5},
    {75, 65, 55, 40, 10, 5, 5, 5, 5, 5, 5},  // 20
    {79, 60, 51, 35, 10, 5, 5, 5, 5, 5, 5},
    {63, 55, 47, 30, 10, 5, 5, 5, 5, 5, 5},
    {57, 50, 43, 25, 10, 5, 5, 5, 5, 5, 5},
    {51, 45, 39, 20, 10, 5, 5, 5, 5, 5, 5},
    {45, 40, 35, 15, 10, 5, 5, 5, 5, 5, 5},  // 25
    {44, 40, 34, 15, 9, 5, 5, 5, 5, 5, 5},
    {43, 39, 33, 15, 9, 5, 5, 5, 5, 5, 5},
    {42, 39, 32, 15, 9, 5, 5, 5, 5, 5, 5},
    {42, 38, 31, 14, 8, 5, 5, 5, 5, 5, 5},
    {42, 38, 30, 14, 8, 5, 5, 5, 5, 5, 5},  // 30
    {41, 37, 28, 14, 8, 5, 5, 5, 5, 5, 5},
    {41, 37, 26, 13, 7, 5, 5, 5, 5, 5, 5},
    {40, 36, 24, 13, 7, 5, 5, 5, 5, 5, 5},
    {40, 36, 22, 13, 7, 5, 5, 5, 5, 5, 5},
    {39, 35, 20, 12, 6, 5, 5, 5, 5, 5, 5},  // 35
    {39, 35, 19, 12, 6, 5, 5, 5, 5, 5, 5},
    {38, 34, 18, 11, 6, 5, 5, 5, 5, 5, 5},
    {38, 34, 17, 11, 5, 5, 5, 5, 5, 5, 5},
    {37, 33, 16, 10, 5, 5, 5, 5, 5, 5, 5},
    {37, 33, 15, 10, 5, 5, 5, 5, 5, 5, 5},  // 40
    {37, 32, 14, 10, 5, 5, 5, 5, 5, 5, 5},
    {37, 31, 14, 10, 5, 5, 5, 5, 5, 5, 5},
    {36, 30, 13, 10, 5, 5, 5, 5, 5, 5, 5},
    {36, 29, 13, 10, 5, 5, 5, 5, 5, 5, 5},
    {35, 28, 12, 10, 5, 5, 5, 5, 5, 5, 5},  // 45
    {35, 27, 12, 10, 5, 5, 5, 5, 5, 5, 5},
    {34, 26, 11, 10, 5, 5, 5, 5, 5, 5, 5},
    {34, 25, 11, 10, 5, 5, 5, 5, 5, 5, 5},
    {33, 24, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {33, 23, 10, 10, 5, 5, 5, 5, 5, 5, 5},  // 50
    {32, 23, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {32, 22, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {31, 22, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {32, 21, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {30, 20, 10, 10, 5, 5, 5, 5, 5, 5, 5},  // 55
    {29, 19, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {28, 18, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {27, 17, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {26, 16, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {25, 15, 10, 10, 5, 5, 5, 5, 5, 5, 5},  // 60
    {25, 15, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {24, 14, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {24, 14, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {23, 13, 10, 10, 5, 5, 5, 5, 5, 5, 5},
    {23, 13, 9, 9, 4, 4, 4, 4, 4, 4, 4},  // 65
    {22, 12, 9, 9, 4, 4, 4, 4, 4, 4, 4},
    {22, 12, 8, 9, 4, 4, 4, 4, 4, 4, 4},
    {21, 11, 8, 9, 4, 4, 4, 4, 4, 4, 4},
    {21, 11, 8, 9, 4, 4, 4, 4, 4, 4, 4},
    {20, 11, 8, 8, 4, 4, 4, 4, 4, 4, 4},  // 70
    {20, 11, 8, 8, 4, 4, 4, 4, 4, 4, 4},
    {19, 10, 8, 7, 4, 4, 4, 4, 4, 4, 4},
    {19, 10, 8, 7, 4, 4, 4, 4, 4, 4, 4},
    {18, 10, 7, 6, 4, 4, 4, 4, 4, 4, 4},
    {18, 9, 7, 6, 4, 4, 4, 4, 4, 4, 4},  // 75
    {17, 9, 7, 5, 4, 4, 4, 4, 4, 4, 4},
    {17, 9, 6, 5, 4, 4, 4, 4, 4, 4, 4},
    {16, 8, 6, 4, 4, 4, 4, 4, 4, 4, 4},
    {16, 8, 6, 4, 4, 4, 4, 4, 4, 4, 4},
    {15, 7, 5, 3, 3, 3, 3, 3, 3, 3, 3},  // 80
    {14, 7, 5, 3, 3, 3, 3, 3, 3, 3, 3},
    {14, 6, 5, 3, 3, 3, 3, 3, 3, 3, 3},
    {13, 6, 4, 3, 3, 3, 3, 3, 3, 3, 3},
    {12, 5, 4, 3, 3, 3, 3, 3, 3, 3, 3},
    {11, 5, 4, 3, 3, 3, 3, 3, 3, 3, 3},  // 85
    {10, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {9, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {8, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {7, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2},
    {7, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // 90
    {7, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2},
    {6, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2},
    {6, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {5, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {4, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 95
    {3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // 99
};

}  // namespace

CodecParams default_codec_params() {
  CodecParams params;
  format::compute_padded_size(params);
  // Quality 50 is in range, so the derivation cannot fail here.
  (void)derive_params_from_quality(params);
  return params;
}

StatusCode derive_params_from_quality(CodecParams& params) {
  const int q = params.quality_factor;
  params.color_quality = params.quality_factor;
  if (q < kMinQuality || q > kMaxQuality) return StatusCode::kQualityOutOfRange;

  int chroma_dropped;
  if (q > 75) {
    chroma_dropped = 0;
  } else if (q >= 51) {
    chroma_dropped = 1;
  } else if (q >= 26) {
    chroma_dropped = 2;
  } else if (q >= 11) {
    chroma_dropped = 3;
  } else {
    chroma_dropped = 4;
  }
  const int luma_dropped = q > 10 ? 0 : (q >= 3 ? 1 : 2);
  params.channel(Channel::kY).dropped_levels = luma_dropped;
  params.channel(Channel::kI).dropped_levels = chroma_dropped;
  params.channel(Channel::kQ).dropped_levels = chroma_dropped;

  // Callers pass types 0..2 only; anything else is read as "Other" rather than
  // indexing outside the table.
  const int type = (params.image_type >= 0 && params.image_type <= 2) ? params.image_type : 0;
  const RowChoice rows = kRowsByDecile[type][q / 10];
  const VectorRow* channel_rows[kChannelCount] = {&kVectorRows[rows.y - 1],
                                                  &kVectorRows[rows.i - 1],
                                                  &kVectorRows[rows.q - 1]};
  const int levels = params.total_levels;
  // One round more than there are levels: 3(L+1) entries, capped by the arrays.
  const auto entries = static_cast<std::size_t>(std::min(3 * (levels + 1), kMaxSubbands));
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    std::copy_n(channel_rows[c]->begin(), entries, params.channels[c].quant_vector.begin());
  }
  const auto thresholds = static_cast<std::size_t>(std::min(levels + 1, kThresholdTableLevels));
  std::copy_n(kThresholdRows[q].begin(), thresholds, params.threshold_vector.begin());
  return StatusCode::kOk;
}

StatusCode parse_number_list(std::string_view text, NumberListField field, std::vector<std::int64_t>& out) {
  constexpr StatusCode kNotNumbers[4] = {StatusCode::kQuantVectorANotNumbers, StatusCode::kQuantVectorBNotNumbers,
                                         StatusCode::kQuantVectorCNotNumbers, StatusCode::kThresholdVectorNotNumbers};
  const std::optional<std::vector<int>> numbers = varnic::parse_number_list(text);
  if (!numbers) return kNotNumbers[static_cast<int>(field)];
  out.assign(numbers->begin(), numbers->end());
  return StatusCode::kOk;
}

SettingsProblem check_value(Setting setting, std::int64_t value) {
  std::int64_t low = 0;
  std::int64_t high = 0;
  switch (setting) {
    case Setting::kQuality: low = kMinQuality, high = kMaxQuality; break;
    case Setting::kImageType: low = 0, high = varnic::kImageTypeCount - 1; break;
    case Setting::kLevels: low = kMinLevels, high = kMaxLevels; break;
    case Setting::kComment: low = 0, high = static_cast<std::int64_t>(varnic::kMaxCommentBytes); break;
    case Setting::kOptimize: low = varnic::kMinOptimize, high = varnic::kMaxOptimize; break;
    case Setting::kNone:
    case Setting::kQuantY:
    case Setting::kQuantI:
    case Setting::kQuantQ:
    case Setting::kThresholds:
    case Setting::kDropped: return {};  // lists: check_full_settings
  }
  if (value < low) return {setting, Breach::kBelowMinimum, -1, low, value};
  if (value > high) return {setting, Breach::kAboveMaximum, -1, high, value};
  return {};
}

SettingsProblem check_full_settings(const FullSettings& settings) {
  const std::int64_t levels = settings.total_levels;
  if (SettingsProblem p = check_value(Setting::kLevels, levels); !p.ok()) return p;

  constexpr Setting kLists[4] = {Setting::kQuantY, Setting::kQuantI, Setting::kQuantQ, Setting::kThresholds};
  const std::vector<std::int64_t>* lists[4] = {&settings.quant_vectors[0], &settings.quant_vectors[1],
                                               &settings.quant_vectors[2], &settings.thresholds};
  for (int list = 0; list < 4; ++list) {
    const std::int64_t expected = list < 3 ? format::subband_count(static_cast<int>(levels)) : levels + 1;
    const auto count = static_cast<std::int64_t>(lists[list]->size());
    if (count != expected) return {kLists[list], Breach::kCount, -1, expected, count};
    const std::int64_t limit = list < 3 ? varnic::kMaxQuantStep : varnic::kMaxThreshold;
    for (std::size_t k = 0; k < lists[list]->size(); ++k) {
      const std::int64_t value = (*lists[list])[k];
      const int entry = static_cast<int>(k);
      if (value < 0) return {kLists[list], Breach::kBelowMinimum, entry, 0, value};
      if (value > limit) return {kLists[list], Breach::kAboveMaximum, entry, limit, value};
    }
  }

  for (std::size_t c = 0; c < kChannelCount; ++c) {
    const std::int64_t dropped = settings.dropped_levels[c];
    const int entry = static_cast<int>(c);
    if (dropped < 0) return {Setting::kDropped, Breach::kBelowMinimum, entry, 0, dropped};
    if (dropped >= levels) return {Setting::kDropped, Breach::kAboveMaximum, entry, levels - 1, dropped};
  }
  return {};
}

StatusCode setup_status(const SettingsProblem& problem) {
  constexpr StatusCode kCount[3] = {StatusCode::kQuantVectorACount, StatusCode::kQuantVectorBCount,
                                    StatusCode::kQuantVectorCCount};
  constexpr StatusCode kTooLarge[3] = {StatusCode::kQuantVectorATooLarge, StatusCode::kQuantVectorBTooLarge,
                                       StatusCode::kQuantVectorCTooLarge};
  constexpr StatusCode kNotNumbers[3] = {StatusCode::kQuantVectorANotNumbers, StatusCode::kQuantVectorBNotNumbers,
                                         StatusCode::kQuantVectorCNotNumbers};
  constexpr StatusCode kDropped[3] = {StatusCode::kALevelsInvalid, StatusCode::kBLevelsInvalid,
                                      StatusCode::kCLevelsInvalid};
  switch (problem.setting) {
    case Setting::kNone: return StatusCode::kOk;
    case Setting::kQuality: return StatusCode::kQualityOutOfRange;
    case Setting::kImageType: return StatusCode::kImageTypeWrong;
    case Setting::kLevels: return StatusCode::kTotalLevelsOutOfRange;
    case Setting::kQuantY:
    case Setting::kQuantI:
    case Setting::kQuantQ: {
      const auto c = static_cast<std::size_t>(problem.setting) - static_cast<std::size_t>(Setting::kQuantY);
      // The dialog's fields hold digits only: a number below 0 cannot be typed there.
      return problem.breach == Breach::kCount          ? kCount[c]
             : problem.breach == Breach::kBelowMinimum ? kNotNumbers[c]
                                                       : kTooLarge[c];
    }
    case Setting::kThresholds:
      return problem.breach == Breach::kCount          ? StatusCode::kThresholdVectorCount
             : problem.breach == Breach::kBelowMinimum ? StatusCode::kThresholdVectorNotNumbers
                                                       : StatusCode::kThresholdVectorTooLarge;
    case Setting::kDropped: return kDropped[static_cast<std::size_t>(problem.entry)];
    case Setting::kComment: return StatusCode::kCommentTooLong;
    case Setting::kOptimize: return StatusCode::kEncodeFailed;  // no dialog offers the optimiser
  }
  return StatusCode::kEncodeFailed;
}

StatusCode validate_full_settings(const FullSettings& settings) { return setup_status(check_full_settings(settings)); }

StatusCode apply_full_settings(const FullSettings& settings, CodecParams& params) {
  VARNIC_RETURN_IF_ERROR(validate_full_settings(settings));
  params.total_levels = static_cast<std::uint16_t>(settings.total_levels);
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    ChannelParams& channel = params.channels[c];
    channel.dropped_levels = static_cast<std::int32_t>(settings.dropped_levels[c]);
    const auto& vector = settings.quant_vectors[c];
    for (std::size_t k = 0; k < vector.size(); ++k) {
      channel.quant_vector[k] = static_cast<std::uint16_t>(vector[k]);
    }
  }
  params.threshold_vector.fill(0);
  for (std::size_t l = 0; l < settings.thresholds.size(); ++l) {
    params.threshold_vector[l] = static_cast<std::uint16_t>(settings.thresholds[l]);
  }
  format::compute_padded_size(params);
  return StatusCode::kOk;
}

}  // namespace varnic::codec
