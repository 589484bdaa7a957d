// SPDX-License-Identifier: BSD-2-Clause
// Decoding of .cod streams (format/format.h) into rows of samples: each plane's coded values (its
// two arithmetic-coded segments walked through the zerotrees, codes.cpp), and the integer inverse
// wavelet that synthesizes rows from them, one row at a time (line_synthesis.cpp).
//
// A decode follows a plan: how many synthesis steps it runs and how much of the last step's
// output it wants, from which every step's share follows. A reduced picture or a preview is the
// same decode stopped early, and codes are kept only where the plan reads them, so neither the
// padding nor the levels left out cost memory.
//
// Everything here is safe on any bytes once format::parse_header has accepted the header: reads
// past the end of the data see zeros.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "format/format.h"
#include "format/symbol_plane.h"

namespace varnic::decoder {


// --- Dequantization ------------------------------------------------------------------------

// Dequantization multipliers of one subband, float32 as the format defines
// them: up for q > 0, down for q <= 0; both 0 when the quantization value is 0.
struct BandScale {
  float up = 0.0f;
  float down = 0.0f;
};
BandScale band_scale(std::int16_t band_max, std::int16_t band_min, std::int16_t quant);
// Subband `subband` of a channel, with the extremes and step its header gives.
BandScale band_scale(const format::ChannelParams& channel, int subband);

// q times the multiplier in double, truncated toward zero; a result outside
// int16 (hostile files only) keeps its low 16 bits.
inline std::int16_t dequantize_value(int q, BandScale scale) {
  const double product = q > 0 ? q * static_cast<double>(scale.up)
                               : q * static_cast<double>(scale.down);
  return static_cast<std::int16_t>(static_cast<std::int32_t>(product));
}

// In a detail band, the code of a position inside a zerotree that a damaged stream ended before:
// such positions hold the tree marker itself as their sample. The code is free there, since the
// value -127 is read as a zerotree root, which is stored as 0. In the low band -127 is a value.
inline constexpr std::int8_t kEndedInsideCode = format::kZeroTreeRoot;
inline constexpr std::int16_t kEndedInsideSample = format::kZeroTreeInside;

// Samples of every code of one subband. Decoded codes: dequantize_value, but for
// kEndedInsideCode in a detail band. Marked codes (the encoder's quantized values with its
// zerotree markers): both markers are 0 wherever they stand.
using DequantTable = std::array<std::int16_t, 256>;
DequantTable dequant_table(const format::ChannelParams& channel, int subband, bool low_band, bool marked);

// --- The plan of a decode ------------------------------------------------------------------

// A synthesis step's output region (padded size >> shift) and how much of each of its input
// halves the decode reads: the coarser step's rows and columns, and each detail band's. The rules
// reach two samples past the pair they make, so a step asked for its first R rows and C columns
// reads floor((R - 1) / 2) + 2 and floor((C - 1) / 2) + 2 of them, or all; it computes 2 in_cols
// columns, of which those asked for come out exactly as over the whole region.
struct StepPlan {
  int rows = 0, cols = 0;
  int in_rows = 0, in_cols = 0;
};
struct SynthesisPlan {
  int levels = 0;
  int steps = 0;                  // synthesis steps run, 0..levels (0: the low band alone)
  std::uint32_t out_rows = 0;     // of the last step's output (of the low band when steps is 0)
  std::uint32_t out_cols = 0;
  int low_rows = 0, low_cols = 0; // of the low band read
  std::array<StepPlan, format::kMaxFileLevels> step{};
};
// kReconstructFailed when the parameters cannot be synthesized (a level region under 4 x 4) or
// the output asked for is empty or larger than the last step's region.
format::StatusCode plan_synthesis(const format::CodecParams& params, int steps, std::uint32_t out_rows, std::uint32_t out_cols,
                          SynthesisPlan& plan);

// --- Codes ---------------------------------------------------------------------------------

struct StreamedBands;

// Held codes of one band: `height` rows of `width` codes, a view into its plane's storage. An
// empty band reads as zeros.
struct CodeBand {
  std::int8_t* data = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool empty() const { return data == nullptr; }
  std::int8_t* row(std::uint32_t y) const { return data + std::size_t{y} * width; }
};

// One plane's coded values as a decode reads them: the low band and, for each coded step the
// plan runs, its h, v and d bands, each kept to the plan's rows and columns. Codes are decoded
// values as they are, zerotree roots and inside positions 0, positions inside a tree after the
// end of the stream kEndedInsideCode; or, when marked(), the encoder's quantized values with its
// markers. The last coded step may be left in the stream: the synthesis then decodes its rows as
// it needs them, from where each band starts, so that a picture held in memory does not also hold
// the finest codes (its h and v bands are then decoded twice).
class PlaneCodes {
 public:
  PlaneCodes();
  ~PlaneCodes();
  PlaneCodes(PlaneCodes&&) noexcept;
  PlaneCodes& operator=(PlaneCodes&&) noexcept;

  void release();
  bool empty() const { return coded_steps_ < 0; }
  bool marked() const { return marked_; }
  // Coded steps whose bands are held (or streamed): 0..levels - dropped levels.
  int coded_steps() const { return coded_steps_; }
  // A file without coefficients keeps none: every band is empty.
  const CodeBand& low() const { return low_; }
  const CodeBand& band(int step, format::Orientation o) const {
    return bands_[static_cast<std::size_t>(step)][static_cast<std::size_t>(o)];
  }
  // The bands of the last coded step left in the stream; nullptr when every band is held.
  const StreamedBands* streamed() const { return streamed_.get(); }

