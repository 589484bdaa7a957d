// Coefficient decoding: zerotree expansion, the two segments, dropped levels,
// dequantization, and the planes of the conformance streams.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "format/arithmetic_coder.h"
#include "decoder/decoder.h"
#include "test_util.h"

namespace varnic::decoder {
namespace {

using namespace ::varnic::format;

using format::CoefficientPlane;
using test::read_cod;

constexpr int kEnd = 1000;  // stands for the end symbol in a coded sequence

// One arithmetic-coded segment of `values` (plane values, or kEnd) over a
// symbol list.
std::vector<std::uint8_t> encode_segment(const std::vector<int>& symbols_list,
                                         const std::vector<int>& values) {
  std::vector<std::uint8_t> out;
  format::AdaptiveModel model;
  model.start(static_cast<int>(symbols_list.size()));
  format::ArithmeticEncoder encoder(out);
  encoder.start();
  for (int v : values) {
    if (v == kEnd) {
      encoder.encode(model, model.end_symbol());
      continue;
    }
    int rank = 0;
    while (symbols_list[static_cast<std::size_t>(rank)] != v) ++rank;
    const int symbol = model.symbol_of(rank);
    encoder.encode(model, symbol);
    model.update(symbol);
  }
  encoder.encode(model, model.end_symbol());
  encoder.finish();
  return out;
}

struct SyntheticPlane {
  FileHeader header;
  SymbolTable table;
  std::vector<std::uint8_t> data;
  CoefficientPlane plane;

  // A grey plane of side 2^(levels+1) with every band scaled by 10 (band
  // limits +-10, one quantization step), coded in two segments.
  SyntheticPlane(int levels, int dropped, const std::vector<int>& list,
                 const std::vector<int>& segment1, const std::vector<int>& segment2) {
    format::CodecParams& p = header.params;
    p.total_levels = static_cast<std::uint16_t>(levels);
    p.image_mode = format::kImageModeGrey;
    p.image_width = p.image_height = 2u << levels;
    format::compute_padded_size(p);
    format::ChannelParams& y = p.channel(Channel::kY);
    y.dropped_levels = dropped;
    for (int k = 0; k < format::kMaxSubbands; ++k) {
      y.band_max[k] = 10;
      y.band_min[k] = -10;
      y.quant_vector[k] = 1;
    }
    table.count = static_cast<int>(list.size());
    for (std::size_t j = 0; j < list.size(); ++j) {
      table.values[j] = static_cast<std::uint8_t>(list[j] + 128);
    }
    data = encode_segment(list, segment1);
    y.restart_offset = static_cast<std::uint32_t>(data.size());
    const auto second = encode_segment(list, segment2);
    data.insert(data.end(), second.begin(), second.end());
    EXPECT_EQ(plane.allocate(p.padded_width, p.padded_height), StatusCode::kOk);
  }

  void decode() { EXPECT_EQ(decode_plane_coefficients(data, header, Channel::kY, table, 0, plane), StatusCode::kOk); }
};

// 8 x 8, two levels. Coding order: low band 2 x 2, then level 1 (h, v, d
// bands of 2 x 2), then level 0 (h, v, d of 4 x 4) in segment 2.
TEST(CoefficientsTest, ZerotreeRootSkipsItsDescendantsAndScalesTheRest) {
  const std::vector<int> list = {0, 1, -1, -127, 2};
  // A root at (0, 2) of the level-1 h band covers (0..1, 4..5) of level 0.
  std::vector<int> seg1 = {1, 2, -1, 0, -127, 1, 0, -1, 0, 0, 0, 0, 2, 0, 0, 0};
  std::vector<int> seg2;
  // Level 0 h band minus the 4 positions of the tree: 12 symbols.
  seg2.insert(seg2.end(), {1, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0});
  seg2.insert(seg2.end(), 16, 0);  // v band
  seg2.insert(seg2.end(), 15, 0);  // d band
  seg2.push_back(2);
  SyntheticPlane s(2, 0, list, seg1, seg2);
  s.decode();

  const int expected[8][8] = {
      {10, 20, 0, 10, 0, 0, 10, 0},    {-10, 0, 0, -10, 0, 0, 0, 0},
      {0, 0, 20, 0, 0, 0, 0, -10},     {0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0, 0},        {0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0, 0},        {0, 0, 0, 0, 0, 0, 0, 20},
  };
  for (std::uint32_t y = 0; y < 8; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) {
      EXPECT_EQ(s.plane.at(y, x), expected[y][x]) << "at " << y << "," << x;
    }
  }
}

TEST(CoefficientsTest, DroppedLevelStaysZeroAndRootsMarkNothingBelowIt) {
  const std::vector<int> list = {0, 1, -127};
  // One coded level: segment 1 is the low band, segment 2 level 1; the end
  // symbol of segment 2 is met at the first position of level 0.
  SyntheticPlane s(2, 1, list, {1, 1, 1, 1}, {-127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1});
  s.decode();
  for (std::uint32_t y = 0; y < 8; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) {
      int want = 0;
      if (y < 2 && x < 2) want = 10;
      if ((y == 1 && x == 3) || (y == 3 && x == 3)) want = 10;
      EXPECT_EQ(s.plane.at(y, x), want) << "at " << y << "," << x;
    }
  }
}

