// Picture files and whole files through paths: the registry's path wrappers and the atomic
// writer. Kept apart from the memory functions, which builds without file access use alone.
#include "api/internal.h"
#include "imagefile/registry.h"

namespace varnic {
namespace {

Result<std::uint64_t> write_file_unguarded(const std::string& path, std::span<const std::uint8_t> bytes,
                                           Overwrite overwrite, int* system_error) {
  const imagefile::FileStatus status = imagefile::write_file_atomically(path, bytes, overwrite, system_error);
  if (status != imagefile::FileStatus::kOk) return {detail::public_status(status), imagefile::status_message(status)};
  return std::uint64_t{bytes.size()};
}

}  // namespace

Result<PictureFile> read_picture_file(const std::string& path, const Limits& limits) {
  return detail::guarded<PictureFile>([&]() -> Result<PictureFile> {
    imagefile::LoadedPicture loaded;
    std::string message;
    const imagefile::FileStatus status = imagefile::read_picture_file(path, detail::read_limits(limits), loaded, &message);
    return detail::to_public(status, loaded, message);
  });
}

Result<std::uint64_t> write_picture_file(const std::string& path, const PictureView& picture, FileKind kind,
                                         Overwrite overwrite, const EncodeOptions& options) {
  return detail::guarded<std::uint64_t>([&]() -> Result<std::uint64_t> {
    if (kind == FileKind::kUnknown) kind = imagefile::kind_from_extension(path);
    if (kind == FileKind::kUnknown)
      return {Status::kInvalidArgument, path + ": the name does not say a picture format"};
    Result<std::vector<std::uint8_t>> bytes = detail::write_picture_bytes(picture, kind, options);
    if (!bytes) return {bytes.status(), bytes.message()};
    return write_file_unguarded(path, bytes.value(), overwrite, nullptr);
  });
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path, std::uint64_t max_bytes, int* system_error) {
  return detail::guarded<std::vector<std::uint8_t>>([&]() -> Result<std::vector<std::uint8_t>> {
    std::vector<std::uint8_t> bytes;
    const imagefile::FileStatus status = imagefile::read_whole_file(path, bytes, max_bytes, system_error);
    if (status != imagefile::FileStatus::kOk) return {detail::public_status(status), imagefile::status_message(status)};
    return bytes;
  });
}

Result<std::uint64_t> write_file(const std::string& path, std::span<const std::uint8_t> bytes, Overwrite overwrite,
                                 int* system_error) {
  return detail::guarded<std::uint64_t>([&] { return write_file_unguarded(path, bytes, overwrite, system_error); });
}

void remove_unfinished_files() noexcept { imagefile::remove_temporary_files(); }

}  // namespace varnic
