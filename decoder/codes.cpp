// SPDX-License-Identifier: BSD-2-Clause
// A plane's codes: the plan's share of every band, walked out of the stream once (walk.h), or
// taken from the encoder's quantized plane.

#include <algorithm>
#include <cstdlib>
#include <new>

#include "decoder/decoder.h"
#include "decoder/walk.h"

namespace varnic::decoder {

using format::StatusCode;
using format::Channel;

using format::Orientation;

namespace {

constexpr std::array<Orientation, 3> kWalkOrder = {Orientation::kH, Orientation::kV, Orientation::kD};

int half_up_to(int half, std::uint32_t wanted) {
  // Rows (columns) 0..wanted-1 read inputs up to floor((wanted - 1) / 2) + 1 for their odd and
  // interior rules, and one more for the even ones that use the next odd row.
  return static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(half), (wanted - 1) / 2 + 2));
}

// First row and column of band `o` at a step whose bands are rows x cols.
std::pair<std::uint32_t, std::uint32_t> band_origin(Orientation o, std::uint32_t rows, std::uint32_t cols) {
  return {o == Orientation::kH ? 0 : rows, o == Orientation::kV ? 0 : cols};
}

}  // namespace

StatusCode plan_synthesis(const format::CodecParams& params, int steps, std::uint32_t out_rows, std::uint32_t out_cols,
                          SynthesisPlan& plan) {
  const int levels = params.total_levels;
  if (levels < 1 || levels > format::kMaxFileLevels || steps < 0 || steps > levels || out_rows == 0 || out_cols == 0) {
    return StatusCode::kReconstructFailed;
  }
  SynthesisPlan p;
  p.levels = levels;
  p.steps = steps;
  p.out_rows = out_rows;
  p.out_cols = out_cols;
  for (int k = 0; k < levels; ++k) {
    const int shift = levels - 1 - k;
    StepPlan& s = p.step[static_cast<std::size_t>(k)];
    s.rows = static_cast<int>(params.padded_height >> shift);
    s.cols = static_cast<int>(params.padded_width >> shift);
    // The boundary rules read two rows and two columns of each half.
    if (s.rows < 4 || s.cols < 4 || s.rows % 2 != 0 || s.cols % 2 != 0) return StatusCode::kReconstructFailed;
  }
  const std::uint32_t last_rows = steps > 0 ? static_cast<std::uint32_t>(p.step[static_cast<std::size_t>(steps - 1)].rows)
                                            : params.padded_height >> levels;
  const std::uint32_t last_cols = steps > 0 ? static_cast<std::uint32_t>(p.step[static_cast<std::size_t>(steps - 1)].cols)
                                            : params.padded_width >> levels;
  if (out_rows > last_rows || out_cols > last_cols) return StatusCode::kReconstructFailed;
  std::uint32_t rows = out_rows, cols = out_cols;
  for (int k = steps - 1; k >= 0; --k) {
    StepPlan& s = p.step[static_cast<std::size_t>(k)];
    s.in_rows = half_up_to(s.rows / 2, rows);
    s.in_cols = half_up_to(s.cols / 2, cols);
    rows = static_cast<std::uint32_t>(s.in_rows);
    cols = static_cast<std::uint32_t>(s.in_cols);
  }
  p.low_rows = static_cast<int>(rows);
  p.low_cols = static_cast<int>(cols);
  plan = p;
  return StatusCode::kOk;
}

int coded_steps(const SynthesisPlan& plan, const format::CodecParams& params, Channel channel) {
  return std::clamp(params.total_levels - params.channel(channel).dropped_levels, 0, plan.steps);
}

std::uint64_t plane_code_bytes(const SynthesisPlan& plan, const format::CodecParams& params, Channel channel,
                               bool last_held) {
  const int coded = coded_steps(plan, params, channel);
  std::uint64_t bytes = std::uint64_t{static_cast<std::uint32_t>(plan.low_rows)} * static_cast<std::uint32_t>(plan.low_cols);
  for (int k = 0; k < coded; ++k) {
    if (k == coded - 1 && !last_held) break;
    const StepPlan& s = plan.step[static_cast<std::size_t>(k)];
    bytes += 3 * std::uint64_t{static_cast<std::uint32_t>(s.in_rows)} * static_cast<std::uint32_t>(s.in_cols);
  }
  // Two sets of flags, one bit per position of the square of the step before the last.
  if (coded >= 2) {
    const StepPlan& s = plan.step[static_cast<std::size_t>(coded - 2)];
    bytes += 2 * (std::uint64_t{static_cast<std::uint32_t>(s.rows)} * static_cast<std::uint32_t>(s.cols) / 8);
  }
  return bytes;
}

