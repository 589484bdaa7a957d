// SPDX-License-Identifier: BSD-2-Clause
#include "format/arithmetic_coder.h"

namespace varnic::format {

void AdaptiveModel::start(int characters) {
  if (characters < 0) characters = 0;
  if (characters > kMaxCharacters) characters = kMaxCharacters;
  n_ = characters;
  for (int i = 0; i < n_; ++i) {
    char_to_index_[i] = static_cast<std::int16_t>(i + 1);
    index_to_char_[i + 1] = static_cast<std::uint8_t>(i);
  }
  for (int i = 0; i <= n_ + 1; ++i) {
    freq_[i] = 1;
    cum_freq_[i] = n_ + 1 - i;
  }
  freq_[0] = 0;
}

void AdaptiveModel::halve() {
  std::int32_t cum = 0;
  for (int i = n_ + 1; i >= 0; --i) {
    freq_[i] = (freq_[i] + 1) / 2;
    cum_freq_[i] = cum;
    cum += freq_[i];
  }
}

}  // namespace varnic::format
