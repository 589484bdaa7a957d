// SPDX-License-Identifier: BSD-2-Clause
// The desktop program on Windows: the command line read as on Linux (command_line.h), the Win32
// backend's windows, files named on the command line and files dropped on the main window opened
// as if chosen in the open dialog, the message loop until Exit. Nothing is read from or written
// to the registry or any settings file.
//
// --help, --version and a usage error answer in a message box: varnic.exe is a GUI program, to
// which cmd.exe gives no console and for which it does not wait, so text on standard output would
// reach nobody who typed the command; a box is seen however the program was started.
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/command_line.h"
#include "imagefile/utf16.h"
#include "platform/win32/win32_platform.h"
#include "varnic/version.h"

namespace {

// The value of an environment variable, if set.
std::optional<std::string> variable(const char* name) {
  const std::wstring wide = varnic::imagefile::widen(name);
  const DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(wide.c_str(), value.data(), size));
  return varnic::imagefile::narrow(value);
}

int answer(const std::string& text, const char* caption, UINT icon, int status) {
  MessageBoxW(nullptr, varnic::platform::to_wide_text(text).c_str(), varnic::platform::to_wide_text(caption).c_str(),
              MB_OK | icon);
  return status;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using varnic::app::CommandLine;
  std::vector<std::string> args;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) args.push_back(varnic::imagefile::narrow(argv[i]));
    LocalFree(argv);
  }
  const std::optional<std::string> hold = variable(varnic::app::kPreviewHoldVariable);
  const CommandLine line = varnic::app::parse_command_line(args, hold ? hold->c_str() : nullptr, false);
  switch (line.action) {
    case CommandLine::Action::kHelp: return answer(varnic::app::usage_text(false), "varnic", MB_ICONINFORMATION, 0);
    case CommandLine::Action::kVersion: return answer(VARNIC_VERSION_TEXT, "varnic", MB_ICONINFORMATION, 0);
    case CommandLine::Action::kUsageError:
      return answer(line.error + "\n\n" + varnic::app::usage_text(false), "varnic: usage", MB_ICONERROR, 2);
    case CommandLine::Action::kRun: break;
  }
  varnic::platform::Win32Platform platform(instance);
  varnic::app::Application app(platform);
  varnic::app::start_program(app, platform, line);
  return platform.run();
}
