// SPDX-License-Identifier: BSD-2-Clause
// The program's own small conversions, at their edges.
#include <gtest/gtest.h>

#include "app/app.h"

namespace varnic::app {
namespace {

TEST(AppHelpersTest, LeadingIntegersNeedTheSignBesideTheDigitsAndSaturate) {
  EXPECT_EQ(parse_leading_integer(" \t-37x"), -37);
  EXPECT_EQ(parse_leading_integer("- 5"), 0);
  EXPECT_EQ(parse_leading_integer(std::string(60, '9')), 1LL << 40);
  EXPECT_EQ(parse_leading_integer("-" + std::string(60, '9')), -(1LL << 40));
}

TEST(AppHelpersTest, Utf8CutsKeepWholeCharacters) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC";  // a, e-acute (2 bytes), euro (3 bytes)
  const std::pair<std::size_t, std::string> cases[] = {{10, text}, {6, text}, {5, "a\xC3\xA9"}, {4, "a\xC3\xA9"},
                                                       {2, "a"},   {0, ""}};
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(cut_utf8(text, bytes), expected) << bytes;
}

TEST(AppHelpersTest, ExtensionsChooseTheOpenCommandInAnyCase) {
  const std::pair<const char*, int> cases[] = {{"/a/b/pic.BMP", kCmdOpenBitmap}, {"x.Tga", kCmdOpenTarga},
                                               {"x.cod", kCmdOpenCoded},        {"x.cod.txt", -1},
                                               {"/dir.bmp/file", -1},           {"bmp", -1}};
  for (const auto& [path, command] : cases) EXPECT_EQ(open_command_for_path(path), command) << path;
}

}  // namespace
}  // namespace varnic::app
