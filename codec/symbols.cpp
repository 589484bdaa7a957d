// SPDX-License-Identifier: BSD-2-Clause
#include "codec/symbols.h"

#include <utility>

#include "format/arithmetic_coder.h"

namespace varnic::codec {

std::array<std::uint32_t, 256> count_codes(const format::SymbolPlane& plane) {
  // Four tables, so that runs of one code do not wait on one counter.
  std::array<std::array<std::uint32_t, 256>, 4> parts{};
  const std::int8_t* v = plane.data();
  const std::size_t n = plane.size();
  auto index = [](std::int8_t code) { return static_cast<std::uint8_t>(code + format::kSymbolBias); };
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++parts[0][index(v[i])];
    ++parts[1][index(v[i + 1])];
    ++parts[2][index(v[i + 2])];
    ++parts[3][index(v[i + 3])];
  }
  for (; i < n; ++i) ++parts[0][index(v[i])];
  std::array<std::uint32_t, 256> count{};
  for (const auto& part : parts) {
    for (std::size_t c = 0; c < 256; ++c) count[c] += part[c];
  }
  return count;
}

SymbolCoding symbol_coding(const std::array<std::uint32_t, 256>& count) {
  std::array<std::pair<std::uint32_t, int>, 256> order;
  for (std::size_t v = 0; v < 256; ++v) order[v] = {count[v], static_cast<int>(v)};
  for (std::size_t i = 0; i < 255; ++i) {
    for (std::size_t j = i + 1; j < 256; ++j) {
      if (order[j].first > order[i].first) std::swap(order[i], order[j]);
    }
  }
  // Codes stay within -127..127, so at most 255 distinct symbols: the count byte cannot overflow.
  SymbolCoding coding;
  for (const auto& [n, v] : order) {
    if (n == 0) continue;
    coding.rank[static_cast<std::size_t>(v)] = coding.table.count;
    coding.table.values[static_cast<std::size_t>(coding.table.count++)] = static_cast<std::uint8_t>(v);
  }
  return coding;
}

SegmentSplit segment_split(const format::SymbolPlane& plane, int dropped_levels) {
  SegmentSplit s;
  s.coded = plane.size() >> (2 * dropped_levels);
  s.split = s.coded / 4;
  return s;
}

void code_segment(const format::SymbolPlane& plane, int total_levels, std::size_t begin, std::size_t end,
                  const SymbolCoding& symbols, std::vector<std::uint8_t>& out) {
  format::AdaptiveModel model;
  format::ArithmeticEncoder encoder(out);
  model.start(symbols.table.count);
  encoder.start();
  for_each_in_coding_order(plane, total_levels, begin, end, [&](std::int8_t v) {
    if (v == format::kZeroTreeInside) return;
    const int symbol = model.symbol_of(symbols.rank[static_cast<std::uint8_t>(v + format::kSymbolBias)]);
    encoder.encode(model, symbol);
    model.update(symbol);
  });
  encoder.encode(model, model.end_symbol());
  encoder.finish();
}

}  // namespace varnic::codec
