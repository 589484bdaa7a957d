#include <gtest/gtest.h>

#include <algorithm>

#include "codec/forward_wavelet.h"

namespace varnic::codec {
using namespace ::varnic::format;
using namespace ::varnic::utils;
namespace {

// 16 x 16 plane, 3 levels: scale 1 is the 4 x 4 corner (2 x 2 low band and
// the coarsest details), scale 2 the 8 x 8 corner, scale 3 the rest. The low
// band holds 5s so it is never mistaken for a zero.
CoefficientPlane ZeroDetailPlane() {
  CoefficientPlane p;
  EXPECT_EQ(p.allocate(16, 16), StatusCode::kOk);
  for (std::uint32_t r = 0; r < 2; ++r) {
    for (std::uint32_t c = 0; c < 2; ++c) p.at(r, c) = 5;
  }
  return p;
}

void ExpectBlock(const CoefficientPlane& p, std::uint32_t row, std::uint32_t col,
                 std::uint32_t side, std::int16_t value) {
  for (std::uint32_t r = row; r < row + side; ++r) {
    for (std::uint32_t c = col; c < col + side; ++c) {
      EXPECT_EQ(p.at(r, c), value) << "at " << r << "," << c;
    }
  }
}

TEST(ZerotreeTest, ZeroTreesBecomeRootsWithSkippedDescendants) {
  CoefficientPlane p = ZeroDetailPlane();
  mark_zerotrees(p, 3, 0);
  ExpectBlock(p, 0, 0, 2, 5);
  // (1, 3) in band h of scale 1: root, children and grandchildren skipped.
  EXPECT_EQ(p.at(1, 3), kZeroTreeRoot);
  ExpectBlock(p, 2, 6, 2, kZeroTreeInside);
  ExpectBlock(p, 4, 12, 4, kZeroTreeInside);
  EXPECT_EQ(p.at(3, 0), kZeroTreeRoot);
  EXPECT_EQ(p.at(3, 3), kZeroTreeRoot);
  // The inclusive corner: row 2 of v, column 2 of h and the first d
  // coefficient are never roots.
  EXPECT_EQ(p.at(2, 0), 0);
  EXPECT_EQ(p.at(0, 2), 0);
  EXPECT_EQ(p.at(2, 2), 0);
  // Children of those are visited at scale 2, except the ones in that
  // scale's own corner (rows and columns up to 4).
  EXPECT_EQ(p.at(0, 5), kZeroTreeRoot);
  ExpectBlock(p, 0, 10, 2, kZeroTreeInside);
  EXPECT_EQ(p.at(4, 5), kZeroTreeRoot);
  EXPECT_EQ(p.at(0, 4), 0);
  EXPECT_EQ(p.at(4, 4), 0);
  // The finest scale is never visited: below an unmarked node it stays 0.
  ExpectBlock(p, 0, 8, 2, 0);
}

TEST(ZerotreeTest, OneNonZeroDescendantKeepsItsAncestorsPlain) {
  CoefficientPlane p = ZeroDetailPlane();
  p.at(5, 13) = 3;  // a grandchild of (1, 3) through child (2, 6)
  p.at(6, 6) = 2;   // a child of (3, 3)
  mark_zerotrees(p, 3, 0);
  EXPECT_EQ(p.at(1, 3), 0);
  EXPECT_EQ(p.at(2, 6), 0);
  EXPECT_EQ(p.at(2, 7), kZeroTreeRoot);
  EXPECT_EQ(p.at(3, 6), kZeroTreeRoot);
  EXPECT_EQ(p.at(3, 7), kZeroTreeRoot);
  ExpectBlock(p, 4, 14, 2, kZeroTreeInside);
  EXPECT_EQ(p.at(5, 13), 3);
  EXPECT_EQ(p.at(4, 12), 0);
  EXPECT_EQ(p.at(3, 3), 0);
  EXPECT_EQ(p.at(6, 6), 2);
  EXPECT_EQ(p.at(6, 7), kZeroTreeRoot);
  EXPECT_EQ(p.at(7, 7), kZeroTreeRoot);
}

TEST(ZerotreeTest, DroppedLevelsEndTheTreesEarly) {
  // One dropped level: scales 1 and 2 are coded. Values in scale 3 no longer
  // matter, and every zero at scale 2 is a root without looking further.
  CoefficientPlane p = ZeroDetailPlane();
  p.at(5, 13) = 3;
  p.at(0, 10) = 3;
  mark_zerotrees(p, 3, 1);
  EXPECT_EQ(p.at(1, 3), kZeroTreeRoot);
  ExpectBlock(p, 2, 6, 2, kZeroTreeInside);
  EXPECT_EQ(p.at(4, 12), 0);  // not marked: scale 3 is not coded
  EXPECT_EQ(p.at(5, 13), 3);
  EXPECT_EQ(p.at(0, 5), kZeroTreeRoot);
  EXPECT_EQ(p.at(0, 10), 3);
  EXPECT_EQ(p.at(0, 11), 0);
}

TEST(ZerotreeTest, OnlyTheCoarsestScaleCodedMarksNoInsides) {
  CoefficientPlane p = ZeroDetailPlane();
  mark_zerotrees(p, 3, 2);
  EXPECT_EQ(std::count(p.samples().begin(), p.samples().end(), kZeroTreeInside), 0);
  EXPECT_EQ(p.at(1, 3), kZeroTreeRoot);
  EXPECT_EQ(p.at(3, 1), kZeroTreeRoot);
  EXPECT_EQ(p.at(2, 2), 0);
}

TEST(ZerotreeTest, SingleLevelIsLeftAlone) {
  CoefficientPlane p;
  ASSERT_EQ(p.allocate(4, 4), StatusCode::kOk);
  mark_zerotrees(p, 1, 0);
  EXPECT_EQ(std::count(p.samples().begin(), p.samples().end(), 0), 16);
}

}  // namespace
}  // namespace varnic::codec
