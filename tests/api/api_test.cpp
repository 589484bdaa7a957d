// SPDX-License-Identifier: BSD-2-Clause
// The public library through its installed header only.
#include "varnic/varnic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <tuple>
#include <thread>

namespace varnic {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kData = VARNIC_TEST_DATA;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Picture load_picture(const std::string& path) {
  Result<PictureFile> loaded = read_picture(read_file(path), path, {});
  EXPECT_TRUE(loaded.ok()) << path << ": " << loaded.message();
  if (!loaded.ok()) return {};
  const Picture& p = loaded.value().picture;
  return convert_picture(p.view(), p.format == PixelFormat::kGrey8 ? PixelFormat::kGrey8 : PixelFormat::kRgb24).value();
}

Picture astronaut() { return load_picture(kData + "/conformance/pics/astronaut_256x192.bmp"); }

Bytes encode_ok(const PictureView& view, const EncodeOptions& options = {}) {
  Result<Encoded> r = encode(view, options);
  EXPECT_TRUE(r.ok()) << r.message();
  return r.ok() ? r.value().bytes : Bytes{};
}

TEST(ApiEncodeTest, ReproducesConformanceFilesFromEveryInputLayout) {
  const Picture rgb = astronaut();
  const Bytes expected = read_file(kData + "/conformance/cod/astronaut_q50.cod");
  EXPECT_EQ(encode_ok(rgb.view()), expected);
  // The same picture top-down or bottom-up, red or blue first, with junk after each row; rows of
  // exactly 4-byte multiples bottom-up in blue-green-red take the encoder's in-place path.
  const std::size_t exact = (rgb.stride() + 3) / 4 * 4;
  for (const std::size_t stride : {exact, exact + 4}) {
    for (const bool bottom_up : {false, true}) {
      Bytes rows(stride * rgb.height, 0xEE);
      for (std::uint32_t y = 0; y < rgb.height; ++y) {
        const std::uint8_t* src = rgb.pixels.data() + y * rgb.stride();
        std::uint8_t* dst = rows.data() + (bottom_up ? rgb.height - 1 - y : y) * stride;
        for (std::uint32_t x = 0; x < 3 * rgb.width; ++x) dst[x] = bottom_up ? src[x - x % 3 + 2 - x % 3] : src[x];
      }
      const PixelFormat format = bottom_up ? PixelFormat::kBgr24 : PixelFormat::kRgb24;
      EXPECT_EQ(encode_ok(PictureView{rows.data(), rgb.width, rgb.height, stride, format, bottom_up}), expected)
          << stride << " " << bottom_up;
    }
  }
  const Picture grey = load_picture(kData + "/conformance/pics/camera_256x256_g.bmp");
  ASSERT_EQ(grey.format, PixelFormat::kGrey8);
  EncodeOptions q90;
  q90.quality = 90;
  EXPECT_EQ(encode_ok(grey.view(), q90), read_file(kData + "/conformance/cod/camera_q90.cod"));
}

TEST(ApiEncodeTest, FullSettingsEqualToTheDerivedOnesGiveTheSameBytes) {
  const Picture rgb = astronaut();
  // Quality 50, "Other", 5 levels: Y uses vector row 4, I and Q row 3, thresholds of q = 50,
  // chrominance drops 2 levels.
  EncodeOptions full;
  full.levels = 5;
  full.quant_y = std::vector<int>{6, 6, 0, 12, 12, 6, 24, 24, 24, 30, 30, 30, 40, 40, 40, 50};
  full.quant_i = std::vector<int>{4, 4, 0, 8, 8, 0, 12, 12, 12, 24, 24, 24, 30, 30, 30, 40};
  full.quant_q = full.quant_i;
  full.thresholds = std::vector<int>{33, 23, 10, 10, 5, 5};
  full.dropped = std::array<int, 3>{0, 2, 2};
  EXPECT_EQ(encode_ok(rgb.view(), full), encode_ok(rgb.view()));

  // One changed entry must change the file: the settings are really used.
  full.quant_y->at(15) = 49;
  EXPECT_NE(encode_ok(rgb.view(), full), encode_ok(rgb.view()));

  // Few levels at low quality derive 4 dropped chrominance levels; that is not an error.
  EncodeOptions low;
  low.quality = 5;
  low.levels = 2;
  Result<Encoded> r = encode(rgb.view(), low);
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().levels, 2);
  EXPECT_EQ(r.value().dropped, (std::array<int, 3>{1, 1, 1}));
}

