// SPDX-License-Identifier: BSD-2-Clause
// The adaptive arithmetic decoder on its own. Input: one byte N (the alphabet size), then the code
// bytes of one segment. Beyond not crashing: every symbol decoded lies in 1..N+1, the model stays
// within its frequency ceiling, and encoding the decoded characters again and decoding that gives
// the same characters back, so encoder and decoder agree on every model state the input reaches.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/arithmetic_coder.h"
#include "fuzz/picture_checks.h"

using varnic::fuzz::require;
namespace format = varnic::format;

namespace {

// Garbage often never reaches the end symbol (past the data the decoder reads zeros); a cap keeps
// each input quick while still covering many halvings of the model.
constexpr std::size_t kMaxSymbols = std::size_t{1} << 13;

// Decodes characters until the end symbol or `limit` characters; true when the end symbol was met.
bool decode_segment(std::span<const std::uint8_t> code, int characters, std::size_t limit,
                    std::vector<int>& out) {
  format::AdaptiveModel model;
  model.start(characters);
  format::ArithmeticDecoder decoder(code);
  decoder.start();
  out.clear();
  while (out.size() <= limit) {
    const int symbol = decoder.decode(model);
    require(symbol >= 1 && symbol <= model.end_symbol(), "decoded symbol inside the alphabet");
    if (symbol == model.end_symbol()) return true;
    out.push_back(model.character_of(symbol));
    model.update(symbol);
    require(model.cum(0) <= format::kFrequencyCeiling, "model within its frequency ceiling");
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int characters = data[0];
  std::vector<int> decoded;
  decode_segment(std::span<const uint8_t>(data + 1, size - 1), characters, kMaxSymbols, decoded);
  for (const int c : decoded) require(c >= 0 && c < characters, "decoded character inside the alphabet");

  std::vector<uint8_t> code;
  format::AdaptiveModel model;
  model.start(characters);
  format::ArithmeticEncoder encoder(code);
  encoder.start();
  for (const int c : decoded) {
    const int symbol = model.symbol_of(c);
    encoder.encode(model, symbol);
    model.update(symbol);
  }
  encoder.encode(model, model.end_symbol());
  encoder.finish();

  std::vector<int> again;
  require(decode_segment(code, characters, decoded.size(), again), "re-encoded segment ends with its end symbol");
  require(again == decoded, "re-encoded characters decode unchanged");
  return 0;
}
