// Loading whole .cod files: the format's version check, then the file followed by spare zero
// bytes for the arithmetic decoder's look-ahead.
#include <algorithm>
#include <new>

#include "imagefile/imagefile.h"
#include "utils/memory.h"

namespace varnic::imagefile {

FileStatus load_compressed(std::span<const std::uint8_t> data, CompressedFile& out) {
  switch (format::check_version(data)) {
    case format::StatusCode::kOk: break;
    case format::StatusCode::kVersionTooLow: return FileStatus::kVersionTooLow;
    case format::StatusCode::kVersionTooHigh: return FileStatus::kVersionTooHigh;
    default: return FileStatus::kNotCompressed;
  }
  CompressedFile file;
  try {
    utils::assign_large(file.bytes, data.size() + format::kSpareBytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  std::copy(data.begin(), data.end(), file.bytes.begin());
  file.file_size = data.size();
  out = std::move(file);
  return FileStatus::kOk;
}

}  // namespace varnic::imagefile
