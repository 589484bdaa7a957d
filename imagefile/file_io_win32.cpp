// SPDX-License-Identifier: BSD-2-Clause
// Reading files whole and writing them atomically (Windows). Paths are UTF-8 and go to the wide
// calls; a finished, flushed temporary file takes the old file's attributes and is moved over
// it with MoveFileExW, write-through; without MOVEFILE_REPLACE_EXISTING the move never replaces
// a file, which is how Overwrite::kRefuse holds against other processes. (ReplaceFileW would keep
// the old file's security as well, but some implementations leave a temporary file of their own
// behind when it fails.) System errors are reported as the C library's errno values, so that the
// tools word them as on other systems.
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <new>

#include "utils/memory.h"
#include "imagefile/imagefile.h"
#include "imagefile/utf16.h"

namespace varnic::imagefile {

namespace {

// ReadFile and WriteFile count in 32 bits; a call moves at most this much.
constexpr DWORD kMaxTransfer = DWORD{1} << 30;
// Named temporary files that can be pending at once for the Ctrl+C handler to find: one per
// writing thread is the most the tools use.
constexpr int kMaxPendingTemporaries = 256;
// Longest temporary path kept for the handler (the wide calls take up to 32767 characters; longer
// temporaries are still removed on every failure, only not by the handler).
constexpr std::size_t kMaxPendingPath = 1024;

// The errno value of a Windows error, for the ones the tools tell apart; EIO for the rest.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
  }
}

// Temporary files in the making, where the Ctrl+C handler (which runs on a thread of its own)
// can reach them: the path is complete before `state_` says so.
struct PendingTemporary {
  std::atomic<int> state_{0};  // 0 free, 1 being filled in, 2 ready to remove
  wchar_t path_[kMaxPendingPath] = {};
};
PendingTemporary g_pending[kMaxPendingTemporaries];

PendingTemporary* register_temporary(const std::wstring& path) {
  if (path.size() >= kMaxPendingPath) return nullptr;
  for (PendingTemporary& slot : g_pending) {
    int expected = 0;
    if (!slot.state_.compare_exchange_strong(expected, 1)) continue;
    std::wmemcpy(slot.path_, path.c_str(), path.size() + 1);
    slot.state_.store(2);
    return &slot;
  }
  return nullptr;
}

void release_temporary(PendingTemporary* slot) {
  if (slot != nullptr) slot->state_.store(0);
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE h) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }
  // Closes now and reports the result: a delayed write error can show here.
  bool close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

bool write_all(HANDLE h, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

std::atomic<unsigned> g_temp_counter{0};

}  // namespace

void remove_temporary_files() noexcept {
  for (PendingTemporary& slot : g_pending) {
    if (slot.state_.load() == 2) DeleteFileW(slot.path_);
  }
}

namespace {

// A regular file opened for reading, with its size; devices and pipes are refused, since they
// could block.
FileStatus open_regular_file(const std::string& path, DWORD flags, Handle& file, std::uint64_t& size, int& error) {
  const std::wstring wide = widen(path);
  if (wide.empty()) {
    error = ENOENT;
    return FileStatus::kCannotOpen;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = EISDIR;
    return FileStatus::kCannotOpen;
  }
  file.reset(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | flags, nullptr));
  if (!file.valid()) {
    error = errno_of(GetLastError());
    return FileStatus::kCannotOpen;
  }
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    error = 0;
    return FileStatus::kCannotOpen;
  }
  LARGE_INTEGER bytes{};
  if (!GetFileSizeEx(file.get(), &bytes) || bytes.QuadPart < 0) {
    error = errno_of(GetLastError());
    return FileStatus::kCannotOpen;
  }
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return FileStatus::kOk;
}

}  // namespace

