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

TEST(AppHelpersTest, ExtensionsChooseTheOpenCommandInAnyCase) {
  const std::pair<const char*, int> cases[] = {{"/a/b/pic.BMP", kCmdOpenBitmap}, {"x.Tga", kCmdOpenTarga},
                                               {"x.cod", kCmdOpenCoded},        {"x.cod.txt", -1},
                                               {"/dir.bmp/file", -1},           {"bmp", -1}};
  for (const auto& [path, command] : cases) EXPECT_EQ(open_command_for_path(path), command) << path;
}

}  // namespace
}  // namespace varnic::app
