// Inverse colour tables, the final conversion in both layouts, previews,
// reconstruction options and timings.

#include <gtest/gtest.h>

#include <vector>

#include "display/display.h"
#include "format/colour_space.h"

namespace varnic::display {
namespace {

// reconstruct into a picture buffer that is replaced only on success.
StatusCode reconstruct_picture(decoder::PlaneSet& planes, const format::CodecParams& params, const format::Magic& magic,
                               const ReconstructRequest& request, std::vector<std::uint8_t>& pixels) {
  DecodedPicture out;
  VARNIC_RETURN_IF_ERROR(reconstruct(planes, params, magic, request, out));
  pixels = std::move(out.pixels);
  return StatusCode::kOk;
}

using namespace ::varnic::format;

using format::Channel;
using format::CodecParams;

std::int16_t entry(const InverseTable& t, int i) { return t[inverse_table_index(i)]; }

TEST(InverseTablesTest, EntriesRoundTowardMinusInfinity) {
  const InverseColourTables& t = inverse_colour_tables();
  EXPECT_EQ(entry(t.red_from_i, 1), 0);
  EXPECT_EQ(entry(t.red_from_i, -1), -1);
  EXPECT_EQ(entry(t.red_from_i, 100), 95);    // 97900 / 1024 = 95.6
  EXPECT_EQ(entry(t.red_from_i, -100), -96);
  EXPECT_EQ(entry(t.red_from_i, -256), -245);  // -244.75
  EXPECT_EQ(entry(t.green_from_i, -256), 69);  // 69.75
  EXPECT_EQ(entry(t.green_from_q, 7), -5);     // -4634 / 1024 = -4.5
  EXPECT_EQ(entry(t.blue_from_i, 254), -282);  // -281.04
  EXPECT_EQ(entry(t.blue_from_q, 254), 432);   // 432.59
  EXPECT_EQ(entry(t.red_from_q, 0), 0);
}

TEST(InverseTablesTest, TopEntryIsZeroAndRedFromQBottomIsPositive) {
  const InverseColourTables& t = inverse_colour_tables();
  for (const InverseTable* table : {&t.red_from_i, &t.red_from_q, &t.green_from_i, &t.green_from_q,
                                    &t.blue_from_i, &t.blue_from_q}) {
    EXPECT_EQ(entry(*table, 255), 0);
  }
  EXPECT_EQ(entry(t.red_from_q, -256), 159);
  EXPECT_EQ(entry(t.blue_from_q, -256), -436);  // the formula elsewhere
  EXPECT_EQ(entry(t.red_from_q, -255), -159);   // floor(-158.4)
}

TEST(InverseTablesTest, SamplesOutsideTheTablesAreClampedToTheirEnds) {
  EXPECT_EQ(inverse_table_index(1000), inverse_table_index(255));
  EXPECT_EQ(inverse_table_index(-32768), inverse_table_index(-256));
  EXPECT_EQ(inverse_table_index(-256), 0u);
  EXPECT_EQ(inverse_table_index(255), kInverseTableSize - 1);
}

TEST(PreviewPaletteTest, FourBlueByEightGreenByEightRed) {
  const auto& p = preview_palette();
  EXPECT_EQ(p[0].blue, 0);
  EXPECT_EQ(p[0].red, 0);
  EXPECT_EQ(p[73].blue, 64);
  EXPECT_EQ(p[73].green, 32);
  EXPECT_EQ(p[73].red, 32);
  EXPECT_EQ(p[255].blue, 192);
  EXPECT_EQ(p[255].green, 224);
  EXPECT_EQ(p[255].red, 224);
  EXPECT_EQ(p[6].red, 192);
  EXPECT_EQ(p[6].green, 0);
}

// A picture whose planes hold samples directly (no synthesis).
struct Planes {
  CodecParams params;
  decoder::PlaneSet planes;

