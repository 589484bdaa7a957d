// SPDX-License-Identifier: BSD-2-Clause
// The desktop program on the Qt backend: real windows, files from the command line and from
// drops on the main window, the event loop until Exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnic::app {

// Whether a Qt platform can start: a display to talk to, or a platform named in QT_QPA_PLATFORM.
bool qt_display_available();

// Runs the program to its end, each preview held `preview_hold_ms`; returns its exit code.
int run_desktop_qt(const std::vector<std::string>& files, std::uint32_t preview_hold_ms);

}  // namespace varnic::app
