// Loading whole .cod files: the version check of the 8-byte magic, then the
// file followed by spare zero bytes for the arithmetic decoder's look-ahead.
#include <algorithm>
#include <new>

#include "codec/memory.h"
#include "imagefile/imagefile.h"

namespace varnic::imagefile {

namespace {

constexpr std::size_t kMagicBytes = 8;

}  // namespace

FileStatus check_compressed_magic(std::span<const std::uint8_t> data) {
  if (data.size() < kMagicBytes) return FileStatus::kNotCompressed;
  if (data[0] != 'Q' || data[1] != 'V' || data[2] != 'T') return FileStatus::kNotCompressed;
  // The digits are compared as signed bytes; any major digit but '2' is "too low".
  const auto major = static_cast<std::int8_t>(data[3]);
  const auto minor = static_cast<std::int8_t>(data[5]);
  if (major != '2' || minor < '3') return FileStatus::kVersionTooLow;
  if (minor > '5') return FileStatus::kVersionTooHigh;
  return FileStatus::kOk;
}

FileStatus load_compressed(std::span<const std::uint8_t> data, CompressedFile& out) {
  if (const FileStatus status = check_compressed_magic(data); status != FileStatus::kOk) return status;
  CompressedFile file;
  try {
    codec::AssignLarge(file.bytes_, data.size() + kCompressedSpareBytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  std::copy(data.begin(), data.end(), file.bytes_.begin());
  file.file_size_ = data.size();
  out = std::move(file);
  return FileStatus::kOk;
}

}  // namespace varnic::imagefile
