// SPDX-License-Identifier: BSD-2-Clause
// The encoder's contract beyond the conformance bytes: refusals, the working copy, fresh header
// fields whatever the settings carried, progress and cancelling; and the quantizer's rounding and
// clamps at extremes the conformance pictures never reach (the stage dumps of the conformance test
// say which other stage broke).
#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "codec/quantize.h"
#include "test_picture.h"

namespace varnic::codec {
namespace {

TEST(EncoderTest, EffectiveLevelsNeedBothSidesAboveTwoToTheLevels) {
  const struct { std::uint32_t width, height; int levels, want; } rows[] = {
      {33, 17, 5, 4}, {64, 64, 5, 5}, {32, 32, 5, 4}, {3, 3, 5, 1}, {3, 1000, 6, 1}, {2, 64, 5, 0}, {1, 1, 1, 0}};
  for (const auto& r : rows) EXPECT_EQ(effective_levels(r.width, r.height, r.levels), r.want) << r.width << "x" << r.height;
}

// The library's tests refuse the settings and the smallest pictures; these are the encoder's own.
TEST(EncoderTest, BadPicturesAndBuffersAreRefusedWithoutOutput) {
  const std::string comment(kMaxCommentLength, 'c');
  const struct { const char* what; std::function<void(PictureRows&, EncodeRequest&)> change; StatusCode want; } rows[] = {
      {"20x2", [](PictureRows& v, EncodeRequest&) { v.height = 2; }, StatusCode::kPictureTooSmall},
      {"wide", [](PictureRows& v, EncodeRequest&) { v.width = 32768; }, StatusCode::kPictureSideTooLarge},
      {"short buffer", [](PictureRows& v, EncodeRequest&) { v.size -= 1; }, StatusCode::kBadPictureBuffer},
      {"16 bits", [](PictureRows& v, EncodeRequest&) { v.bits_per_pixel = 16; }, StatusCode::kBadPictureBuffer},
      {"longest comment", [&](PictureRows&, EncodeRequest& o) { o.comment = comment; }, StatusCode::kOk},
  };
  const TestPicture picture = MakePicture(20, 20, 24);
  for (const auto& r : rows) {
    PictureRows view = picture.view;
    EncodeRequest options;
    r.change(view, options);
    EncodedPicture out;
    EXPECT_EQ(encode_picture(view, default_codec_params(), options, out), r.want) << r.what;
    EXPECT_TRUE(r.want == StatusCode::kOk || (out.plane_count == 0 && out.planes[0].empty())) << r.what;
  }
}

TEST(EncoderTest, SettingsStayAsTheyWereAndTheirLeftoversNeverReachTheFile) {
  // Levels and dropped levels are lowered on the working copy only (quality 5 drops 1, 4, 4).
  const TestPicture colour = MakePicture(33, 17, 24);
  const CodecParams settings = Quality(5);
  EncodedPicture out;
  ASSERT_EQ(encode_picture(colour.view, settings, {}, out), StatusCode::kOk);
  EXPECT_EQ(SettingsOf(settings), SettingsOf(Quality(5)));
  const CodecParams& w = out.params;
  EXPECT_EQ(std::vector<std::int64_t>({w.total_levels, w.padded_width, w.padded_height, w.channels[0].dropped_levels,
                               w.channels[1].dropped_levels, w.channels[2].dropped_levels}),
            std::vector<std::int64_t>({4, 48, 32, 1, 3, 3}));
  // Band limits, offsets and stream positions of an opened file or an earlier colour run.
  CodecParams dirty = default_codec_params();
  for (auto& c : dirty.channels) c.band_max.fill(99), c.band_min.fill(-99), c.pixel_offset = 7, c.end_offset = 1234, c.restart_offset = 77;
  const TestPicture grey = MakePicture(40, 24, 8);
  EncodedPicture clean;
  ASSERT_EQ(encode_picture(grey.view, default_codec_params(), {}, clean), StatusCode::kOk);
  ASSERT_EQ(encode_picture(grey.view, dirty, {}, out), StatusCode::kOk);
  EXPECT_EQ(out.stream, clean.stream);
}

TEST(EncoderTest, FlatPlaneListsZeroAndBothMarkers) {
  // Every coefficient is 0, so the symbol list holds 0, -127 and -126: the markers are counted
  // though -126 is never coded.
  TestPicture p = MakePicture(64, 64, 8);
  std::fill(p.bytes.begin(), p.bytes.end(), std::uint8_t{128});
  EncodedPicture out;
  ASSERT_EQ(encode_picture(p.view, default_codec_params(), {}, out), StatusCode::kOk);
  std::vector<std::uint8_t> listed(out.stream.begin() + 346, out.stream.begin() + 350);  // count, then symbols + 128
  std::sort(listed.begin() + 1, listed.end());
  EXPECT_EQ(listed, (std::vector<std::uint8_t>{3, 1, 2, 128}));
}

TEST(EncoderTest, ProgressReportsEveryPlaneStageOnTheCallersThreadAndCanCancel) {
  const TestPicture p = MakePicture(40, 40, 24);
  for (const int threads : {1, 2}) {
    std::vector<std::pair<int, int>> calls;
    EncodeRequest options;
    options.threads = threads;
    options.progress = [&, caller = std::this_thread::get_id()](int done, int total) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      calls.emplace_back(done, total);
      return true;
    };
    EncodedPicture out;
    ASSERT_EQ(encode_picture(p.view, default_codec_params(), options, out), StatusCode::kOk);
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{1, 6}, {2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}}));
    for (int stop = 1; stop <= 6; ++stop) {
      int last = 0;
      options.progress = [&](int done, int) { return (last = done) < stop; };
      EXPECT_EQ(encode_picture(p.view, default_codec_params(), options, out), StatusCode::kCancelled) << stop;
      EXPECT_EQ(last, stop) << threads << " threads";  // no later stage reported
    }
  }
}

TEST(QuantizerTest, RoundsHalvesAwayFromZeroAndClampsClearOfTheMarkers) {
  const struct { float value; std::int16_t max, min; std::uint16_t step; int want; } rows[] = {
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
    // Nine copies: the vector loop and the scalar tail must agree.
    const std::vector<float> values(9, r.value);
    std::vector<std::int8_t> codes(9, 55);
    quantize_row(values.data(), 9, quantizer_scales(r.max, r.min, r.step), codes.data());
    EXPECT_EQ(codes, std::vector<std::int8_t>(9, static_cast<std::int8_t>(r.want)))
        << r.value << " in " << r.min << ".." << r.max << " step " << r.step;
  }
}

}  // namespace
}  // namespace varnic::codec
