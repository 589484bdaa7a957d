#include "codec/encoder.h"

#include <gtest/gtest.h>

#include "utils/le_bytes.h"

#include <string>
#include <thread>
#include <vector>

#include "format/arithmetic_coder.h"
#include "format/format.h"
#include "codec/forward_wavelet.h"
#include "utils/picture_layout.h"
#include "test_picture.h"

namespace varnic::codec {
using namespace ::varnic::format;
using namespace ::varnic::utils;
namespace {

std::uint32_t U32At(const std::vector<std::uint8_t>& s, std::size_t at) {
  return utils::load_u32(s.data() + at);
}
std::int16_t I16At(const std::vector<std::uint8_t>& s, std::size_t at) {
  return static_cast<std::int16_t>(utils::load_u16(s.data() + at));
}

TEST(EncoderTest, EffectiveLevelsNeedBothSidesAboveTwoToTheLevels) {
  EXPECT_EQ(effective_levels(33, 17, 5), 4);
  EXPECT_EQ(effective_levels(64, 64, 5), 5);
  EXPECT_EQ(effective_levels(32, 32, 5), 4);
  EXPECT_EQ(effective_levels(3, 3, 5), 1);
  EXPECT_EQ(effective_levels(3, 1000, 6), 1);
  EXPECT_EQ(effective_levels(2, 64, 5), 0);
  EXPECT_EQ(effective_levels(1, 1, 1), 0);
}

TEST(EncoderTest, TooSmallOrTooLargePicturesAreRefusedWithoutOutput) {
  const CodecParams settings = default_codec_params();
  for (const auto& [w, h] : {std::pair{2u, 2u}, {1u, 64u}, {64u, 2u}, {0u, 10u}}) {
    TestPicture p = MakePicture(std::max(w, 1u), std::max(h, 1u), 24);
    p.view.width = w;
    p.view.height = h;
    EncodedPicture out;
    out.stream = {1, 2, 3};
    EXPECT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kPictureTooSmall) << w << "x" << h;
    EXPECT_EQ(out.plane_count, 0);
  }
  TestPicture p = MakePicture(4, 4, 8);
  p.view.width = 32768;
  EncodedPicture out;
  EXPECT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kPictureSideTooLarge);
}

TEST(EncoderTest, BadBuffersAndSettingsAreRefused) {
  CodecParams settings = default_codec_params();
  TestPicture p = MakePicture(20, 20, 24);
  EncodedPicture out;
  PictureRows short_view = p.view;
  short_view.size -= 1;
  EXPECT_EQ(encode_picture(short_view, settings, {}, out), StatusCode::kBadPictureBuffer);
  PictureRows odd_depth = p.view;
  odd_depth.bits_per_pixel = 16;
  EXPECT_EQ(encode_picture(odd_depth, settings, {}, out), StatusCode::kBadPictureBuffer);

  const std::string long_comment(kMaxCommentLength + 1, 'c');
  EncodeRequest options;
  options.comment = long_comment;
  EXPECT_EQ(encode_picture(p.view, settings, options, out), StatusCode::kCommentTooLong);
  options.comment = std::string_view(long_comment).substr(1);
  EXPECT_EQ(encode_picture(p.view, settings, options, out), StatusCode::kOk);

  settings.total_levels = 7;
  EXPECT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kTotalLevelsOutOfRange);
  settings = default_codec_params();
  settings.channels[1].quant_vector[3] = 126;
  EXPECT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kQuantVectorBTooLarge);
  settings = default_codec_params();
  settings.channels[2].dropped_levels = -1;
  EXPECT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kCLevelsInvalid);

  // Coding I before Y has no header to patch; a plane of the wrong size does
  // not match the settings.
  CodecParams working;
  ASSERT_EQ(make_working_params(default_codec_params(), 64, 64, kImageModeColour, working),
            StatusCode::kOk);
  CoefficientPlane plane;
  ASSERT_EQ(plane.allocate(64, 64), StatusCode::kOk);
  std::vector<std::uint8_t> stream;
  EXPECT_EQ(encode_channel(plane, Channel::kI, working, {}, stream), StatusCode::kEncodeFailed);
  EXPECT_TRUE(stream.empty());
  CoefficientPlane wrong;
  ASSERT_EQ(wrong.allocate(32, 64), StatusCode::kOk);
  EXPECT_EQ(encode_channel(wrong, Channel::kY, working, {}, stream), StatusCode::kEncodeFailed);
  EXPECT_EQ(encode_channel(plane, Channel::kY, working, {}, stream), StatusCode::kOk);
  EXPECT_EQ(encode_channel(plane, Channel::kI, working, {}, stream), StatusCode::kOk);
}

