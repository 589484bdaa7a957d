// SPDX-License-Identifier: BSD-2-Clause
// The desktop program's command line, one table for both platforms: the Linux program reads it
// with the headless options, the Windows program without, and this table runs on both.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace varnic::app {
namespace {

using Action = CommandLine::Action;

struct Case {
  std::vector<std::string> args;
  const char* hold_variable;
  bool with_headless;
  Action action;
  std::vector<std::string> files;
  std::uint32_t hold = 0;
  std::string detail;  // kUsageError: a piece of the error; else headless, script and depth, as "h s d"
};

TEST(CommandLineTest, OptionsFilesAndTheHoldReadAlikeOnBothPlatforms) {
  const Case cases[] = {
      {{"--preview-hold", "300", "picture.bmp"}, nullptr, false, Action::kRun, {"picture.bmp"}, 300, "0 none none"},
      {{"a.cod", "--preview-hold=250", "b.bmp"}, nullptr, true, Action::kRun, {"a.cod", "b.bmp"}, 250, "0 none none"},
      {{"x.bmp"}, "400", false, Action::kRun, {"x.bmp"}, 400, "0 none none"},
      {{"--preview-hold", "0"}, "400", false, Action::kRun, {}, 0, "0 none none"},  // the option wins
      {{}, "12ms", false, Action::kRun, {}, 0, "0 none none"},                      // a bad variable holds nothing
      {{}, "99999999999999999999", false, Action::kRun, {}, kMaxPreviewHoldMs, "0 none none"},
      {{"--", "-x.bmp", "--version"}, nullptr, false, Action::kRun, {"-x.bmp", "--version"}, 0, "0 none none"},
      {{"./-x.bmp", "-", ".\\-y.tga"}, nullptr, false, Action::kRun, {"./-x.bmp", "-", ".\\-y.tga"}, 0, "0 none none"},
      {{"--headless", "--script", "s.txt", "--depth=8"}, nullptr, true, Action::kRun, {}, 0, "1 s.txt 8"},
      {{"--script", "-", "f.bmp"}, nullptr, true, Action::kRun, {"f.bmp"}, 0, "0 - none"},
      {{"f.bmp", "--version"}, nullptr, false, Action::kVersion, {"f.bmp"}, 0, "0 none none"},
      {{"-h", "--version"}, nullptr, true, Action::kHelp, {}, 0, "0 none none"},
      {{"-x.bmp"}, nullptr, false, Action::kUsageError, {}, 0, "./-x.bmp"},
      {{"--headless"}, nullptr, false, Action::kUsageError, {}, 0, "unknown option --headless"},
      {{"--preview-hold", "-5"}, nullptr, false, Action::kUsageError, {}, 0, "--preview-hold"},
      {{"--preview-hold", "10001"}, nullptr, true, Action::kUsageError, {}, 0, "0 to 10000"},
      {{"--preview-hold"}, nullptr, false, Action::kUsageError, {}, 0, "--preview-hold"},
      {{"--depth", "16"}, nullptr, true, Action::kUsageError, {}, 0, "8 or 24"},
      {{"--script"}, nullptr, true, Action::kUsageError, {}, 0, "--script"},
      {{"--version=2"}, nullptr, false, Action::kUsageError, {}, 0, "takes no value"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& arg : c.args) trace += arg + " ";
    SCOPED_TRACE(trace + (c.with_headless ? "(with headless)" : ""));
    const CommandLine line = parse_command_line(c.args, c.hold_variable, c.with_headless);
    EXPECT_EQ(line.action, c.action);
    if (c.action == Action::kUsageError) {
      EXPECT_NE(line.error.find(c.detail), std::string::npos) << line.error;
      continue;
    }
    EXPECT_EQ(line.files, c.files);
    EXPECT_EQ(line.preview_hold_ms, c.hold);
    EXPECT_EQ(std::to_string(line.headless) + " " + line.script.value_or("none") + " " +
                  (line.depth ? std::to_string(*line.depth) : "none"),
              c.detail);
  }
}

}  // namespace
}  // namespace varnic::app
