// SPDX-License-Identifier: BSD-2-Clause
// The photograph readers and the last step of every read: files made with the libraries
// themselves, orientations stored by jpegtran, colours checked against Little CMS's own tificc,
// and hostile headers read under an address-space limit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "codec/settings.h"
#include "fuzz/photo_files.h"
#include "registry_test_util.h"

namespace varnic::imagefile {
namespace {

namespace fz = varnic::fuzz;
namespace fs = std::filesystem;

// A picture of flat 8x8 blocks, each its own colour, wider than high: JPEG keeps it within a
// level or two, and any wrong turn moves whole blocks.
Bytes block_picture(std::uint32_t width, std::uint32_t height) {
  Bytes rgb;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t block = (y / 8) * (width / 8) + x / 8;
      rgb.insert(rgb.end(), {std::uint8_t(block * 37 % 256), std::uint8_t(block * 91 % 256), std::uint8_t(255 - block * 23 % 256)});
    }
  return rgb;
}

// A saturated gradient: most of it lies where Display P3 and sRGB differ.
Bytes gradient_picture(std::uint32_t width, std::uint32_t height) {
  Bytes rgb;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      rgb.insert(rgb.end(), {std::uint8_t(x * 255 / (width - 1)), std::uint8_t(y * 255 / (height - 1)),
                             std::uint8_t(255 - x * 255 / (width - 1) / 2)});
  return rgb;
}

LoadedPicture read_with(const Bytes& file, PhotoOptions options = {}) {
  LoadedPicture out;
  std::string message;
  EXPECT_EQ(read_picture(file, "", {}, out, &message, options), FileStatus::kOk) << message;
  return out;
}

bool has_notice(const LoadedPicture& p, const std::string& words) {
  for (const std::string& n : p.notices)
    if (n.find(words) != std::string::npos) return true;
  return false;
}

int max_difference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
  return worst;
}

double mean_difference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 256;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