FileStatus read_whole_file(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t max_bytes,
                           int* system_error) {
  int ignored = 0;
  int& error = system_error != nullptr ? *system_error : ignored;
  Handle file(INVALID_HANDLE_VALUE);
  std::uint64_t size = 0;
  if (const FileStatus status = open_regular_file(path, FILE_FLAG_SEQUENTIAL_SCAN, file, size, error);
      status != FileStatus::kOk)
    return status;
  if (size > max_bytes) return FileStatus::kFileTooLarge;
  if (size > SIZE_MAX) return FileStatus::kOutOfMemory;
  std::vector<std::uint8_t> bytes;
  try {
    utils::assign_large(bytes, static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + done, left > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(left), &got,
                  nullptr)) {
      error = errno_of(GetLastError());
      return FileStatus::kCannotOpen;
    }
    if (got == 0) break;  // shrank while being read: take what is there
    done += got;
  }
  bytes.resize(done);
  out = std::move(bytes);
  return FileStatus::kOk;
}

FileStatus read_file_pieces(const std::string& path, const PieceUser& use, int* system_error) {
  int ignored = 0;
  int& error = system_error != nullptr ? *system_error : ignored;
  Handle file(INVALID_HANDLE_VALUE);
  std::uint64_t size = 0;
  if (const FileStatus status = open_regular_file(path, FILE_FLAG_RANDOM_ACCESS, file, size, error);
      status != FileStatus::kOk)
    return status;
  return use(size, [&](std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
      const std::size_t left = out.size() - done;
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>((offset + done) & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
      DWORD got = 0;
      if (!ReadFile(file.get(), out.data() + done, left > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(left), &got,
                    &at) ||
          got == 0)
        return false;
      done += got;
    }
    return true;
  });
}

FileStatus write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes, Overwrite overwrite,
                                 int* system_error) {
  int ignored = 0;
  int& error = system_error != nullptr ? *system_error : ignored;
  const bool refuse = overwrite == Overwrite::kRefuse;
  const std::wstring target = widen(path);
  if (target.empty()) {
    error = ENOENT;
    return FileStatus::kCannotOpen;
  }
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && refuse) {
    error = EEXIST;
    return FileStatus::kCannotWrite;
  }
  if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    error = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : 0;
    return FileStatus::kCannotOpen;
  }

  // A hidden name beside the destination, so that the final move stays on one volume.
  const std::size_t cut = target.find_last_of(L"\\/:");
  const std::wstring dir = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut + 1);
  const std::wstring name = cut == std::wstring::npos ? target : target.substr(cut + 1);
  std::wstring temp;
  HANDLE raw = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
    wchar_t suffix[48];
    std::swprintf(suffix, 48, L".%lu.%u.tmp", GetCurrentProcessId(), g_temp_counter++);
    temp = dir + L"." + name + suffix;
    raw = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (raw == INVALID_HANDLE_VALUE) {
    error = errno_of(GetLastError());
    return FileStatus::kCannotOpen;
  }
  PendingTemporary* pending = register_temporary(temp);
  Handle file(raw);

  bool ok = write_all(file.get(), bytes.data(), bytes.size());
  ok = ok && FlushFileBuffers(file.get()) != 0;
  if (!ok) error = errno_of(GetLastError());
  if (!file.close() && ok) {
    ok = false;
    error = errno_of(GetLastError());
  }
  // A hidden or system old file stays so.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (ok && exists && (attributes & kKept) != 0) ok = SetFileAttributesW(temp.c_str(), attributes & kKept) != 0;
  if (ok) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (refuse ? 0 : MOVEFILE_REPLACE_EXISTING);
    ok = MoveFileExW(temp.c_str(), target.c_str(), flags) != 0;
    if (!ok) error = errno_of(GetLastError());
  }
  if (!ok) {
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp.c_str());
  }
  release_temporary(pending);
  return ok ? FileStatus::kOk : FileStatus::kCannotWrite;
}

FileStatus write_file_atomically(const std::string& path, const std::function<bool(const ByteWriter& write)>& produce,
                                 Overwrite overwrite, int* system_error) {
  // Gathered first: the Windows writer takes the whole file.
  std::vector<std::uint8_t> bytes;
  try {
    if (!produce([&](std::span<const std::uint8_t> piece) {
          bytes.insert(bytes.end(), piece.begin(), piece.end());
          return true;
        })) {
      if (system_error != nullptr) *system_error = 0;
      return FileStatus::kCannotWrite;
    }
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  return write_file_atomically(path, bytes, overwrite, system_error);
}

}  // namespace varnic::imagefile
