// SPDX-License-Identifier: BSD-2-Clause
// The symbols of one plane as the arithmetic decoder gives them: its two segments, the model
// restarted at the first end symbol of the details. Shared by the whole-plane and the
// streamed coefficient decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/arithmetic_coder.h"
#include "format/format.h"

namespace varnic::decoder {

class PlaneSymbolReader {
 public:
  PlaneSymbolReader(std::span<const std::uint8_t> file, const format::SymbolTable& table, std::size_t position,
               std::uint32_t restart_offset)
      : decoder_(file, position),
        table_(table),
        restart_offset_(restart_offset),
        restart_pending_(restart_offset > 0) {
    model_.start(table_.count);
    decoder_.start();
  }

  // Next symbol as a quantized value, or false at the end of the plane. The
  // first end symbol moves to segment 2 when there is one.
  bool next_detail(int& q) {
    int s = decoder_.decode(model_);
    if (s == model_.end_symbol()) {
      if (!restart_pending_) return false;
      restart_pending_ = false;
      model_.start(table_.count);
      decoder_.restart(restart_offset_);
      s = decoder_.decode(model_);
      if (s == model_.end_symbol()) return false;
    }
    q = take(s);
    return true;
  }

  // The low band never restarts: an end symbol there only ends the band.
  bool next_low(int& q) {
    const int s = decoder_.decode(model_);
    if (s == model_.end_symbol()) return false;
    q = take(s);
    return true;
  }

 private:
  int take(int symbol) {
    const int q = table_.value(model_.character_of(symbol));
    model_.update(symbol);
    return q;
  }

  format::AdaptiveModel model_;
  format::ArithmeticDecoder decoder_;
  const format::SymbolTable& table_;
  std::uint32_t restart_offset_;
  bool restart_pending_;
};

// Reads a plane's symbol table and hands it, with the position of the plane's first code, to
// `decode`. A file without coefficients leaves the plane as it is (zero): the data after the
// header is not even looked at.
template <class Decode>
format::StatusCode with_plane_table(std::span<const std::uint8_t> file, const format::FileHeader& header,
                                    format::Channel channel, Decode&& decode) {
  if (!header.has_coefficients()) return format::StatusCode::kOk;
  format::SymbolTable table;
  std::size_t position = 0;
  VARNIC_RETURN_IF_ERROR(format::read_symbol_table(file, format::plane_start(header, channel), table, position));
  return decode(table, position);
}

}  // namespace varnic::decoder