// A tool's output for `input`, through files in a fresh directory: `command` names them IN, OUT.
Bytes run_tool(const std::string& command, const Bytes& input) {
  const fs::path dir = fs::temp_directory_path() / ("varnic-photo-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path in = dir / "in", out = dir / "out";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  std::string line = command;
  line.replace(line.find("IN"), 2, in.string());
  line.replace(line.find("OUT"), 3, out.string());
  Bytes result;
  if (std::system((line + " 2>/dev/null").c_str()) == 0) {
    std::ifstream file(out, std::ios::binary);
    result.assign(std::istreambuf_iterator<char>(file), {});
  }
  fs::remove_all(dir);
  return result;
}

// A JPEG's APP1 EXIF segment put right after its SOI.
Bytes with_exif(const Bytes& jpeg, const Bytes& exif) {
  Bytes segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  segment.insert(segment.end(), exif.begin(), exif.end());
  segment[2] = static_cast<std::uint8_t>((segment.size() - 2) >> 8);
  segment[3] = static_cast<std::uint8_t>(segment.size() - 2);
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

fz::ExifFields orientation_only(unsigned orientation) {
  fz::ExifFields f;
  f.orientation = orientation;
  return f;
}

TEST(PhotoReadTest, EveryOrientationTurnsJpegTiffWebpAndPngUpright) {
  constexpr std::uint32_t kWidth = 32, kHeight = 16;
  const Bytes upright_jpeg = fz::make_jpeg({kWidth, kHeight, 3, 100}, block_picture(kWidth, kHeight));
  const Bytes upright = top_down_rgb(read_with(upright_jpeg).picture);
  // How jpegtran stores an upright picture so that orientation N turns it back.
  const char* kStoredBy[] = {"", "-flip horizontal", "-rotate 180", "-flip vertical",
                             "-transpose", "-rotate 270", "-transverse", "-rotate 90"};
  for (unsigned orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const Bytes stored_jpeg =
        run_tool(std::string("jpegtran -copy none ") + kStoredBy[orientation - 1] + " -outfile OUT IN", upright_jpeg);
    ASSERT_FALSE(stored_jpeg.empty()) << "jpegtran (libjpeg-turbo-progs) failed";
    const PictureBuffer stored = read_with(stored_jpeg).picture;
    const bool turned = orientation >= 5;
    ASSERT_EQ(stored.width, turned ? int{kHeight} : int{kWidth});
    const Bytes exif = fz::make_exif(orientation_only(orientation));
    fz::TiffLayout tiff{static_cast<std::uint32_t>(stored.width), static_cast<std::uint32_t>(stored.height)};
    tiff.orientation = orientation;
    const std::pair<const char*, Bytes> files[] = {
        {"JPEG", with_exif(stored_jpeg, exif)},
        {"TIFF", fz::make_tiff(tiff, top_down_rgb(stored))},
        {"WebP", fz::make_webp(tiff.width, tiff.height, top_down_rgb(stored), true, false, exif)},
        {"PNG", fz::make_png(tiff.width, tiff.height, PNG_COLOR_TYPE_RGB, 8, top_down_rgb(stored),
                             [&](png_structp p, png_infop i) {
                               png_set_eXIf_1(p, i, static_cast<png_uint_32>(exif.size()), const_cast<png_bytep>(exif.data()));
                             })},
    };
    for (const auto& [format, file] : files) {
      SCOPED_TRACE(format);
      const LoadedPicture read = read_with(file);
      EXPECT_LE(max_difference(top_down_rgb(read.picture), upright), 2);
      EXPECT_EQ(has_notice(read, "as its EXIF orientation says"), orientation != 1);
      const LoadedPicture kept = read_with(file, {.keep_orientation = true});
      EXPECT_EQ(top_down_rgb(kept.picture), top_down_rgb(stored)) << "--keep-orientation keeps the stored rows";
    }
  }
}

// The .cod a picture becomes at quality 99, decoded, top row first. The optimizing encoder: the
// classic one's colour bias alone is near 3 levels on a smooth gradient.
Bytes through_cod(const PictureBuffer& picture) {
  format::CodecParams params = codec::default_codec_params();
  params.quality_factor = 99;
  EXPECT_EQ(codec::derive_params_from_quality(params), format::StatusCode::kOk);
  WriteSettings settings;
  settings.params = &params;
  settings.optimize_level = 1;
  settings.quality = params.quality_factor;
  Bytes cod;
  EXPECT_EQ(write_picture(rows_of(picture), FileKind::kCod, settings, cod), FileStatus::kOk);
  return top_down_rgb(read_with(cod).picture);
}

TEST(PhotoReadTest, WideGamutProfilesGiveWhatTificcGives) {
  constexpr std::uint32_t kWidth = 256, kHeight = 128;
  const Bytes rgb = gradient_picture(kWidth, kHeight);
  // Larger than a JPEG segment holds: the profile spans two APP2 segments.
  const Bytes p3 = fz::make_profile("Display P3 test", 70000);
  fz::TiffLayout tiff{kWidth, kHeight};
  tiff.icc = p3;
  const Bytes converted = run_tool("tificc -t0 IN OUT", fz::make_tiff(tiff, rgb));
  ASSERT_FALSE(converted.empty()) << "tificc (liblcms2-utils) failed";
  const Bytes reference = top_down_rgb(read_with(converted, {.keep_colours = true}).picture);

  fz::JpegLayout jpeg{kWidth, kHeight, 3, 100};
  jpeg.icc = p3;
  const std::pair<const char*, Bytes> files[] = {
      {"JPEG", fz::make_jpeg(jpeg, rgb)},
      {"PNG", fz::make_png(kWidth, kHeight, PNG_COLOR_TYPE_RGB, 8, rgb, [&](png_structp p, png_infop i) {
         png_set_iCCP(p, i, "P3", 0, p3.data(), static_cast<png_uint_32>(p3.size()));
       })},
      {"TIFF", fz::make_tiff(tiff, rgb)},
      {"WebP", fz::make_webp(kWidth, kHeight, rgb, true, false, {}, p3)},
  };
  for (const auto& [format, file] : files) {
    SCOPED_TRACE(format);
    const LoadedPicture read = read_with(file);
    EXPECT_TRUE(has_notice(read, "colours converted to sRGB from its ICC profile \"Display P3 test\""));
    EXPECT_LE(mean_difference(through_cod(read.picture), reference), 2.0);
    const LoadedPicture kept = read_with(file, {.keep_colours = true});
    EXPECT_TRUE(has_notice(kept, "sample values kept as stored"));
    EXPECT_GT(mean_difference(through_cod(kept.picture), reference), 2.0) << "the profile step must matter";
  }
}

TEST(PhotoReadTest, GreyProfilesAndPngGammaGiveSrgbLevels) {
  constexpr std::uint32_t kWidth = 16, kHeight = 16;
  Bytes levels;
  for (std::uint32_t i = 0; i < kWidth * kHeight; ++i) levels.push_back(static_cast<std::uint8_t>(i));
  // Linear levels in sRGB's curve (IEC 61966-2-1).
  Bytes expected;
  for (const std::uint8_t v : levels) {
    const double l = v / 255.0;
    expected.push_back(static_cast<std::uint8_t>(
        std::lround(255 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055))));
  }
  fz::JpegLayout jpeg{kWidth, kHeight, 1, 100};
  jpeg.icc = fz::make_profile("Linear grey", 0, true, 1.0);
  const std::pair<const char*, Bytes> files[] = {
      {"JPEG", fz::make_jpeg(jpeg, levels)},
      {"PNG", fz::make_png(kWidth, kHeight, PNG_COLOR_TYPE_GRAY, 8, levels,
                           [](png_structp p, png_infop i) { png_set_gAMA_fixed(p, i, 100000); })},
  };
  for (const auto& [format, file] : files) {
    SCOPED_TRACE(format);
    const LoadedPicture read = read_with(file);
    EXPECT_EQ(read.picture.image_mode, format::kImageModeGrey);
    EXPECT_LE(max_difference(top_down_rgb(read.picture), expected), 2);
    EXPECT_TRUE(has_notice(read, "grey levels converted to sRGB"));
    EXPECT_LE(max_difference(top_down_rgb(read_with(file, {.keep_colours = true}).picture), levels), 1);
  }
}

TEST(PhotoReadTest, TiffLayoutsReadAlikeAndRoundSixteenBitsAsPngDoes) {
  constexpr std::uint32_t kWidth = 20, kHeight = 18;  // tiles and strips both end part full
  Bytes samples16;                                       // native 16-bit RGB
  Bytes png16;                                           // the same, big-endian
  for (std::uint32_t i = 0; i < kWidth * kHeight * 3; ++i) {
    // 0x00C0 rounds to 1 but truncates to 0; 0x8080 is exactly 128.
    const std::uint16_t v = i % 7 == 0 ? 0x00C0 : i % 5 == 0 ? 0x8080 : static_cast<std::uint16_t>(i * 2731u);
    samples16.insert(samples16.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
    png16.insert(png16.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
  }
  const Bytes png_pixels =
      top_down_rgb(read_with(fz::make_png(kWidth, kHeight, PNG_COLOR_TYPE_RGB, 16, png16)).picture);
  struct Case {
    const char* what;
    bool tiled, separate;
    std::uint16_t compression;
  };
  const Case cases[] = {
      {"strips", false, false, COMPRESSION_NONE},       {"tiles", true, false, COMPRESSION_NONE},
      {"planes in strips", false, true, COMPRESSION_NONE}, {"planes in tiles", true, true, COMPRESSION_NONE},
      {"deflate tiles", true, false, COMPRESSION_ADOBE_DEFLATE}, {"LZW strips", false, false, COMPRESSION_LZW},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fz::TiffLayout layout{kWidth, kHeight};
    layout.bits = 16;
    layout.tiled = c.tiled;
    layout.separate = c.separate;
    layout.compression = c.compression;
    const LoadedPicture read = read_with(fz::make_tiff(layout, samples16));
    EXPECT_EQ(top_down_rgb(read.picture), png_pixels);
    EXPECT_TRUE(has_notice(read, "16-bit samples reduced to 8 bits"));
  }
}

TEST(PhotoReadTest, PagesCmykAndMetadataAreSaidOrRefused) {
  constexpr std::uint32_t kSide = 16;
  const Bytes rgb = block_picture(kSide, kSide);
  fz::TiffLayout pages{kSide, kSide};
  pages.pages = 3;
  EXPECT_TRUE(has_notice(read_with(fz::make_tiff(pages, rgb)), "the first of 3 pages read, 2 left out"));

  // CMYK through an embedded profile gives what tificc gives; without one it is refused.
  Bytes cmyk;
  for (std::uint32_t i = 0; i < kSide * kSide; ++i)
    cmyk.insert(cmyk.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3), std::uint8_t(i % 64)});
  fz::TiffLayout tiff{kSide, kSide, 4};
  tiff.photometric = PHOTOMETRIC_SEPARATED;
  fz::JpegLayout jpeg{kSide, kSide, 4, 100};
  LoadedPicture out;
  std::string message;
  EXPECT_EQ(read_picture(fz::make_tiff(tiff, cmyk), "", {}, out, &message), FileStatus::kCmykWithoutProfile);
  EXPECT_EQ(read_picture(fz::make_jpeg(jpeg, cmyk), "", {}, out, &message), FileStatus::kCmykWithoutProfile);
  tiff.icc = jpeg.icc = fz::make_cmyk_profile("Test inks");
  const Bytes reference =
      top_down_rgb(read_with(run_tool("tificc -t0 IN OUT", fz::make_tiff(tiff, cmyk)), {.keep_colours = true}).picture);
  ASSERT_FALSE(reference.empty());
  for (const Bytes& file : {fz::make_tiff(tiff, cmyk), fz::make_jpeg(jpeg, cmyk)}) {
    const LoadedPicture read = read_with(file, {.keep_colours = true});  // CMYK cannot be kept
    EXPECT_TRUE(has_notice(read, "CMYK converted to sRGB through its ICC profile \"Test inks\""));
    EXPECT_LE(mean_difference(top_down_rgb(read.picture), reference), 2.0);
  }

  fz::ExifFields exif;
  exif.make = "Canon";
  exif.model = "Canon EOS R5";
  exif.taken = "2021:07:04 10:11:12";
  exif.exposure[0] = 1, exif.exposure[1] = 250;
  exif.f_number[0] = 40, exif.f_number[1] = 10;
  exif.focal[0] = 35, exif.focal[1] = 1;
  exif.iso = 200;
  fz::JpegLayout tagged{kSide, kSide};
  tagged.exif = fz::make_exif(exif);
  tagged.xmp = tagged.iptc = true;
  const LoadedPicture read = read_with(fz::make_jpeg(tagged, rgb));
  EXPECT_TRUE(has_notice(read, "EXIF, XMP and IPTC metadata dropped"));
  EXPECT_EQ(camera_summary(read.facts.camera), "taken 2021-07-04 10:11:12, Canon EOS R5, 1/250 s, f/4, ISO 200, 35 mm");
}

TEST(PhotoReadTest, ExifTextIsCleanedAndCutOnCharacterBoundaries) {
  struct Case {
    std::string in;
    std::size_t max_bytes;
    std::string out;
  };
  const Case cases[] = {
      {std::string("Nikon\0junk", 10), 64, "Nikon"},
      {"  caf\xE9 ", 64, "caf\xC3\xA9"},                 // not UTF-8: read as Latin-1
      {"\x01tab\x7F\xC2\x85", 64, "tab"},                // C0 and C1 controls
      {"\xE6\x97\xA5\xE6\x9C\xAC", 4, "\xE6\x97\xA5"},  // 4 bytes hold one character of three
  };
  for (const Case& c : cases)
    EXPECT_EQ(clean_exif_text({reinterpret_cast<const std::uint8_t*>(c.in.data()), c.in.size()}, c.max_bytes), c.out)
        << c.in;
}

// --- hostile headers ------------------------------------------------------------------------------

// Sets the big-endian 16-bit value at `at`.
void put_be16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}

