// SPDX-License-Identifier: BSD-2-Clause
// The inverse wavelet row by row. Every output row of a step depends on at most two rows of the
// coarser step's output and three rows of the step's detail bands, so each step keeps rings of
// four rows and pulls the coarser step's rows as it needs them, and its bands' rows from their
// codes or, for bands left in the stream, from the zerotree walk as it goes.
//
// The rules, with every sum formed in 32 bits from sign-extended 16-bit samples, >> an arithmetic
// shift and every result truncated to 16 bits when stored. A full step reads s_i (coarser rows,
// beside the h band) and d_i (the v and d bands) and makes the rows t of a vertical pass:
//   t[0] = (2 s0 - 7 d0 + d1) >> 2             t[1] = (d1 + 2 s0 + d0) >> 2
//   t[2i+1] = (d_i + 2 s_i + d_i+1) >> 2      t[2i] = ((t[2i-1] + t[2i+1]) >> 1) - d_i
//   t[H-1] = (d_hh-1 + 2 s_hh-1) >> 2        t[H-2] = ((s_hh-2 + s_hh-1) >> 2) + ((d_hh-2 + 2 d_hh-1) >> 3) - d_hh-1
// then the horizontal pass of each row (synthesis_rows.h). A dropped level upsamples with every
// detail taken as zero. Interior even rows read back the odd rows as stored (truncated), so
// their order is part of the result.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "decoder/decoder.h"
#include "decoder/synthesis_rows.h"
#include "decoder/walk.h"
#include "utils/wide_loops.h"

namespace varnic::decoder {

using format::StatusCode;
using format::Channel;
namespace {

using format::Orientation;

constexpr int kRing = 4;  // rows kept per ring; requests never reach further back than 3

// A band's codes as samples. Runs of zero codes, most of a fine band, skip the table.
VARNIC_WIDE_LOOP(void, dequantize_row, (const std::int8_t* codes, const DequantTable& table, int n,
                                      int16_t* out), (codes, table, n, out)) {
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, codes + x, sizeof chunk);
    if (chunk == 0) {
      std::fill_n(out + x, 8, int16_t{0});
      continue;
    }
    for (int k = 0; k < 8; ++k) out[x + k] = table[static_cast<std::uint8_t>(codes[x + k])];
  }
  for (; x < n; ++x) out[x] = table[static_cast<std::uint8_t>(codes[x])];
}

// The vertical rules, one output row each.
VARNIC_WIDE_LOOP(void, first_row, (const int16_t* s0, const int16_t* d0, const int16_t* d1, int n, int16_t* t),
                 (s0, d0, d1, n, t)) {
  for (int x = 0; x < n; ++x) t[x] = store_sample((2 * s0[x] - 7 * d0[x] + d1[x]) >> 2);
}
VARNIC_WIDE_LOOP(void, odd_row, (const int16_t* di, const int16_t* si, const int16_t* dn, int n, int16_t* t),
                 (di, si, dn, n, t)) {
  for (int x = 0; x < n; ++x) t[x] = store_sample((di[x] + 2 * si[x] + dn[x]) >> 2);
}
VARNIC_WIDE_LOOP(void, even_row, (const int16_t* prev, const int16_t* next, const int16_t* di, int n, int16_t* t),
                 (prev, next, di, n, t)) {
  for (int x = 0; x < n; ++x) t[x] = store_sample(((prev[x] + next[x]) >> 1) - di[x]);
}
VARNIC_WIDE_LOOP(void, last_row, (const int16_t* dl, const int16_t* sl, int n, int16_t* t), (dl, sl, n, t)) {
  for (int x = 0; x < n; ++x) t[x] = store_sample((dl[x] + 2 * sl[x]) >> 2);
}
VARNIC_WIDE_LOOP(void, second_last_row, (const int16_t* sl2, const int16_t* sl, const int16_t* dl2,
                                       const int16_t* dl, int n, int16_t* t), (sl2, sl, dl2, dl, n, t)) {
  for (int x = 0; x < n; ++x) t[x] = store_sample(((sl2[x] + sl[x]) >> 2) + ((dl2[x] + 2 * dl[x]) >> 3) - dl[x]);
}
VARNIC_WIDE_LOOP(void, horizontal_row, (const int16_t* t, int cols, int16_t* o, int16_t* odd), (t, cols, o, odd)) {
  horizontal_synthesis(t, cols, o, odd);
}

