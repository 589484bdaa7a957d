// The inverse colour lookup tables and the fixed preview palette.

#include "display/display.h"

namespace varnic::display {
namespace {

constexpr InverseColourTables BuildTables() {
  InverseColourTables t{};
  for (int i = kInverseTableMin; i <= kInverseTableMax; ++i) {
    const int k = i - kInverseTableMin;
    t.red_from_i[k] = static_cast<std::int16_t>(inverse_term(kRedFromI, i));
    t.red_from_q[k] = static_cast<std::int16_t>(inverse_term(kRedFromQ, i));
    t.green_from_i[k] = static_cast<std::int16_t>(inverse_term(kGreenFromI, i));
    t.green_from_q[k] = static_cast<std::int16_t>(inverse_term(kGreenFromQ, i));
    t.blue_from_i[k] = static_cast<std::int16_t>(inverse_term(kBlueFromI, i));
    t.blue_from_q[k] = static_cast<std::int16_t>(inverse_term(kBlueFromQ, i));
  }
  return t;
}

constexpr InverseColourTables kTables = BuildTables();

constexpr PreviewPaletteTable BuildPreviewPalette() {
  PreviewPaletteTable p{};
  for (int i = 0; i < 256; ++i) {
    p[static_cast<size_t>(i)] = PaletteEntry{static_cast<uint8_t>(64 * (i / 64)),
                                             static_cast<uint8_t>(32 * ((i / 8) % 8)),
                                             static_cast<uint8_t>(32 * (i % 8))};
  }
  return p;
}

constexpr PreviewPaletteTable kPreviewPalette = BuildPreviewPalette();

}  // namespace

const InverseColourTables& inverse_colour_tables() { return kTables; }

const PreviewPaletteTable& preview_palette() { return kPreviewPalette; }

}  // namespace varnic::display
