// SPDX-License-Identifier: BSD-2-Clause
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "batch.h"
#include "metrics.h"
#include "search.h"
#include "text.h"

namespace varnic::cli {
namespace {

Picture rgb(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> pixels) {
  Picture p;
  p.width = width;
  p.height = height;
  p.format = PixelFormat::kRgb24;
  p.pixels = std::move(pixels);
  return p;
}

TEST(CompareTest, PsnrOverRgbAndLumaWorkedByHandAndAnyLayoutOfTheSamePicture) {
  // One blue sample differs by 10: MSE over RGB = 100 / 6; luma differs by 0.114 * 10 = 1.14 in
  // one of two pixels, MSE = 1.2996 / 2.
  Result<Comparison> c = compare_pictures(rgb(2, 1, {0, 0, 0, 10, 20, 30}), rgb(2, 1, {0, 0, 0, 10, 20, 40}));
  ASSERT_TRUE(c.ok());
  EXPECT_NEAR(c.value().psnr_rgb, 35.9123, 1e-4);
  EXPECT_NEAR(c.value().psnr_y, 10 * std::log10(65025.0 / 0.6498), 1e-9);
  EXPECT_EQ(c.value().max_difference, 10);

  Picture grey = rgb(2, 1, {5, 250});
  grey.format = PixelFormat::kGrey8;
  Result<Comparison> same = compare_pictures(grey, rgb(2, 1, {5, 5, 5, 250, 250, 250}));
  ASSERT_TRUE(same.ok());
  EXPECT_TRUE(std::isinf(same.value().psnr_rgb) && std::isinf(same.value().psnr_y));
  Picture bgr = rgb(1, 1, {1, 2, 3});
  bgr.format = PixelFormat::kBgr24;
  EXPECT_EQ(compare_pictures(bgr, rgb(1, 1, {3, 2, 1})).value().max_difference, 0);
  EXPECT_EQ(compare_pictures(grey, rgb(1, 2, {0, 0, 0, 0, 0, 0})).status(), Status::kInvalidArgument);
}

TEST(QualitySearchTest, FindsTheBoundaryOfEveryMonotoneTargetInFewTrials) {
  for (int boundary = -1; boundary <= 99; ++boundary) {
    int trials = 0;
    Result<std::optional<int>> high = highest_passing(0, 99, [&](int q) -> Result<bool> {
      ++trials;
      return q <= boundary;
    });
    ASSERT_TRUE(high.ok());
    EXPECT_EQ(high.value(), boundary < 0 ? std::nullopt : std::optional<int>(boundary));
    EXPECT_LE(trials, 8) << boundary;

    trials = 0;
    Result<std::optional<int>> low = lowest_passing(0, 99, [&](int q) -> Result<bool> {
      ++trials;
      return q > boundary;
    });
    ASSERT_TRUE(low.ok());
    EXPECT_EQ(low.value(), boundary == 99 ? std::nullopt : std::optional<int>(boundary + 1));
    EXPECT_LE(trials, 8) << boundary;
  }
}

TEST(QualitySearchTest, StopsAtTheFirstFailingTrial) {
  int trials = 0;
  Result<std::optional<int>> r = highest_passing(0, 99, [&](int q) -> Result<bool> {
    ++trials;
    if (q > 40) return {Status::kOutOfMemory, "no memory"};
    return true;
  });
  EXPECT_EQ(r.status(), Status::kOutOfMemory);
  EXPECT_EQ(r.message(), "no memory");
  EXPECT_EQ(trials, 2);
}

TEST(TextTest, JsonKeepsEveryByteAndPrintableEscapesOnlyWhatNeedsIt) {
  EXPECT_EQ(json_string("a\"b\\c\n\x01\x7f"), "\"a\\\"b\\\\c\\u000a\\u0001\\u007f\"");
  EXPECT_EQ(json_string("caf\xC3\xA9 \xE2\x82\xAC"), "\"caf\xC3\xA9 \xE2\x82\xAC\"");
  // Bytes that are no part of valid UTF-8 keep their value, as Python's surrogateescape reads them.
  EXPECT_EQ(json_string("caf\xE9"), "\"caf\\udce9\"");
  EXPECT_EQ(json_string("\xC0\x80\xED\xA0\x80"), "\"\\udcc0\\udc80\\udced\\udca0\\udc80\"");
  EXPECT_EQ(json_string("\xC2\x9B"), "\"\\u009b\"");  // a C1 control: a terminal's CSI
  EXPECT_EQ(json_string(""), "\"\"");

  EXPECT_EQ(printable("d/Bild \xC3\xBC.png"), "d/Bild \xC3\xBC.png");
  EXPECT_EQ(printable("a\x1b[2Jb.bmp"), "\"a\\u001b[2Jb.bmp\"");
  EXPECT_EQ(printable("two\nlines"), "\"two\\u000alines\"");
  EXPECT_EQ(printable("latin\xE9"), "\"latin\\udce9\"");
}

TEST(OutputPathTest, ReplacesTheExtensionAndHonoursTheDirectory) {
  EXPECT_EQ(output_path_for("a/b.png", "", ".cod"), "a/b.cod");
  // Compared as paths: the folder is joined with the system's own separator.
  EXPECT_EQ(std::filesystem::path(output_path_for("a/b.png", "out", ".cod")), std::filesystem::path("out/b.cod"));
  EXPECT_EQ(output_path_for("noext", "", ".cod"), "noext.cod");
  EXPECT_EQ(output_path_for("dir.v2/x", "", ".bmp"), "dir.v2/x.bmp");
  EXPECT_EQ(output_path_for("x.tar.bmp", "", ".cod"), "x.tar.cod");
  // UTF-8 names stay UTF-8, whatever the system's code page.
  EXPECT_EQ(output_path_for("d/Bild \xC3\xBC \xE5\x86\x99.png", "", ".cod"), "d/Bild \xC3\xBC \xE5\x86\x99.cod");
  // Mirrored: the input's path under the folder; one that leaves the current folder or starts at
  // the root is taken from below the root.
  using P = std::filesystem::path;
  EXPECT_EQ(P(output_path_for("a/./b/x.png", "out", ".cod", true)), P("out/a/b/x.cod"));
  EXPECT_EQ(P(output_path_for("/data/x.png", "out", ".cod", true)), P("out/data/x.cod"));
  const P above = std::filesystem::current_path().parent_path().relative_path() / "x.cod";
  EXPECT_EQ(P(output_path_for("../x.png", "out", ".cod", true)), P("out") / above);
}

}  // namespace
}  // namespace varnic::cli
