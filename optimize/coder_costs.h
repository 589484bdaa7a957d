// SPDX-License-Identifier: BSD-2-Clause
// What the format's adaptive coder charges for a character at the point where it is coded. The
// optimiser reads the coder's model through these three calls only, so its costs follow the
// model whatever the coder's renormalisation or bit output looks like.
#pragma once

#include <array>

#include "format/arithmetic_coder.h"

namespace varnic::optimize {

// log2 of every count and total the model can hold (its frequency ceiling).
extern const std::array<float, format::kFrequencyCeiling + 1> kLog2Counts;

class CoderCosts {
 public:
  // A fresh segment over an alphabet of `characters`.
  void start(int characters) { model_.start(characters); }
  // Bits the coder spends on `character` now: log2 of the model's total over the character's
  // count (the coder's interval shrinks by that ratio, to within its 16-bit rounding).
  float bits(int character) const {
    return kLog2Counts[static_cast<std::size_t>(model_.cum(0))] -
           kLog2Counts[static_cast<std::size_t>(model_.freq(model_.symbol_of(character)))];
  }
  // The model after `character` is coded, as the coder and every decoder update it.
  void code(int character) { model_.update(model_.symbol_of(character)); }

 private:
  format::AdaptiveModel model_;
};

}  // namespace varnic::optimize
