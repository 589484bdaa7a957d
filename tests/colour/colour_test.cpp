// SPDX-License-Identifier: BSD-2-Clause
// Colour reduction: the median cut worked by hand, mapping against an exhaustive nearest search,
// dithering against Floyd–Steinberg written plainly, and the 8-bit conversion of padded rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <random>

#include "colour/colour.h"
#include "format/params.h"

namespace varnic::colour {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  int c0, c1, c2;  // blue, green, red
};

Bytes pixels_of(const std::vector<Rgb>& colours) {
  Bytes out;
  for (const Rgb& c : colours) out.insert(out.end(), {std::uint8_t(c.c0), std::uint8_t(c.c1), std::uint8_t(c.c2)});
  return out;
}

Bytes greys(const std::vector<int>& levels) {
  Bytes out;
  for (int v : levels) out.insert(out.end(), 3, std::uint8_t(v));
  return out;
}

// Nearest entry to the centre (8·i0 + 4, 4·i1 + 2, 8·i2 + 4) of a colour's cell, weights 1, 3, 2,
// lowest index on ties.
int nearest(const Bytes& palette, Rgb c) {
  c = {(c.c0 >> 3) * 8 + 4, (c.c1 >> 2) * 4 + 2, (c.c2 >> 3) * 8 + 4};
  int best = -1, best_dist = INT_MAX;
  for (std::size_t i = 0; i < palette.size() / 3; ++i) {
    const int d0 = c.c0 - palette[3 * i], d1 = 3 * (c.c1 - palette[3 * i + 1]), d2 = 2 * (c.c2 - palette[3 * i + 2]);
    if (d0 * d0 + d1 * d1 + d2 * d2 < best_dist) best_dist = d0 * d0 + d1 * d1 + d2 * d2, best = static_cast<int>(i);
  }
  return best;
}

struct Result {
  int count;
  Bytes indices, palette;
  Bytes entries() const { return Bytes(palette.begin(), palette.begin() + 3 * count); }
};

Result quantize(const Bytes& pixels, int width, int height, bool dither, int colours = 256, const Bytes* given = nullptr) {
  Result r{0, Bytes(static_cast<std::size_t>(width * height), 0xCC), given ? *given : Bytes(3 * static_cast<std::size_t>(colours), 0xEE)};
  r.count = quantize_to_palette(pixels, width, height, r.indices, dither, given != nullptr, r.palette, colours);
  return r;
}

TEST(QuantizeToPalette, ColourCountsOutsideThreeTo256AndShortBuffersFail) {
  const Bytes px = greys({10, 200, 90, 30});
  EXPECT_EQ(std::vector<int>({quantize(px, 2, 2, false, 2).count, quantize(px, 2, 2, false, 257).count,
                              quantize(px, 2, 2, false, 3).count, quantize(px, 2, 2, false, 256).count}),
            std::vector<int>({0, 0, 3, 4}));
  Bytes small(3), palette(768);
  EXPECT_EQ(quantize_to_palette(px, 2, 2, small, false, false, palette, 256), 0);
  EXPECT_EQ(quantize_to_palette(px, 0, 2, small, false, false, palette, 256), 0);
}

// Cells (0, i1, 0) along green only: 0 and 1, then 40 and 41 with the given counts.
Bytes green_pairs(int count40, int count41) {
  std::vector<Rgb> c{{0, 0, 0}, {0, 4, 0}};
  c.insert(c.end(), static_cast<std::size_t>(count40), Rgb{0, 160, 0});
  c.insert(c.end(), static_cast<std::size_t>(count41), Rgb{0, 164, 0});
  return pixels_of(c);
}

