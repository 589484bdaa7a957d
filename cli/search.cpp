// SPDX-License-Identifier: BSD-2-Clause
#include "search.h"

namespace varnic::cli {

Result<std::optional<int>> highest_passing(int lo, int hi, const std::function<Result<bool>(int)>& passes) {
  Result<bool> first = passes(lo);
  if (!first) return {first.status(), first.message()};
  if (!first.value()) return std::optional<int>();
  // Invariant: passes(good) holds; everything above `bad` is taken to fail.
  int good = lo;
  int bad = hi + 1;
  while (bad - good > 1) {
    const int mid = good + (bad - good) / 2;
    Result<bool> r = passes(mid);
    if (!r) return {r.status(), r.message()};
    (r.value() ? good : bad) = mid;
  }
  return std::optional<int>(good);
}

Result<std::optional<int>> lowest_passing(int lo, int hi, const std::function<Result<bool>(int)>& passes) {
  Result<bool> last = passes(hi);
  if (!last) return {last.status(), last.message()};
  if (!last.value()) return std::optional<int>();
  int good = hi;
  int bad = lo - 1;
  while (good - bad > 1) {
    const int mid = bad + (good - bad) / 2;
    Result<bool> r = passes(mid);
    if (!r) return {r.status(), r.message()};
    (r.value() ? good : bad) = mid;
  }
  return std::optional<int>(good);
}

}  // namespace varnic::cli