TEST(ApiEncodeTest, OneCheckNamesTheSettingTheEntryAndTheBoundAndEncodeRefusesInItsWords) {
  const Picture rgb = astronaut();
  const Bytes cod = read_file(kData + "/conformance/cod/astronaut_q50.cod");
  using O = EncodeOption;
  using K = OptionProblem::Kind;
  struct Row {
    std::function<void(EncodeOptions&)> change;
    OptionProblem want;
  };
  const Row rows[] = {
      {[](EncodeOptions& o) { o.quality = 100; }, {O::kQuality, K::kAboveMaximum, -1, 99, 100}},
      {[](EncodeOptions& o) { o.quality = -1; }, {O::kQuality, K::kBelowMinimum, -1, 0, -1}},
      {[](EncodeOptions& o) { o.type = static_cast<ImageType>(3); }, {O::kType, K::kAboveMaximum, -1, 2, 3}},
      {[](EncodeOptions& o) { o.levels = 7; }, {O::kLevels, K::kAboveMaximum, -1, 6, 7}},
      {[](EncodeOptions& o) { o.quant_y = std::vector<int>(15, 10); }, {O::kQuantY, K::kWrongCount, -1, 16, 15}},
      {[](EncodeOptions& o) { o.levels = 2, o.quant_i = std::vector<int>(7, 10), o.quant_i->at(4) = 126; },
       {O::kQuantI, K::kAboveMaximum, 4, 125, 126}},
      {[](EncodeOptions& o) { o.quant_q = std::vector<int>(16, 10), o.quant_q->at(15) = -1; },
       {O::kQuantQ, K::kBelowMinimum, 15, 0, -1}},
      {[](EncodeOptions& o) { o.thresholds = std::vector<int>(5, 1); }, {O::kThresholds, K::kWrongCount, -1, 6, 5}},
      {[](EncodeOptions& o) { o.thresholds = std::vector<int>(6, 65536); }, {O::kThresholds, K::kAboveMaximum, 0, 65535, 65536}},
      {[](EncodeOptions& o) { o.dropped = std::array<int, 3>{0, 5, 0}; }, {O::kDropped, K::kAboveMaximum, 1, 4, 5}},
      {[](EncodeOptions& o) { o.dropped = std::array<int, 3>{0, 0, -2}; }, {O::kDropped, K::kBelowMinimum, 2, 0, -2}},
      {[](EncodeOptions& o) { o.comment = std::string(2048, 'c'); }, {O::kComment, K::kAboveMaximum, -1, 2047, 2048}},
      {[](EncodeOptions& o) { o.optimize = 4; }, {O::kOptimize, K::kAboveMaximum, -1, 3, 4}},
      {[](EncodeOptions& o) { o.optimize = 1, o.thresholds = std::vector<int>(6, 1); },
       {O::kThresholds, K::kOptimizerChooses, -1, 0, 0}},
      {[](EncodeOptions& o) { o.threads = 0; }, {O::kThreads, K::kBelowMinimum, -1, 1, 0}},
      {[](EncodeOptions& o) { o.threads = kMaxThreads + 1; }, {O::kThreads, K::kAboveMaximum, -1, kMaxThreads, kMaxThreads + 1}},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EncodeOptions o;
    rows[i].change(o);
    const OptionProblem p = check_encode_options(o);
    EXPECT_EQ(std::tuple(p.option, p.kind, p.entry, p.bound, p.value),
              std::tuple(rows[i].want.option, rows[i].want.kind, rows[i].want.entry, rows[i].want.bound, rows[i].want.value))
        << "row " << i;
    Result<Encoded> refused = encode(rgb.view(), o);
    EXPECT_EQ(refused.status(), Status::kInvalidArgument) << i;
    // The library's words name the setting as the header does: no tool's option, no dialog's label.
    EXPECT_EQ(refused.message(), describe(p)) << i;
    EXPECT_TRUE(refused.message().find("--") == std::string::npos && refused.message().find("!!!") == std::string::npos)
        << refused.message();
  }
  EXPECT_FALSE(check_encode_options({}));
  EXPECT_EQ(describe(rows[5].want), "I quantization vector, entry 5: 126 is above the maximum 125");

  for (int threads : {0, -1, kMaxThreads + 1}) {
    DecodeOptions d;
    d.threads = threads;
    EXPECT_EQ(decode(cod, d).status(), Status::kInvalidArgument) << threads;
  }
  // A pixel format cast from another number is refused wherever a format is taken.
  PictureView unknown = rgb.view();
  unknown.format = static_cast<PixelFormat>(7);
  EXPECT_EQ(encode(unknown, {}).status(), Status::kInvalidArgument);
  EXPECT_EQ(convert_picture(rgb.view(), static_cast<PixelFormat>(7)).status(), Status::kInvalidArgument);
  DecodeOptions seven;
  seven.colour_format = static_cast<PixelFormat>(7);
  EXPECT_EQ(decode(cod, seven).status(), Status::kInvalidArgument);
  EncodeOptions limited;
  limited.limits.max_pixels = 256 * 192 - 1;
  Result<Encoded> too_large = encode(rgb.view(), limited);
  EXPECT_EQ(too_large.status(), Status::kLimitExceeded);
  EXPECT_NE(too_large.message().find("256x192 = 49152 pixels"), std::string::npos) << too_large.message();

  for (const char* name : {"astronaut_2x2.bmp", "camera_1x64_g.bmp"})
    EXPECT_EQ(encode(load_picture(kData + "/conformance/pics/" + name).view(), {}).status(), Status::kPictureTooSmall);
  EXPECT_EQ(encode(PictureView{}, {}).status(), Status::kInvalidArgument);
  PictureView short_stride = rgb.view();
  short_stride.stride = rgb.stride() - 1;
  EXPECT_EQ(encode(short_stride, {}).status(), Status::kInvalidArgument);
}