// The upsampling rules: a vertical row from one or two coarser rows, then the horizontal one.
VARNIC_WIDE_LOOP(void, halve_row, (const int16_t* s, int n, int16_t* u), (s, n, u)) {
  for (int x = 0; x < n; ++x) u[x] = store_sample(s[x] >> 1);
}
VARNIC_WIDE_LOOP(void, quarter_sum_row, (const int16_t* a, const int16_t* b, int n, int16_t* u), (a, b, n, u)) {
  for (int x = 0; x < n; ++x) u[x] = store_sample((a[x] + b[x]) >> 2);
}
VARNIC_WIDE_LOOP(void, upsample_row, (const int16_t* r, int cols, int16_t* o), (r, cols, o)) {
  horizontal_upsample(r, cols, o);
}

// Rows of `width` samples in a ring, each tagged with the row it holds.
class Ring {
 public:
  void allocate(int width) {
    width_ = width;
    samples_.assign(static_cast<std::size_t>(width) * kRing, 0);
    held_.fill(-1);
  }
  bool holds(int r) const { return held_[static_cast<std::size_t>(r % kRing)] == r; }
  const int16_t* get(int r) const { return slot(r); }
  int16_t* put(int r) {
    held_[static_cast<std::size_t>(r % kRing)] = r;
    return slot(r);
  }

 private:
  int16_t* slot(int r) const {
    return const_cast<int16_t*>(samples_.data()) + static_cast<std::size_t>(r % kRing) * static_cast<std::size_t>(width_);
  }
  int width_ = 0;
  std::vector<int16_t> samples_;
  std::array<int, kRing> held_{};
};

// The codes of one band, row by row: held codes, the walk of a band left in the stream (rows in
// increasing order; the rings above never ask again for a row further back than the last), or
// zeros for a plane without coefficients.
class BandRows {
 public:
  void hold(const CodeBand& codes) { codes_ = &codes; }
  void stream(const StreamedBands& bands, Orientation o, int keep) {
    const auto [y0, x0] = o == Orientation::kH ? std::pair<std::uint32_t, std::uint32_t>{0, bands.band_cols}
                          : o == Orientation::kV ? std::pair<std::uint32_t, std::uint32_t>{bands.band_rows, 0}
                                                 : std::pair<std::uint32_t, std::uint32_t>{bands.band_rows, bands.band_cols};
    state_ = bands.start[static_cast<std::size_t>(o)];
    parents_ = bands.step > 0 ? &bands.parents : nullptr;
    y0_ = y0;
    x0_ = x0;
    width_ = bands.band_cols;
    row_.assign(static_cast<std::size_t>(keep), 0);
  }
  void zeros(int keep) { row_.assign(static_cast<std::size_t>(keep), 0); }

  const std::int8_t* row(int i) {
    if (codes_ != nullptr) return codes_->row(static_cast<std::uint32_t>(i));
    for (; state_ && next_ <= i; ++next_) {
      std::fill(row_.begin(), row_.end(), std::int8_t{0});
      walk_row(*state_, parents_, nullptr, y0_ + static_cast<std::uint32_t>(next_), x0_, width_, row_.data(),
               static_cast<std::uint32_t>(row_.size()));
    }
    return row_.data();
  }

 private:
  const CodeBand* codes_ = nullptr;
  std::optional<WalkState> state_;
  const TreeFlags* parents_ = nullptr;
  std::uint32_t y0_ = 0, x0_ = 0, width_ = 0;
  std::vector<std::int8_t> row_;
  int next_ = 0;
};

}  // namespace

