// Reading files whole and writing them atomically (POSIX).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>

#include "utils/memory.h"
#include "imagefile/imagefile.h"

namespace varnic::imagefile {

namespace {

// Room for headers, colour tables, gaps before the pixel data and trailing
// bytes that some writers append, on top of the largest picture allowed.
constexpr std::uint64_t kFileSlackBytes = std::uint64_t{1} << 20;
// Symbolic-link chains longer than this are treated as loops.
constexpr int kMaxLinkDepth = 40;

std::uint64_t picture_file_cap(const ReadLimits& limits) {
  // 3 bytes per pixel plus up to 3 padding bytes per row.
  return 3 * limits.max_pixels_ + 3 * static_cast<std::uint64_t>(format::kMaxSide) + kFileSlackBytes;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
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

}  // namespace

FileStatus read_whole_file(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t max_bytes) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return FileStatus::kCannotOpen;
  struct stat st {};
  // Devices and pipes could block or never end.
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileStatus::kCannotOpen;
  const auto size = static_cast<std::uint64_t>(st.st_size);
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
      return FileStatus::kCannotOpen;
    }
    if (n == 0) break;  // shrank while being read: take what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  out = std::move(bytes);
  return FileStatus::kOk;
}

FileStatus read_bitmap_file(const std::string& path, Picture& out, const ReadLimits& limits) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = read_whole_file(path, bytes, picture_file_cap(limits)); s != FileStatus::kOk) return s;
  return read_bitmap(bytes, out, limits);
}

FileStatus read_targa_file(const std::string& path, Picture& out, const ReadLimits& limits) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = read_whole_file(path, bytes, picture_file_cap(limits)); s != FileStatus::kOk) return s;
  return read_targa(bytes, out, limits);
}

FileStatus load_compressed_file(const std::string& path, CompressedFile& out, const ReadLimits& limits) {
  std::vector<std::uint8_t> bytes;
  // A coded picture is far smaller than the raw one; anything bigger is not ours.
  if (const FileStatus s = read_whole_file(path, bytes, picture_file_cap(limits)); s != FileStatus::kOk) return s;
  return load_compressed(bytes, out);
}

FileStatus write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  namespace fs = std::filesystem;
  const fs::path target = resolve_destination(path);
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return FileStatus::kCannotOpen;

  // A hidden name beside the destination, so that the rename stays within
  // one file system and never replaces anything but the destination.
  fs::path temp;
  int raw_fd = -1;
  for (int attempt = 0; attempt < 100 && raw_fd < 0; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(::getpid()), g_temp_counter++);
    std::string name(".");
    name += target.filename().string();
    name += suffix;
    temp = dir / name;
    // 0666 lets the umask decide for a new file, as creating it directly would.
    raw_fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw_fd < 0 && errno != EEXIST) return FileStatus::kCannotOpen;
  }
  if (raw_fd < 0) return FileStatus::kCannotOpen;
  FileDescriptor fd(raw_fd);

  bool ok = true;
  if (exists) {
    // Keep the old file's permissions and, where allowed, its owner.
    ok = ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
      // Only the superuser may give a file away; the file stays ours then.
    }
  }
  ok = ok && write_all(fd.get(), bytes.data(), bytes.size());
  ok = ok && ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return FileStatus::kCannotWrite;
  }
  // Make the rename itself durable; a failure here cannot be undone and the
  // new file is already in place, so it is not reported.
  if (const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return FileStatus::kOk;
}

FileStatus save_bitmap_file(const std::string& path, const Picture& picture) {
  try {
    const std::vector<std::uint8_t> bytes = encode_bitmap(picture);
    if (bytes.empty()) return FileStatus::kCannotWrite;
    return write_file_atomically(path, bytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
}

FileStatus save_targa_file(const std::string& path, const Picture& picture) {
  try {
    const std::vector<std::uint8_t> bytes = encode_targa(picture);
    if (bytes.empty()) return FileStatus::kCannotWrite;
    return write_file_atomically(path, bytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
}

FileStatus save_compressed_file(const std::string& path, std::span<const std::uint8_t> stream) {
  return write_file_atomically(path, stream);
}

}  // namespace varnic::imagefile