TEST(CoefficientsTest, EndSymbolInTheLowBandLeavesItsRestAndGoesOn) {
  const std::vector<int> list = {0, 1, 2};
  // Segment 1: one low-band value, an end symbol that stops the low band,
  // then the end symbol that moves to segment 2 at the first detail position.
  SyntheticPlane s(1, 0, list, {2, kEnd}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2});
  s.decode();
  EXPECT_EQ(s.plane.at(0, 0), 20);
  EXPECT_EQ(s.plane.at(0, 1), 0);
  EXPECT_EQ(s.plane.at(1, 1), 0);
  EXPECT_EQ(s.plane.at(0, 2), 10);  // first position of the h band
  EXPECT_EQ(s.plane.at(3, 3), 20);  // last position of the d band
}

TEST(CoefficientsTest, RestartOffsetZeroEndsThePlaneAtTheFirstEndSymbol) {
  const std::vector<int> list = {0, 1};
  SyntheticPlane s(1, 0, list, {1, 1, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  s.header.params.channel(Channel::kY).restart_offset = 0;
  s.decode();
  EXPECT_EQ(s.plane.at(1, 1), 10);
  EXPECT_EQ(s.plane.at(0, 2), 0);
  EXPECT_EQ(s.plane.at(3, 3), 0);
}

// A stream that ends early leaves every position it never reached as it
// was: zero, or the skip marker where a decoded root's tree covers it.
TEST(CoefficientsTest, StreamEndingEarlyLeavesTheSkipMarkersOfUnreachedTrees) {
  const std::vector<int> list = {1, 0, -127};
  {
    // Ends after level 1's h band, whose first position is a root.
    SyntheticPlane s(2, 0, list, {1, 1, 1, 1, -127, 1, 1, 1}, {});
    s.header.params.channel(Channel::kY).restart_offset = 0;
    s.decode();
    for (std::uint32_t y = 0; y < 8; ++y) {
      for (std::uint32_t x = 0; x < 8; ++x) {
        int want = 0;
        if (y < 2 && x < 4) want = 10;
        if (y == 0 && x == 2) want = 0;                 // the root
        if (y < 2 && (x == 4 || x == 5)) want = -126;  // its tree, never reached
        EXPECT_EQ(s.plane.at(y, x), want) << y << "," << x;
      }
    }
  }
  {
    // Segment 2 ends in the middle of the tree's first row: the positions
    // passed over are zero, the rest of the tree keeps the marker.
    SyntheticPlane s(2, 0, list, {1, 1, 1, 1, -127, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, kEnd});
    s.decode();
    for (std::uint32_t y = 0; y < 8; ++y) {
      for (std::uint32_t x = 0; x < 8; ++x) {
        int want = 0;
        if (y < 4 && x < 4) want = 10;
        if (y == 0 && x == 2) want = 0;
        if (y == 0 && x == 6) want = 10;
        if (y == 1 && (x == 4 || x == 5)) want = -126;
        EXPECT_EQ(s.plane.at(y, x), want) << y << "," << x;
      }
    }
  }
}

TEST(CoefficientsTest, FillZeroTreeMarksBlocksOfGrowingSide) {
  CoefficientPlane plane;
  ASSERT_EQ(plane.allocate(16, 16), StatusCode::kOk);
  fill_zero_tree(plane, 1, 2, 1, -126, 3);
  int marked = 0;
  for (std::uint32_t y = 0; y < 16; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      const bool in_first = y >= 2 && y < 4 && x >= 4 && x < 6;
      const bool in_second = y >= 4 && y < 8 && x >= 8 && x < 12;
      EXPECT_EQ(plane.at(y, x), (in_first || in_second) ? -126 : 0) << y << "," << x;
      marked += plane.at(y, x) != 0;
    }
  }
  EXPECT_EQ(marked, 4 + 16);
  fill_zero_tree(plane, 0, 1, 3, -127, 3);  // first == end: nothing
  EXPECT_EQ(plane.at(0, 2), 0);
}

TEST(CoefficientsTest, DequantizationUsesSinglePrecisionMultipliers) {
  const BandScale s = band_scale(100, -100, 3);
  EXPECT_EQ(dequantize_value(1, s), 33);
  EXPECT_EQ(dequantize_value(-1, s), -33);
  // 100/3 in float32 is 33.3333321, so three steps give 99.99999 -> 99.
  EXPECT_EQ(dequantize_value(3, s), 99);
  EXPECT_EQ(dequantize_value(0, s), 0);
  // Asymmetric limits: positive values use the maximum, negative the minimum.
  const BandScale a = band_scale(50, -20, 10);
  EXPECT_EQ(dequantize_value(4, a), 20);
  EXPECT_EQ(dequantize_value(-4, a), -8);
  // A zero quantization step zeroes the band.
  const BandScale z = band_scale(100, -100, 0);
  EXPECT_EQ(dequantize_value(7, z), 0);
  EXPECT_EQ(dequantize_value(-7, z), 0);
}

TEST(CoefficientsTest, OversizedProductsKeepTheirLow16Bits) {
  // 127 * 32767 = 4161409 = 63 * 65536 + 32641.
  EXPECT_EQ(dequantize_value(127, band_scale(32767, 0, 1)), 32641);
  // -128 * 32768 = -4194304 = -64 * 65536.
  EXPECT_EQ(dequantize_value(-128, band_scale(0, -32768, 1)), 0);
  // -3 * 16384 = -49152 wraps to 16384.
  EXPECT_EQ(dequantize_value(-3, band_scale(0, -16384, 1)), 16384);
}

// The encoder's zerotree-marked planes of a 64 x 48 picture at quality 50
// (Y codes all 5 levels, I and Q drop 2).
std::vector<std::int16_t> read_stage(const char* channel) {
  const auto bytes = test::read_file(
      test::data_path(std::string("conformance/stages/small_64x48_q50.") + channel + "_marked.i16"));
  std::vector<std::int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

bool in_dropped_level(std::uint32_t y, std::uint32_t x, const format::CodecParams& p, int dropped) {
  return dropped > 0 &&
         (y >= (p.padded_height >> dropped) || x >= (p.padded_width >> dropped));
}

TEST(CoefficientsTest, DecodedPlanesEqualTheEncodersMarkedPlanesDequantized) {
  DecodedPlanes d;
  ASSERT_EQ(decode_planes(read_cod("small_64x48_q50"), kDefaultPixelLimit, d), StatusCode::kOk);
  const format::CodecParams& p = d.header_.params;
  ASSERT_EQ(p.padded_width, 64u);
  ASSERT_EQ(p.padded_height, 64u);
  const char* names[] = {"y", "i", "q"};
  for (int c = 0; c < 3; ++c) {
    const Channel channel = static_cast<Channel>(c);
    const auto marked = read_stage(names[c]);
    ASSERT_EQ(marked.size(), 64u * 64u);
    CoefficientPlane expected;
    ASSERT_EQ(expected.allocate(64, 64), StatusCode::kOk);
    expected.samples() = marked;
    dequantize_plane(expected, p, channel);
    const int dropped = p.channel(channel).dropped_levels;
    int mismatches = 0, nonzero = 0;
    for (std::uint32_t y = 0; y < 64; ++y) {
      for (std::uint32_t x = 0; x < 64; ++x) {
        const int want = in_dropped_level(y, x, p, dropped) ? 0 : expected.at(y, x);
        mismatches += d.planes_[c].at(y, x) != want;
        nonzero += want != 0;
      }
    }
    EXPECT_EQ(mismatches, 0) << "channel " << names[c];
    EXPECT_GT(nonzero, 20) << "channel " << names[c];
  }
}

TEST(CoefficientsTest, SegmentTwoHoldsExactlyTheFinestCodedLevel) {
  for (const char* name : {"small_64x48_q50", "astronaut_L3_drop"}) {
    const auto file = read_cod(name);
    DecodedPlanes whole;
    ASSERT_EQ(decode_planes(file, kDefaultPixelLimit, whole), StatusCode::kOk);
    const format::CodecParams& p = whole.header_.params;
    const std::size_t restart_at = 38 + 12 * static_cast<std::size_t>(format::subband_count(p.total_levels));
    // Without a restart the planes end at segment 1's end symbol.
    auto cut = file;
    for (int c = 0; c < 3; ++c) test::store_u32(cut, restart_at + 4 * static_cast<std::size_t>(c), 0);
    DecodedPlanes first;
    ASSERT_EQ(decode_planes(cut, kDefaultPixelLimit, first), StatusCode::kOk);
    for (int c = 0; c < 3; ++c) {
      const int d = p.channel(static_cast<Channel>(c)).dropped_levels;
      int finest_nonzero = 0;
      for (std::uint32_t y = 0; y < p.padded_height; ++y) {
        for (std::uint32_t x = 0; x < p.padded_width; ++x) {
          const bool finest = !in_dropped_level(y, x, p, d) && in_dropped_level(y, x, p, d + 1);
          const int a = whole.planes_[c].at(y, x);
          const int b = first.planes_[c].at(y, x);
          if (finest) {
            finest_nonzero += a != 0;
            // Never visited: zero, or a skip marker left by a coarser root.
            ASSERT_TRUE(b == 0 || b == format::kZeroTreeInside) << name << " " << c << " " << y << "," << x;
          } else {
            ASSERT_EQ(a, b) << name << " " << c << " " << y << "," << x;
          }
          if (in_dropped_level(y, x, p, d)) {
            ASSERT_EQ(a, 0) << "dropped level not zero";
          }
        }
      }
      EXPECT_GT(finest_nonzero, 0) << name << " channel " << c;
    }
  }
}

TEST(CoefficientsTest, OlderVersionsDecodeToTheSameCoefficients) {
  DecodedPlanes v25, v24, v23, rewritten;
  ASSERT_EQ(decode_planes(read_cod("astronaut_comment"), kDefaultPixelLimit, v25), StatusCode::kOk);
  ASSERT_EQ(decode_planes(read_cod("astronaut_comment_v24"), kDefaultPixelLimit, v24), StatusCode::kOk);
  ASSERT_EQ(decode_planes(read_cod("astronaut_comment_v23"), kDefaultPixelLimit, v23), StatusCode::kOk);
  ASSERT_EQ(decode_planes(test::rewrite_as_older(read_cod("camera_q50"), 3), kDefaultPixelLimit, rewritten),
            StatusCode::kOk);
  DecodedPlanes camera;
  ASSERT_EQ(decode_planes(read_cod("camera_q50"), kDefaultPixelLimit, camera), StatusCode::kOk);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(v24.planes_[c].samples(), v25.planes_[c].samples());
    EXPECT_EQ(v23.planes_[c].samples(), v25.planes_[c].samples());
    EXPECT_EQ(rewritten.planes_[c].samples(), camera.planes_[c].samples());
  }
  EXPECT_TRUE(camera.planes_[1].empty());
}

TEST(CoefficientsTest, ZeroHeaderLengthDecodesTheSamePlanes) {
  auto file = read_cod("astronaut_comment");
  DecodedPlanes a, b;
  ASSERT_EQ(decode_planes(file, kDefaultPixelLimit, a), StatusCode::kOk);
  test::store_u16(file, 14, 0);
  ASSERT_EQ(decode_planes(file, kDefaultPixelLimit, b), StatusCode::kOk);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(a.planes_[c].samples(), b.planes_[c].samples());
}

TEST(CoefficientsTest, FileWithoutTheCodedFlagDecodesToZeroPlanes) {
  DecodedPlanes d;
  ASSERT_EQ(decode_planes(read_cod("astronaut_comment_noZ"), kDefaultPixelLimit, d), StatusCode::kOk);
  for (int c = 0; c < 3; ++c) {
    ASSERT_EQ(d.planes_[c].size(), 256u * 192u);
    for (std::int16_t v : d.planes_[c].samples()) ASSERT_EQ(v, 0);
  }
}

TEST(CoefficientsTest, FailedDecodeLeavesThePreviousPlanes) {
  DecodedPlanes d;
  ASSERT_EQ(decode_planes(read_cod("tiny_9x5_g_q30"), kDefaultPixelLimit, d), StatusCode::kOk);
  const auto before = d.planes_[0].samples();
  auto broken = read_cod("astronaut_q50");
  broken[346] = 0;
  EXPECT_EQ(decode_planes(broken, kDefaultPixelLimit, d), StatusCode::kFileZeroSymbols);
  EXPECT_EQ(d.planes_[0].samples(), before);
  EXPECT_EQ(d.header_.params.image_width, 9u);
}

}  // namespace
}  // namespace varnic::decoder