// The low band (kind kLow), a coded level (kFull) or a dropped one (kUpsample). `cols` is the width
// the step computes (twice in_cols, or the region's), of which the finer step reads its share.
struct LineSynthesis::Step {
  enum Kind { kLow, kFull, kUpsample };
  Kind kind = kLow;
  int rows = 0, cols = 0;  // the step's output region and the columns computed
  int in_cols = 0;         // of each input half
  Step* coarser = nullptr;
  BandRows low_codes;
  std::array<BandRows, 3> band;  // by orientation
  DequantTable low{}, band_h{}, band_v{}, band_d{};
  Ring out, s, d, t;
  std::vector<int16_t> odd;

  // Output row r; rows are asked for in one order, increasing or decreasing, the last four again
  // at will: the rules reach no further than that in either order.
  const int16_t* row(int r) {
    if (!out.holds(r)) produce(r);
    return out.get(r);
  }

 private:
  int half_rows() const { return rows / 2; }
  BandRows& codes(Orientation o) { return band[static_cast<std::size_t>(o)]; }

  // s_i: the coarser output row beside the h band's row i.
  const int16_t* s_row(int i) {
    if (!s.holds(i)) {
      int16_t* r = s.put(i);
      std::copy_n(coarser->row(i), in_cols, r);
      dequantize_row(codes(Orientation::kH).row(i), band_h, in_cols, r + in_cols);
    }
    return s.get(i);
  }
  // d_i: the v and d bands' row i.
  const int16_t* d_row(int i) {
    if (!d.holds(i)) {
      int16_t* r = d.put(i);
      dequantize_row(codes(Orientation::kV).row(i), band_v, in_cols, r);
      dequantize_row(codes(Orientation::kD).row(i), band_d, in_cols, r + in_cols);
    }
    return d.get(i);
  }
  const int16_t* t_row(int r) {
    if (t.holds(r)) return t.get(r);
    const int hh = half_rows();
    if (r == 0) {
      const int16_t* s0 = s_row(0);
      const int16_t* d0 = d_row(0);
      first_row(s0, d0, d_row(1), cols, t.put(r));
    } else if (r == rows - 1) {
      const int16_t* dl = d_row(hh - 1);
      last_row(dl, s_row(hh - 1), cols, t.put(r));
    } else if (r == rows - 2) {
      const int16_t* sl2 = s_row(hh - 2);
      const int16_t* sl = s_row(hh - 1);
      const int16_t* dl2 = d_row(hh - 2);
      second_last_row(sl2, sl, dl2, d_row(hh - 1), cols, t.put(r));
    } else if (r % 2 == 1) {
      const int i = (r - 1) / 2;
      const int16_t* di = d_row(i);
      const int16_t* si = s_row(i);
      odd_row(di, si, d_row(i + 1), cols, t.put(r));
    } else {
      const int16_t* prev = t_row(r - 1);
      const int16_t* next = t_row(r + 1);
      even_row(prev, next, d_row(r / 2), cols, t.put(r));
    }
    return t.get(r);
  }
  const int16_t* u_row(int r, int16_t* u) {
    const int hh = half_rows();
    if (r <= 1) {
      halve_row(coarser->row(0), in_cols, u);
    } else if (r == rows - 2) {
      const int16_t* a = coarser->row(hh - 2);
      quarter_sum_row(a, coarser->row(hh - 1), in_cols, u);
    } else if (r == rows - 1) {
      halve_row(coarser->row(hh - 1), in_cols, u);
    } else if (r % 2 == 1) {
      halve_row(coarser->row((r - 1) / 2), in_cols, u);
    } else {
      const int16_t* a = coarser->row(r / 2 - 1);
      quarter_sum_row(a, coarser->row(r / 2), in_cols, u);
    }
    return u;
  }
  void produce(int r) { produce(r, out.put(r)); }

 public:
  // Row r into o (cols samples), kept nowhere else: for the last step, whose rows nothing reads again.
  void produce(int r, int16_t* o) {
    switch (kind) {
      case kLow:
        dequantize_row(low_codes.row(r), low, cols, o);
        break;
      case kFull:
        horizontal_row(t_row(r), cols, o, odd.data());
        break;
      case kUpsample:
        upsample_row(u_row(r, odd.data()), cols, o);
        break;
    }
  }
};