TEST(EncoderTest, HeaderLayoutOfAFiveLevelColourFile) {
  const TestPicture p = MakePicture(64, 64, 24);
  EncodedPicture out;
  ASSERT_EQ(encode_picture(p.view, default_codec_params(), {}, out), StatusCode::kOk);
  const auto& s = out.stream;
  ASSERT_GT(s.size(), 400u);
  EXPECT_EQ(std::string(s.begin(), s.begin() + 8), "QVT2.5aZ");
  EXPECT_EQ(utils::load_u16(s.data() + 14), 338);
  EXPECT_EQ(I16At(s, 8), 0);   // Y dropped
  EXPECT_EQ(I16At(s, 10), 2);  // I dropped
  EXPECT_EQ(utils::load_u16(s.data() + 34), kImageModeColour);
  EXPECT_EQ(utils::load_u16(s.data() + 36), 5);
  // Y's symbol table starts at 346: a count, then that many distinct bytes.
  const int symbols = s[346];
  EXPECT_GE(symbols, 2);
  const std::uint32_t y_restart = U32At(s, field_offset(5, 5, HeaderField::kRestartOffset));
  EXPECT_GT(y_restart, 346u + 1 + symbols);
  // Planes follow each other; Q ends the file.
  EXPECT_EQ(U32At(s, 22), out.params.channels[0].end_offset);
  EXPECT_LT(U32At(s, 22), U32At(s, field_offset(5, 5, HeaderField::kRestartOffset, Channel::kI)));
  EXPECT_EQ(U32At(s, 30), s.size());
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(I16At(s, field_offset(5, 5, HeaderField::kPixelOffset, static_cast<Channel>(c))), 128);
    EXPECT_EQ(I16At(s, field_offset(5, 5, HeaderField::kBandMax, static_cast<Channel>(c), 15)), out.params.channels[c].band_max[15]);
  }
}

TEST(EncoderTest, GreyFilesCarryFreshIAndQFields) {
  const TestPicture p = MakePicture(40, 24, 8);
  CodecParams settings = default_codec_params();
  EncodedPicture clean;
  ASSERT_EQ(encode_picture(p.view, settings, {}, clean), StatusCode::kOk);

  // Leftovers of an opened file or an earlier colour run must not leak.
  CodecParams dirty = settings;
  for (auto& c : dirty.channels) {
    c.band_max.fill(99);
    c.band_min.fill(-99);
    c.pixel_offset = 7;
    c.end_offset = 1234;
    c.restart_offset = 77;
  }
  EncodedPicture again;
  ASSERT_EQ(encode_picture(p.view, dirty, {}, again), StatusCode::kOk);
  EXPECT_EQ(again.stream, clean.stream);

  const auto& s = clean.stream;
  EXPECT_EQ(clean.plane_count, 1);
  EXPECT_TRUE(clean.planes[1].empty());
  EXPECT_EQ(U32At(s, 22), s.size());
  EXPECT_EQ(U32At(s, 26), 0u);
  EXPECT_EQ(U32At(s, 30), 0u);
  // 24 rows allow only 4 levels; chrominance dropped levels stay 2.
  EXPECT_EQ(utils::load_u16(s.data() + 36), 4);
  EXPECT_EQ(I16At(s, 10), 2);
  for (int k = 0; k < format::subband_count(4); ++k) {
    for (int c = 1; c < 3; ++c) {
      EXPECT_EQ(I16At(s, field_offset(5, 4, HeaderField::kBandMax, static_cast<Channel>(c), k)), 0);
      EXPECT_EQ(I16At(s, field_offset(5, 4, HeaderField::kBandMin, static_cast<Channel>(c), k)), 0);
      EXPECT_EQ(utils::load_u16(s.data() + field_offset(5, 4, HeaderField::kQuantStep, static_cast<Channel>(c), k)),
                settings.channels[c].quant_vector[k]);
    }
  }
  EXPECT_EQ(U32At(s, field_offset(5, 4, HeaderField::kRestartOffset, Channel::kI)), 0u);
  EXPECT_EQ(I16At(s, field_offset(5, 4, HeaderField::kPixelOffset)), 128);
  EXPECT_EQ(I16At(s, field_offset(5, 4, HeaderField::kPixelOffset, Channel::kI)), 0);
  EXPECT_EQ(I16At(s, field_offset(5, 4, HeaderField::kPixelOffset, Channel::kQ)), 0);
}

