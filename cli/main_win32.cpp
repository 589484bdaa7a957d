// Windows entry of varnic-cli: the arguments are taken in UTF-16 and handed on as UTF-8, so that
// any file name reaches the tool intact, and the console is told to show UTF-8 messages.
#include <windows.h>

#include <string>
#include <vector>

#include "imagefile/utf16.h"

int varnic_cli_main(int argc, char** argv);

int wmain(int argc, wchar_t** wargv) {
  // Failures are reported by exit status and message, never by a dialog that waits for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(varnic::imagefile::narrow(wargv[i]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return varnic_cli_main(argc, argv.data());
}
