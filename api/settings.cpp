// SPDX-License-Identifier: BSD-2-Clause
// Encode settings: the public check over the codec's one validator, the library's words for its
// answer, and the codec's parameters built from the options.
#include <algorithm>
#include <new>

#include "api/internal.h"
#include "codec/settings.h"

namespace varnic {
namespace {

EncodeOption public_option(codec::Setting setting) {
  using S = codec::Setting;
  switch (setting) {
    case S::kNone: return EncodeOption::kNone;
    case S::kQuality: return EncodeOption::kQuality;
    case S::kImageType: return EncodeOption::kType;
    case S::kLevels: return EncodeOption::kLevels;
    case S::kQuantY: return EncodeOption::kQuantY;
    case S::kQuantI: return EncodeOption::kQuantI;
    case S::kQuantQ: return EncodeOption::kQuantQ;
    case S::kThresholds: return EncodeOption::kThresholds;
    case S::kDropped: return EncodeOption::kDropped;
    case S::kComment: return EncodeOption::kComment;
    case S::kOptimize: return EncodeOption::kOptimize;
  }
  return EncodeOption::kNone;
}

OptionProblem::Kind public_kind(codec::Breach breach) {
  using B = codec::Breach;
  using K = OptionProblem::Kind;
  switch (breach) {
    case B::kNone: return K::kNone;
    case B::kBelowMinimum: return K::kBelowMinimum;
    case B::kAboveMaximum: return K::kAboveMaximum;
    case B::kCount: return K::kWrongCount;
  }
  return K::kNone;
}

OptionProblem public_problem(const codec::SettingsProblem& p) {
  return {public_option(p.setting), public_kind(p.breach), p.entry, p.bound, p.value};
}

bool full_settings_given(const EncodeOptions& o) {
  return o.quant_y || o.quant_i || o.quant_q || o.thresholds || o.dropped;
}

// The settings of the options at their level count: given lists as they are, the others as the
// quality derives them. The options' quality, type and levels must be in range.
codec::FullSettings full_settings(const EncodeOptions& options, format::CodecParams& derived) {
  const int levels = options.levels.value_or(kDefaultLevels);
  derived = codec::default_codec_params();
  derived.quality_factor = static_cast<std::int16_t>(options.quality);
  derived.image_type = static_cast<std::int16_t>(options.type);
  derived.total_levels = static_cast<std::uint16_t>(levels);
  (void)codec::derive_params_from_quality(derived);  // in range: checked before
  format::compute_padded_size(derived);

  codec::FullSettings settings;
  settings.total_levels = levels;
  const std::optional<std::vector<int>>* given[3] = {&options.quant_y, &options.quant_i, &options.quant_q};
  for (std::size_t c = 0; c < 3; ++c) {
    const format::ChannelParams& channel = derived.channels[c];
    auto& vector = settings.quant_vectors[c];
    if (*given[c]) {
      vector.assign((*given[c])->begin(), (*given[c])->end());
    } else {
      vector.assign(channel.quant_vector.begin(), channel.quant_vector.begin() + format::subband_count(levels));
    }
    // A derived dropped count can reach the level count at low quality with few levels; the
    // encoder lowers it below the levels anyway, so lowering it here changes no byte.
    settings.dropped_levels[c] =
        options.dropped ? (*options.dropped)[c] : std::min<std::int64_t>(channel.dropped_levels, levels - 1);
  }
  if (options.thresholds) {
    settings.thresholds.assign(options.thresholds->begin(), options.thresholds->end());
  } else {
    settings.thresholds.assign(derived.threshold_vector.begin(), derived.threshold_vector.begin() + levels + 1);
  }
  return settings;
}

OptionProblem check_unguarded(const EncodeOptions& options) {
  using codec::Setting;
  const std::pair<Setting, std::int64_t> values[] = {
      {Setting::kQuality, options.quality},
      {Setting::kImageType, static_cast<std::int64_t>(options.type)},
      {Setting::kLevels, options.levels.value_or(kDefaultLevels)},
      {Setting::kOptimize, options.optimize},
      {Setting::kComment, static_cast<std::int64_t>(options.comment.size())},
  };
  for (const auto& [setting, value] : values)
    if (const codec::SettingsProblem p = codec::check_value(setting, value); !p.ok()) return public_problem(p);
  if (options.threads < 1) return {EncodeOption::kThreads, OptionProblem::Kind::kBelowMinimum, -1, 1, options.threads};
  if (options.threads > kMaxThreads)
    return {EncodeOption::kThreads, OptionProblem::Kind::kAboveMaximum, -1, kMaxThreads, options.threads};
  if (options.optimize != 0 && full_settings_given(options)) {
    const EncodeOption first = options.quant_y ? EncodeOption::kQuantY
                               : options.quant_i ? EncodeOption::kQuantI
                               : options.quant_q ? EncodeOption::kQuantQ
                               : options.thresholds ? EncodeOption::kThresholds
                                                    : EncodeOption::kDropped;
    return {first, OptionProblem::Kind::kOptimizerChooses, -1, 0, 0};
  }
  if (options.optimize == 0 && options.tune != Tune::kPsnr)
    return {EncodeOption::kTune, OptionProblem::Kind::kNeedsOptimizer, -1, 0, static_cast<std::int64_t>(options.tune)};
  if (!options.levels && !full_settings_given(options)) return {};  // all derived
  format::CodecParams derived;
  return public_problem(codec::check_full_settings(full_settings(options, derived)));
}

std::string setting_name(EncodeOption option) {
  switch (option) {
    case EncodeOption::kNone: return "settings";
    case EncodeOption::kQuality: return "quality";
    case EncodeOption::kType: return "image type";
    case EncodeOption::kLevels: return "levels";
    case EncodeOption::kQuantY: return "Y quantization vector";
    case EncodeOption::kQuantI: return "I quantization vector";
    case EncodeOption::kQuantQ: return "Q quantization vector";
    case EncodeOption::kThresholds: return "thresholds";
    case EncodeOption::kDropped: return "dropped levels";
    case EncodeOption::kComment: return "comment";
    case EncodeOption::kOptimize: return "optimiser level";
    case EncodeOption::kThreads: return "threads";
    case EncodeOption::kTune: return "tuning";
  }
  return "settings";
}

}  // namespace

OptionProblem check_encode_options(const EncodeOptions& options) {
  try {
    return check_unguarded(options);
  } catch (const std::bad_alloc&) {
    return {};  // a few small lists: encode itself then reports the lack of memory
  }
}

std::string describe(const OptionProblem& problem) {
  using K = OptionProblem::Kind;
  std::string subject = setting_name(problem.option);
  if (problem.entry >= 0) {
    static constexpr const char* kPlanes[3] = {"Y", "I", "Q"};
    subject = problem.option == EncodeOption::kDropped && problem.entry < 3
                  ? subject + " of " + kPlanes[problem.entry]
                  : subject + ", entry " + std::to_string(problem.entry + 1);
  }
  const std::string value =
      std::to_string(problem.value) + (problem.option == EncodeOption::kComment ? " bytes" : "");
  switch (problem.kind) {
    case K::kNone: return {};
    case K::kBelowMinimum: return subject + ": " + value + " is below the minimum " + std::to_string(problem.bound);
    case K::kAboveMaximum: return subject + ": " + value + " is above the maximum " + std::to_string(problem.bound);
    case K::kWrongCount:
      return subject + ": " + std::to_string(problem.bound) + " numbers are needed (" +
             (problem.option == EncodeOption::kThresholds ? "levels + 1" : "3 x levels + 1") + "), not " +
             std::to_string(problem.value);
    case K::kOptimizerChooses:
      return subject + ": the optimiser chooses it; with an optimiser level only the levels may be given";
    case K::kNeedsOptimizer: return subject + ": only the optimising encoder has it; give an optimiser level";
  }
  return subject;
}

namespace detail {

Result<format::CodecParams> encode_settings(const EncodeOptions& options) {
  if (const OptionProblem problem = check_encode_options(options))
    return {Status::kInvalidArgument, describe(problem)};
  format::CodecParams derived;
  const codec::FullSettings settings = full_settings(options, derived);
  if (!options.levels && !full_settings_given(options)) return derived;
  if (const format::StatusCode s = codec::apply_full_settings(settings, derived); s != format::StatusCode::kOk)
    return failure<format::CodecParams>(s);
  return derived;
}

}  // namespace detail
}  // namespace varnic
