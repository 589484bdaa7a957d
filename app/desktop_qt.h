// SPDX-License-Identifier: BSD-2-Clause
// The desktop program on the Qt backend: real windows, files from the command line and from
// drops on the main window, the event loop until Exit.
#pragma once

namespace varnic::app {

// Whether a Qt platform can start: a display to talk to, or a platform named in QT_QPA_PLATFORM.
bool qt_display_available();

struct CommandLine;

// Runs the program as the command line asks to its end; returns its exit code.
int run_desktop_qt(const CommandLine& line);

}  // namespace varnic::app