 private:
  friend class PlaneDecode;
  template <class Plane>
  friend format::StatusCode codes_of_plane(const Plane&, const format::CodecParams&, format::Channel, bool, PlaneCodes&);
  format::StatusCode allocate(const SynthesisPlan& plan, int coded_steps, bool last_held);

  struct Free {
    void operator()(std::int8_t* p) const;
  };
  int coded_steps_ = -1;
  bool marked_ = false;
  // One block for every band: zero pages the walk never writes (a stream that ends early, a band
  // coded as zeros) cost no memory.
  std::unique_ptr<std::int8_t[], Free> storage_;
  CodeBand low_;
  std::array<std::array<CodeBand, 3>, format::kMaxFileLevels> bands_{};
  std::unique_ptr<StreamedBands> streamed_;
};

// The codes of a picture's planes in the order Y, I, Q; grey uses Y only.
using CodeSet = std::array<PlaneCodes, format::kChannelCount>;

// Coded steps a plan needs of a channel: the steps it runs, short of the dropped levels.
int coded_steps(const SynthesisPlan& plan, const format::CodecParams& params, format::Channel channel);

// Bytes decode_plane_codes keeps for `plan` (with or without the last coded step's bands), the
// walk's zerotree flags included: what a caller weighs before choosing to leave the last step
// in the stream.
std::uint64_t plane_code_bytes(const SynthesisPlan& plan, const format::CodecParams& params, format::Channel channel,
                               bool last_held);

// Table and codes of one channel for `plan`; with `leave_last`, the last coded step's bands stay in
// the stream. A damaged stream gives damaged codes; only allocations fail (kOutOfMemory), and a
// bad table (read_symbol_table's refusals).
format::StatusCode decode_plane_codes(std::span<const std::uint8_t> file, const format::FileHeader& header, format::Channel channel,
                              const SynthesisPlan& plan, bool leave_last, PlaneCodes& out);

// decode_plane_codes in two parts that may run at once on two threads, one per segment: the second
// (the last coded step) reads the zerotree flags of the first's last step as they become final,
// row by row. The codes are decode_plane_codes' in every case: where the first segment does not end
// where its steps do (a damaged stream), finish() walks the plane again in one piece. There is one
// part when the plane has no second segment, the plan stops short of the last coded step or the
// bands are left in the stream.
class PlaneDecode {
 public:
  PlaneDecode();
  ~PlaneDecode();
  PlaneDecode(const PlaneDecode&) = delete;
  PlaneDecode& operator=(const PlaneDecode&) = delete;

  // Reads the table and allocates the codes; `file` and `header` must outlive the decode.
  format::StatusCode start(std::span<const std::uint8_t> file, const format::FileHeader& header, format::Channel channel,
                           const SynthesisPlan& plan, bool leave_last);
  int parts() const;
  // Part 1 waits for part 0's progress, so part 0 must be running or done whenever part 1 waits:
  // on one thread, part 0 first. Neither throws.
  void walk(int part);
  // After every part: the codes, or kOutOfMemory.
  format::StatusCode finish(PlaneCodes& out);

 private:
  struct Work;
  std::unique_ptr<Work> work_;
};

// Marked codes from a plane of the encoder's quantized values (with or without its zerotree
// markers), every band whole: for showing what the encoder coded without a stream.
format::StatusCode codes_from_quantized(const format::CoefficientPlane& plane, const format::CodecParams& params,
                                format::Channel channel, PlaneCodes& out);
// Codes held in the plane layout, as the walk gives them, every band whole.
format::StatusCode codes_from_plane(const format::SymbolPlane& plane, const format::CodecParams& params, format::Channel channel,
                            PlaneCodes& out);

// --- Synthesis -----------------------------------------------------------------------------

// A plane's samples after the plan's synthesis steps, one row at a time, bottom row first or top
// row first: each step keeps a few rows of its own and of the coarser step, so the memory is a few
// rows per level. The samples are those of synthesizing the whole planes level by level.
class LineSynthesis {
 public:
  LineSynthesis();
  ~LineSynthesis();
  LineSynthesis(LineSynthesis&&) noexcept;
  LineSynthesis& operator=(LineSynthesis&&) noexcept;
  // `codes` must outlive the synthesis. kReconstructFailed when they do not hold what the plan
  // reads, kOutOfMemory when the row buffers cannot be had.
  format::StatusCode start(const PlaneCodes& codes, const format::CodecParams& params, format::Channel channel,
                   const SynthesisPlan& plan);
  // Row r (0..plan.out_rows - 1) of the last step's output, at least plan.out_cols samples; the
  // pointer stays valid until the next call. Rows are asked for in increasing or decreasing order,
  // increasing when the codes leave bands in the stream.
  const std::int16_t* row(int r);
  // The same row written straight to `out`, which holds row_width() >= plan.out_cols samples, for
  // a caller that asks for each row once and for no row through row(): no copy.
  void row_into(int r, std::int16_t* out);
  int row_width() const;

 private:
  struct Step;
  std::vector<std::unique_ptr<Step>> steps_;  // the low band, then each step coarsest first
};

}  // namespace varnic::decoder