TEST(QuantizeToPalette, MedianCutSplitsWorkedByHand) {
  const struct { const char* what; Bytes pixels; int colours; Bytes entries, indices; } cases[] = {
      {"one colour gives its cell centre", greys({0, 0, 0, 0}), 256, {4, 2, 4}, {0, 0, 0, 0}},
      {"white", greys({255, 255}), 256, {252, 254, 252}, {0, 0}},
      // Green splits the whole space first (black and red below, white above), then red.
      {"split order", pixels_of({{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 0, 0}}), 256,
       {4, 2, 4, 252, 254, 252, 4, 2, 252}, {0, 1, 2, 0}},
      // The pairs split first; the two boxes then have equal volume and the earlier one is split.
      // Box 1 holds cells 40 (centre 162, twice) and 41 (166, once): (2·162 + 166 + 1) / 3 = 163.
      {"equal volumes, weighted means", green_pairs(2, 1), 3, {4, 2, 4, 4, 163, 4, 4, 6, 4}, {0, 2, 1, 1, 1}},
      // Green length 12·4 equals red length 16·3: green first gives {A, C} and {B}, then A and C.
      {"green before red", pixels_of({{0, 0, 0}, {0, 16, 24}, {0, 0, 24}}), 3, {4, 2, 4, 4, 18, 28, 4, 2, 28}, {0, 1, 2}},
      // Red length 16 equals blue length 8·2: red first gives {A} and {B, C}, then C before B.
      {"red before blue", pixels_of({{0, 0, 0}, {16, 0, 8}, {0, 0, 8}}), 3, {4, 2, 4, 4, 2, 12, 20, 2, 12}, {0, 2, 1}},
  };
  for (const auto& c : cases) {
    for (const bool dither : {false, true}) {
      if (dither && c.entries.size() > 3) continue;  // a single colour has no error to spread
      const Result r = quantize(c.pixels, static_cast<int>(c.pixels.size() / 3), 1, dither, c.colours);
      EXPECT_EQ(r.entries(), c.entries) << c.what;
      EXPECT_EQ(r.indices, c.indices) << c.what;
      EXPECT_TRUE(r.palette.size() == r.entries().size() || r.palette[r.entries().size()] == 0xEE) << c.what;  // the rest is the caller's
    }
  }
  // 200000 hits count as 65535, the same as the other cell: the mean is 164 (163 without
  // saturation, 166 if the counter wrapped).
  const Bytes px = green_pairs(200000, 65535);
  EXPECT_EQ(quantize(px, static_cast<int>(px.size() / 3), 1, false, 3).palette[4], 164);
}