PlaneCodes::PlaneCodes() = default;
PlaneCodes::~PlaneCodes() = default;
PlaneCodes::PlaneCodes(PlaneCodes&&) noexcept = default;
PlaneCodes& PlaneCodes::operator=(PlaneCodes&&) noexcept = default;

void PlaneCodes::release() { *this = PlaneCodes(); }

void PlaneCodes::Free::operator()(std::int8_t* p) const { std::free(p); }

StatusCode PlaneCodes::allocate(const SynthesisPlan& plan, int coded_steps, bool last_held) {
  coded_steps_ = coded_steps;
  low_ = {nullptr, static_cast<std::uint32_t>(plan.low_cols), static_cast<std::uint32_t>(plan.low_rows)};
  std::size_t bytes = std::size_t{low_.width} * low_.height;
  for (int k = 0; k < coded_steps; ++k) {
    if (k == coded_steps - 1 && !last_held) break;
    const StepPlan& s = plan.step[static_cast<std::size_t>(k)];
    for (CodeBand& band : bands_[static_cast<std::size_t>(k)]) {
      band = {nullptr, static_cast<std::uint32_t>(s.in_cols), static_cast<std::uint32_t>(s.in_rows)};
      bytes += std::size_t{band.width} * band.height;
    }
  }
  // calloc: large blocks are fresh pages the kernel zeroes when first touched.
  storage_.reset(static_cast<std::int8_t*>(std::calloc(bytes, 1)));
  if (!storage_) return StatusCode::kOutOfMemory;
  std::int8_t* next = storage_.get();
  auto place = [&next](CodeBand& band) {
    if (band.width == 0) return;
    band.data = next;
    next += std::size_t{band.width} * band.height;
  };
  place(low_);
  for (auto& step : bands_) {
    for (CodeBand& band : step) place(band);
  }
  return StatusCode::kOk;
}

namespace {

void walk_plane(std::span<const std::uint8_t> file, const format::FileHeader& header, Channel channel,
                int coded, const format::SymbolTable& table, std::size_t position,
                const CodeBand& low, const std::array<std::array<CodeBand, 3>, format::kMaxFileLevels>& bands,
                StreamedBands* streamed) {
  const format::CodecParams& p = header.params;
  const int levels = p.total_levels;
  WalkState state{PlaneSymbolReader(file, table, position, p.channel(channel).restart_offset)};

  const std::uint32_t h0 = p.padded_height >> levels;
  const std::uint32_t w0 = p.padded_width >> levels;
  bool more = true;
  for (std::uint32_t y = 0; y < h0 && more; ++y) {
    for (std::uint32_t x = 0; x < w0; ++x) {
      int q = 0;
      if (!state.reader.next_low(q)) {
        more = false;
        break;
      }
      if (y < low.height && x < low.width) low.row(y)[x] = static_cast<std::int8_t>(q);
    }
  }

  TreeFlags parents;
  TreeFlags inside;
  for (int step = 0; step < coded; ++step) {
    const std::uint32_t h = h0 << step;
    const std::uint32_t w = w0 << step;
    const bool last = step == coded - 1;
    const TreeFlags* parent_flags = step > 0 ? &parents : nullptr;
    TreeFlags* inside_flags = last ? nullptr : &inside;
    if (inside_flags != nullptr) inside.reset(std::size_t{2} * h * 2 * w);
    for (const Orientation o : kWalkOrder) {
      const auto [y0, x0] = band_origin(o, h, w);
      if (last && streamed != nullptr) {
        streamed->start[static_cast<std::size_t>(o)] = state;
        if (o == Orientation::kD) break;  // the d band is decoded only as the synthesis reads it
        for (std::uint32_t y = y0; y < y0 + h; ++y) walk_row(state, parent_flags, nullptr, y, x0, w, nullptr, 0);
        continue;
      }
      const CodeBand& band = bands[static_cast<std::size_t>(step)][static_cast<std::size_t>(o)];
      for (std::uint32_t i = 0; i < h; ++i) {
        std::int8_t* out = i < band.height ? band.row(i) : nullptr;
        walk_row(state, parent_flags, inside_flags, y0 + i, x0, w, out, out != nullptr ? band.width : 0);
      }
    }
    if (last && streamed != nullptr) {
      streamed->step = step;
      streamed->band_rows = h;
      streamed->band_cols = w;
      if (step > 0) streamed->parents.swap(parents);
      return;
    }
    if (inside_flags != nullptr) parents.swap(inside);
  }
}

}  // namespace

