// SPDX-License-Identifier: BSD-2-Clause
// POSIX side of varnic-cli: signals, standard streams, file identity.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "varnic/varnic.h"
#include "system.h"

namespace varnic::cli {
namespace {

// Standard input is read in pieces of this size; its length is not known in advance.
constexpr std::size_t kStdinChunkBytes = std::size_t{1} << 20;

void write_text(const char* text) {
  ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

// Signals whose default action ends the process; each is caught to remove unfinished outputs.
constexpr int kEndingSignals[] = {SIGTERM, SIGINT,  SIGHUP,    SIGQUIT, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

// The line said on the way out; a literal per signal, as a handler may not format text.
const char* ending_message(int signal_number) {
  switch (signal_number) {
    case SIGINT: return "varnic-cli: interrupted (SIGINT); unfinished outputs removed\n";
    case SIGTERM: return "varnic-cli: terminated (SIGTERM); unfinished outputs removed\n";
    case SIGHUP: return "varnic-cli: hung up (SIGHUP); unfinished outputs removed\n";
    case SIGQUIT: return "varnic-cli: quit (SIGQUIT); unfinished outputs removed\n";
    case SIGUSR1: return "varnic-cli: ended by SIGUSR1; unfinished outputs removed\n";
    case SIGUSR2: return "varnic-cli: ended by SIGUSR2; unfinished outputs removed\n";
    case SIGALRM: return "varnic-cli: alarm (SIGALRM); unfinished outputs removed\n";
    case SIGVTALRM: return "varnic-cli: virtual timer (SIGVTALRM); unfinished outputs removed\n";
    case SIGPROF: return "varnic-cli: profiling timer (SIGPROF); unfinished outputs removed\n";
    case SIGXCPU: return "varnic-cli: CPU time limit (SIGXCPU); unfinished outputs removed\n";
    default: return "varnic-cli: ended by a signal; unfinished outputs removed\n";
  }
}

// Only async-signal-safe calls: unlink, write, _exit.
extern "C" void on_ending_signal(int signal_number) {
  varnic::remove_unfinished_files();
  write_text(ending_message(signal_number));
  _exit(128 + signal_number);
}

}  // namespace

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kEndingSignals) sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : kEndingSignals) {
    // A signal the parent set to be ignored (nohup, a background job) stays ignored.
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
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
    const ssize_t n = ::read(STDIN_FILENO, out.data() + have, kStdinChunkBytes);
    if (n < 0 && errno == EINTR) {
      out.resize(have);
      continue;
    }
    out.resize(have + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n < 0) {
      error = errno;
      return false;
    }
    if (n == 0) return true;
    if (out.size() > max_bytes) {
      error = EFBIG;
      return false;
    }
  }
}

bool write_standard_output(std::span<const std::uint8_t> bytes, int& error) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

bool standard_output_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

std::optional<FileIdentity> file_identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string system_reason(int error) {
  return error == 0 ? "not a regular file" : std::generic_category().message(error);
}

}  // namespace varnic::cli
