// SPDX-License-Identifier: BSD-2-Clause
// What varnic-cli needs from the operating system besides the file reader and writer of
// imagefile: signal handling, the standard streams as input and output files, and file identity.
// The POSIX implementation is system_posix.cpp; a port supplies its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnic::cli {

// SIGTERM, SIGINT and the other signals that would end the process (SIGHUP, SIGQUIT, SIGUSR1/2,
// the timers, SIGXCPU) remove the temporary files of writes in progress, print one line and end
// the process with status 128 + signal; those the parent ignores stay ignored. SIGXFSZ and SIGPIPE are ignored, so that a file size
// limit or a closed pipe fails the write (EFBIG, EPIPE) instead of killing the process.
void install_signal_handlers();

// The whole of standard input, at most max_bytes; false with errno in `error` (EFBIG when longer).
// `wanted` judges the first bytes (kJudgedStdinBytes, or all of a shorter input) before the rest
// is read: false from it ends the read at once (false, `error` 0), so an endless stream of
// something else is refused without being taken into memory.
inline constexpr std::size_t kJudgedStdinBytes = 16;  // the longest signature looked at
using FirstBytesCheck = bool (*)(std::span<const std::uint8_t> first);
[[nodiscard]] bool read_standard_input(std::vector<std::uint8_t>& out, std::uint64_t max_bytes, int& error,
                                       FirstBytesCheck wanted);
[[nodiscard]] bool write_standard_output(std::span<const std::uint8_t> bytes, int& error);
[[nodiscard]] bool standard_output_is_terminal();

// Device and inode of an existing file (symbolic links followed), to tell when two names are one
// file; nothing when the file does not exist.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
[[nodiscard]] std::optional<FileIdentity> file_identity(const std::string& path);

// The system's reason for `error`, as a short text ("No such file or directory").
[[nodiscard]] std::string system_reason(int error);

}  // namespace varnic::cli