TEST(ApiEncodeTest, ProgressIsReportedPerPlaneAndCanCancel) {
  const Picture rgb = astronaut();
  EncodeOptions o;
  std::vector<int> done;
  o.progress = [&](const Progress& p) {
    EXPECT_EQ(p.stage, Progress::Stage::kEncodePlane);
    done.push_back(p.done);
    return true;
  };
  ASSERT_TRUE(encode(rgb.view(), o).ok());
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back(), 6);  // transform and coding of three planes
  for (std::size_t k = 1; k < done.size(); ++k) EXPECT_GT(done[k], done[k - 1]);

  o.progress = [](const Progress&) { return false; };
  EXPECT_EQ(encode(rgb.view(), o).status(), Status::kCancelled);
  o.progress = [](const Progress&) -> bool { throw std::runtime_error("callback failed"); };
  EXPECT_EQ(encode(rgb.view(), o).status(), Status::kInternalError);
}

TEST(ApiEncodeTest, ThreadsNeverChangeTheBytesAndCallsAreReentrant) {
  const Picture rgb = astronaut();
  const Picture grey = load_picture(kData + "/conformance/pics/camera_256x256_g.bmp");
  EncodeOptions threaded;
  threaded.threads = 3;
  const Bytes colour_bytes = encode_ok(rgb.view());
  const Bytes grey_bytes = encode_ok(grey.view());
  EXPECT_EQ(encode_ok(rgb.view(), threaded), colour_bytes);

  // Several threads coding different pictures at once get what one thread gets.
  std::vector<Bytes> results(6);
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < results.size(); ++t)
    pool.emplace_back([&, t] { results[t] = encode(t % 2 ? grey.view() : rgb.view(), {}).value().bytes; });
  for (std::thread& t : pool) t.join();
  for (std::size_t t = 0; t < results.size(); ++t) EXPECT_EQ(results[t], t % 2 ? grey_bytes : colour_bytes) << t;
}

