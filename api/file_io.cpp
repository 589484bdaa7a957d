// SPDX-License-Identifier: BSD-2-Clause
// Picture files and whole files through paths: the registry's path wrappers and the atomic
// writer. Kept apart from the memory functions, which builds without file access use alone.
#include <filesystem>
#include <memory>

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

Result<Info> probe_file(const std::string& path, const Limits& limits, int* system_error) {
  return detail::guarded<Info>([&]() -> Result<Info> {
    Result<Info> result(Status::kInvalidFile, "");
    const auto probe_pieces = [&](std::uint64_t size, const imagefile::PieceReader& read) {
      format::FileHeader header;
      format::StatusCode status = format::parse_header(read, size, limits.max_pixels, header);
      if (status == format::StatusCode::kOk) {
        result = detail::info_from_header(header, size);
      } else if (status == format::StatusCode::kFilePictureTooLarge &&
                 format::parse_header(read, size, UINT64_MAX, header) == format::StatusCode::kOk) {
        result = {Status::kLimitExceeded, imagefile::pixel_limit_message(header.params.image_width,
                                                                         header.params.image_height, limits.max_pixels)};
      } else {
        result = detail::failure<Info>(status);
      }
      return imagefile::FileStatus::kOk;
    };
    const imagefile::FileStatus status = imagefile::read_file_pieces(path, probe_pieces, system_error);
    if (status != imagefile::FileStatus::kOk) return {detail::public_status(status), imagefile::status_message(status)};
    return result;
  });
}

Result<PictureFile> read_picture_file(const std::string& path, const Limits& limits, const ReadOptions& options) {
  return detail::guarded<PictureFile>([&]() -> Result<PictureFile> {
    imagefile::LoadedPicture loaded;
    std::string message;
    const imagefile::FileStatus status = imagefile::read_picture_file(path, detail::read_limits(limits), loaded,
                                                                      &message, nullptr, detail::photo_options(options));
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

Result<PictureSource> open_picture_rows(const std::string& path, const Limits& limits) {
  return detail::guarded<PictureSource>([&]() -> Result<PictureSource> {
    auto reader = std::make_shared<imagefile::StoredRowReader>();
    const imagefile::FileStatus status = reader->open(path, detail::read_limits(limits));
    if (status == imagefile::FileStatus::kUnknownKind)
      return {Status::kInvalidArgument, path + ": the rows are not stored plainly: read the picture whole"};
    if (status != imagefile::FileStatus::kOk) return {detail::public_status(status), imagefile::status_message(status)};
    PictureSource source;
    source.width = reader->rows().width;
    source.height = reader->rows().height;
    source.format = reader->rows().grey ? PixelFormat::kGrey8 : PixelFormat::kBgr24;
    source.read_row = [reader](std::uint32_t row, std::span<std::uint8_t> out) { return reader->read(row, out); };
    return source;
  });
}

Result<WrittenPicture> decode_to_file(std::span<const std::uint8_t> file, const std::string& path, FileKind kind,
                                      Overwrite overwrite, const DecodeOptions& options, int* system_error) {
  return detail::guarded<WrittenPicture>([&]() -> Result<WrittenPicture> {
    if (!imagefile::writes_by_rows(kind)) return {Status::kInvalidArgument, "pictures are decoded into bmp, tga, png or pnm"};
    Result<WrittenPicture> by_rows =
        detail::decode_by_rows(file, options, [&](const detail::RowProducer& produce, std::string& message) {
          return imagefile::write_picture_file_by_rows(path, kind, detail::row_write_settings(options), produce, overwrite,
                                                       &message, system_error);
        });
    if (!by_rows) return by_rows;
    std::error_code error;
    by_rows.value().bytes = std::filesystem::file_size(std::u8string(path.begin(), path.end()), error);
    return by_rows;
  });
}

void remove_unfinished_files() noexcept { imagefile::remove_temporary_files(); }

}  // namespace varnic