// Small valid files whose headers are rewritten to declare `side` x `side` pixels.
std::vector<std::pair<const char*, Bytes>> forged_files(unsigned side) {
  const Bytes rgb = block_picture(16, 16);
  Bytes jpeg = fz::make_jpeg({16, 16}, rgb);
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
      put_be16(jpeg, i + 5, side);
      put_be16(jpeg, i + 7, side);
      break;
    }
  Bytes tiff = fz::make_tiff({16, 16}, rgb);  // little-endian: IFD entries of width and length
  const std::size_t ifd = std::size_t{tiff[4]} | std::size_t{tiff[5]} << 8 | std::size_t{tiff[6]} << 16 | std::size_t{tiff[7]} << 24;
  for (std::size_t e = ifd + 2; e + 12 <= tiff.size() && e < ifd + 2 + 12 * std::size_t{tiff[ifd]}; e += 12) {
    const unsigned tag = unsigned{tiff[e]} | unsigned{tiff[e + 1]} << 8;
    if (tag == 256 || tag == 257 || tag == 278) {  // width, length, rows per strip
      tiff[e + 2] = 4, tiff[e + 3] = 0;              // LONG
      for (std::size_t k = 0; k < 4; ++k) tiff[e + 8 + k] = static_cast<std::uint8_t>(side >> (8 * k));
    }
  }
  Bytes webp = fz::make_webp(16, 16, rgb, false);  // lossy: "VP8 " frame, 14-bit sides after 9D 01 2A
  for (std::size_t i = 0; i + 7 < webp.size(); ++i)
    if (webp[i] == 0x9D && webp[i + 1] == 0x01 && webp[i + 2] == 0x2A) {
      const unsigned s = std::min(side, 16383u);
      webp[i + 3] = static_cast<std::uint8_t>(s), webp[i + 4] = static_cast<std::uint8_t>(s >> 8);
      webp[i + 5] = static_cast<std::uint8_t>(s), webp[i + 6] = static_cast<std::uint8_t>(s >> 8);
      break;
    }
  return {{"JPEG", jpeg}, {"TIFF", tiff}, {"WebP", webp}};
}

TEST(PhotoReadTest, HostileHeadersAreRefusedBeforeAnyLargeAllocation) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves terabytes of address space";
#endif
  // 32767 x 32767 is over the default limit; 16000 x 16000 (or WebP's 16383 x 16383) within it,
  // but a few hundred bytes cannot hold it. Either way nothing picture-sized may be allocated.
  constexpr std::uint64_t kHeadroom = std::uint64_t{96} << 20;
  for (const unsigned side : {32767u, 16000u}) {
    for (const auto& [format, file] : forged_files(side)) {
      SCOPED_TRACE(std::string(format) + " of side " + std::to_string(side));
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        std::ifstream statm("/proc/self/statm");
        std::uint64_t pages = 0;
        statm >> pages;
        const std::uint64_t limit = pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) + kHeadroom;
        const rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(3);
        LoadedPicture out;
        const FileStatus status = read_picture(file, "", {}, out);
        _exit(status == FileStatus::kOk ? 1 : status == FileStatus::kOutOfMemory ? 2 : 0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << "the reader crashed";
      EXPECT_EQ(WEXITSTATUS(status), 0) << "1: accepted, 2: ran out of memory instead of refusing";
    }
  }
}

}  // namespace
}  // namespace varnic::imagefile