Picture decode_ok(const Bytes& file, const DecodeOptions& options = {}) {
  Result<Decoded> r = decode(file, options);
  EXPECT_TRUE(r.ok()) << r.message();
  return r.ok() ? r.value().picture : Picture{};
}

TEST(ApiDecodeTest, MatchesTheConformancePicturesOfEveryVersion) {
  for (const char* name : {"astronaut_q0", "astronaut_q50", "astronaut_q99", "astronaut_L3_drop", "astronaut_comment",
                           "astronaut_comment_v24", "astronaut_comment_v23", "astronaut_comment_noZ", "camera_q10",
                           "camera_q90", "odd_37x21_q50", "tiny_9x5_g_q30"}) {
    SCOPED_TRACE(name);
    const Picture expected = load_picture(kData + "/conformance/decoded/" + name + ".bmp");
    const Picture got = decode_ok(read_file(kData + "/conformance/cod/" + name + ".cod"));
    EXPECT_TRUE(got.width == expected.width && got.format == expected.format && got.pixels == expected.pixels);
  }
}

TEST(ApiDecodeTest, BgrOutputIsTheRgbOutputWithRedAndBlueExchanged) {
  const Bytes file = read_file(kData + "/conformance/cod/small_64x48_q50.cod");
  DecodeOptions bgr;
  bgr.colour_format = PixelFormat::kBgr24;
  const Picture a = decode_ok(file);
  const Picture b = decode_ok(file, bgr);
  ASSERT_EQ(b.format, PixelFormat::kBgr24);
  EXPECT_TRUE(convert_picture(b.view(), PixelFormat::kRgb24).value().pixels == a.pixels);
  bgr.colour_format = PixelFormat::kGrey8;
  EXPECT_EQ(decode(file, bgr).status(), Status::kInvalidArgument);
}

TEST(ApiDecodeTest, ReduceGivesTheRoundedUpShareOfThePicture) {
  const Bytes odd = read_file(kData + "/conformance/cod/odd_37x21_q50.cod");  // 4 levels
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{37, 21}, {19, 11}, {10, 6}, {5, 3}};
  for (int k = -1; k <= 4; ++k) {
    DecodeOptions o;
    o.reduce = k;
    if (k < 0 || k == 4) {
      Result<Decoded> refused = decode(odd, o);
      EXPECT_EQ(refused.status(), Status::kInvalidArgument) << k;
      EXPECT_NE(refused.message().find(k < 0 ? "at least 0" : "below the file's 4 levels"), std::string::npos)
          << refused.message();
      continue;
    }
    const Picture p = decode_ok(odd, o);
    EXPECT_EQ(std::pair(p.width, p.height), sizes[k]) << k;
    EXPECT_EQ(p.pixels.size(), p.stride() * p.height);
  }
}

// Each synthesis level doubles the low band's mean, and the preview scaling divides it out
// again, so a reduced picture keeps the picture's levels and its orientation.
TEST(ApiDecodeTest, ReducedPicturesKeepLevelsColoursAndOrientation) {
  Picture split;
  split.width = 64;
  split.height = 64;
  split.format = PixelFormat::kRgb24;
  for (std::uint32_t y = 0; y < 64; ++y)
    for (std::uint32_t x = 0; x < 64; ++x) {
      const bool top = y < 32;
      split.pixels.push_back(top ? 200 : 30);
      split.pixels.push_back(top ? 100 : 60);
      split.pixels.push_back(top ? 50 : 220);
    }
  EncodeOptions best;
  best.quality = 99;
  const Bytes file = encode_ok(split.view(), best);
  for (int k : {1, 2}) {
    DecodeOptions o;
    o.reduce = k;
    const Picture p = decode_ok(file, o);
    ASSERT_EQ(p.width, 64u >> k);
    const std::uint8_t* top_pixel = &p.pixels[(1 * p.width + 3) * 3];
    const std::uint8_t* bottom_pixel = &p.pixels[((p.height - 2) * p.width + 3) * 3];
    const int expected[6] = {200, 100, 50, 30, 60, 220};
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(top_pixel[c], expected[c], 4) << k;
      EXPECT_NEAR(bottom_pixel[c], expected[3 + c], 4) << k;
    }
  }
}

