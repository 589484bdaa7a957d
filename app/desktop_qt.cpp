// SPDX-License-Identifier: BSD-2-Clause
#include "app/desktop_qt.h"

#include <cstdlib>

#include "app/app.h"
#include "app/command_line.h"
#include "platform/qt/qt_platform.h"

namespace varnic::app {

namespace {

bool set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool qt_display_available() { return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY"); }

int run_desktop_qt(const CommandLine& line) {
  platform::QtPlatform platform;
  Application app(platform);
  start_program(app, platform, line);
  return platform.run();
}

}  // namespace varnic::app
