// SPDX-License-Identifier: BSD-2-Clause
// The desktop program's command line, read the same way on every platform: options anywhere
// before "--", everything else a file to open as if chosen in the open dialog of its kind; and
// the start of a program that follows it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace varnic::app {

// The preview hold for demonstrations: whole milliseconds, at most this many. Ten seconds a
// level is a slow demonstration already; longer ones look like a hang.
inline constexpr std::uint32_t kMaxPreviewHoldMs = 10000;
inline constexpr const char* kPreviewHoldVariable = "VARNIC_PREVIEW_HOLD_MS";

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  std::string error;  // what was wrong, for kUsageError
  std::vector<std::string> files;
  std::uint32_t preview_hold_ms = 0;
  // The headless backend's options (only where the program has that backend).
  bool headless = false;
  std::optional<std::string> script;  // "-" for standard input
  std::optional<int> depth;           // bits per pixel of the headless screen
};

// `args` without the program's name; `hold_variable` the value of kPreviewHoldVariable, if set
// (a bad environment must not stop the program: anything but whole milliseconds there means no
// hold, and longer holds the longest); `with_headless` whether --headless, --script and --depth
// exist.
CommandLine parse_command_line(std::span<const std::string> args, const char* hold_variable, bool with_headless);

// The help text: what --help prints and a usage error shows after its reason.
std::string usage_text(bool with_headless);

class Application;

// What the command line asks of the program once its backend is up: the preview hold, the named
// files opened in turn as if chosen in the open dialog of their kind (until one of them ends the
// program), and files dropped on the main window opened the same way. The caller then runs the
// event loop.
void start_program(Application& app, platform::Platform& platform, const CommandLine& line);

}  // namespace varnic::app
