// The public library through its installed header only.
#include "varnic/varnic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
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

  // The same picture bottom-up in blue-green-red with padded rows (read in place), and top-down
  // with a wide stride.
  const std::size_t padded = (rgb.stride() + 3) / 4 * 4 + 4;
  Bytes bottom_up(padded * rgb.height, 0xEE);
  Bytes strided(padded * rgb.height, 0x11);
  for (std::uint32_t y = 0; y < rgb.height; ++y) {
    const std::uint8_t* src = rgb.pixels.data() + y * rgb.stride();
    std::uint8_t* bgr = bottom_up.data() + (rgb.height - 1 - y) * padded;
    for (std::uint32_t x = 0; x < rgb.width; ++x) {
      bgr[3 * x] = src[3 * x + 2];
      bgr[3 * x + 1] = src[3 * x + 1];
      bgr[3 * x + 2] = src[3 * x];
    }
    std::copy(src, src + rgb.stride(), strided.data() + y * padded);
  }
  EXPECT_EQ(encode_ok(PictureView{bottom_up.data(), rgb.width, rgb.height, padded, PixelFormat::kBgr24, true}),
            expected);
  EXPECT_EQ(encode_ok(PictureView{strided.data(), rgb.width, rgb.height, padded, PixelFormat::kRgb24, false}),
            expected);
  const std::size_t exact = (rgb.stride() + 3) / 4 * 4;  // the in-place path of the encoder
  Bytes dib(exact * rgb.height);
  for (std::uint32_t r = 0; r < rgb.height; ++r)
    std::copy(bottom_up.begin() + static_cast<std::ptrdiff_t>(r * padded),
              bottom_up.begin() + static_cast<std::ptrdiff_t>(r * padded + exact), dib.begin() + static_cast<std::ptrdiff_t>(r * exact));
  EXPECT_EQ(encode_ok(PictureView{dib.data(), rgb.width, rgb.height, exact, PixelFormat::kBgr24, true}), expected);

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

  // Partial settings keep the derived rest (the conformance case "-q 70 --levels 3 --dropped 1,2,2").
  EncodeOptions partial;
  partial.quality = 70;
  partial.levels = 3;
  partial.dropped = std::array<int, 3>{1, 2, 2};
  EXPECT_EQ(encode_ok(rgb.view(), partial), read_file(kData + "/conformance/cod/astronaut_L3_drop.cod"));

  // Few levels at low quality derive 4 dropped chrominance levels; that is not an error.
  EncodeOptions low;
  low.quality = 5;
  low.levels = 2;
  Result<Encoded> r = encode(rgb.view(), low);
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().levels, 2);
  EXPECT_EQ(r.value().dropped, (std::array<int, 3>{1, 1, 1}));
}

TEST(ApiEncodeTest, RefusesBadSettingsAndPicturesWithTheirReasons) {
  const Picture rgb = astronaut();
  auto refused = [&](const EncodeOptions& options, Status status, const std::string& text) {
    Result<Encoded> r = encode(rgb.view(), options);
    EXPECT_EQ(r.status(), status) << text;
    EXPECT_NE(r.message().find(text), std::string::npos) << r.message();
  };
  EncodeOptions o;
  for (int threads : {0, -1, kMaxThreads + 1}) {
    o.threads = threads;
    refused(o, Status::kInvalidArgument, "threads");
    DecodeOptions d;
    d.threads = threads;
    EXPECT_EQ(decode(read_file(kData + "/conformance/cod/astronaut_q50.cod"), d).status(), Status::kInvalidArgument);
  }
  o = {};
  o.quality = 100;
  refused(o, Status::kInvalidArgument, "Quality factor is out of range!");
  o = {};
  o.levels = 7;
  refused(o, Status::kInvalidArgument, "Total Levels");
  o = {};
  o.quant_y = std::vector<int>(15, 10);  // 3L+1 = 16 needed
  refused(o, Status::kInvalidArgument, "Quantization Vector A");
  o = {};
  o.quant_q = std::vector<int>(16, 126);
  refused(o, Status::kInvalidArgument, "Quantization Vector C");
  o = {};
  o.thresholds = std::vector<int>(5, 1);
  refused(o, Status::kInvalidArgument, "Threshold Vector");
  o = {};
  o.dropped = std::array<int, 3>{0, 5, 0};
  refused(o, Status::kInvalidArgument, "B_levels");
  o = {};
  o.comment = std::string(2048, 'c');
  refused(o, Status::kInvalidArgument, "2047");
  o = {};
  o.limits.max_pixels = 256 * 192 - 1;
  refused(o, Status::kLimitExceeded, "limit");

  const Picture tiny = load_picture(kData + "/conformance/pics/astronaut_2x2.bmp");
  EXPECT_EQ(encode(tiny.view(), {}).status(), Status::kPictureTooSmall);
  const Picture thin = load_picture(kData + "/conformance/pics/camera_1x64_g.bmp");
  EXPECT_EQ(encode(thin.view(), {}).status(), Status::kPictureTooSmall);
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
    EXPECT_EQ(got.width, expected.width);
    EXPECT_EQ(got.height, expected.height);
    EXPECT_EQ(got.format, expected.format);
    EXPECT_TRUE(got.pixels == expected.pixels);
  }
}

