// SPDX-License-Identifier: BSD-2-Clause
// Picture files by rows: the rows of a stored file read where they lie, and files written as their
// rows are made, for pictures too large to hold whole.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>

#include "imagefile/registry.h"

namespace varnic::imagefile {

#if defined(_WIN32)

namespace {

std::filesystem::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

}  // namespace

StoredRowReader::~StoredRowReader() = default;

FileStatus StoredRowReader::open(const std::string& path, const ReadLimits& limits) {
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(as_path(path), error);
  if (error) return FileStatus::kCannotOpen;
  file_.open(as_path(path), std::ios::binary);
  if (!file_) return FileStatus::kCannotOpen;
  std::vector<std::uint8_t> head(kStoredRowsHeadBytes);
  file_.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file_.gcount()));
  file_.clear();
  const FormatEntry* entry = find_format(sniff_kind(head, path));
  if (entry == nullptr || entry->stored_rows == nullptr || !entry->stored_rows(head, size, limits, rows_)) {
    file_.close();
    return FileStatus::kUnknownKind;
  }
  return FileStatus::kOk;
}

bool StoredRowReader::read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  const std::lock_guard lock(mutex_);
  file_.seekg(static_cast<std::streamoff>(offset));
  file_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
  return static_cast<bool>(file_);
}

#else

StoredRowReader::~StoredRowReader() {
  if (fd_ >= 0) ::close(fd_);
}

FileStatus StoredRowReader::open(const std::string& path, const ReadLimits& limits) {
  // Without blocking: a pipe is refused, not waited on (regular files read as ever).
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return FileStatus::kCannotOpen;
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return FileStatus::kCannotOpen;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(kStoredRowsHeadBytes, size)));
  const FormatEntry* entry = read_at(0, head.data(), head.size()) ? find_format(sniff_kind(head, path)) : nullptr;
  if (entry == nullptr || entry->stored_rows == nullptr || !entry->stored_rows(head, size, limits, rows_)) {
    ::close(fd_);
    fd_ = -1;
    return FileStatus::kUnknownKind;
  }
  return FileStatus::kOk;
}

bool StoredRowReader::read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  while (n > 0) {
    const ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

#endif

bool StoredRowReader::read(std::uint32_t row, std::span<std::uint8_t> out) {
  const std::size_t bytes = std::size_t{rows_.width} * (rows_.grey ? 1 : 3);
  if (row >= rows_.height || out.size() < bytes) return false;
  const std::uint32_t stored = rows_.top_down ? row : rows_.height - 1 - row;
  return read_at(rows_.pixel_offset + std::uint64_t{rows_.stride} * stored, out.data(), bytes);
}

FileStatus write_picture_file_by_rows(const std::string& path, FileKind kind, const WriteSettings& settings,
                                      const std::function<bool(const RowFileSink& sink)>& produce, Overwrite overwrite,
                                      std::string* message, int* system_error) {
  if (!writes_by_rows(kind)) {
    if (message != nullptr) *message = status_message(FileStatus::kUnknownKind);
    return FileStatus::kUnknownKind;
  }
  FileStatus written = FileStatus::kOk;
  std::string why;
  const FileStatus status = write_file_atomically(
      path,
      [&](const ByteWriter& write) {
        written = write_picture_by_rows(kind, settings, produce, write, &why);
        return written == FileStatus::kOk;
      },
      overwrite, system_error);
  if (written != FileStatus::kOk && written != FileStatus::kCannotWrite) {
    // The format refused the picture: no file system error to report.
    if (message != nullptr) *message = why;
    return written;
  }
  if (status != FileStatus::kOk && message != nullptr) *message = status_message(status);
  return status;
}

}  // namespace varnic::imagefile