TEST(EncoderTest, LevelsAndDroppedLevelsAreLoweredOnTheWorkingCopyOnly) {
  const TestPicture p = MakePicture(33, 17, 24);
  CodecParams settings = default_codec_params();
  settings.quality_factor = 5;  // drops 1, 4, 4 levels
  ASSERT_EQ(derive_params_from_quality(settings), StatusCode::kOk);
  const CodecParams before = settings;
  EncodedPicture out;
  ASSERT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kOk);
  EXPECT_EQ(out.params.total_levels, 4);
  EXPECT_EQ(out.params.padded_width, 48u);
  EXPECT_EQ(out.params.padded_height, 32u);
  EXPECT_EQ(out.params.channels[0].dropped_levels, 1);
  EXPECT_EQ(out.params.channels[1].dropped_levels, 3);
  EXPECT_EQ(utils::load_u16(out.stream.data() + 36), 4);
  EXPECT_EQ(I16At(out.stream, 10), 3);
  EXPECT_EQ(I16At(out.stream, 12), 3);
  EXPECT_EQ(settings.total_levels, before.total_levels);
  EXPECT_EQ(settings.channels[1].dropped_levels, 4);
  EXPECT_EQ(out.planes[0].width(), 48u);
}

// Decodes one channel's two segments with the arithmetic decoder and checks
// them against the coded plane in coding order, markers skipped.
void ExpectChannelDecodesToPlane(const EncodedPicture& out, int c, std::uint32_t data_start) {
  const auto& s = out.stream;
  const ChannelParams& cp = out.params.channels[c];
  const int symbols = s[data_start];
  std::vector<int> values;
  for (int j = 0; j < symbols; ++j) values.push_back(s[data_start + 1 + j] - 128);

  // Coding order, worked out here on its own: the low band, then per level from the coarsest the
  // bands h, v, d, each row by row.
  const CoefficientPlane& plane = out.planes[c];
  std::vector<std::int16_t> order;
  std::uint32_t h = plane.height() >> out.params.total_levels;
  std::uint32_t w = plane.width() >> out.params.total_levels;
  auto block = [&](std::uint32_t row, std::uint32_t col) {
    for (std::uint32_t r = row; r < row + h; ++r) order.insert(order.end(), plane.row(r) + col, plane.row(r) + col + w);
  };
  block(0, 0);
  for (int l = 0; l < out.params.total_levels; ++l, h *= 2, w *= 2) {
    block(0, w);
    block(h, 0);
    block(h, w);
  }
  const std::size_t coded = order.size() >> (2 * cp.dropped_levels);
  std::vector<int> expected_first, expected_second;
  for (std::size_t p = 0; p < coded; ++p) {
    if (order[p] == kZeroTreeInside) continue;
    (p < coded / 4 ? expected_first : expected_second).push_back(order[p]);
  }

  const std::span<const std::uint8_t> file(s.data(), cp.end_offset);
  auto decode = [&](std::size_t at) {
    std::vector<int> got;
    AdaptiveModel model;
    model.start(symbols);
    ArithmeticDecoder decoder(file, at);
    decoder.start();
    for (;;) {
      const int symbol = decoder.decode(model);
      if (symbol == model.end_symbol() || got.size() > order.size()) break;
      got.push_back(values[model.character_of(symbol)]);
      model.update(symbol);
    }
    return got;
  };
  EXPECT_EQ(decode(data_start + 1 + symbols), expected_first) << "channel " << c;
  EXPECT_EQ(decode(cp.restart_offset), expected_second) << "channel " << c;
}

