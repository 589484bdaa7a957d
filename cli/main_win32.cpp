// SPDX-License-Identifier: BSD-2-Clause
// Windows entry of varnic-cli: the arguments are taken in UTF-16 and handed on as UTF-8, so that
// any file name reaches the tool intact, and the console is told to show UTF-8 messages.
#include <windows.h>

#include <string>
#include <vector>

int varnic_cli_main(int argc, char** argv);

// cmd.exe hands wildcards to the program unexpanded; this asks the MinGW-w64 start-up code to
// expand them (`compress *.bmp`) as a shell would. A pattern that matches nothing stays as it is.
extern "C" {
int _dowildcard = -1;
}

namespace {

// Unpaired surrogates become U+FFFD.
std::string narrow(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
  // Failures are reported by exit status and message, never by a dialog that waits for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(narrow(wargv[i]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return varnic_cli_main(argc, argv.data());
}
