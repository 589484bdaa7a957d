// SPDX-License-Identifier: BSD-2-Clause
// Shared helpers of the decoder tests: conformance files, little-endian patching, and a plane's
// codes and synthesized rows as the decode driver gets them.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/little_endian.h"

namespace varnic::decoder {
using namespace ::varnic::format;

inline std::vector<std::uint8_t> read_cod(const std::string& name) {
  std::ifstream in(std::string(VARNIC_TEST_DATA) + "/conformance/cod/" + name + ".cod", std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using test_bytes::load_u32;
using test_bytes::store_u16;
using test_bytes::store_u32;

// The plan of the whole picture, or of its reduced share.
inline SynthesisPlan plan_for(const CodecParams& p, int reduce) {
  SynthesisPlan plan;
  const auto ceil_shift = [reduce](std::uint32_t v) { return (v + (1u << reduce) - 1) >> reduce; };
  EXPECT_EQ(plan_synthesis(p, p.total_levels - reduce, ceil_shift(p.image_height), ceil_shift(p.image_width), plan),
            StatusCode::kOk);
  return plan;
}

// Rows 0..out_rows - 1 of a plane's synthesis under `plan` (out_cols samples each), asked for bottom
// row first or top row first; empty when the synthesis refuses to start.
inline std::vector<std::vector<std::int16_t>> synthesized_rows(const PlaneCodes& codes, const CodecParams& p,
                                                               Channel channel, const SynthesisPlan& plan,
                                                               bool top_down = false) {
  LineSynthesis lines;
  if (lines.start(codes, p, channel, plan) != StatusCode::kOk) return {};
  std::vector<std::vector<std::int16_t>> rows(plan.out_rows);
  for (std::uint32_t k = 0; k < plan.out_rows; ++k) {
    const std::uint32_t r = top_down ? plan.out_rows - 1 - k : k;
    const std::int16_t* row = lines.row(static_cast<int>(r));
    rows[r].assign(row, row + plan.out_cols);
  }
  return rows;
}

}  // namespace varnic::decoder