TEST(ApiDecodeTest, ThreadsProgressAndCancellation) {
  const Bytes file = read_file(kData + "/conformance/cod/astronaut_q90.cod");
  // Whole and reduced, on threads, with a callback and without.
  for (const int reduce : {0, 2}) {
    DecodeOptions single;
    single.reduce = reduce;
    const Picture expected = decode_ok(file, single);
    DecodeOptions threaded = single;
    threaded.threads = 3;
    EXPECT_TRUE(decode_ok(file, threaded).pixels == expected.pixels) << reduce;
    threaded.progress = [](const Progress&) { return true; };
    EXPECT_TRUE(decode_ok(file, threaded).pixels == expected.pixels) << reduce;
  }

  DecodeOptions o;
  std::vector<int> rows_reported;
  o.progress = [&](const Progress& p) {
    if (p.stage == Progress::Stage::kSynthesisLevel) {
      EXPECT_EQ(p.total, 192);
      rows_reported.push_back(p.done);
    }
    return true;
  };
  ASSERT_TRUE(decode(file, o).ok());
  // A few dozen reports of the rows finished, rising to all of them.
  EXPECT_TRUE(std::is_sorted(rows_reported.begin(), rows_reported.end()));
  EXPECT_GE(rows_reported.size(), 16u);
  EXPECT_LE(rows_reported.size(), 200u);
  EXPECT_EQ(rows_reported.back(), 192);
  o.progress = [](const Progress& p) { return p.stage != Progress::Stage::kSynthesisLevel || p.done < 100; };
  EXPECT_EQ(decode(file, o).status(), Status::kCancelled);
}

TEST(ApiProbeTest, ReportsHeaderFactsOfEveryVersion) {
  // Values read by hand from the files' headers.
  const Info i = probe(read_file(kData + "/conformance/cod/astronaut_comment.cod")).value();
  EXPECT_EQ((std::vector<std::uint64_t>{std::uint64_t(i.version_major), std::uint64_t(i.version_minor), i.coded, i.width,
                                        i.height, i.grey, std::uint64_t(i.levels), i.file_bytes, i.header_bytes,
                                        i.bitmap_bytes}),
            (std::vector<std::uint64_t>{2, 5, 1, 256, 192, 0, 5, 4336, 8 + 338 + 11, 54 + 256 * 192 * 3}));
  EXPECT_EQ(i.dropped, (std::array<int, 3>{0, 2, 2}));
  EXPECT_EQ(i.comment, "conformance");
  EXPECT_EQ(i.plane_bytes, (std::array<std::uint64_t, 3>{3114 - 357, 3826 - 3114, 4336 - 3826}));
  EXPECT_DOUBLE_EQ(i.ratio, 147510.0 / 4336.0);

  const Info v23 = probe(read_file(kData + "/conformance/cod/astronaut_comment_v23.cod")).value();
  EXPECT_EQ((std::vector<std::uint64_t>{std::uint64_t(v23.version_minor), v23.comment.size(), v23.header_bytes,
                                        v23.plane_bytes[0]}),
            (std::vector<std::uint64_t>{3, 0, 332, 3089 - 332}));
  EXPECT_FALSE(probe(read_file(kData + "/conformance/cod/astronaut_comment_noZ.cod")).value().coded);
  const Info grey = probe(read_file(kData + "/conformance/cod/camera_q50.cod")).value();
  EXPECT_TRUE(grey.grey);
  EXPECT_EQ(grey.header_bytes + grey.plane_bytes[0], grey.file_bytes);
  EXPECT_EQ(grey.bitmap_bytes, 54u + 1024u + 256u * 256u);
}

