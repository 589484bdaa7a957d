// SPDX-License-Identifier: BSD-2-Clause
// The zerotree walk over one plane's coded sequence, a row of a band at a time: the symbols as
// the arithmetic decoder gives them (two segments, the model restarted at the first end symbol of
// the details), positions inside zerotrees skipped by their parents' flags. Internal to the
// decoder: codes.cpp walks whole planes with it, line_synthesis.cpp the bands left in the stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoder/decoder.h"
#include "format/arithmetic_coder.h"
#include "format/format.h"

namespace varnic::decoder {

class PlaneSymbolReader {
 public:
  PlaneSymbolReader(std::span<const std::uint8_t> file, const format::SymbolTable& table, std::size_t position,
                    std::uint32_t restart_offset)
      : decoder_(file, position), table_(&table), restart_offset_(restart_offset), restart_pending_(restart_offset > 0) {
    model_.start(table_->count);
    decoder_.start();
  }

  // Next symbol as a quantized value, or false at the end of the plane. The
  // first end symbol moves to segment 2 when there is one.
  bool next_detail(int& q) {
    int s = decoder_.decode(model_);
    if (s == model_.end_symbol()) {
      if (!restart_pending_) return false;
      restart_pending_ = false;
      model_.start(table_->count);
      decoder_.restart(restart_offset_);
      s = decoder_.decode(model_);
      if (s == model_.end_symbol()) return false;
    }
    q = take(s);
    return true;
  }

  // Whether the next symbol is the end symbol: where a walk of the first segment alone checks that
  // the segment ends where its steps do. The reader is not used afterwards.
  bool next_is_end() { return decoder_.decode(model_) == model_.end_symbol(); }

  // The low band never restarts: an end symbol there only ends the band.
  bool next_low(int& q) {
    const int s = decoder_.decode(model_);
    if (s == model_.end_symbol()) return false;
    q = take(s);
    return true;
  }

 private:
  int take(int symbol) {
    const int q = table_->value(model_.character_of(symbol));
    model_.update(symbol);
    return q;
  }

  format::AdaptiveModel model_;
  format::ArithmeticDecoder decoder_;
  const format::SymbolTable* table_;
  std::uint32_t restart_offset_;
  bool restart_pending_;
};

// One flag per position of a step's square: set where a position is a zerotree root or inside a
// tree, so that its children are skipped.
class TreeFlags {
 public:
  void reset(std::size_t bits) {
    words_.assign((bits + 63) / 64, 0);
    any_ = false;
  }
  void set(std::size_t i) {
    words_[i / 64] |= std::uint64_t{1} << (i % 64);
    // Written once: a walk reading these flags on another thread keeps its copy of the line.
    if (!any_) any_ = true;
  }
  bool test(std::size_t i) const { return ((words_[i / 64] >> (i % 64)) & 1u) != 0; }
  bool any() const { return any_; }
  void swap(TreeFlags& other) noexcept {
    words_.swap(other.words_);
    std::swap(any_, other.any_);
  }

 private:
  std::vector<std::uint64_t> words_;
  bool any_ = false;
};

// Where the walk stands: the reader, and whether the stream still gives symbols. Once it has
// ended, the walk goes on only to mark the tree positions it never reached (kEndedInsideCode).
struct WalkState {
  PlaneSymbolReader reader;
  bool decoding = true;
};

// One row of a detail band: positions x0 .. x0 + w - 1 of plane row y at a step whose square is 2w
// wide. A position whose parent is flagged in `parents` (the coarser step's flags; nullptr at the
// first step) is skipped and passes the flag on to `inside` (this step's flags, for the next
// step; nullptr when no finer step is walked). Codes of the first `keep` columns go to out[x - x0],
// which holds zeros: decoded values, roots left 0, kEndedInsideCode where a tree covers a
// position the stream ended before. A position's two horizontal children share their parent, so
// the scan goes by pairs where there are parents.
inline void walk_row(WalkState& state, const TreeFlags* parents, TreeFlags* inside, std::uint32_t y, std::uint32_t x0,
                     std::uint32_t w, std::int8_t* out, std::uint32_t keep) {
  // Past the end of the stream only the trees' positions are left to mark.
  if (!state.decoding && (parents == nullptr || !parents->any())) return;
  const std::size_t parent_row = std::size_t{y / 2} * w;
  const std::size_t inside_row = std::size_t{y} * 2 * w;
  const std::uint32_t x_end = x0 + w;
  auto put = [&](std::uint32_t x, std::int8_t code) {
    if (x - x0 < keep) out[x - x0] = code;
  };
  std::uint32_t x = x0;
  while (x < x_end) {
    // Steps with parents have even band widths and offsets.
    if (parents != nullptr && parents->test(parent_row + x / 2)) {
      if (!state.decoding) {
        put(x, kEndedInsideCode);
        put(x + 1, kEndedInsideCode);
      }
      if (inside != nullptr) {
        inside->set(inside_row + x);
        inside->set(inside_row + x + 1);
      }
      x += 2;
      continue;
    }
    if (state.decoding) {
      int q = 0;
      if (state.reader.next_detail(q)) {
        if (q == format::kZeroTreeRoot) {
          if (inside != nullptr) inside->set(inside_row + x);
        } else {
          put(x, static_cast<std::int8_t>(q));
        }
      } else {
        state.decoding = false;
      }
    }
    ++x;
  }
}

// The last coded step's bands left in the stream: where each starts (the walk's state there) and
// the zerotree flags of the step before, which every row of them reads.
struct StreamedBands {
  int step = 0;
  std::uint32_t band_rows = 0, band_cols = 0;  // of each band at that step
  format::SymbolTable table;                   // the walk states point here
  std::array<std::optional<WalkState>, 3> start;  // by orientation
  TreeFlags parents;                               // empty at the first step
};

}  // namespace varnic::decoder
