// SPDX-License-Identifier: BSD-2-Clause
// For a program's main, before it opens anything: standard input, output and error that the
// parent left closed are opened on the null device. Otherwise the first file the program opens
// takes the number of a closed stream, and what is meant for standard output or error lands in
// that file. Header-only and standalone, so that every program of the project uses it alike.
#pragma once

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace varnic {

// False when a closed stream could not be opened; the program should then end at once.
inline bool open_closed_standard_streams() noexcept {
#if !defined(_WIN32)
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower descriptors are open by now, so the lowest free one is fd itself.
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return false;
  }
#endif
  return true;
}

}  // namespace varnic
