// SPDX-License-Identifier: BSD-2-Clause
// A plane's codes: the plan's share of every band, walked out of the stream once (walk.h), or
// taken from the encoder's quantized plane.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
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

using Bands = std::array<std::array<CodeBand, 3>, format::kMaxFileLevels>;

// Where the second part of a split walk learns how far the first has come: the rows of the first
// part's last step, over its three bands in walk order, whose zerotree flags are final.
class Progress {
 public:
  void publish(std::uint32_t rows) {
    rows_.store(rows);
    if (rows >= wanted_.load()) {
      const std::lock_guard lock(mutex_);
      moved_.notify_all();
    }
  }
  // Returns once `rows` (of `total`) are final. A wait that has to sleep asks for a stretch more,
  // so that the wake-ups are few when the second part keeps up with the first.
  void wait(std::uint32_t rows, std::uint32_t total) {
    if (rows_.load() >= rows) return;
    const std::uint32_t wanted = std::min(total, rows + kStretch);
    std::unique_lock lock(mutex_);
    wanted_.store(wanted);
    // The timeout only guards against a wake-up lost by a platform's condition variable.
    while (rows_.load() < wanted) moved_.wait_for(lock, std::chrono::milliseconds(1));
    wanted_.store(UINT32_MAX);
  }

 private:
  static constexpr std::uint32_t kStretch = 32;
  // A line of their own, away from the flags the second part reads.
  alignas(64) std::atomic<std::uint32_t> rows_{0};
  std::atomic<std::uint32_t> wanted_{UINT32_MAX};
  std::mutex mutex_;
  std::condition_variable moved_;
};

// The two parts' meeting point: the flags of the first part's last step (the second's parents).
struct Handoff {
  TreeFlags flags;
  std::uint32_t band_rows = 0;  // of each band at that step
  // Whether each flag row, and each band's half of it, starts a word, so that the second part can
  // read final rows while the first sets later ones; else it waits for the whole step.
  bool by_rows = false;
  Progress progress;
  std::uint32_t total() const { return 3 * band_rows; }
};

// The low band; false when an end symbol ended it early.
bool walk_low(WalkState& state, const format::CodecParams& p, const CodeBand& low) {
  const int levels = p.total_levels;
  const std::uint32_t h0 = p.padded_height >> levels;
  const std::uint32_t w0 = p.padded_width >> levels;
  for (std::uint32_t y = 0; y < h0; ++y) {
    for (std::uint32_t x = 0; x < w0; ++x) {
      int q = 0;
      if (!state.reader.next_low(q)) return false;
      if (y < low.height && x < low.width) low.row(y)[x] = static_cast<std::int8_t>(q);
    }
  }
  return true;
}

// Steps first..end-1 of a plane whose walk has `coded` steps; `parents` holds the flags of step
// first - 1 (nullptr when first is 0). With `handoff`, step end - 1 sets its flags there, publishing
// each finished row (the first part of a split walk), or, when it is the last coded step, reads
// them there, each row waiting for its parents' rows (the second part).
void walk_steps(WalkState& state, const format::CodecParams& p, int first, int end, int coded,
                const TreeFlags* parents, const Bands& bands, StreamedBands* streamed, Handoff* handoff) {
  const int levels = p.total_levels;
  const std::uint32_t h0 = p.padded_height >> levels;
  const std::uint32_t w0 = p.padded_width >> levels;
  TreeFlags previous;
  TreeFlags inside;
  const TreeFlags* parent_flags = parents;
  for (int step = first; step < end; ++step) {
    const std::uint32_t h = h0 << step;
    const std::uint32_t w = w0 << step;
    const bool last = step == coded - 1;
    const bool hands_over = handoff != nullptr && !last && step == end - 1;
    const bool follows = handoff != nullptr && last && step > 0;
    TreeFlags* inside_flags = last ? nullptr : hands_over ? &handoff->flags : &inside;
    if (inside_flags == &inside) inside.reset(std::size_t{2} * h * 2 * w);
    for (std::uint32_t band = 0; band < 3; ++band) {
      const Orientation o = kWalkOrder[band];
      const auto [y0, x0] = band_origin(o, h, w);
      if (last && streamed != nullptr) {
        streamed->start[static_cast<std::size_t>(o)] = state;
        if (o == Orientation::kD) break;  // the d band is decoded only as the synthesis reads it
        for (std::uint32_t y = y0; y < y0 + h; ++y) walk_row(state, parent_flags, nullptr, y, x0, w, nullptr, 0);
        continue;
      }
      const CodeBand& codes = bands[static_cast<std::size_t>(step)][static_cast<std::size_t>(o)];
      for (std::uint32_t i = 0; i < h; ++i) {
        // Row i reads its parents' row i / 2; once the stream has ended, whether any flag is set.
        if (follows) {
          handoff->progress.wait(handoff->by_rows && state.decoding ? band * handoff->band_rows + i / 2 + 1
                                                                    : handoff->total(),
                                 handoff->total());
        }
        std::int8_t* out = i < codes.height ? codes.row(i) : nullptr;
        walk_row(state, parent_flags, inside_flags, y0 + i, x0, w, out, out != nullptr ? codes.width : 0);
        if (hands_over) handoff->progress.publish(band * h + i + 1);
      }
    }
    if (last && streamed != nullptr) {
      streamed->step = step;
      streamed->band_rows = h;
      streamed->band_cols = w;
      if (step > 0) streamed->parents.swap(previous);
      return;
    }
    if (inside_flags == &inside) {
      previous.swap(inside);
      parent_flags = &previous;
    }
  }
}

}  // namespace

