/* SPDX-License-Identifier: BSD-2-Clause */
/* Preloaded into varnic-cli by the fault tests: opening an unnamed file (O_TMPFILE) fails as it does
   on file systems without them, so that the named temporary files of the fallback are made. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>

typedef int (*openat_function)(int, const char*, int, ...);

static int refuse_or_open(const char* name, int dir, const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  /* ISO C has no cast from dlsym's object pointer to a function pointer; POSIX guarantees the bytes. */
  void* symbol = dlsym(RTLD_NEXT, name);
  openat_function real;
  memcpy(&real, &symbol, sizeof real);
  return real(dir, path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  return refuse_or_open("openat", dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  return refuse_or_open("openat64", dir, path, flags, mode);
}
