#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <random>
#include <vector>

#include "colour/colour.h"

namespace varnic::colour {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  int c0, c1, c2;  // blue, green, red
};

Bytes pixels_of(const std::vector<Rgb>& colours) {
  Bytes out;
  for (const Rgb& c : colours) {
    out.push_back(static_cast<std::uint8_t>(c.c0));
    out.push_back(static_cast<std::uint8_t>(c.c1));
    out.push_back(static_cast<std::uint8_t>(c.c2));
  }
  return out;
}

Bytes greys(const std::vector<int>& levels) {
  std::vector<Rgb> c;
  for (int v : levels) c.push_back({v, v, v});
  return pixels_of(c);
}

// The sample values a cell stands for: centre (8·i0 + 4, 4·i1 + 2, 8·i2 + 4).
Rgb centre_of(Rgb c) { return {(c.c0 >> 3) * 8 + 4, (c.c1 >> 2) * 4 + 2, (c.c2 >> 3) * 8 + 4}; }

// Nearest entry to a colour's cell centre, weights 1, 3, 2, lowest index on ties.
int nearest(const Bytes& palette, Rgb colour) {
  const Rgb c = centre_of(colour);
  int best = -1, best_dist = INT_MAX;
  for (std::size_t i = 0; i < palette.size() / 3; ++i) {
    const int d0 = c.c0 - palette[3 * i], d1 = 3 * (c.c1 - palette[3 * i + 1]), d2 = 2 * (c.c2 - palette[3 * i + 2]);
    const int dist = d0 * d0 + d1 * d1 + d2 * d2;
    if (dist < best_dist) {
      best_dist = dist;
      best = static_cast<int>(i);
    }
  }
  return best;
}

struct Result {
  int count;
  Bytes indices;
  Bytes palette;
};

Result quantize(const Bytes& pixels, int width, int height, bool dither, int colour_count = 256,
                const Bytes* given = nullptr) {
  Result r;
  r.indices.assign(static_cast<std::size_t>(width * height), 0xCC);
  r.palette = given ? *given : Bytes(3 * static_cast<std::size_t>(colour_count), 0xEE);
  r.count = quantize_to_palette(pixels, width, height, r.indices, dither, given != nullptr, r.palette, colour_count);
  return r;
}

Bytes entries(const Result& r) { return Bytes(r.palette.begin(), r.palette.begin() + 3 * r.count); }

TEST(QuantizeToPalette, ColourCountOutsideThreeTo256Fails) {
  const Bytes px = greys({10, 200, 90, 30});
  EXPECT_EQ(quantize(px, 2, 2, false, 2).count, 0);
  EXPECT_EQ(quantize(px, 2, 2, false, 257).count, 0);
  EXPECT_EQ(quantize(px, 2, 2, false, 3).count, 3);
  EXPECT_EQ(quantize(px, 2, 2, false, 256).count, 4);
  // Buffers smaller than the picture and empty pictures fail too.
  Bytes small(3);
  Bytes pal(768);
  EXPECT_EQ(quantize_to_palette(px, 2, 2, small, false, false, pal, 256), 0);
  EXPECT_EQ(quantize_to_palette(px, 0, 2, small, false, false, pal, 256), 0);
}

TEST(QuantizeToPalette, OneColourGivesItsCellCentre) {
  for (bool dither : {false, true}) {
    Result black = quantize(greys(std::vector<int>(12, 0)), 4, 3, dither);
    ASSERT_EQ(black.count, 1);
    EXPECT_EQ(entries(black), (Bytes{4, 2, 4}));
    EXPECT_EQ(black.indices, Bytes(12, 0));
    // Entries beyond the result keep what the caller put there.
    EXPECT_EQ(black.palette[3], 0xEE);

    Result white = quantize(greys(std::vector<int>(5, 255)), 5, 1, dither);
    ASSERT_EQ(white.count, 1);
    EXPECT_EQ(entries(white), (Bytes{252, 254, 252}));
  }
}

TEST(QuantizeToPalette, FewPopulatedCellsGiveOneEntryEachInSplitOrder) {
  // Green splits the whole space first (black and red below, white above),
  // then the black-and-red box splits on red.
  const Bytes px = pixels_of({{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 0, 0}});
  Result r = quantize(px, 2, 2, false);
  ASSERT_EQ(r.count, 3);
  EXPECT_EQ(entries(r), (Bytes{4, 2, 4, 252, 254, 252, 4, 2, 252}));
  EXPECT_EQ(r.indices, (Bytes{0, 1, 2, 0}));
}

