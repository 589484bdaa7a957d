// SPDX-License-Identifier: BSD-2-Clause
// Reading files whole or piece by piece, and writing them atomically (POSIX).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "utils/memory.h"
#include "imagefile/imagefile.h"

namespace varnic::imagefile {

namespace {

// Symbolic-link chains longer than this are treated as loops.
constexpr int kMaxLinkDepth = 40;
// The longest file name most file systems take (NAME_MAX): temporary names are kept within it.
constexpr std::size_t kMaxNameBytes = 255;
// Named temporary files that can be pending at once for the signal handler to find: one per
// writing thread is the most the tools use.
constexpr int kMaxPendingTemporaries = 256;
// Bytes written between the requests that start the disk on them.
constexpr std::uint64_t kWritebackBytes = std::uint64_t{8} << 20;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the result: close can be where a delayed write error shows.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The file a path finally names, following symbolic links, so that the
// temporary file is made beside the real file and the link itself survives.
std::filesystem::path resolve_destination(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path target(path);
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(target, ec))) break;
    const fs::path link = fs::read_symlink(target, ec);
    if (ec) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  return target;
}

std::atomic<unsigned> g_temp_counter{0};

// Named temporary files in the making, kept where a signal handler can reach them: the directory
// stays open while its slot is claimed, and the name is complete before `state_` says so.
struct PendingTemporary {
  std::atomic<int> state_{0};  // 0 free, 1 being filled in, 2 ready to remove
  int dir_fd_ = -1;
  char name_[kMaxNameBytes + 1] = {};
};
PendingTemporary g_pending[kMaxPendingTemporaries];

// A claimed slot for `name` in `dir_fd`, or nullptr when every slot is taken (the file is then
// still removed on every failure, but a signal may leave it behind).
PendingTemporary* register_temporary(int dir_fd, const std::string& name) {
  for (PendingTemporary& slot : g_pending) {
    int expected = 0;
    if (!slot.state_.compare_exchange_strong(expected, 1)) continue;
    slot.dir_fd_ = dir_fd;
    std::snprintf(slot.name_, sizeof slot.name_, "%s", name.c_str());
    slot.state_.store(2);
    return &slot;
  }
  return nullptr;
}

void release_temporary(PendingTemporary* slot) {
  if (slot != nullptr) slot->state_.store(0);
}

// ".NAME.PID.N.tmp" beside the destination, with NAME cut short when the whole would not fit
// in a file name.
std::string temporary_name(const std::string& name) {
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(::getpid()), g_temp_counter++);
  const std::size_t room = kMaxNameBytes - 1 - std::strlen(suffix);
  std::string temp(".");
  temp.append(name, 0, room);
  return temp.append(suffix);
}

// Names a file opened with O_TMPFILE.
bool link_unnamed(int fd, int dir_fd, const char* name) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, self, dir_fd, name, AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) return false;
  // Without /proc: the same link straight from the descriptor, where privileges allow it.
  return ::linkat(fd, "", dir_fd, name, AT_EMPTY_PATH) == 0;
}

}  // namespace

void remove_temporary_files() noexcept {
  for (PendingTemporary& slot : g_pending) {
    if (slot.state_.load() == 2) ::unlinkat(slot.dir_fd_, slot.name_, 0);
  }
}

namespace {

// A regular file opened for reading, with its size; devices and pipes could block or never end.
FileStatus open_regular_file(const std::string& path, FileDescriptor& fd, std::uint64_t& size, int& error) {
  // Without O_NONBLOCK, opening a pipe waits for a writer that may never come.
  fd = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    error = errno;
    return FileStatus::kCannotOpen;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    error = errno;
    return FileStatus::kCannotOpen;
  }
  if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : 0;
    return FileStatus::kCannotOpen;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  return FileStatus::kOk;
}

}  // namespace

