// SPDX-License-Identifier: BSD-2-Clause
// The inverse wavelet row by row. Every output row of a step depends on at most two rows of the
// coarser step's output and three rows of the step's detail bands (synthesis.cpp's rules), so
// each step keeps rings of four rows and pulls the coarser step's rows as it needs them. The
// rules, their order and their truncations are those of synthesis_step and upsample_step, so
// the samples are the same.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "decoder/decoder.h"
#include "decoder/synthesis_rows.h"
#include "utils/wide_loops.h"

namespace varnic::decoder {
namespace {

constexpr int kRing = 4;  // rows kept per ring; requests never reach further back than 3

// A band's codes as samples. Runs of zero codes, most of a fine band, skip the table.
VARNIC_WIDE_LOOPS void dequantize_row(const std::int8_t* codes, const DequantTable& table, int n,
                                      int16_t* out) {
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

// The vertical rules of synthesis.cpp, one output row each.
VARNIC_WIDE_LOOPS void first_row(const int16_t* s0, const int16_t* d0, const int16_t* d1, int n, int16_t* t) {
  for (int x = 0; x < n; ++x) t[x] = Store((2 * s0[x] - 7 * d0[x] + d1[x]) >> 2);
}
VARNIC_WIDE_LOOPS void odd_row(const int16_t* di, const int16_t* si, const int16_t* dn, int n, int16_t* t) {
  for (int x = 0; x < n; ++x) t[x] = Store((di[x] + 2 * si[x] + dn[x]) >> 2);
}
VARNIC_WIDE_LOOPS void even_row(const int16_t* prev, const int16_t* next, const int16_t* di, int n, int16_t* t) {
  for (int x = 0; x < n; ++x) t[x] = Store(((prev[x] + next[x]) >> 1) - di[x]);
}
VARNIC_WIDE_LOOPS void last_row(const int16_t* dl, const int16_t* sl, int n, int16_t* t) {
  for (int x = 0; x < n; ++x) t[x] = Store((dl[x] + 2 * sl[x]) >> 2);
}
VARNIC_WIDE_LOOPS void second_last_row(const int16_t* sl2, const int16_t* sl, const int16_t* dl2,
                                       const int16_t* dl, int n, int16_t* t) {
  for (int x = 0; x < n; ++x) t[x] = Store(((sl2[x] + sl[x]) >> 2) + ((dl2[x] + 2 * dl[x]) >> 3) - dl[x]);
}
VARNIC_WIDE_LOOPS void horizontal_row(const int16_t* t, int cols, int16_t* o, int16_t* odd) {
  horizontal_synthesis(t, cols, o, odd);
}

// upsample_step's rules: a vertical row from one or two coarser rows, then the horizontal one.
VARNIC_WIDE_LOOPS void halve_row(const int16_t* s, int n, int16_t* u) {
  for (int x = 0; x < n; ++x) u[x] = Store(s[x] >> 1);
}
VARNIC_WIDE_LOOPS void quarter_sum_row(const int16_t* a, const int16_t* b, int n, int16_t* u) {
  for (int x = 0; x < n; ++x) u[x] = Store((a[x] + b[x]) >> 2);
}
VARNIC_WIDE_LOOPS void upsample_row(const int16_t* r, int cols, int16_t* o) {
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

}  // namespace

// The low band (kind kLow), a coded level (kFull) or a dropped one (kUpsample).
struct LineSynthesis::Step {
  enum Kind { kLow, kFull, kUpsample };
  Kind kind = kLow;
  int rows = 0, cols = 0;  // the step's output region
  Step* coarser = nullptr;
  const format::SymbolPlane* codes = nullptr;
  DequantTable low{}, band_h{}, band_v{}, band_d{};
  Ring out, s, d, t;
  std::vector<int16_t> odd;

  // Output row r; rows are asked for in increasing order, the last four again at will.
  const int16_t* row(int r) {
    if (!out.holds(r)) produce(r);
    return out.get(r);
  }

 private:
  int half_rows() const { return rows / 2; }
  int half_cols() const { return cols / 2; }

  // s_i: the coarser output row beside the h band's row i.
  const int16_t* s_row(int i) {
    if (!s.holds(i)) {
      int16_t* r = s.put(i);
      std::copy_n(coarser->row(i), half_cols(), r);
      dequantize_row(codes->row(static_cast<std::uint32_t>(i)) + half_cols(), band_h, half_cols(), r + half_cols());
    }
    return s.get(i);
  }
  // d_i: the v and d bands' row i.
  const int16_t* d_row(int i) {
    if (!d.holds(i)) {
      int16_t* r = d.put(i);
      const std::int8_t* c = codes->row(static_cast<std::uint32_t>(half_rows() + i));
      dequantize_row(c, band_v, half_cols(), r);
      dequantize_row(c + half_cols(), band_d, half_cols(), r + half_cols());
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
    const int ww = half_cols();
    if (r <= 1) {
      halve_row(coarser->row(0), ww, u);
    } else if (r == rows - 2) {
      const int16_t* a = coarser->row(hh - 2);
      quarter_sum_row(a, coarser->row(hh - 1), ww, u);
    } else if (r == rows - 1) {
      halve_row(coarser->row(hh - 1), ww, u);
    } else if (r % 2 == 1) {
      halve_row(coarser->row((r - 1) / 2), ww, u);
    } else {
      const int16_t* a = coarser->row(r / 2 - 1);
      quarter_sum_row(a, coarser->row(r / 2), ww, u);
    }
    return u;
  }
  void produce(int r) {
    switch (kind) {
      case kLow:
        dequantize_row(codes->row(static_cast<std::uint32_t>(r)), low, cols, out.put(r));
        break;
      case kFull:
        horizontal_row(t_row(r), cols, out.put(r), odd.data());
        break;
      case kUpsample:
        upsample_row(u_row(r, odd.data()), cols, out.put(r));
        break;
    }
  }
};

LineSynthesis::LineSynthesis() = default;
LineSynthesis::~LineSynthesis() = default;
LineSynthesis::LineSynthesis(LineSynthesis&&) noexcept = default;
LineSynthesis& LineSynthesis::operator=(LineSynthesis&&) noexcept = default;

StatusCode LineSynthesis::start(const format::SymbolPlane& codes, const format::CodecParams& params,
                                Channel channel) {
  steps_.clear();
  const int levels = params.total_levels;
  if (levels < 1 || levels > format::kMaxFileLevels || codes.width() != params.padded_width ||
      codes.height() != params.padded_height || codes.empty()) {
    return StatusCode::kReconstructFailed;
  }
  const format::ChannelParams& cp = params.channel(channel);
  const int coded = levels - cp.dropped_levels;
  try {
    auto low = std::make_unique<Step>();
    low->kind = Step::kLow;
    low->rows = static_cast<int>(params.padded_height >> levels);
    low->cols = static_cast<int>(params.padded_width >> levels);
    low->codes = &codes;
    low->low = dequant_table(cp, format::low_band_index(levels), true);
    low->out.allocate(low->cols);
    steps_.push_back(std::move(low));
    for (int step = 0; step < levels; ++step) {
      auto s = std::make_unique<Step>();
      const int shift = levels - 1 - step;
      s->rows = static_cast<int>(params.padded_height >> shift);
      s->cols = static_cast<int>(params.padded_width >> shift);
      // The boundary rules read two rows and two columns of each half.
      if (s->rows < 4 || s->cols < 4 || s->rows % 2 != 0 || s->cols % 2 != 0) {
        steps_.clear();
        return StatusCode::kReconstructFailed;
      }
      s->coarser = steps_.back().get();
      s->codes = &codes;
      s->out.allocate(s->cols);
      if (step < coded) {
        s->kind = Step::kFull;
        const int level = levels - 1 - step;
        s->band_h = dequant_table(cp, format::subband_index(level, format::Orientation::kH), false);
        s->band_v = dequant_table(cp, format::subband_index(level, format::Orientation::kV), false);
        s->band_d = dequant_table(cp, format::subband_index(level, format::Orientation::kD), false);
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
  next_ = 0;
  return StatusCode::kOk;
}

const std::int16_t* LineSynthesis::next_row() { return steps_.back()->row(next_++); }

}  // namespace varnic::decoder