// Cells (0, i1, 0) along green only: 0 and 1, then 40 and 41 with the given
// counts. With three colours the first split separates the pairs; the two
// boxes then have equal volume and the earlier one (0 and 1) is split.
Bytes green_pairs(int count40, int count41) {
  std::vector<Rgb> c{{0, 0, 0}, {0, 4, 0}};
  c.insert(c.end(), static_cast<std::size_t>(count40), Rgb{0, 160, 0});
  c.insert(c.end(), static_cast<std::size_t>(count41), Rgb{0, 164, 0});
  return pixels_of(c);
}

TEST(QuantizeToPalette, EqualVolumeTieSplitsTheEarlierBoxAndMeansAreWeighted) {
  const Bytes px = green_pairs(2, 1);
  Result r = quantize(px, static_cast<int>(px.size() / 3), 1, false, 3);
  ASSERT_EQ(r.count, 3);
  // Box 1 holds cells 40 (centre 162, twice) and 41 (166, once):
  // (2·162 + 166 + 1) / 3 = 163.
  EXPECT_EQ(entries(r), (Bytes{4, 2, 4, 4, 163, 4, 4, 6, 4}));
  EXPECT_EQ(r.indices[0], 0);
  EXPECT_EQ(r.indices[1], 2);
  EXPECT_EQ(r.indices[2], 1);
}

TEST(QuantizeToPalette, CellCountsSaturateAt65535) {
  // 200000 hits count as 65535, the same as the 65535 of the other cell:
  // the mean of 162 and 166 is 164 (163 without saturation, 166 if the
  // counter wrapped).
  const Bytes px = green_pairs(200000, 65535);
  Result r = quantize(px, static_cast<int>(px.size() / 3), 1, false, 3);
  ASSERT_EQ(r.count, 3);
  EXPECT_EQ(r.palette[4], 164);
}

TEST(QuantizeToPalette, GreenWinsEqualLengthsOverRedAndRedOverBlue) {
  // Cells A (0,0,0), B (0,4,3), C (0,0,3): green length 12·4 = red length
  // 16·3. Splitting green first gives {A, C} and {B}, then A and C.
  Result gr = quantize(pixels_of({{0, 0, 0}, {0, 16, 24}, {0, 0, 24}}), 3, 1, false, 3);
  ASSERT_EQ(gr.count, 3);
  EXPECT_EQ(entries(gr), (Bytes{4, 2, 4, 4, 18, 28, 4, 2, 28}));

  // Cells A (0,0,0), B (2,0,1), C (0,0,1): red length 16 = blue length 8·2.
  // Red first gives {A} and {B, C}, then C before B.
  Result rb = quantize(pixels_of({{0, 0, 0}, {16, 0, 8}, {0, 0, 8}}), 3, 1, false, 3);
  ASSERT_EQ(rb.count, 3);
  EXPECT_EQ(entries(rb), (Bytes{4, 2, 4, 4, 2, 12, 20, 2, 12}));
}

TEST(QuantizeToPalette, GivenPaletteIsUsedAsItIsAndTiesGoToTheLowerIndex) {
  // (4,2,0) and (4,2,8) are equally far from the centre (4,2,4).
  const Bytes px = pixels_of({{4, 2, 4}, {1, 1, 1}});
  for (const Bytes& given : {Bytes{4, 2, 0, 4, 2, 8, 255, 255, 255}, Bytes{4, 2, 8, 4, 2, 0, 255, 255, 255}}) {
    Result r = quantize(px, 2, 1, false, 3, &given);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(r.palette, given);
    EXPECT_EQ(r.indices, (Bytes{0, 0}));
  }
}

TEST(QuantizeToPalette, PixelsOfOneCellShareAnIndexWithoutDithering) {
  // (0,0,0) equals entry 0, yet its cell centre (4,2,4) is nearer entry 1.
  const Bytes given{0, 0, 0, 7, 3, 7, 255, 255, 255};
  Result r = quantize(pixels_of({{0, 0, 0}, {7, 3, 7}}), 2, 1, false, 3, &given);
  EXPECT_EQ(r.indices, (Bytes{1, 1}));
}

