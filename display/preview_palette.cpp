// SPDX-License-Identifier: BSD-2-Clause
// The fixed preview palette of 8-bit screens.

#include "display/display.h"

namespace varnic::display {
namespace {

constexpr PreviewPaletteTable build_preview_palette() {
  PreviewPaletteTable p{};
  for (int i = 0; i < 256; ++i) {
    p[static_cast<std::size_t>(i)] = PaletteEntry{static_cast<std::uint8_t>(64 * (i / 64)),
                                                  static_cast<std::uint8_t>(32 * ((i / 8) % 8)),
                                                  static_cast<std::uint8_t>(32 * (i % 8))};
  }
  return p;
}

constexpr PreviewPaletteTable kPreviewPalette = build_preview_palette();

}  // namespace

const PreviewPaletteTable& preview_palette() { return kPreviewPalette; }

}  // namespace varnic::display
