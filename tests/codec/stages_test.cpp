// Rules of the encoder's stages worked by hand on tiny planes, where the conformance stage dumps
// would only say which stage broke.
#include <gtest/gtest.h>

#include "test_picture.h"

namespace varnic::codec {
namespace {

TEST(QuantizerTest, RoundsHalvesAwayFromZeroAndClampsClearOfTheMarkers) {
  const struct {
    float value;
    std::int16_t max, min;
    std::uint16_t step;
    int want;
  } rows[] = {
      {5.0f, 200, -100, 40, 1},    // 5 * 0.2 + 0.5 = 1.5
      {2.4f, 200, -100, 40, 0},    // 0.98
      {-2.5f, 200, -100, 40, -1},  // -1.0 - 0.5
      {2.0f, 4, -4, 1, 1},         // exactly one half
      {-2.0f, 4, -4, 1, -1},       {10.7f, 10, -10, 100, 107},  // can exceed the step
      {0.0f, 10, -10, 100, 0},     {-0.0f, 10, -10, 100, 0},
      {50.0f, 60, -60, 0, 0},      // a zero step zeroes the band
      {0.8f, 0, -5, 100, 0},       // the positive side has M = 0
      {-0.8f, 5, 0, 100, 0},       // the negative side has m = 0
      {1.9f, 1, -1, 125, 127},     // 237.5 + 0.5 stops at 127
      {-1.9f, 1, -1, 125, -125},   // -126 and -127 are the zerotree markers
      {-1.0f, 1, -1, 125, -125},   {-1.0f, 1, -1, 124, -124},
  };
  for (const auto& r : rows) {
    CoefficientPlane out;
    ASSERT_EQ(out.allocate(1, 1), StatusCode::kOk);
    out.at(0, 0) = 55;
    quantize_band(out, &r.value, r.max, r.min, {0, 0, 1, 1}, r.step);
    EXPECT_EQ(out.at(0, 0), r.want) << r.value << " in " << r.min << ".." << r.max << " step " << r.step;
  }
}

TEST(ZerotreeTest, RootsSkipTheirDescendantsDownToTheLastCodedScale) {
  // 16 x 16 plane, 3 levels: scale 1 is the 4 x 4 corner (2 x 2 low band of 5s and the coarsest
  // details), scale 2 the 8 x 8 corner, scale 3 the rest. Blocks of side n at (row, col).
  constexpr int R = kZeroTreeRoot, I = kZeroTreeInside;
  struct Block {
    std::uint32_t row, col, side;
    int want;
  };
  struct Case {
    int levels, dropped;
    std::vector<std::array<int, 3>> nonzero;
    std::vector<Block> blocks;
  };
  const Case cases[] = {
      // (1, 3) in band h of scale 1 covers (2..3, 6..7) and (4..7, 12..15). The inclusive corner
      // (row 2 of v, column 2 of h, the first d) is never a root; its children are visited at
      // scale 2, except that scale's own corner; the finest scale is never visited.
      {3, 0, {}, {{0, 0, 2, 5}, {1, 3, 1, R}, {2, 6, 2, I}, {4, 12, 4, I}, {3, 0, 1, R}, {3, 3, 1, R},
                  {2, 0, 1, 0}, {0, 2, 1, 0}, {2, 2, 1, 0}, {0, 5, 1, R}, {0, 10, 2, I}, {4, 5, 1, R},
                  {0, 4, 1, 0}, {4, 4, 1, 0}, {0, 8, 2, 0}}},
      // One non-zero descendant keeps its ancestors plain.
      {3, 0, {{5, 13, 3}, {6, 6, 2}}, {{1, 3, 1, 0}, {2, 6, 1, 0}, {2, 7, 1, R}, {3, 6, 1, R}, {3, 7, 1, R},
                                       {4, 14, 2, I}, {5, 13, 1, 3}, {4, 12, 1, 0}, {3, 3, 1, 0}, {6, 6, 1, 2},
                                       {6, 7, 1, R}, {7, 7, 1, R}}},
      // One dropped level: scale 3 no longer matters, every zero at scale 2 is a root.
      {3, 1, {{5, 13, 3}, {0, 10, 3}}, {{1, 3, 1, R}, {2, 6, 2, I}, {4, 12, 1, 0}, {5, 13, 1, 3},
                                        {0, 5, 1, R}, {0, 10, 1, 3}, {0, 11, 1, 0}}},
      {3, 2, {}, {{1, 3, 1, R}, {3, 1, 1, R}, {2, 2, 1, 0}}},
      {1, 0, {}, {{0, 8, 8, 0}, {8, 0, 8, 0}, {8, 8, 8, 0}}},                // a single level: untouched
  };
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    const Case& c = cases[n];
    CoefficientPlane p;
    ASSERT_EQ(p.allocate(16, 16), StatusCode::kOk);
    for (std::uint32_t r = 0; r < 2; ++r) p.at(r, 0) = p.at(r, 1) = 5;
    for (const auto& [r, col, v] : c.nonzero) p.at(r, col) = static_cast<std::int16_t>(v);
    mark_zerotrees(p, c.levels, c.dropped);
    for (const Block& b : c.blocks) {
      for (std::uint32_t r = b.row; r < b.row + b.side; ++r) {
        for (std::uint32_t col = b.col; col < b.col + b.side; ++col) {
          EXPECT_EQ(p.at(r, col), b.want) << "case " << n << " at " << r << "," << col;
        }
      }
    }
  }
}

}  // namespace
}  // namespace varnic::codec