TEST(QuantizeToPalette, MappingMatchesExhaustiveNearestSearch) {
  // Random palettes stress the candidate pruning of the cache blocks: every
  // pixel's index must be the exact nearest entry to its cell centre.
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 6; ++round) {
    const int n = round < 3 ? 3 + round * 60 : 256;
    Bytes given(3 * static_cast<std::size_t>(n));
    for (auto& b : given) b = static_cast<std::uint8_t>(byte(rng));
    if (round == 5) {
      // Clustered entries: many of them tie or nearly tie.
      for (auto& b : given) b = static_cast<std::uint8_t>(100 + byte(rng) % 16);
    }
    std::vector<Rgb> colours(20000);
    for (auto& c : colours) c = {byte(rng), byte(rng), byte(rng)};
    Result r = quantize(pixels_of(colours), 200, 100, false, n, &given);
    ASSERT_EQ(r.count, n);
    for (std::size_t p = 0; p < colours.size(); ++p) {
      ASSERT_EQ(r.indices[p], nearest(given, colours[p])) << "round " << round << " pixel " << p;
    }
  }
}

TEST(QuantizeToPalette, BuiltPaletteMapsEveryPixelToItsNearestEntry) {
  std::mt19937 rng(99);
  std::normal_distribution<double> noise(0.0, 40.0);
  std::vector<Rgb> colours;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 96; ++x) {
      auto v = [&](int base) { return std::clamp(base + static_cast<int>(noise(rng)), 0, 255); };
      colours.push_back({v(2 * x), v(3 * y), v(x + y)});
    }
  }
  Result r = quantize(pixels_of(colours), 96, 64, false);
  ASSERT_GT(r.count, 200);
  ASSERT_LE(r.count, 256);
  const Bytes pal = entries(r);
  for (std::size_t p = 0; p < colours.size(); ++p) ASSERT_EQ(r.indices[p], nearest(pal, colours[p]));
}

// Grey pictures against black, white and blue: the decisions below are
// worked out by hand from the cell centres and the error rules.
const Bytes kBlackWhiteBlue{0, 0, 0, 255, 255, 255, 255, 0, 0};

TEST(Dithering, FlatPictureOnAPaletteEntryHasNoError) {
  const Bytes given{10, 20, 30, 200, 100, 50, 0, 0, 0};
  Result r = quantize(pixels_of(std::vector<Rgb>(35, {200, 100, 50})), 7, 5, true, 3, &given);
  EXPECT_EQ(r.indices, Bytes(35, 1));
}

TEST(Dithering, LargeErrorsAreLimitedTo32) {
  // 120 maps to black with error 120; (7·120 + 8) >> 4 = 53 is limited to
  // 32, so 95 becomes 127 (black). With 34 (halving without the cap) or 53
  // it would reach 129 or more, a cell nearer white.
  Result r = quantize(greys({120, 95}), 2, 1, true, 3, &kBlackWhiteBlue);
  EXPECT_EQ(r.indices, (Bytes{0, 0}));
}

TEST(Dithering, MiddleErrorsAreHalvedAbove16) {
  // Palette black, grey 128, white: 190 maps to grey with error 62; 7·62
  // gives 27, limited to 16 + 11/2 = 21, so 170 becomes 191 (grey); 197
  // without the limit would be white.
  const Bytes given{0, 0, 0, 128, 128, 128, 255, 255, 255};
  Result r = quantize(greys({190, 170}), 2, 1, true, 3, &given);
  EXPECT_EQ(r.indices, (Bytes{1, 1}));
}

TEST(Dithering, SumsAreClampedBeforeLookupAndError) {
  // 100 → black (error 100, carries 30); 250 + 30 is clamped to 255, which is
  // white with no error, so 120 stays black. Unclamped, the error 25 would
  // push 120 to 131 (white).
  Result r = quantize(greys({100, 250, 120}), 3, 1, true, 3, &kBlackWhiteBlue);
  EXPECT_EQ(r.indices, (Bytes{0, 1, 0}));
}

