// SPDX-License-Identifier: BSD-2-Clause
// Picture files by rows: the rows of a stored file read where they lie, and files written as their
// rows are made, for pictures too large to hold whole.
#include <algorithm>
#include <filesystem>
#include <new>

#include "imagefile/registry.h"

namespace varnic::imagefile {
namespace {

std::filesystem::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

}  // namespace

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

bool StoredRowReader::read(std::uint32_t row, std::span<std::uint8_t> out) {
  const std::size_t bytes = std::size_t{rows_.width} * (rows_.grey ? 1 : 3);
  if (row >= rows_.height || out.size() < bytes) return false;
  const std::uint32_t stored = rows_.top_down ? row : rows_.height - 1 - row;
  const std::lock_guard lock(mutex_);
  file_.seekg(static_cast<std::streamoff>(rows_.pixel_offset + std::uint64_t{rows_.stride} * stored));
  file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(bytes));
  return static_cast<bool>(file_);
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
