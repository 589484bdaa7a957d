// The inverse colour lookup tables and the fixed preview palette.

#include "display/display.h"

namespace varnic::display {
namespace {

// floor(coefficient * i / 1024): an arithmetic shift rounds toward minus
// infinity, which is what the inverse matrix terms need.
constexpr int16_t Term(int coefficient, int i) {
  return static_cast<int16_t>((coefficient * i) >> 10);
}

constexpr InverseColourTables BuildTables() {
  InverseColourTables t{};
  for (int i = kInverseTableMin; i <= kInverseTableMax; ++i) {
    const int k = i - kInverseTableMin;
    t.red_from_i[k] = Term(979, i);
    t.red_from_q[k] = Term(636, i);
    t.green_from_i[k] = Term(-279, i);
    t.green_from_q[k] = Term(-662, i);
    t.blue_from_i[k] = Term(-1133, i);
    t.blue_from_q[k] = Term(1744, i);
  }
  // The historical tables end one entry early: the top entry is 0 everywhere,
  // and red-from-Q's bottom entry has the wrong sign. Files decode to these
  // exact bytes, so they are kept.
  const int top = kInverseTableMax - kInverseTableMin;
  t.red_from_i[top] = 0;
  t.red_from_q[top] = 0;
  t.green_from_i[top] = 0;
  t.green_from_q[top] = 0;
  t.blue_from_i[top] = 0;
  t.blue_from_q[top] = 0;
  t.red_from_q[0] = 159;
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