TEST(Dithering, SecondRowRunsRightToLeft) {
  // Row 0 is exact black. Row 1 starts at its right end: 90 → black with
  // error 90, carrying 27 into 120 → 147, white.
  Result r = quantize(greys({0, 0, 120, 90}), 2, 2, true, 3, &kBlackWhiteBlue);
  EXPECT_EQ(r.indices, (Bytes{0, 0, 1, 0}));
}

TEST(Dithering, FirstRowOfEveryCallRunsLeftToRight) {
  for (int call = 0; call < 2; ++call) {
    Result r = quantize(greys({120, 90}), 2, 1, true, 3, &kBlackWhiteBlue);
    EXPECT_EQ(r.indices, (Bytes{0, 0})) << "call " << call;
  }
}

TEST(Dithering, OnePixelWidePassesErrorStraightDown) {
  // 120 → black; 5/16 of 120 reaches the pixel below: (600 + 8) >> 4 = 38,
  // limited to 27, so 110 becomes 137, white (110 alone is black).
  Result r = quantize(greys({120, 110}), 1, 2, true, 3, &kBlackWhiteBlue);
  EXPECT_EQ(r.indices, (Bytes{0, 1}));
}

// Floyd–Steinberg written plainly over a whole error matrix, as a check of
// the rolling error row: errors ×16, 7/16 ahead, 3/16 below behind, 5/16
// below, 1/16 below ahead, serpentine rows, limits and clamps as above.
Bytes reference_dither(const Bytes& px, int width, int height, const Bytes& palette) {
  auto limit = [](int e) {
    const int a = std::abs(e);
    const int l = a < 16 ? a : a < 48 ? 16 + (a - 16) / 2 : 32;
    return e < 0 ? -l : l;
  };
  std::vector<std::array<int, 3>> acc(static_cast<std::size_t>((width + 2) * (height + 1)), {0, 0, 0});
  auto at = [&](int x, int y) -> std::array<int, 3>& { return acc[static_cast<std::size_t>(y * (width + 2) + x + 1)]; };
  Bytes out(static_cast<std::size_t>(width * height));
  for (int y = 0; y < height; ++y) {
    const int dir = y % 2 == 0 ? 1 : -1;
    for (int i = 0; i < width; ++i) {
      const int x = dir == 1 ? i : width - 1 - i;
      const std::size_t p = static_cast<std::size_t>(y * width + x);
      int v[3];
      for (int k = 0; k < 3; ++k) {
        v[k] = std::clamp(px[3 * p + static_cast<std::size_t>(k)] + limit((at(x, y)[static_cast<std::size_t>(k)] + 8) >> 4), 0, 255);
      }
      const int index = nearest(palette, {v[0], v[1], v[2]});
      out[p] = static_cast<std::uint8_t>(index);
      for (int k = 0; k < 3; ++k) {
        const auto kk = static_cast<std::size_t>(k);
        const int err = v[k] - palette[3 * static_cast<std::size_t>(index) + kk];
        if (x + dir >= 0 && x + dir < width) at(x + dir, y)[kk] += 7 * err;
        if (x - dir >= 0 && x - dir < width) at(x - dir, y + 1)[kk] += 3 * err;
        at(x, y + 1)[kk] += 5 * err;
        if (x + dir >= 0 && x + dir < width) at(x + dir, y + 1)[kk] += err;
      }
    }
  }
  return out;
}

TEST(Dithering, MatchesPlainFloydSteinberg) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const auto& [w, h] : {std::pair{1, 9}, std::pair{2, 5}, std::pair{13, 11}, std::pair{64, 40}}) {
    std::vector<Rgb> colours;
    for (int i = 0; i < w * h; ++i) colours.push_back({byte(rng), byte(rng) / 2 + 64, byte(rng)});
    const Bytes px = pixels_of(colours);
    Bytes given(3 * 16);
    for (auto& b : given) b = static_cast<std::uint8_t>(byte(rng));
    Result r = quantize(px, w, h, true, 16, &given);
    EXPECT_EQ(r.indices, reference_dither(px, w, h, given)) << w << "x" << h;

    Result built = quantize(px, w, h, true);
    ASSERT_GT(built.count, 0);
    EXPECT_EQ(built.indices, reference_dither(px, w, h, entries(built))) << w << "x" << h << " built";
  }
}

}  // namespace
}  // namespace varnic::colour