struct PlaneDecode::Work {
  std::span<const std::uint8_t> file;
  const format::FileHeader* header = nullptr;
  Channel channel = Channel::kY;
  SynthesisPlan plan;
  int coded = 0;
  bool stream = false;
  bool coefficients = false;
  format::SymbolTable local;
  std::size_t position = 0;  // of the first segment
  PlaneCodes codes;
  // Split walks only: part 0's verdict (its segment ends exactly where its steps do, having ended
  // nowhere before) and the flags it hands over.
  bool split = false;
  bool exact = false;
  bool out_of_memory = false;
  std::unique_ptr<Handoff> handoff;

  const format::SymbolTable& table() const { return stream ? codes.streamed_->table : local; }
  std::uint32_t restart() const { return header->params.channel(channel).restart_offset; }

  // The plane in one piece, as the format reads it.
  void walk_whole() {
    WalkState state{PlaneSymbolReader(file, table(), position, restart())};
    walk_low(state, header->params, codes.low_);
    walk_steps(state, header->params, 0, coded, coded, nullptr, codes.bands_, codes.streamed_.get(), nullptr);
  }
  // The first segment alone: the low band and every step but the last, whose reader does not
  // restart, so that an end symbol inside it is seen.
  void walk_first() {
    WalkState state{PlaneSymbolReader(file, table(), position, 0)};
    const bool low_whole = walk_low(state, header->params, codes.low_);
    walk_steps(state, header->params, 0, coded - 1, coded, nullptr, codes.bands_, nullptr, handoff.get());
    exact = low_whole && state.decoding && state.reader.next_is_end();
  }
  // The second segment: the last step, from the restart offset with a fresh model.
  void walk_second() {
    WalkState state{PlaneSymbolReader(file, table(), restart(), 0)};
    walk_steps(state, header->params, coded - 1, coded, coded, coded > 1 ? &handoff->flags : nullptr, codes.bands_,
               nullptr, handoff.get());
  }
};

PlaneDecode::PlaneDecode() = default;
PlaneDecode::~PlaneDecode() = default;

StatusCode PlaneDecode::start(std::span<const std::uint8_t> file, const format::FileHeader& header, Channel channel,
                              const SynthesisPlan& plan, bool leave_last) {
  auto work = std::make_unique<Work>();
  Work& w = *work;
  w.file = file;
  w.header = &header;
  w.channel = channel;
  w.plan = plan;
  w.coded = coded_steps(plan, header.params, channel);
  w.coefficients = header.has_coefficients();
  if (!w.coefficients) {
    // Every code is 0: nothing is kept, every band reads as zeros.
    w.codes.coded_steps_ = w.coded;
    work_ = std::move(work);
    return StatusCode::kOk;
  }
  const format::CodecParams& p = header.params;
  w.stream = leave_last && w.coded > 0;
  // The second segment holds the finest coded level: a walk that reaches it can be split there.
  w.split = !w.stream && w.coded > 0 && w.coded == p.total_levels - p.channel(channel).dropped_levels &&
            w.restart() > 0;
  try {
    VARNIC_RETURN_IF_ERROR(w.codes.allocate(plan, w.coded, !w.stream));
    if (w.stream) w.codes.streamed_ = std::make_unique<StreamedBands>();
    VARNIC_RETURN_IF_ERROR(format::read_symbol_table(file, format::plane_start(header, channel),
                                                     w.stream ? w.codes.streamed_->table : w.local, w.position));
    if (w.split) {
      w.handoff = std::make_unique<Handoff>();
      if (w.coded > 1) {
        // The flags of the step before the last, over its square.
        const std::uint32_t h = (p.padded_height >> p.total_levels) << (w.coded - 2);
        const std::uint32_t cols = (p.padded_width >> p.total_levels) << (w.coded - 2);
        w.handoff->flags.reset(std::size_t{2} * h * 2 * cols);
        w.handoff->band_rows = h;
        w.handoff->by_rows = cols % 64 == 0;
      }
    }
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  work_ = std::move(work);
  return StatusCode::kOk;
}

int PlaneDecode::parts() const { return work_ != nullptr && work_->split ? 2 : 1; }

void PlaneDecode::walk(int part) {
  Work& w = *work_;
  if (!w.coefficients) return;
  try {
    if (!w.split) {
      w.walk_whole();
    } else if (part == 0) {
      w.walk_first();
    } else {
      w.walk_second();
    }
  } catch (const std::bad_alloc&) {
    w.out_of_memory = true;  // the zerotree flags of a step
  }
  // Part 1 never waits on a part 0 that has stopped.
  if (w.split && part == 0) w.handoff->progress.publish(w.handoff->total());
}

StatusCode PlaneDecode::finish(PlaneCodes& out) {
  Work& w = *work_;
  if (w.out_of_memory) return StatusCode::kOutOfMemory;
  if (w.split && !w.exact) {
    // The segments do not meet where the steps do: the walk in one piece decides.
    try {
      PlaneCodes fresh;
      VARNIC_RETURN_IF_ERROR(fresh.allocate(w.plan, w.coded, true));
      w.codes = std::move(fresh);
      w.walk_whole();
    } catch (const std::bad_alloc&) {
      return StatusCode::kOutOfMemory;
    }
  }
  out = std::move(w.codes);
  return StatusCode::kOk;
}

StatusCode decode_plane_codes(std::span<const std::uint8_t> file, const format::FileHeader& header, Channel channel,
                              const SynthesisPlan& plan, bool leave_last, PlaneCodes& out) {
  PlaneDecode decode;
  VARNIC_RETURN_IF_ERROR(decode.start(file, header, channel, plan, leave_last));
  for (int part = 0; part < decode.parts(); ++part) decode.walk(part);
  return decode.finish(out);
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