TEST(ApiProbeTest, RefusesDamagedFilesWithTheRightClass) {
  const Bytes file = read_file(kData + "/conformance/cod/astronaut_q50.cod");
  auto changed = [&](std::size_t at, std::uint8_t value) {
    Bytes b = file;
    b[at] = value;
    return b;
  };
  EXPECT_EQ(probe(Bytes{'B', 'M', 0, 0}).status(), Status::kNotCompressedFile);
  EXPECT_EQ(probe(Bytes{}).status(), Status::kNotCompressedFile);
  EXPECT_EQ(probe(changed(5, '2')).status(), Status::kVersionTooLow);
  EXPECT_EQ(probe(changed(5, '6')).status(), Status::kVersionTooHigh);
  EXPECT_EQ(probe(Bytes(file.begin(), file.begin() + 30)).status(), Status::kInvalidFile);
  EXPECT_EQ(probe(changed(36, 11)).status(), Status::kInvalidFile);  // TotalLevels
  Limits small;
  small.max_pixels = 256 * 192 - 1;
  // Every refusal over the pixel limit gives the picture's size, as the picture readers do.
  DecodeOptions limited;
  limited.limits = small;
  for (const Result<Info>& refused : {probe(file, small), decode_rows(file, limited, {})}) {
    EXPECT_EQ(refused.status(), Status::kLimitExceeded);
    EXPECT_NE(refused.message().find("256x192 = 49152 pixels, more than the limit of 49151"), std::string::npos)
        << refused.message();
  }
}

// The header a program compiles with, the library it runs with and the encoder's files agree.
TEST(ApiVersionTest, MacrosLibraryAndTextAgree) {
  EXPECT_EQ(version(), std::to_string(VARNIC_VERSION_MAJOR) + "." + std::to_string(VARNIC_VERSION_MINOR) + "." +
                           std::to_string(VARNIC_VERSION_PATCH));
  EXPECT_EQ(version(), VARNIC_VERSION_STRING);
  const Picture picture = astronaut();
  Result<Info> info = probe(encode_ok(picture.view()));
  ASSERT_TRUE(info.ok());
  const std::string written = std::to_string(info.value().version_major) + "." + std::to_string(info.value().version_minor);
  EXPECT_EQ(version_text(), "varnic " + std::string(version()) + " (.cod " + written + "; reads " +
                                VARNIC_FORMAT_OLDEST_STRING + "\u2013" + written + ")");
}

TEST(ApiStatusTest, EveryStatusHasItsOwnNameAndMessage) {
  std::set<std::string_view> names{"unknown"};
  std::set<std::string_view> messages;
  for (int s = 0; s <= static_cast<int>(Status::kFileError); ++s) {
    EXPECT_TRUE(names.insert(to_string(static_cast<Status>(s))).second) << s;
    EXPECT_TRUE(messages.insert(message(static_cast<Status>(s))).second) << s;
  }
  EXPECT_FALSE(Result<int>(Status::kOk, "").ok());  // a failed Result always says why
}