TEST(QuantizeToPalette, GivenPalettesMapCellCentresToTheLowestNearestIndex) {
  // (0,0,0) equals an entry, yet its cell centre is nearer (7,3,7).
  const Bytes given{0, 0, 0, 7, 3, 7, 255, 255, 255};
  EXPECT_EQ(quantize(pixels_of({{0, 0, 0}, {7, 3, 7}}), 2, 1, false, 3, &given).indices, (Bytes{1, 1}));
  // Random and clustered palettes (many ties) stress the candidate pruning; built palettes too.
  std::mt19937 rng(1234);
  for (int round = 0; round < 7; ++round) {
    const int n = round < 3 ? 3 + round * 60 : 256;
    Bytes palette(3 * static_cast<std::size_t>(n));
    for (auto& b : palette) b = static_cast<std::uint8_t>(round == 5 ? 100 + rng() % 16 : rng() % 256);
    std::vector<Rgb> colours(20000);
    for (std::size_t i = 0; i < colours.size(); ++i) {
      const int x = static_cast<int>(i % 200), y = static_cast<int>(i / 200), noise = static_cast<int>(rng() % 81) - 40;
      colours[i] = round == 6 ? Rgb{std::clamp(x + noise, 0, 255), std::clamp(2 * y - noise, 0, 255), std::clamp(x + y, 0, 255)}
                              : Rgb{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
    }
    const Result r = quantize(pixels_of(colours), 200, 100, false, n, round == 6 ? nullptr : &palette);
    ASSERT_GT(r.count, round == 6 ? 200 : n - 1);
    for (std::size_t p = 0; p < colours.size(); ++p) ASSERT_EQ(r.indices[p], nearest(r.entries(), colours[p])) << "round " << round << " pixel " << p;
  }
}

// Floyd–Steinberg over a whole error matrix: errors ×16, 7/16 ahead, 3/16 below behind, 5/16
// below, 1/16 below ahead, serpentine rows; each carried error limited (below 16 as it is, up to
// 48 halved above 16, then 32) and each sum clamped to 0..255 before the lookup.
Bytes reference_dither(const Bytes& px, int width, int height, const Bytes& palette) {
  auto limit = [](int e) {
    const int a = std::abs(e), l = a < 16 ? a : a < 48 ? 16 + (a - 16) / 2 : 32;
    return e < 0 ? -l : l;
  };
  std::vector<std::array<int, 3>> acc(static_cast<std::size_t>((width + 2) * (height + 1)), {0, 0, 0});
  auto at = [&](int x, int y) -> std::array<int, 3>& { return acc[static_cast<std::size_t>(y * (width + 2) + x + 1)]; };
  Bytes out(static_cast<std::size_t>(width * height));
  for (int y = 0; y < height; ++y) {
    const int dir = y % 2 == 0 ? 1 : -1;
    for (int i = 0; i < width; ++i) {
      const int x = dir == 1 ? i : width - 1 - i;
      const auto p = static_cast<std::size_t>(y * width + x);
      int v[3];
      for (std::size_t k = 0; k < 3; ++k) v[k] = std::clamp(px[3 * p + k] + limit((at(x, y)[k] + 8) >> 4), 0, 255);
      const int index = nearest(palette, {v[0], v[1], v[2]});
      out[p] = static_cast<std::uint8_t>(index);
      for (std::size_t k = 0; k < 3; ++k) {
        const int err = v[k] - palette[3 * static_cast<std::size_t>(index) + k];
        const bool ahead = x + dir >= 0 && x + dir < width, behind = x - dir >= 0 && x - dir < width;
        if (ahead) at(x + dir, y)[k] += 7 * err, at(x + dir, y + 1)[k] += err;
        if (behind) at(x - dir, y + 1)[k] += 3 * err;
        at(x, y + 1)[k] += 5 * err;
      }
    }
  }
  return out;
}

TEST(Dithering, MatchesPlainFloydSteinberg) {
  // Hand-worked first, black, white and blue: 120 carries (7·120 + 8) >> 4 = 53, limited to 32,
  // so 95 becomes 127, still black; 90 on the second row's right end carries 27 into 120: white.
  const Bytes kBlackWhiteBlue{0, 0, 0, 255, 255, 255, 255, 0, 0};
  EXPECT_EQ(quantize(greys({120, 95}), 2, 1, true, 3, &kBlackWhiteBlue).indices, (Bytes{0, 0}));
  EXPECT_EQ(quantize(greys({0, 0, 120, 90}), 2, 2, true, 3, &kBlackWhiteBlue).indices, (Bytes{0, 0, 1, 0}));
  EXPECT_EQ(quantize(greys({100, 250, 120}), 3, 1, true, 3, &kBlackWhiteBlue).indices, (Bytes{0, 1, 0}));  // 280 clamps
  std::mt19937 rng(7);
  for (const auto& [w, h] : {std::pair{1, 9}, {2, 5}, {13, 11}, {64, 40}}) {
    std::vector<Rgb> colours;
    for (int i = 0; i < w * h; ++i) colours.push_back({int(rng() % 256), int(rng() % 128) + 64, int(rng() % 256)});
    const Bytes px = pixels_of(colours);
    Bytes given(3 * 16);
    for (auto& b : given) b = static_cast<std::uint8_t>(rng());
    EXPECT_EQ(quantize(px, w, h, true, 16, &given).indices, reference_dither(px, w, h, given)) << w << "x" << h;
    const Result built = quantize(px, w, h, true);
    EXPECT_EQ(built.indices, reference_dither(px, w, h, built.entries())) << w << "x" << h << " built";
  }
}

TEST(ConvertTo8Bit, PaddedRowsGiveTheIndicesOfThePackedPictureAndABlackTail) {
  std::mt19937 rng(3);
  for (const int width : {4, 5, 6, 7}) {
    for (const bool dither : {false, true}) {
      const int stride = (3 * width + 3) / 4 * 4;
      const auto columns = static_cast<std::size_t>(width);
      const std::size_t index_stride = (columns + 3) / 4 * 4;
      Bytes buffer(static_cast<std::size_t>(stride * 9), 0), packed;
      for (int y = 0; y < 9; ++y) {
        for (int i = 0; i < 3 * width; ++i) packed.push_back(buffer[static_cast<std::size_t>(y * stride + i)] = std::uint8_t(rng() % 4 * 64));
      }
      const Result r = quantize(packed, width, 9, dither);
      Bytes index_buffer{1, 2, 3};
      ColourTable table;
      table.fill(0x5A);
      ASSERT_EQ(convert_to_8bit(format::kImageModeColour, width, 9, buffer, dither, index_buffer, table), format::StatusCode::kOk);
      ASSERT_EQ(index_buffer.size(), index_stride * 9);
      Bytes want_indices(index_buffer.size(), 0);
      ColourTable want_table{};
      for (std::size_t i = 0; i < r.indices.size(); ++i) want_indices[i / columns * index_stride + i % columns] = r.indices[i];
      for (std::size_t i = 0; i < 3 * static_cast<std::size_t>(r.count); ++i) want_table[i / 3 * 4 + i % 3] = r.palette[i];
      EXPECT_EQ(index_buffer, want_indices) << width << " dither " << dither;
      EXPECT_EQ(table, want_table) << width << " dither " << dither;  // unused entries black
    }
  }
}

TEST(ConvertTo8Bit, EightBitPicturesAreCopiedAndShortBuffersFailWithZeroIndices) {
  for (const std::uint16_t mode : {format::kImageModeGrey, format::kImageModePalette}) {
    Bytes picture(8 * 3);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = i % 8 == 7 ? 0 : static_cast<std::uint8_t>(i * 37);
    Bytes index_buffer;
    ColourTable table{};
    ASSERT_EQ(convert_to_8bit(mode, 7, 3, picture, true, index_buffer, table), format::StatusCode::kOk);
    EXPECT_EQ(index_buffer, picture);
    EXPECT_EQ(table, ColourTable{});
  }
  Bytes index_buffer(3, 9);
  ColourTable table;
  table.fill(0x5A);
  EXPECT_NE(convert_to_8bit(format::kImageModeColour, 5, 4, Bytes(63, 100), true, index_buffer, table), format::StatusCode::kOk);
  EXPECT_EQ(index_buffer, Bytes(32, 0));
  EXPECT_EQ(table[0], 0x5A);
}

}  // namespace
}  // namespace varnic::colour
