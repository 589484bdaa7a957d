// SPDX-License-Identifier: BSD-2-Clause
// The desktop program on Windows: the Win32 backend's windows, files named on the command line
// and files dropped on the main window opened as if chosen in the open dialog, the message loop
// until Exit. Nothing is read from or written to the registry or any settings file.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "imagefile/utf16.h"
#include "platform/win32/win32_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  std::vector<std::string> files;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) files.push_back(varnic::imagefile::narrow(argv[i]));
    LocalFree(argv);
  }
  varnic::platform::Win32Platform platform(instance);
  varnic::app::Application app(platform);
  app.start();
  varnic::app::connect_file_opening(app, platform);
  for (const std::string& file : files) {
    if (platform.quit_requested()) break;
    varnic::app::open_named_file(app, platform, file);
  }
  return platform.run();
}