TEST(ApiFilesTest, EveryKindRoundTripsThroughFilesAndBitmapRowsStayInPlace) {
  const Picture rgb = astronaut();
  const std::filesystem::path dir = ::testing::TempDir() + "varnic_api_files";
  std::filesystem::create_directories(dir);
  for (const FileKind kind : {FileKind::kBmp, FileKind::kTga, FileKind::kPng, FileKind::kPnm}) {
    const std::string path = (dir / std::string("p").append(extension_of(kind))).string();
    ASSERT_TRUE(write_picture_file(path, rgb.view()).ok()) << path;
    Result<PictureFile> back = read_picture_file(path);
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(back.value().kind, kind);
    // Every reader keeps the file's rows: bottom-up, blue first, padded to 4 bytes.
    EXPECT_TRUE(back.value().picture.bottom_up);
    EXPECT_EQ(back.value().picture.stride(), (rgb.stride() + 3) / 4 * 4);
    EXPECT_TRUE(convert_picture(back.value().picture.view(), PixelFormat::kRgb24).value().pixels == rgb.pixels);
    EXPECT_EQ(write_picture_file(path, rgb.view(), kind, Overwrite::kRefuse).status(), Status::kFileError);
  }
  std::filesystem::remove_all(dir);
  // .cod through write_picture is encode's file; read back it is decode's picture.
  const Bytes cod = write_picture(rgb.view(), FileKind::kCod).value();
  EXPECT_EQ(cod, encode_ok(rgb.view()));
  Result<PictureFile> decoded = read_picture(cod);
  ASSERT_TRUE(decoded.ok());
  EXPECT_TRUE(convert_picture(decoded.value().picture.view(), PixelFormat::kRgb24).value().pixels ==
              decode_ok(cod, {}).pixels);
  EncodeOptions out_of_range;
  out_of_range.quality = 100;
  EXPECT_EQ(write_picture(rgb.view(), FileKind::kCod, out_of_range).status(), Status::kInvalidArgument);
}

TEST(ApiFilesTest, PaletteBitmapsAreExpandedWithANotice) {
  // 2 x 1, 8 bits, two table entries (blue, green, red, 0), one row of 2 bytes + 2 padding.
  Bytes bmp = {'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 8, 0};
  bmp.resize(46);
  bmp.insert(bmp.end(), {2, 0, 0, 0, 0, 0, 0, 0, 10, 20, 30, 0, 40, 50, 60, 0, 1, 0, 0, 0});
  Result<PictureFile> r = read_picture(bmp, "x.bmp");
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().picture.format, PixelFormat::kBgr24);
  EXPECT_EQ(convert_picture(r.value().picture.view(), PixelFormat::kRgb24).value().pixels, (Bytes{60, 50, 40, 30, 20, 10}));
  ASSERT_EQ(r.value().notices.size(), 1u);
  EXPECT_NE(r.value().notices[0].find("palette"), std::string::npos);
}

// The shared rules of rules.h, each against a case worked by hand.
TEST(ApiRulesTest, NumberListsTextPixelsAndRatio) {
  const std::pair<const char*, std::optional<std::vector<int>>> lists[] = {
      {"20 10\t5\n7", std::vector<int>{20, 10, 5, 7}},
      {" 20,10 ,5,\r\n 7 ", std::vector<int>{20, 10, 5, 7}},
      {"", std::vector<int>{}},
      {"99999999999", std::vector<int>{std::numeric_limits<int>::max()}},
      {"1,,2", std::nullopt}, {",1", std::nullopt}, {"1,", std::nullopt}, {"-5", std::nullopt},
      {"1;2", std::nullopt}, {"0x10", std::nullopt}, {"1O", std::nullopt}, {"+1", std::nullopt},
  };
  for (const auto& [text, want] : lists) EXPECT_EQ(parse_number_list(text), want) << text;

  EXPECT_EQ(utf8_sequence_length("\xE2\x82\xAC!"), 3u);
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "\xE9t\xE9"})
    EXPECT_FALSE(is_utf8(bad)) << bad;
  EXPECT_EQ(cut_utf8("ab\xE2\x82\xAC", 4), "ab");
  EXPECT_EQ(displayable_text("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(displayable_text("caf\xE9"), "caf\xC3\xA9");  // not UTF-8: read as Latin-1

  EXPECT_EQ(blend_over_white(0, 128), 127);
  EXPECT_EQ(blend_over_white(200, 255), 200);
  EXPECT_EQ(padded_row_bytes(5, 3), 16u);
  const Info info = probe(read_file(kData + "/conformance/cod/camera_q50.cod")).value();
  EXPECT_EQ(info.bitmap_bytes, bitmap_file_bytes(256, 256, true));
  EXPECT_DOUBLE_EQ(info.ratio, compression_ratio(256, 256, true, info.file_bytes));
}

}  // namespace
}  // namespace varnic
