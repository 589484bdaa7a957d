// SPDX-License-Identifier: BSD-2-Clause
// The desktop program. With the Qt backend built in and a display (or QT_QPA_PLATFORM) it opens
// real windows; otherwise, with --headless, VARNIC_HEADLESS=1 or a --script, it runs headless: a
// scripted session (--script FILE, or standard input with --script -) and then exits. The
// command line is read as on Windows (command_line.h).
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/command_line.h"
#include "app/session.h"
#include "platform/headless/headless.h"
#include "varnic/standard_streams.h"
#include "varnic/version.h"
#if defined(VARNIC_WITH_QT)
#include "app/desktop_qt.h"
#endif

int main(int argc, char** argv) {
  if (!varnic::open_closed_standard_streams()) return EXIT_FAILURE;
  using varnic::app::CommandLine;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const CommandLine line = varnic::app::parse_command_line(args, std::getenv(varnic::app::kPreviewHoldVariable), true);
  switch (line.action) {
    case CommandLine::Action::kHelp: std::cout << varnic::app::usage_text(true); return 0;
    case CommandLine::Action::kVersion: std::cout << VARNIC_VERSION_TEXT << "\n"; return 0;
    case CommandLine::Action::kUsageError:
      std::cerr << "varnic: " << line.error << "\n" << varnic::app::usage_text(true);
      return 2;
    case CommandLine::Action::kRun: break;
  }
  const char* headless_env = std::getenv("VARNIC_HEADLESS");
  const bool headless = line.headless || line.script.has_value() ||
                        (headless_env != nullptr && *headless_env != '\0' && std::strcmp(headless_env, "0") != 0);
#if defined(VARNIC_WITH_QT)
  if (!headless && varnic::app::qt_display_available()) {
    if (line.depth) std::cerr << "varnic: --depth is for the headless backend; windows take their screen's depth\n";
    return varnic::app::run_desktop_qt(line);
  }
#else
  (void)headless;  // without Qt every run is headless
#endif
  varnic::platform::HeadlessPlatform platform;
  platform.set_screen_depth(line.depth.value_or(24));
  varnic::app::Application app(platform);
  varnic::app::start_program(app, platform, line);
  int status = 0;
  if (line.script) {
    if (*line.script == "-") {
      status = varnic::app::run_session(app, platform, platform, std::cin, std::cout);
    } else {
      std::ifstream script(*line.script);
      if (!script) {
        std::cerr << "varnic: cannot read " << *line.script << "\n";
        return 2;
      }
      status = varnic::app::run_session(app, platform, platform, script, std::cout);
    }
  }
  const int code = platform.run();
  return status != 0 ? status : code;
}
