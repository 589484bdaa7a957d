// SPDX-License-Identifier: BSD-2-Clause
// Windows side of varnic-cli: Ctrl+C and Ctrl+Break, standard streams in binary, file identity.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "system.h"
#include "varnic/varnic.h"

namespace varnic::cli {
namespace {

// Standard input is read in pieces of this size; its length is not known in advance.
constexpr std::size_t kStdinChunkBytes = std::size_t{1} << 20;

void write_text(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Runs on a thread of the system's own while the others go on: the outputs are removed, then the
// process ends with 128 + the matching signal's number, as on other systems.
BOOL WINAPI on_console_event(DWORD event) {
  int signal_number = SIGTERM;
  const char* text = "varnic-cli: terminated; unfinished outputs removed\n";
  if (event == CTRL_C_EVENT) {
    signal_number = SIGINT;
    text = "varnic-cli: interrupted (Ctrl+C); unfinished outputs removed\n";
  } else if (event == CTRL_BREAK_EVENT) {
    signal_number = SIGBREAK;
    text = "varnic-cli: interrupted (Ctrl+Break); unfinished outputs removed\n";
  }
  varnic::remove_unfinished_files();
  write_text(text);
  ExitProcess(static_cast<UINT>(128 + signal_number));
}

}  // namespace

void install_signal_handlers() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
  // Binary data passes the standard streams unchanged: no CR-LF translation, no end at 0x1A.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

bool read_standard_input(std::vector<std::uint8_t>& out, std::uint64_t max_bytes, int& error,
                         FirstBytesCheck wanted) {
  out.clear();
  for (bool judged = false;;) {
    if (!judged && out.size() >= kJudgedStdinBytes) {
      judged = true;
      if (!wanted(std::span(out).first(kJudgedStdinBytes))) {
        error = 0;
        return false;
      }
    }
    const std::size_t have = out.size();
    out.resize(have + kStdinChunkBytes);
    const std::size_t n = std::fread(out.data() + have, 1, kStdinChunkBytes, stdin);
    out.resize(have + n);
    if (n < kStdinChunkBytes) {
      if (std::ferror(stdin) != 0) {
        error = errno != 0 ? errno : EIO;
        return false;
      }
      if (out.size() > max_bytes) {
        error = EFBIG;
        return false;
      }
      return true;
    }
    if (out.size() > max_bytes) {
      error = EFBIG;
      return false;
    }
  }
}

bool write_standard_output(std::span<const std::uint8_t> bytes, int& error) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0) {
    error = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

bool standard_output_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

std::optional<FileIdentity> file_identity(const std::string& path) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), wide.data(), n);
  // No access rights are needed to read the identity; backup semantics open folders too.
  const HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      std::uint64_t{info.nFileIndexHigh} << 32 | std::uint64_t{info.nFileIndexLow}};
}

std::string system_reason(int error) {
  return error == 0 ? "not a regular file" : std::generic_category().message(error);
}

}  // namespace varnic::cli