StatusCode decode_plane_codes(std::span<const std::uint8_t> file, const format::FileHeader& header, Channel channel,
                              const SynthesisPlan& plan, bool leave_last, PlaneCodes& out) {
  PlaneCodes codes;
  const int coded = coded_steps(plan, header.params, channel);
  if (!header.has_coefficients()) {
    // Every code is 0: nothing is kept, every band reads as zeros.
    codes.coded_steps_ = coded;
    out = std::move(codes);
    return StatusCode::kOk;
  }
  const bool stream = leave_last && coded > 0;
  try {
    VARNIC_RETURN_IF_ERROR(codes.allocate(plan, coded, !stream));
    format::SymbolTable local;
    if (stream) codes.streamed_ = std::make_unique<StreamedBands>();
    format::SymbolTable& table = stream ? codes.streamed_->table : local;
    std::size_t position = 0;
    VARNIC_RETURN_IF_ERROR(format::read_symbol_table(file, format::plane_start(header, channel), table, position));
    walk_plane(file, header, channel, coded, table, position, codes.low_, codes.bands_, codes.streamed_.get());
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;  // the zerotree flags of a step
  }
  out = std::move(codes);
  return StatusCode::kOk;
}

// Every band of a plane in the plane layout copied into codes; `marked`: the encoder's values.
template <class Plane>
StatusCode codes_of_plane(const Plane& plane, const format::CodecParams& params, Channel channel, bool marked,
                          PlaneCodes& out) {
  SynthesisPlan plan;
  VARNIC_RETURN_IF_ERROR(plan_synthesis(params, params.total_levels, params.padded_height, params.padded_width, plan));
  if (plane.width() != params.padded_width || plane.height() != params.padded_height) {
    return StatusCode::kReconstructFailed;
  }
  PlaneCodes codes;
  const int coded = coded_steps(plan, params, channel);
  VARNIC_RETURN_IF_ERROR(codes.allocate(plan, coded, true));
  codes.marked_ = marked;
  auto copy = [&plane](const CodeBand& to, std::uint32_t y0, std::uint32_t x0) {
    for (std::uint32_t y = 0; y < to.height; ++y) {
      const auto* from = plane.row(y0 + y) + x0;
      std::int8_t* row = to.row(y);
      for (std::uint32_t x = 0; x < to.width; ++x) row[x] = static_cast<std::int8_t>(from[x]);
    }
  };
  copy(codes.low_, 0, 0);
  for (int step = 0; step < coded; ++step) {
    const std::uint32_t h = (params.padded_height >> params.total_levels) << step;
    const std::uint32_t w = (params.padded_width >> params.total_levels) << step;
    for (const Orientation o : kWalkOrder) {
      const auto [y0, x0] = band_origin(o, h, w);
      copy(codes.bands_[static_cast<std::size_t>(step)][static_cast<std::size_t>(o)], y0, x0);
    }
  }
  out = std::move(codes);
  return StatusCode::kOk;
}

StatusCode codes_from_quantized(const format::CoefficientPlane& plane, const format::CodecParams& params,
                                Channel channel, PlaneCodes& out) {
  return codes_of_plane(plane, params, channel, true, out);
}

StatusCode codes_from_plane(const format::SymbolPlane& plane, const format::CodecParams& params, Channel channel,
                            PlaneCodes& out) {
  return codes_of_plane(plane, params, channel, false, out);
}

}  // namespace varnic::decoder
