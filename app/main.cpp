// SPDX-License-Identifier: BSD-2-Clause
// The desktop program. With the Qt backend built in and a display (or QT_QPA_PLATFORM) it opens
// real windows; otherwise, with --headless, VARNIC_HEADLESS=1 or a --script, it runs headless: a
// scripted session (--script FILE, or standard input with --script -) and then exits. Files named
// on the command line open as if chosen in the open dialog.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/session.h"
#include "platform/headless/headless.h"
#include "varnic/standard_streams.h"
#if defined(VARNIC_WITH_QT)
#include "app/desktop_qt.h"
#endif

int main(int argc, char** argv) {
  if (!varnic::open_closed_standard_streams()) return EXIT_FAILURE;
  const char* script_path = nullptr;
  int depth = 24;
  const char* headless_env = std::getenv("VARNIC_HEADLESS");
  bool headless = headless_env != nullptr && *headless_env != '\0' && std::strcmp(headless_env, "0") != 0;
  std::vector<std::string> files;
  const char* hold_env = std::getenv(varnic::app::kPreviewHoldVariable);
  std::uint32_t preview_hold = hold_env != nullptr ? varnic::app::parse_preview_hold(hold_env) : 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    } else if (argv[i][0] != '-') {
      files.emplace_back(argv[i]);
    } else if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      script_path = argv[++i];
    } else if (std::strcmp(argv[i], "--depth") == 0 && i + 1 < argc) {
      depth = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--preview-hold") == 0 && i + 1 < argc) {
      preview_hold = varnic::app::parse_preview_hold(argv[++i]);
    } else {
      std::cerr << "usage: varnic [--headless] [--script FILE|-] [--depth 8|24] [--preview-hold MS] [FILE...]\n";
      return 2;
    }
  }
#if defined(VARNIC_WITH_QT)
  if (!headless && script_path == nullptr && varnic::app::qt_display_available()) {
    return varnic::app::run_desktop_qt(files, preview_hold);
  }
#else
  (void)headless;  // without Qt every run is headless
#endif
  varnic::platform::HeadlessPlatform platform;
  platform.set_screen_depth(depth);
  varnic::app::Application app(platform);
  app.set_preview_hold(preview_hold);
  app.start();
  for (const std::string& file : files) {
    varnic::app::open_named_file(app, platform, file,
                                 [&platform](const std::string& path) { platform.queue_file_answer(path); });
  }
  int status = 0;
  if (script_path != nullptr) {
    if (std::strcmp(script_path, "-") == 0) {
      status = varnic::app::run_session(app, platform, platform, std::cin, std::cout);
    } else {
      std::ifstream script(script_path);
      if (!script) {
        std::cerr << "varnic: cannot read " << script_path << "\n";
        return 2;
      }
      status = varnic::app::run_session(app, platform, platform, script, std::cout);
    }
  }
  const int code = platform.run();
  return status != 0 ? status : code;
}
