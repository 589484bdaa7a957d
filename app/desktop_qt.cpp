// SPDX-License-Identifier: BSD-2-Clause
#include "app/desktop_qt.h"

#include <cstdlib>

#include "app/app.h"
#include "platform/qt/qt_platform.h"

namespace varnic::app {

namespace {

bool set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool qt_display_available() { return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY"); }

int run_desktop_qt(const std::vector<std::string>& files, std::uint32_t preview_hold_ms) {
  platform::QtPlatform platform;
  Application app(platform);
  app.set_preview_hold(preview_hold_ms);
  app.start();
  connect_file_opening(app, platform);
  for (const std::string& file : files) {
    if (platform.quit_requested()) break;
    open_named_file(app, platform, file);
  }
  return platform.run();
}

}  // namespace varnic::app
