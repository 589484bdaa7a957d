// SPDX-License-Identifier: BSD-2-Clause
// find_window CLASS TITLE SECONDS: waits for a visible top-level window of that class and title,
// prints its title and asks it to close. Exit status 0 when it appeared, 1 when it did not.
// Scripts use it to see which picture a program started by the shell opened.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fputs("usage: find_window CLASS TITLE SECONDS\n", stderr);
    return 2;
  }
  const int polls = _wtoi(argv[3]) * 10;
  for (int i = 0; i < polls; ++i) {
    HWND window = FindWindowW(argv[1], argv[2]);
    if (window != nullptr && IsWindowVisible(window)) {
      std::wprintf(L"found: %ls\n", argv[2]);
      PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    }
    Sleep(100);
  }
  std::fputs("no such window\n", stderr);
  return 1;
}
