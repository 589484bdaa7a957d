// SPDX-License-Identifier: BSD-2-Clause
// Whole files by path: the registry's wrappers and the desktop program's files, over the file
// functions of either platform.
#include "imagefile/registry.h"

#include <new>

namespace varnic::imagefile {

FileStatus read_picture_file(const std::string& path, const ReadLimits& limits, LoadedPicture& out,
                             std::string* message, int* system_error, const PhotoOptions& photo) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = read_whole_file(path, bytes, max_picture_file_bytes(limits), system_error);
      s != FileStatus::kOk) {
    if (message != nullptr) *message = status_message(s);
    return s;
  }
  return read_picture(bytes, path, limits, out, message, photo);
}

FileStatus write_picture_file(const std::string& path, const codec::PictureRows& rows, FileKind kind,
                              const WriteSettings& settings, Overwrite overwrite, std::string* message,
                              int* system_error) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = write_picture(rows, kind, settings, bytes, message); s != FileStatus::kOk) return s;
  const FileStatus s = write_file_atomically(path, bytes, overwrite, system_error);
  if (s != FileStatus::kOk && message != nullptr) *message = status_message(s);
  return s;
}

// The desktop program's files. A file larger than any picture within the limit is refused before
// it is read.
FileStatus read_bitmap_file(const std::string& path, PictureBuffer& out, const ReadLimits& limits) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = read_whole_file(path, bytes, max_picture_file_bytes(limits)); s != FileStatus::kOk) return s;
  return read_bitmap(bytes, out, limits);
}

FileStatus read_targa_file(const std::string& path, PictureBuffer& out, const ReadLimits& limits) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = read_whole_file(path, bytes, max_picture_file_bytes(limits)); s != FileStatus::kOk) return s;
  return read_targa(bytes, out, limits);
}

FileStatus load_compressed_file(const std::string& path, CompressedFile& out, const ReadLimits& limits) {
  std::vector<std::uint8_t> bytes;
  // A coded picture is far smaller than the raw one; anything bigger is not ours.
  if (const FileStatus s = read_whole_file(path, bytes, max_picture_file_bytes(limits)); s != FileStatus::kOk) return s;
  return load_compressed(bytes, out);
}

// Encoded whole, then written atomically: the old file stays until the new one is complete.
FileStatus save_bitmap_file(const std::string& path, const PictureBuffer& picture) {
  try {
    const std::vector<std::uint8_t> bytes = encode_bitmap(picture);
    if (bytes.empty()) return FileStatus::kCannotWrite;
    return write_file_atomically(path, bytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
}

FileStatus save_targa_file(const std::string& path, const PictureBuffer& picture) {
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
