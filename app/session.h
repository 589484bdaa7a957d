// SPDX-License-Identifier: BSD-2-Clause
// A scripted session of the desktop program over the headless backend: what `make run` and
// smoke tests drive when there is no display. One command per line:
//   open bmp|tga|cod PATH     choose PATH in the open dialog of that kind
//   save cod|bmp|tga PATH     choose PATH in the save dialog of that kind
//   command N                 run menu command N
//   screenshot main|source PATH   write the window's client area as a binary PPM
//   exit                      the Exit command
// Blank lines and lines starting with '#' are skipped. Everything the program shows (titles,
// message boxes, dialog texts) is written to the log.
#pragma once

#include <iosfwd>

#include "app/app.h"
#include "platform/automation.h"

namespace varnic::app {

// Returns 0 when every line was understood and ran, 1 otherwise.
int run_session(Application& app, platform::Platform& platform, platform::Automation& automation,
                std::istream& script, std::ostream& log);

// Binary PPM (P6) of an image.
bool write_ppm(const platform::Image& image, const std::string& path);

}  // namespace varnic::app