TEST(ApiDecodeTest, BgrOutputIsTheRgbOutputWithRedAndBlueExchanged) {
  const Bytes file = read_file(kData + "/conformance/cod/small_64x48_q50.cod");
  DecodeOptions bgr;
  bgr.colour_format = PixelFormat::kBgr24;
  const Picture a = decode_ok(file);
  const Picture b = decode_ok(file, bgr);
  ASSERT_EQ(a.pixels.size(), b.pixels.size());
  ASSERT_EQ(b.format, PixelFormat::kBgr24);
  for (std::size_t i = 0; i < a.pixels.size(); i += 3) {
    EXPECT_EQ(a.pixels[i], b.pixels[i + 2]);
    EXPECT_EQ(a.pixels[i + 1], b.pixels[i + 1]);
  }
  bgr.colour_format = PixelFormat::kGrey8;
  EXPECT_EQ(decode(file, bgr).status(), Status::kInvalidArgument);
}

TEST(ApiDecodeTest, ReduceGivesTheRoundedUpShareOfThePicture) {
  const Bytes odd = read_file(kData + "/conformance/cod/odd_37x21_q50.cod");  // 4 levels
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{37, 21}, {19, 11}, {10, 6}, {5, 3}};
  for (int k = 0; k < 4; ++k) {
    DecodeOptions o;
    o.reduce = k;
    const Picture p = decode_ok(odd, o);
    EXPECT_EQ(p.width, sizes[k].first) << k;
    EXPECT_EQ(p.height, sizes[k].second) << k;
    EXPECT_EQ(p.pixels.size(), p.stride() * p.height);
  }
  DecodeOptions too_far;
  too_far.reduce = 4;
  EXPECT_EQ(decode(odd, too_far).status(), Status::kInvalidArgument);
  too_far.reduce = -1;
  EXPECT_EQ(decode(odd, too_far).status(), Status::kInvalidArgument);
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
    SCOPED_TRACE(k);
    EXPECT_NEAR(top_pixel[0], 200, 4);
    EXPECT_NEAR(top_pixel[1], 100, 4);
    EXPECT_NEAR(top_pixel[2], 50, 4);
    EXPECT_NEAR(bottom_pixel[0], 30, 4);
    EXPECT_NEAR(bottom_pixel[1], 60, 4);
    EXPECT_NEAR(bottom_pixel[2], 220, 4);
  }
}

TEST(ApiDecodeTest, ThreadsProgressAndCancellation) {
  const Bytes file = read_file(kData + "/conformance/cod/astronaut_q90.cod");
  // Whole and reduced, with a callback (planes in phases) and without (each
  // plane decoded and synthesised by one task).
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
  int levels_reported = 0;
  o.progress = [&](const Progress& p) {
    if (p.stage == Progress::Stage::kSynthesisLevel) {
      EXPECT_EQ(p.done, levels_reported + 1);
      EXPECT_EQ(p.total, 5);
      ++levels_reported;
    }
    return true;
  };
  ASSERT_TRUE(decode(file, o).ok());
  EXPECT_EQ(levels_reported, 5);
  o.progress = [](const Progress& p) { return p.stage != Progress::Stage::kSynthesisLevel || p.done < 3; };
  EXPECT_EQ(decode(file, o).status(), Status::kCancelled);
}

TEST(ApiDecodeTest, EveryPrefixOfAFileFailsCleanlyOrDecodes) {
  const Bytes file = read_file(kData + "/conformance/cod/tiny_9x5_g_q30.cod");
  for (std::size_t n = 0; n < file.size(); ++n) {
    Result<Decoded> r = decode(std::span(file.data(), n));
    if (!r.ok()) {
      EXPECT_FALSE(r.message().empty()) << n;
    } else {
      EXPECT_EQ(r.value().picture.pixels.size(), 9u * 5u) << n;
    }
  }
  DecodeOptions small;
  small.limits.max_pixels = 44;
  EXPECT_EQ(decode(file, small).status(), Status::kLimitExceeded);
  EXPECT_EQ(decode(Bytes{'Q', 'V', 'T', '1', '.', '5', 'a', 'Z'}).status(), Status::kVersionTooLow);
}

