// SPDX-License-Identifier: BSD-2-Clause
// The final conversion at its edges (clamps, the packed 2.3 layout), previews, and reconstruction
// that fails or is cancelled; the conformance files pin the rest.
#include <gtest/gtest.h>

#include "display/display.h"

namespace varnic::display {
namespace {

using namespace ::varnic::format;

// A picture whose planes hold samples directly (no synthesis).
struct Planes {
  CodecParams params;
  decoder::PlaneSet planes;

  Planes(std::uint32_t width, std::uint32_t height, int levels, bool colour) {
    params.total_levels = static_cast<std::uint16_t>(levels);
    params.image_width = width;
    params.image_height = height;
    params.image_mode = colour ? kImageModeColour : kImageModeGrey;
    compute_padded_size(params);
    for (std::size_t c = 0; c < (colour ? 3u : 1u); ++c) {
      EXPECT_EQ(planes[c].allocate(params.padded_width, params.padded_height), StatusCode::kOk);
      params.channels[c].pixel_offset = 128;
    }
  }
  std::vector<std::uint8_t> convert(const Magic& magic = kCurrentMagic, std::size_t extra = 0) const {
    const auto bits = static_cast<std::uint16_t>(params.image_mode == kImageModeColour ? 24 : 8);
    std::vector<std::uint8_t> out(utils::row_geometry(params.image_width, params.image_height, bits).picture_bytes + extra, 0xee);
    std::fill(out.begin(), out.end() - static_cast<std::ptrdiff_t>(extra), 0);
    planes_to_pixels(planes, params, magic, std::span(out).first(out.size() - extra));
    return out;
  }
};

TEST(PlanesToPixelsTest, ExtremeSamplesClampWithoutReadingOutsideTheTables) {
  Planes p(4, 4, 1, true);
  const std::int16_t samples[][3] = {
      {32767, -32768, 0}, {-32768, 0, 32767},
      {0, 300, -300},  // I clamped to 255, whose entries are 0; Q to -256: red +159, green +165, blue -436
      {-52, 151, 53},  // pure red through the forward matrix: R = 76 + 144 + 32, G and B below 0
  };
  for (std::uint32_t x = 0; x < 4; ++x) {
    for (std::size_t c = 0; c < 3; ++c) p.planes[c].at(1, x) = samples[x][c];
  }
  const auto out = p.convert();
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 12, out.begin() + 24),
            (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 252}));
  EXPECT_EQ(std::count(out.begin(), out.end(), 128), 36);  // zero samples are mid-grey
}

TEST(PlanesToPixelsTest, Version23PacksEveryPaddedSampleAndStopsAtTheBufferEnd) {
  // 5 x 4 pads to 6 x 4 at one level: 24 samples, 72 bytes of sequence, but the picture buffer
  // holds (15 + 1) x 4 = 64.
  Planes p(5, 4, 1, true);
  for (std::uint32_t n = 0; n < 24; ++n) p.planes[0].samples()[n] = static_cast<std::int16_t>(n);
  p.planes[1].samples()[0] = 100;  // red 128 + 95, green 128 - 28, blue 128 - 111
  Magic v23 = kCurrentMagic;
  v23[kMinorDigitOffset] = '3';
  const auto out = p.convert(v23, 16);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 3), (std::vector<std::uint8_t>{223, 100, 17}));
  for (std::size_t i = 3; i < 64; ++i) ASSERT_EQ(out[i], 128 + i / 3) << i;
  for (std::size_t i = 64; i < out.size(); ++i) ASSERT_EQ(out[i], 0xee) << i;
}

TEST(PreviewTest, SamplesAreDividedTowardZeroBeforeTheOffset) {
  Planes p(16, 8, 2, false);  // previews: 4 x 2 at level 0, 8 x 4 at level 1
  const std::int16_t samples[] = {-3 * 4, -7, 127 * 4 + 3, -129 * 4};
  for (std::uint32_t x = 0; x < 4; ++x) p.planes[0].at(0, x) = samples[x];
  p.planes[0].at(1, 0) = 5;
  std::vector<std::uint8_t> out;
  PreviewFrame frame;
  render_preview(p.planes, p.params, kCurrentMagic, 0, out, frame);
  EXPECT_EQ(std::vector<std::uint32_t>({frame.width, frame.height, frame.bits_per_pixel}), std::vector<std::uint32_t>({4, 2, 8}));
  EXPECT_EQ(std::vector<std::uint8_t>(frame.pixels.begin(), frame.pixels.end()), (std::vector<std::uint8_t>{125, 127, 255, 0, 129, 128, 128, 128}));
  render_preview(p.planes, p.params, kCurrentMagic, 1, out, frame);
  EXPECT_EQ(frame.width, 8u);
  EXPECT_EQ(frame.pixels[0], 122);  // -12 / 2
}

TEST(ReconstructTest, CancelledRefusedOrFailedLeavesTheCallersPicture) {
  Planes p(16, 16, 2, true);
  DecodedPicture out;
  out.pixels = {1, 2, 3};
  ReconstructRequest request;
  int calls = 0;
  request.preview = [&](const PreviewFrame&) { return ++calls < 2; };
  EXPECT_EQ(reconstruct(p.planes, p.params, kCurrentMagic, request, out), StatusCode::kCancelled);
  EXPECT_EQ(calls, 2);
  request.reduce = 2;  // as many levels as there are
  EXPECT_NE(reconstruct(p.planes, p.params, kCurrentMagic, request, out), StatusCode::kOk);
  p.planes[2].release();
  EXPECT_NE(reconstruct(p.planes, p.params, kCurrentMagic, {}, out), StatusCode::kOk);
  DecodedFile d;
  d.picture = out;
  const std::vector<std::uint8_t> junk = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z', 0, 0};
  EXPECT_EQ(decode_file(junk, kDefaultPixelLimit, {}, d), StatusCode::kFileTruncated);
  EXPECT_EQ(out.pixels, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(d.picture.pixels, out.pixels);
}

}  // namespace
}  // namespace varnic::display
