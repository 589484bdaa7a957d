// SPDX-License-Identifier: BSD-2-Clause
// Windows file names: the program keeps paths as UTF-8 and hands them to the system's wide
// (UTF-16) calls, so that any name opens whatever the user's code page.
#pragma once

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <string_view>

namespace varnic::imagefile {

// Empty for text that is not UTF-8 (and for empty text).
inline std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// Unpaired surrogates become U+FFFD.
inline std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace varnic::imagefile
#endif
