// The program's own small conversions, at their edges.
#include <gtest/gtest.h>

#include "app/app.h"

namespace varnic::app {
namespace {

TEST(AppHelpersTest, LeadingIntegerTakesSignAndDigitsUpToTheFirstOtherCharacter) {
  EXPECT_EQ(parse_leading_integer("640"), 640);
  EXPECT_EQ(parse_leading_integer("  \t12abc"), 12);
  EXPECT_EQ(parse_leading_integer("-37"), -37);
  EXPECT_EQ(parse_leading_integer("+5x"), 5);
  EXPECT_EQ(parse_leading_integer(""), 0);
  EXPECT_EQ(parse_leading_integer("- 5"), 0);
  EXPECT_EQ(parse_leading_integer("abc"), 0);
  // Absurdly long numbers saturate instead of overflowing.
  EXPECT_EQ(parse_leading_integer(std::string(60, '9')), 1LL << 40);
  EXPECT_EQ(parse_leading_integer("-" + std::string(60, '9')), -(1LL << 40));
}

TEST(AppHelpersTest, PreviewHoldIsWholeMillisecondsWithinItsCeilingElseNone) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"250", 250}, {"0", 0}, {"", 0}, {"-5", 0}, {"12ms", 0}, {" 40", 0}, {"10001", kMaxPreviewHoldMs},
      {"99999999999999999999", kMaxPreviewHoldMs}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_preview_hold(text), expected) << text;
}

TEST(AppHelpersTest, DisplaySizesTruncateAndStayWithinSixteenBits) {
  EXPECT_EQ(scale_display_size(400, 1.2222222222222223), 488);
  EXPECT_EQ(scale_display_size(488, 0.9), 439);
  EXPECT_EQ(scale_display_size(100, 0.5555555555555556), 55);
  EXPECT_EQ(scale_display_size(1, 0.9), 0);
  EXPECT_EQ(scale_display_size(40000, 2.0), 65535);
  EXPECT_EQ(scale_display_size(65535, 1.2222222222222223), 65535);
}

TEST(AppHelpersTest, Utf8CutsKeepWholeCharacters) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC";  // a, e-acute (2 bytes), euro (3 bytes)
  EXPECT_EQ(cut_utf8(text, 10), text);
  EXPECT_EQ(cut_utf8(text, 6), text);
  EXPECT_EQ(cut_utf8(text, 5), "a\xC3\xA9");
  EXPECT_EQ(cut_utf8(text, 4), "a\xC3\xA9");
  EXPECT_EQ(cut_utf8(text, 2), "a");
  EXPECT_EQ(cut_utf8(text, 0), "");
}

TEST(AppHelpersTest, InformationTextsFollowTheDialogFormats) {
  AppState state;
  format::CodecParams params;
  params.image_width = 512;
  params.image_height = 512;
  state.display_width = 65535;
  state.display_height = 7;
  state.file_title = "a.cod";
  state.compressed_size = 65536;
  state.geometry.picture_bytes = 786432;
  state.total_time = 1.005f;
  state.entropy_decode_time = 0.25f;
  state.wavelet_time = 12.5f;
  const InformationTexts t = format_information(state, params);
  EXPECT_EQ(t.file_name, "a.cod");
  EXPECT_EQ(t.original, "512 X 512");
  EXPECT_EQ(t.display, "65535 X 7");
  EXPECT_EQ(t.compressed, "65536(Bytes)");
  EXPECT_EQ(t.decompressed, "786432(Bytes)");
  EXPECT_EQ(t.ratio, "12.0 (:1)");  // 786486 / 65536 = 12.0008
  EXPECT_EQ(t.entropy, "0.25(second)");
  EXPECT_EQ(t.wavelet, "12.50(second)");
  EXPECT_EQ(t.colour, "0.00(second)");
  // A grey picture's table adds 1024 bytes to the bitmap the ratio compares with.
  state.display_header.info.colours_used = 256;
  state.compressed_size = 1000;
  state.geometry.picture_bytes = 1922;
  EXPECT_EQ(format_information(state, params).ratio, "3.0 (:1)");  // (1922 + 54 + 1024) / 1000
}

}  // namespace
}  // namespace varnic::app