  Planes(std::uint32_t width, std::uint32_t height, int levels, bool colour) {
    params.total_levels = static_cast<std::uint16_t>(levels);
    params.image_width = width;
    params.image_height = height;
    params.image_mode = colour ? format::kImageModeColour : format::kImageModeGrey;
    format::compute_padded_size(params);
    for (int c = 0; c < (colour ? 3 : 1); ++c) {
      EXPECT_EQ(planes[c].allocate(params.padded_width, params.padded_height), StatusCode::kOk);
      params.channels[c].pixel_offset = 128;
    }
  }
  std::vector<std::uint8_t> convert(const format::Magic& magic = format::kCurrentMagic) const {
    const int bits = params.image_mode == format::kImageModeColour ? 24 : 8;
    std::vector<std::uint8_t> out(
        utils::row_geometry(params.image_width, params.image_height, static_cast<std::uint16_t>(bits))
            .picture_bytes,
        0);
    planes_to_pixels(planes, params, magic, out);
    return out;
  }
};

TEST(PlanesToPixelsTest, ZeroSamplesGiveMidGreyAndPureRedComesBack) {
  Planes p(4, 4, 1, true);
  // Pure red through the forward matrix is Y = -52, I = 151, Q = 53; back:
  // R = 76 + 144 + 32 = 252, G = 76 - 42 - 35 < 0, B = 76 - 168 + 90 < 0.
  p.planes[0].at(1, 2) = -52;
  p.planes[1].at(1, 2) = 151;
  p.planes[2].at(1, 2) = 53;
  const auto out = p.convert();
  ASSERT_EQ(out.size(), 48u);
  const std::size_t red = 12 + 2 * 3;
  EXPECT_EQ(out[red + 0], 0);    // blue
  EXPECT_EQ(out[red + 1], 0);    // green
  EXPECT_EQ(out[red + 2], 252);  // red
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i < red || i >= red + 3) {
      ASSERT_EQ(out[i], 128) << i;
    }
  }
}

TEST(PlanesToPixelsTest, ExtremeSamplesClampWithoutReadingOutsideTheTables) {
  Planes p(4, 4, 1, true);
  p.planes[0].at(0, 0) = 32767;
  p.planes[1].at(0, 0) = -32768;
  p.planes[0].at(0, 1) = -32768;
  p.planes[2].at(0, 1) = 32767;
  p.planes[1].at(0, 2) = 300;  // clamped to 255, whose entries are 0
  p.planes[2].at(0, 2) = -300;  // clamped to -256: red +159, green 165, blue -436
  const auto out = p.convert();
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(out[2], 255);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[6], 0);      // blue: 128 - 436
  EXPECT_EQ(out[7], 255);    // green: 128 + 165
  EXPECT_EQ(out[8], 255);    // red: 128 + 159
}

TEST(PlanesToPixelsTest, EverySamplePairConvertsAsTheTablesSay) {
  // I along the rows and Q down the columns cover the tables and beyond; Y
  // sweeps past both clamps. Each pixel must be the table lookups' sum.
  constexpr int kSide = 620;
  Planes p(kSide, kSide, 1, true);
  auto sample = [](int v) { return static_cast<std::int16_t>(v < -310 ? -32768 : v > 308 ? 32767 : v); };
  for (int r = 0; r < kSide; ++r) {
    for (int x = 0; x < kSide; ++x) {
      p.planes[0].at(r, x) = static_cast<std::int16_t>((x * 7 + r * 13) % 801 - 400);
      p.planes[1].at(r, x) = sample(x - 311);
      p.planes[2].at(r, x) = sample(r - 311);
    }
  }
  const auto out = p.convert();
  const InverseColourTables& t = inverse_colour_tables();
  const std::size_t row_bytes = utils::row_geometry(kSide, kSide, 24).stride;
  for (int r = 0; r < kSide; ++r) {
    for (int x = 0; x < kSide; ++x) {
      const int y = p.planes[0].at(r, x) + 128;
      const int i = p.planes[1].at(r, x);
      const int q = p.planes[2].at(r, x);
      const std::uint8_t* o = out.data() + row_bytes * r + 3 * x;
      ASSERT_EQ(o[0], format::clamp_sample(y + entry(t.blue_from_i, i) + entry(t.blue_from_q, q))) << i << " " << q;
      ASSERT_EQ(o[1], format::clamp_sample(y + entry(t.green_from_i, i) + entry(t.green_from_q, q))) << i << " " << q;
      ASSERT_EQ(o[2], format::clamp_sample(y + entry(t.red_from_i, i) + entry(t.red_from_q, q))) << i << " " << q;
    }
  }
}