TEST(ApiProbeTest, ReportsHeaderFactsOfEveryVersion) {
  // Values read by hand from the files' headers.
  Result<Info> v25 = probe(read_file(kData + "/conformance/cod/astronaut_comment.cod"));
  ASSERT_TRUE(v25.ok()) << v25.message();
  const Info& i = v25.value();
  EXPECT_EQ(i.version_major, 2);
  EXPECT_EQ(i.version_minor, 5);
  EXPECT_TRUE(i.coded);
  EXPECT_EQ(i.width, 256u);
  EXPECT_EQ(i.height, 192u);
  EXPECT_FALSE(i.grey);
  EXPECT_EQ(i.levels, 5);
  EXPECT_EQ(i.dropped, (std::array<int, 3>{0, 2, 2}));
  EXPECT_EQ(i.comment, "conformance");
  EXPECT_EQ(i.file_bytes, 4336u);
  EXPECT_EQ(i.header_bytes, 8u + 338u + 11u);
  EXPECT_EQ(i.plane_bytes, (std::array<std::uint64_t, 3>{3114 - 357, 3826 - 3114, 4336 - 3826}));
  EXPECT_EQ(i.bitmap_bytes, 54u + 256u * 192u * 3u);
  EXPECT_DOUBLE_EQ(i.ratio, 147510.0 / 4336.0);

  Result<Info> v23 = probe(read_file(kData + "/conformance/cod/astronaut_comment_v23.cod"));
  ASSERT_TRUE(v23.ok()) << v23.message();
  EXPECT_EQ(v23.value().version_minor, 3);
  EXPECT_TRUE(v23.value().comment.empty());
  EXPECT_EQ(v23.value().header_bytes, 332u);
  EXPECT_EQ(v23.value().plane_bytes[0], 3089u - 332u);

  EXPECT_FALSE(probe(read_file(kData + "/conformance/cod/astronaut_comment_noZ.cod")).value().coded);
  Result<Info> grey = probe(read_file(kData + "/conformance/cod/camera_q50.cod"));
  ASSERT_TRUE(grey.ok());
  EXPECT_TRUE(grey.value().grey);
  EXPECT_EQ(grey.value().header_bytes + grey.value().plane_bytes[0], grey.value().file_bytes);
  EXPECT_EQ(grey.value().bitmap_bytes, 54u + 1024u + 256u * 256u);
}

TEST(ApiProbeTest, RefusesDamagedFilesWithTheRightClass) {
  Bytes file = read_file(kData + "/conformance/cod/astronaut_q50.cod");
  auto status_of = [](Bytes bytes) { return probe(bytes).status(); };
  EXPECT_EQ(status_of(Bytes{'B', 'M', 0, 0}), Status::kNotCompressedFile);
  EXPECT_EQ(status_of(Bytes{}), Status::kNotCompressedFile);
  Bytes low = file;
  low[5] = '2';
  EXPECT_EQ(status_of(low), Status::kVersionTooLow);
  Bytes high = file;
  high[5] = '6';
  EXPECT_EQ(status_of(high), Status::kVersionTooHigh);
  EXPECT_EQ(status_of(Bytes(file.begin(), file.begin() + 30)), Status::kInvalidFile);
  Bytes levels = file;
  levels[36] = 11;  // TotalLevels
  EXPECT_EQ(status_of(levels), Status::kInvalidFile);
  Limits small;
  small.max_pixels = 256 * 192 - 1;
  EXPECT_EQ(probe(file, small).status(), Status::kLimitExceeded);
}

TEST(ApiStatusTest, EveryStatusHasItsOwnNameAndMessage) {
  std::set<std::string_view> names;
  std::set<std::string_view> messages;
  const int count = static_cast<int>(Status::kFileError) + 1;
  for (int s = 0; s < count; ++s) {
    names.insert(to_string(static_cast<Status>(s)));
    messages.insert(message(static_cast<Status>(s)));
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(messages.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(names.count("unknown"), 0u);
  EXPECT_FALSE(version().empty());
  // A failed Result always says why, even if built with kOk by mistake.
  Result<int> odd(Status::kOk, "");
  EXPECT_FALSE(odd.ok());
}

TEST(ApiFilesTest, EveryKindRoundTripsThroughFilesAndBitmapRowsStayInPlace) {
  const Picture rgb = astronaut();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("varnic_api_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
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

TEST(ApiFilesTest, OptionProblemsNameTheOption) {
  EncodeOptions options;
  EXPECT_EQ(check_encode_options(options).option, EncodeOption::kNone);
  options.quant_i = std::vector<int>(16, 126);
  EXPECT_EQ(check_encode_options(options).option, EncodeOption::kQuantI);
  options.quant_i.reset();
  options.levels = 2;
  options.dropped = std::array<int, 3>{0, 2, 0};
  EXPECT_EQ(check_encode_options(options).option, EncodeOption::kDropped);
}

}  // namespace
}  // namespace varnic