TEST(EncoderTest, SegmentsDecodeBackToTheCodedSequence) {
  const TestPicture p = MakePicture(100, 70, 24, 5);
  CodecParams settings = default_codec_params();
  settings.quality_factor = 60;
  ASSERT_EQ(derive_params_from_quality(settings), StatusCode::kOk);
  EncodedPicture out;
  ASSERT_EQ(encode_picture(p.view, settings, {}, out), StatusCode::kOk);
  std::uint32_t start = static_cast<std::uint32_t>(8 + utils::load_u16(out.stream.data() + 14));
  for (int c = 0; c < 3; ++c) {
    ExpectChannelDecodesToPlane(out, c, start);
    start = out.params.channels[c].end_offset;
  }
}

TEST(EncoderTest, OutputDoesNotDependOnThreadsOrEarlierRuns) {
  const TestPicture p = MakePicture(150, 97, 24, 9);
  const CodecParams settings = default_codec_params();
  EncodedPicture reference;
  ASSERT_EQ(encode_picture(p.view, settings, {}, reference), StatusCode::kOk);
  for (const int threads : {2, 3, 8}) {
    EncodeRequest options;
    options.threads = threads;
    EncodedPicture out;
    ASSERT_EQ(encode_picture(p.view, settings, options, out), StatusCode::kOk);
    EXPECT_EQ(out.stream, reference.stream) << threads << " threads";
    EXPECT_EQ(out.params.channels[2].restart_offset,
              reference.params.channels[2].restart_offset);
    EXPECT_EQ(out.planes[1].samples(), reference.planes[1].samples());
  }
  // Reusing an output record from a different picture changes nothing.
  EncodedPicture reused;
  const TestPicture grey = MakePicture(50, 50, 8);
  ASSERT_EQ(encode_picture(grey.view, settings, {}, reused), StatusCode::kOk);
  ASSERT_EQ(encode_picture(p.view, settings, {}, reused), StatusCode::kOk);
  EXPECT_EQ(reused.stream, reference.stream);
}

TEST(EncoderTest, ProgressReportsEveryPlaneStageAndCanCancel) {
  const TestPicture p = MakePicture(40, 40, 24);
  for (const int threads : {1, 2}) {
    std::vector<std::pair<int, int>> calls;
    EncodeRequest options;
    options.threads = threads;
    const std::thread::id caller = std::this_thread::get_id();
    options.progress = [&](int done, int total) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      calls.emplace_back(done, total);
      return true;
    };
    EncodedPicture out;
    ASSERT_EQ(encode_picture(p.view, default_codec_params(), options, out), StatusCode::kOk);
    // Every stage once, in order, on this thread, however the work overlaps.
    ASSERT_EQ(calls.size(), 6u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i], std::make_pair(static_cast<int>(i) + 1, 6));
    }

    // Refusing at any stage cancels there, and no later stage is reported.
    for (int stop = 1; stop <= 6; ++stop) {
      int last = 0;
      options.progress = [&](int done, int) {
        last = done;
        return done < stop;
      };
      EXPECT_EQ(encode_picture(p.view, default_codec_params(), options, out), StatusCode::kCancelled) << stop;
      EXPECT_EQ(last, stop) << threads << " threads";
    }
  }
}

TEST(EncoderTest, ChannelWithAllZeroPlaneListsZeroAndBothMarkers) {
  // A flat mid-grey picture: every coefficient is 0, so with several levels the
  // symbol list holds 0, -127 and -126 (the markers are counted though -126
  // is never coded).
  TestPicture p = MakePicture(64, 64, 8);
  std::fill(p.bytes.begin(), p.bytes.end(), std::uint8_t{128});
  EncodedPicture out;
  ASSERT_EQ(encode_picture(p.view, default_codec_params(), {}, out), StatusCode::kOk);
  const auto& s = out.stream;
  ASSERT_EQ(s[346], 3);
  std::vector<int> listed = {s[347] - 128, s[348] - 128, s[349] - 128};
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<int>{-127, -126, 0}));
  EXPECT_LT(s.size(), 420u);  // a few code bytes per segment
}

}  // namespace
}  // namespace varnic::codec