TEST(PlanesToPixelsTest, GreyRowsArePaddedWithZeros) {
  Planes p(5, 5, 1, false);  // padded to 6 x 6; rows of 5 bytes padded to 8
  for (std::uint32_t y = 0; y < 6; ++y) {
    for (std::uint32_t x = 0; x < 6; ++x) p.planes[0].at(y, x) = static_cast<std::int16_t>(10 * y + x - 128);
  }
  const auto out = p.convert();
  ASSERT_EQ(out.size(), 40u);
  for (std::uint32_t y = 0; y < 5; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) {
      EXPECT_EQ(out[8 * y + x], x < 5 ? 10 * y + x : 0) << y << "," << x;
    }
  }
}

TEST(PlanesToPixelsTest, PixelOffsetOfYShiftsEveryChannel) {
  Planes p(4, 4, 1, false);
  p.params.channel(Channel::kY).pixel_offset = -10;
  p.planes[0].at(0, 0) = 300;
  p.planes[0].at(0, 1) = 5;
  const auto out = p.convert();
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
}

TEST(PlanesToPixelsTest, Version23PacksEveryPaddedSampleAndStopsAtTheBufferEnd) {
  // 5 x 4 pads to 6 x 4 at one level: 24 samples, 72 bytes of sequence, but
  // the picture buffer holds (15 + 1) x 4 = 64.
  Planes p(5, 4, 1, true);
  for (std::uint32_t n = 0; n < 24; ++n) p.planes[0].samples()[n] = static_cast<std::int16_t>(n);
  p.planes[1].samples()[0] = 100;  // red 128 + 95, green 128 - 28, blue 128 - 111
  format::Magic v23 = format::kCurrentMagic;
  v23[5] = '3';
  std::vector<std::uint8_t> guarded(64 + 16, 0xee);
  const format::CodecParams& params = p.params;
  planes_to_pixels(p.planes, params, v23, std::span(guarded.data(), 64));
  EXPECT_EQ(guarded[0], 223);
  EXPECT_EQ(guarded[1], 100);
  EXPECT_EQ(guarded[2], 17);
  for (std::size_t n = 1; n < 21; ++n) {
    for (std::size_t b = 0; b < 3; ++b) ASSERT_EQ(guarded[3 * n + b], 128 + n) << n;
  }
  EXPECT_EQ(guarded[63], 128 + 21);  // first byte of sample 21; the rest is cut
  for (std::size_t i = 64; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xee);
}

TEST(PlanesToPixelsTest, ColourNeedsAKnownVersion) {
  Planes p(4, 4, 1, true);
  format::Magic odd = format::kCurrentMagic;
  odd[5] = '6';
  std::vector<std::uint8_t> out(48, 7);
  planes_to_pixels(p.planes, p.params, odd, out);
  for (std::uint8_t b : out) EXPECT_EQ(b, 7);
  odd = format::kCurrentMagic;
  odd[3] = '3';
  planes_to_pixels(p.planes, p.params, odd, out);
  for (std::uint8_t b : out) EXPECT_EQ(b, 7);
  odd[3] = '2';
  odd[5] = '4';
  planes_to_pixels(p.planes, p.params, odd, out);
  for (std::uint8_t b : out) EXPECT_EQ(b, 128);
}

