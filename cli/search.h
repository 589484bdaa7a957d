// SPDX-License-Identifier: BSD-2-Clause
// Quality search for --target-size and --target-psnr. File size grows and PSNR rises with the
// quality factor almost everywhere (the threshold table has two small dents), so a bisection
// over 0..99 needs at most 8 trial encodings; every trial is reported to the caller, which keeps
// the files, so the result always meets the target even where the curve dents.
#pragma once

#include <functional>
#include <optional>

#include "varnic/varnic.h"

namespace varnic::cli {

// Highest q in [lo, hi] for which `passes` holds, assuming it holds on a prefix of the range
// (target size). nullopt when it fails at lo. A failing trial (error) is returned as is.
[[nodiscard]] Result<std::optional<int>> highest_passing(int lo, int hi,
                                                         const std::function<Result<bool>(int)>& passes);
// Lowest q in [lo, hi] for which `passes` holds, assuming it holds on a suffix (target PSNR).
[[nodiscard]] Result<std::optional<int>> lowest_passing(int lo, int hi,
                                                        const std::function<Result<bool>(int)>& passes);

}  // namespace varnic::cli
