// The registry's path wrappers, over the file functions of either platform.
#include "imagefile/registry.h"

namespace varnic::imagefile {

FileStatus read_picture_file(const std::string& path, const ReadLimits& limits, LoadedPicture& out,
                             std::string* message, int* system_error) {
  std::vector<std::uint8_t> bytes;
  if (const FileStatus s = read_whole_file(path, bytes, max_picture_file_bytes(limits), system_error);
      s != FileStatus::kOk) {
    if (message != nullptr) *message = status_message(s);
    return s;
  }
  return read_picture(bytes, path, limits, out, message);
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

}  // namespace varnic::imagefile