TEST(PlanesToPixelsTest, CallerRowsHoldTheBufferPixelsInEitherOrder) {
  // Odd sizes with samples of every sign and beyond the clamp; rows written
  // into a caller's layout must be the buffer's pixels, flipped or byte-swapped
  // as asked, with the bytes past each row untouched.
  for (const bool colour : {true, false}) {
    Planes p(13, 7, 2, colour);
    for (int c = 0; c < (colour ? 3 : 1); ++c) {
      for (std::size_t n = 0; n < p.planes[c].size(); ++n) {
        p.planes[c].samples()[n] = static_cast<std::int16_t>((n * (37 + 11 * c)) % 601) - 300;
      }
    }
    const auto buffer = p.convert();
    const std::size_t bpp = colour ? 3 : 1;
    const std::size_t padded_row =
        utils::row_geometry(13, 7, static_cast<std::uint16_t>(8 * bpp)).stride;
    for (const bool top_down : {false, true}) {
      for (const bool rgb : {false, true}) {
        const std::size_t stride = 13 * bpp + 5;
        std::vector<std::uint8_t> rows(stride * 7, 0xAB);
        ASSERT_TRUE(planes_to_rows(p.planes, p.params, format::kCurrentMagic, top_down, rgb, rows,
                                   stride));
        for (std::size_t r = 0; r < 7; ++r) {
          const std::uint8_t* from = buffer.data() + padded_row * (top_down ? 6 - r : r);
          const std::uint8_t* to = rows.data() + stride * r;
          for (std::size_t x = 0; x < 13; ++x) {
            for (std::size_t b = 0; b < bpp; ++b) {
              const std::size_t source = colour && rgb ? 2 - b : b;
              ASSERT_EQ(to[x * bpp + b], from[x * bpp + source])
                  << colour << top_down << rgb << " row " << r << " x " << x;
            }
          }
          for (std::size_t k = 13 * bpp; k < stride; ++k) ASSERT_EQ(to[k], 0xAB);
        }
      }
    }
    // The packed 2.3 layout and a short destination are refused untouched.
    std::vector<std::uint8_t> rows(13 * bpp * 7 - 1, 0xAB);
    EXPECT_FALSE(planes_to_rows(p.planes, p.params, format::kCurrentMagic, true, false, rows,
                                13 * bpp));
    if (colour) {
      format::Magic v23 = format::kCurrentMagic;
      v23[5] = '3';
      rows.resize(13 * 3 * 7, 0xAB);
      EXPECT_FALSE(planes_to_rows(p.planes, p.params, v23, true, false, rows, 13 * 3));
    }
    for (const std::uint8_t b : rows) EXPECT_EQ(b, 0xAB);
  }
}

TEST(PreviewTest, GreyPreviewDividesBeforeAddingTheOffset) {
  Planes p(16, 8, 2, false);  // previews: 4 x 2 at level 0, 8 x 4 at level 1
  p.planes[0].at(0, 0) = -3 * 4;  // / 4 = -3 -> 125
  p.planes[0].at(0, 1) = -7;      // / 4 = -1 (toward zero) -> 127
  p.planes[0].at(0, 2) = 127 * 4 + 3;  // 127 -> 255
  p.planes[0].at(0, 3) = -129 * 4;     // -> -1 -> 0
  p.planes[0].at(1, 0) = 5;
  std::vector<std::uint8_t> out;
  PreviewFrame frame;
  render_preview(p.planes, p.params, format::kCurrentMagic, 0, out, frame);
  EXPECT_EQ(frame.width, 4u);
  EXPECT_EQ(frame.height, 2u);
  EXPECT_EQ(frame.bits_per_pixel, 8);
  ASSERT_EQ(frame.pixels.size(), 8u);
  EXPECT_EQ(frame.pixels[0], 125);
  EXPECT_EQ(frame.pixels[1], 127);
  EXPECT_EQ(frame.pixels[2], 255);
  EXPECT_EQ(frame.pixels[3], 0);
  EXPECT_EQ(frame.pixels[4], 129);
  // At s = 1, Y = -3 gives -1 + 128 = 127.
  p.planes[0].at(0, 0) = -3;
  render_preview(p.planes, p.params, format::kCurrentMagic, 1, out, frame);
  EXPECT_EQ(frame.width, 8u);
  EXPECT_EQ(frame.height, 4u);
  EXPECT_EQ(frame.pixels[0], 127);
}