FileStatus read_whole_file(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t max_bytes,
                           int* system_error) {
  int ignored = 0;
  int& error = system_error != nullptr ? *system_error : ignored;
  FileDescriptor fd(-1);
  std::uint64_t size = 0;
  if (const FileStatus status = open_regular_file(path, fd, size, error); status != FileStatus::kOk) return status;
  if (size > max_bytes) return FileStatus::kFileTooLarge;
  std::vector<std::uint8_t> bytes;
  try {
    utils::assign_large(bytes, static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return FileStatus::kCannotOpen;
    }
    if (n == 0) break;  // shrank while being read: take what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  out = std::move(bytes);
  return FileStatus::kOk;
}

FileStatus read_file_pieces(const std::string& path, const PieceUser& use, int* system_error) {
  int ignored = 0;
  int& error = system_error != nullptr ? *system_error : ignored;
  FileDescriptor fd(-1);
  std::uint64_t size = 0;
  if (const FileStatus status = open_regular_file(path, fd, size, error); status != FileStatus::kOk) return status;
  return use(size, [&](std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = ::pread(fd.get(), out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  });
}

FileStatus write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                 Overwrite overwrite, int* system_error) {
  return write_file_atomically(
      path, [bytes](const ByteWriter& write) { return write(bytes); }, overwrite, system_error);
}

FileStatus write_file_atomically(const std::string& path, const std::function<bool(const ByteWriter& write)>& produce,
                                 Overwrite overwrite, int* system_error) {
  namespace fs = std::filesystem;
  int ignored = 0;
  int& error = system_error != nullptr ? *system_error : ignored;
  const fs::path target = resolve_destination(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  const std::string name = target.filename().string();
  const bool refuse = overwrite == Overwrite::kRefuse;

  FileDescriptor dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd.get() < 0) {
    error = errno;
    return FileStatus::kCannotOpen;
  }
  struct stat existing {};
  const bool exists = ::fstatat(dir_fd.get(), name.c_str(), &existing, 0) == 0;
  if (exists && (refuse || !S_ISREG(existing.st_mode))) {
    error = refuse ? EEXIST : S_ISDIR(existing.st_mode) ? EISDIR : 0;
    return refuse ? FileStatus::kCannotWrite : FileStatus::kCannotOpen;
  }

  // An unnamed file first: nothing is visible until it is complete. Where the file system has
  // no such files, a hidden name beside the destination, so that the rename stays within one
  // file system and never replaces anything but the destination. 0666 lets the umask decide
  // for a new file, as creating it directly would.
  int raw_fd = ::openat(dir_fd.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  const bool unnamed = raw_fd >= 0;
  std::string temp;
  PendingTemporary* pending = nullptr;
  for (int attempt = 0; attempt < 100 && raw_fd < 0; ++attempt) {
    temp = temporary_name(name);
    // Registered before the file exists, so that a signal the instant after it is made finds
    // its name. The name carries this process's id: nothing of another live process is removed.
    pending = register_temporary(dir_fd.get(), temp);
    raw_fd = ::openat(dir_fd.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw_fd >= 0) break;
    const int open_error = errno;
    release_temporary(pending);
    pending = nullptr;
    errno = open_error;
    if (open_error != EEXIST) break;
  }
  if (raw_fd < 0) {
    error = errno;
    return FileStatus::kCannotOpen;
  }
  FileDescriptor fd(raw_fd);

  bool ok = true;
  if (exists) {
    // Keep the old file's permissions and, where allowed, its owner.
    ok = ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
      // Only the superuser may give a file away; the file stays ours then.
    }
  }
  if (ok) {
    int write_error = 0;
#if defined(SYNC_FILE_RANGE_WRITE)
    std::uint64_t written = 0;
    std::uint64_t flushed = 0;
#endif
    ok = produce([&](std::span<const std::uint8_t> piece) {
      if (!write_all(fd.get(), piece.data(), piece.size())) {
        write_error = errno;
        return false;
      }
#if defined(SYNC_FILE_RANGE_WRITE)
      written += piece.size();
      // The disk starts on what is written while the rest is made, so that the fsync below
      // waits for the last stretch only, not for a whole large picture.
      if (written - flushed >= kWritebackBytes) {
        ::sync_file_range(fd.get(), static_cast<off_t>(flushed), static_cast<off_t>(written - flushed),
                          SYNC_FILE_RANGE_WRITE);
        flushed = written;
      }
#endif
      return true;
    });
    if (!ok) errno = write_error;
  }
  ok = ok && ::fsync(fd.get()) == 0;
  if (ok && unnamed) {
    // The complete file gets a name: the destination itself when nothing is there (the link
    // fails if something appeared meanwhile, which only a replacing write then replaces), else a
    // temporary name to rename over the destination. No name ever holds a partial file.
    bool linked = false;
    if (refuse || !exists) {
      linked = link_unnamed(fd.get(), dir_fd.get(), name.c_str());
      ok = linked || (!refuse && errno == EEXIST);
    }
    if (ok && !linked) {
      temp = temporary_name(name);
      pending = register_temporary(dir_fd.get(), temp);
      ok = link_unnamed(fd.get(), dir_fd.get(), temp.c_str());
    }
    if (!ok || linked) temp.clear();
  }
  if (!ok) error = errno;
  if (!fd.close() && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !temp.empty()) {
    if (!refuse) {
      ok = ::renameat(dir_fd.get(), temp.c_str(), dir_fd.get(), name.c_str()) == 0;
    } else {
      ok = ::renameat2(dir_fd.get(), temp.c_str(), dir_fd.get(), name.c_str(), RENAME_NOREPLACE) == 0;
      if (!ok && (errno == EINVAL || errno == ENOSYS)) {  // not on this file system: link, unlink
        ok = ::linkat(dir_fd.get(), temp.c_str(), dir_fd.get(), name.c_str(), 0) == 0;
      }
    }
    if (!ok) error = errno;
  }
  // A rename took the temporary name away; after a link or a failure it goes now.
  if (!temp.empty() && (!ok || refuse)) ::unlinkat(dir_fd.get(), temp.c_str(), 0);
  release_temporary(pending);
  if (!ok) return FileStatus::kCannotWrite;
  // Make the new name itself durable; a failure here cannot be undone and the new file is
  // already in place, so it is not reported.
  ::fsync(dir_fd.get());
  return FileStatus::kOk;
}

}  // namespace varnic::imagefile