LineSynthesis::LineSynthesis() = default;
LineSynthesis::~LineSynthesis() = default;
LineSynthesis::LineSynthesis(LineSynthesis&&) noexcept = default;
LineSynthesis& LineSynthesis::operator=(LineSynthesis&&) noexcept = default;

namespace {

// Whether held codes cover `rows` x `cols`; an empty band reads as zeros.
bool covers(const CodeBand& codes, int rows, int cols) {
  return codes.empty() || (codes.height >= static_cast<std::uint32_t>(rows) && codes.width >= static_cast<std::uint32_t>(cols));
}

}  // namespace

StatusCode LineSynthesis::start(const PlaneCodes& codes, const format::CodecParams& params, Channel channel,
                                const SynthesisPlan& plan) {
  steps_.clear();
  const int levels = params.total_levels;
  const int coded = coded_steps(plan, params, channel);
  const StreamedBands* streamed = codes.streamed();
  if (codes.empty() || plan.levels != levels || codes.coded_steps() < coded ||
      (streamed != nullptr && streamed->step != coded - 1) || !covers(codes.low(), plan.low_rows, plan.low_cols)) {
    return StatusCode::kReconstructFailed;
  }
  const format::ChannelParams& cp = params.channel(channel);
  const bool marked = codes.marked();
  try {
    auto low = std::make_unique<Step>();
    low->kind = Step::kLow;
    low->rows = static_cast<int>(params.padded_height >> levels);
    low->cols = plan.low_cols;
    if (codes.low().empty()) {
      low->low_codes.zeros(plan.low_cols);
    } else {
      low->low_codes.hold(codes.low());
    }
    low->low = dequant_table(cp, format::low_band_index(levels), true, marked);
    low->out.allocate(low->cols);
    steps_.push_back(std::move(low));
    for (int k = 0; k < plan.steps; ++k) {
      const StepPlan& p = plan.step[static_cast<std::size_t>(k)];
      auto s = std::make_unique<Step>();
      s->rows = p.rows;
      s->in_cols = p.in_cols;
      s->cols = 2 * p.in_cols;
      s->coarser = steps_.back().get();
      s->out.allocate(s->cols);
      if (k < coded) {
        s->kind = Step::kFull;
        const int level = levels - 1 - k;
        for (const Orientation o : {Orientation::kH, Orientation::kV, Orientation::kD}) {
          BandRows& rows = s->band[static_cast<std::size_t>(o)];
          const CodeBand& held = codes.band(k, o);
          if (streamed != nullptr && k == coded - 1) {
            rows.stream(*streamed, o, p.in_cols);
          } else if (held.empty()) {
            rows.zeros(p.in_cols);
          } else if (covers(held, p.in_rows, p.in_cols)) {
            rows.hold(held);
          } else {
            steps_.clear();
            return StatusCode::kReconstructFailed;
          }
        }
        s->band_h = dequant_table(cp, format::subband_index(level, Orientation::kH), false, marked);
        s->band_v = dequant_table(cp, format::subband_index(level, Orientation::kV), false, marked);
        s->band_d = dequant_table(cp, format::subband_index(level, Orientation::kD), false, marked);
        s->s.allocate(s->cols);
        s->d.allocate(s->cols);
        s->t.allocate(s->cols);
      } else {
        s->kind = Step::kUpsample;
      }
      s->odd.assign(static_cast<std::size_t>(s->cols), 0);
      steps_.push_back(std::move(s));
    }
  } catch (const std::bad_alloc&) {
    steps_.clear();
    return StatusCode::kOutOfMemory;
  }
  return StatusCode::kOk;
}

const std::int16_t* LineSynthesis::row(int r) { return steps_.back()->row(r); }

int LineSynthesis::row_width() const { return steps_.back()->cols; }

void LineSynthesis::row_into(int r, std::int16_t* out) { steps_.back()->produce(r, out); }

}  // namespace varnic::decoder