TEST(PreviewTest, ColourPreviewRowsArePaddedAndFollowTheVersionOrder) {
  Planes p(20, 8, 2, true);  // level 1 preview: 10 x 4, rows of 30 bytes + 2
  p.planes[0].at(0, 0) = -52 * 2;
  p.planes[1].at(0, 0) = 151 * 2;
  p.planes[2].at(0, 0) = 53 * 2;
  std::vector<std::uint8_t> out;
  PreviewFrame frame;
  render_preview(p.planes, p.params, format::kCurrentMagic, 1, out, frame);
  ASSERT_EQ(frame.pixels.size(), 32u * 4u);
  EXPECT_EQ(frame.pixels[2], 252);  // red last
  EXPECT_EQ(frame.pixels[30], 0);
  EXPECT_EQ(frame.pixels[31], 0);
  EXPECT_EQ(frame.pixels[32], 128);
  format::Magic v23 = format::kCurrentMagic;
  v23[5] = '3';
  render_preview(p.planes, p.params, v23, 1, out, frame);
  EXPECT_EQ(frame.pixels[0], 252);  // red first
  EXPECT_EQ(frame.pixels[30], 0);
}

TEST(ReconstructTest, CancelledPreviewLeavesThePictureAlone) {
  Planes p(16, 16, 2, false);
  std::vector<std::uint8_t> pixels = {1, 2, 3};
  ReconstructRequest options;
  int calls = 0;
  options.preview = [&](const PreviewFrame&) { return ++calls < 2; };
  EXPECT_EQ(reconstruct_picture(p.planes, p.params, format::kCurrentMagic, options, pixels),
            StatusCode::kCancelled);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(pixels, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(ReconstructTest, RefusesPlanesThatDoNotMatchTheSettings) {
  Planes p(16, 16, 2, true);
  p.planes[2].release();
  std::vector<std::uint8_t> pixels;
  EXPECT_NE(reconstruct_picture(p.planes, p.params, format::kCurrentMagic, {}, pixels), StatusCode::kOk);
  EXPECT_TRUE(pixels.empty());
}

TEST(ReconstructTest, EncoderPlanesAreDequantizedFirst) {
  // One level, 8 x 8: a quantized low band of 2 with limits 40 / 4 steps
  // dequantizes to 20, which one synthesis step halves to 10 everywhere.
  Planes p(8, 8, 1, false);
  format::ChannelParams& y = p.params.channel(Channel::kY);
  y.band_max[3] = 40;
  y.band_min[3] = -40;
  y.quant_vector[3] = 4;
  for (std::uint32_t r = 0; r < 4; ++r) {
    for (std::uint32_t x = 0; x < 4; ++x) p.planes[0].at(r, x) = 2;
  }
  p.planes[0].at(0, 4) = format::kZeroTreeRoot;  // markers count as zero
  p.planes[0].at(4, 4) = format::kZeroTreeInside;
  ReconstructRequest options;
  options.dequantize = true;
  std::vector<std::uint8_t> pixels;
  ASSERT_EQ(reconstruct_picture(p.planes, p.params, format::kCurrentMagic, options, pixels), StatusCode::kOk);
  ASSERT_EQ(pixels.size(), 64u);
  for (std::uint8_t b : pixels) ASSERT_EQ(b, 138);
}

TEST(DecodeFileTest, FailedDecodeLeavesTheCallersPictureAlone) {
  DecodedFile d;
  d.picture.pixels = {9, 9};
  const std::vector<std::uint8_t> junk = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z', 0, 0};
  EXPECT_EQ(decode_file(junk, kDefaultPixelLimit, {}, d), StatusCode::kFileTruncated);
  EXPECT_EQ(d.picture.pixels, (std::vector<std::uint8_t>{9, 9}));
}

}  // namespace
}  // namespace varnic::display
