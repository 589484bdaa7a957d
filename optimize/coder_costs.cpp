// SPDX-License-Identifier: BSD-2-Clause
#include "optimize/coder_costs.h"

#include <cmath>

namespace varnic::optimize {

const std::array<float, format::kFrequencyCeiling + 1> kLog2Counts = [] {
  std::array<float, format::kFrequencyCeiling + 1> table{};
  for (std::size_t n = 1; n < table.size(); ++n) table[n] = static_cast<float>(std::log2(static_cast<double>(n)));
  return table;
}();

}  // namespace varnic::optimize
