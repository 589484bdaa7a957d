// SPDX-License-Identifier: BSD-2-Clause
// A large picture for the benchmarks: one of the bundled 512 x 512 samples tiled with mirroring,
// so that no seam adds edges a real photograph would not have.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imagefile/imagefile.h"
#include "utils/picture_layout.h"

namespace varnic::bench {

// Bottom-up rows of a side x side picture of `bits` per pixel; exits if the sample cannot be read.
inline std::vector<std::uint8_t> tiled_sample(const std::string& name, std::uint16_t bits, std::uint32_t side) {
  imagefile::PictureBuffer tile;
  const std::string path = std::string(VARNIC_TEST_DATA) + "/" + name;
  if (imagefile::read_bitmap_file(path, tile) != imagefile::FileStatus::kOk || tile.bits_per_pixel != bits) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  const std::size_t bpp = bits / 8u;
  const std::size_t tile_row = tile.geometry().stride;
  const utils::RowGeometry g = utils::row_geometry(side, side, bits);
  std::vector<std::uint8_t> big(g.picture_bytes, 0);
  const auto tw = static_cast<std::uint32_t>(tile.width);
  const auto th = static_cast<std::uint32_t>(tile.height);
  for (std::uint32_t y = 0; y < side; ++y) {
    const std::uint32_t ty = (y / th) % 2 ? th - 1 - y % th : y % th;
    for (std::uint32_t x = 0; x < side; ++x) {
      const std::uint32_t tx = (x / tw) % 2 ? tw - 1 - x % tw : x % tw;
      for (std::size_t c = 0; c < bpp; ++c) big[y * g.stride + x * bpp + c] = tile.pixels[ty * tile_row + tx * bpp + c];
    }
  }
  return big;
}

}  // namespace varnic::bench
