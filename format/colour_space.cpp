// SPDX-License-Identifier: BSD-2-Clause
#include "format/colour_space.h"

namespace varnic::format {
namespace {

constexpr InverseColourTables build_tables() {
  InverseColourTables t{};
  for (int i = kInverseTableMin; i <= kInverseTableMax; ++i) {
    const auto k = static_cast<std::size_t>(i - kInverseTableMin);
    t.red_from_i[k] = static_cast<std::int16_t>(inverse_term(kRedFromI, i));
    t.red_from_q[k] = static_cast<std::int16_t>(inverse_term(kRedFromQ, i));
    t.green_from_i[k] = static_cast<std::int16_t>(inverse_term(kGreenFromI, i));
    t.green_from_q[k] = static_cast<std::int16_t>(inverse_term(kGreenFromQ, i));
    t.blue_from_i[k] = static_cast<std::int16_t>(inverse_term(kBlueFromI, i));
    t.blue_from_q[k] = static_cast<std::int16_t>(inverse_term(kBlueFromQ, i));
  }
  return t;
}

constexpr InverseColourTables kTables = build_tables();

}  // namespace

const InverseColourTables& inverse_colour_tables() { return kTables; }

}  // namespace varnic::format
