// SPDX-License-Identifier: BSD-2-Clause
// The C interface's picture files: the C++ interface's readers and writers, with pictures handed
// over top-down and packed in memory that varnic_free releases.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

#include "api/c_interface.h"

namespace varnic::c_interface {
namespace {

std::optional<FileKind> file_kind(varnic_file_kind kind) {
  switch (kind) {
    case VARNIC_FILE_UNKNOWN: return FileKind::kUnknown;
    case VARNIC_FILE_BMP: return FileKind::kBmp;
    case VARNIC_FILE_TGA: return FileKind::kTga;
    case VARNIC_FILE_PNG: return FileKind::kPng;
    case VARNIC_FILE_PNM: return FileKind::kPnm;
    case VARNIC_FILE_COD: return FileKind::kCod;
    case VARNIC_FILE_JPEG: return FileKind::kJpeg;
    case VARNIC_FILE_TIFF: return FileKind::kTiff;
    case VARNIC_FILE_WEBP: return FileKind::kWebp;
  }
  fail(VARNIC_ERROR_INVALID_ARGUMENT, "file kind " + std::to_string(static_cast<int>(kind)) + " is not one of varnic_file_kind");
  return std::nullopt;
}

varnic_file_kind kind_to_c(FileKind kind) {
  switch (kind) {
    case FileKind::kUnknown: return VARNIC_FILE_UNKNOWN;
    case FileKind::kBmp: return VARNIC_FILE_BMP;
    case FileKind::kTga: return VARNIC_FILE_TGA;
    case FileKind::kPng: return VARNIC_FILE_PNG;
    case FileKind::kPnm: return VARNIC_FILE_PNM;
    case FileKind::kCod: return VARNIC_FILE_COD;
    case FileKind::kJpeg: return VARNIC_FILE_JPEG;
    case FileKind::kTiff: return VARNIC_FILE_TIFF;
    case FileKind::kWebp: return VARNIC_FILE_WEBP;
  }
  return VARNIC_FILE_UNKNOWN;
}

// Hands a picture read to the caller as the file stores it (bottom-up, blue first, padded rows
// for a bitmap), so that it is copied once, and the notices as lines.
varnic_status hand_over(Result<PictureFile>& read, varnic_picture* picture, varnic_file_kind* kind, char** notices) {
  if (!read) return fail(read);
  const Picture& in = read.value().picture;
  std::string lines;
  for (const std::string& notice : read.value().notices) lines += notice + "\n";
  std::unique_ptr<std::uint8_t, decltype(&std::free)> pixels(library_copy(in.pixels), &std::free);
  char* text = nullptr;
  if (notices != nullptr && !lines.empty())
    text = reinterpret_cast<char*>(library_copy({reinterpret_cast<const std::uint8_t*>(lines.c_str()), lines.size() + 1}));
  *picture = varnic_picture{pixels.release(), in.width, in.height, in.stride(), to_c(in.format), in.bottom_up ? 1 : 0};
  if (kind != nullptr) *kind = kind_to_c(read.value().kind);
  if (notices != nullptr) *notices = text;
  return VARNIC_OK;
}

ReadOptions read_options(const varnic_decoder* decoder) { return decoder != nullptr ? decoder->read : ReadOptions{}; }

// A file failure named for a person: the path, the library's words and the system's reason.
std::string file_message(const char* path, const std::string& message, int error) {
  std::string text = std::string(path) + ": " + message;
  if (error != 0) text += " (" + std::generic_category().message(error) + ")";
  return text;
}

// The caller's picture and file kind, checked; nullopt with the error recorded otherwise.
std::optional<std::pair<PictureView, FileKind>> write_arguments(const varnic_picture* picture, varnic_file_kind kind) {
  varnic_status status = VARNIC_OK;
  if (missing(picture, "picture", status)) return std::nullopt;
  const std::optional<PictureView> view = view_of(*picture);
  const std::optional<FileKind> file = view ? file_kind(kind) : std::nullopt;
  if (!file) return std::nullopt;
  return std::pair(*view, *file);
}

varnic_status write_bytes(const char* path, std::span<const std::uint8_t> bytes, int replace) {
  int error = 0;
  Result<std::uint64_t> written = write_file(path, bytes, replace != 0 ? Overwrite::kReplace : Overwrite::kRefuse, &error);
  if (written) return VARNIC_OK;
  if (written.status() != Status::kFileError) return fail(written);
  return fail(VARNIC_ERROR_FILE, error == EEXIST && replace == 0
                                     ? std::string(path) + ": the file exists and is not replaced"
                                     : file_message(path, written.message(), error));
}

}  // namespace
}  // namespace varnic::c_interface

using namespace varnic;
using namespace varnic::c_interface;

extern "C" {

varnic_file_kind varnic_kind_from_extension(const char* path) {
  return path == nullptr ? VARNIC_FILE_UNKNOWN : kind_to_c(kind_from_extension(path));
}

varnic_file_kind varnic_sniff_kind(const uint8_t* data, size_t size, const char* name_hint) {
  if (data == nullptr) size = 0;
  return kind_to_c(sniff_kind(std::span(data, size), name_hint == nullptr ? "" : name_hint));
}

const char* varnic_kind_extension(varnic_file_kind kind) {
  switch (kind) {
    // The library's extensions are literals, which end in a NUL.
    case VARNIC_FILE_BMP: return extension_of(FileKind::kBmp).data();
    case VARNIC_FILE_TGA: return extension_of(FileKind::kTga).data();
    case VARNIC_FILE_PNG: return extension_of(FileKind::kPng).data();
    case VARNIC_FILE_PNM: return extension_of(FileKind::kPnm).data();
    case VARNIC_FILE_COD: return extension_of(FileKind::kCod).data();
    case VARNIC_FILE_JPEG: return extension_of(FileKind::kJpeg).data();
    case VARNIC_FILE_TIFF: return extension_of(FileKind::kTiff).data();
    case VARNIC_FILE_WEBP: return extension_of(FileKind::kWebp).data();
    case VARNIC_FILE_UNKNOWN: break;
  }
  return "";
}

varnic_status varnic_read_info_file(const varnic_decoder* decoder, const char* path, varnic_info* info) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(path, "path", status) || missing(info, "info", status)) return status;
    int error = 0;
    Result<Info> probed = probe_file(path, decode_options(decoder).limits, &error);
    if (probed.status() == Status::kFileError) {
      return fail(VARNIC_ERROR_FILE, file_message(path, probed.message(), error));
    }
    if (!probed) return fail(probed);
    *info = info_to_c(probed.value());
    return VARNIC_OK;
  });
}

varnic_status varnic_read_picture_file(const varnic_decoder* decoder, const char* path, varnic_picture* picture,
                                       varnic_file_kind* kind, char** notices) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(path, "path", status) || missing(picture, "picture", status)) return status;
    Result<PictureFile> read = read_picture_file(path, decode_options(decoder).limits, read_options(decoder));
    if (read.status() == Status::kFileError) {
      // The reader does not say why the system refused: ask it again.
      std::FILE* file = std::fopen(path, "rb");
      const int error = file == nullptr ? errno : 0;
      if (file != nullptr) std::fclose(file);
      return fail(VARNIC_ERROR_FILE, file_message(path, read.message(), error));
    }
    return hand_over(read, picture, kind, notices);
  });
}

varnic_status varnic_read_picture(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                  const char* name_hint, varnic_picture* picture, varnic_file_kind* kind,
                                  char** notices) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if ((size != 0 && missing(data, "data", status)) || missing(picture, "picture", status)) return status;
    Result<PictureFile> read = read_picture(std::span(data, size), name_hint == nullptr ? "" : name_hint,
                                            decode_options(decoder).limits, read_options(decoder));
    return hand_over(read, picture, kind, notices);
  });
}

varnic_status varnic_write_picture_file(const varnic_encoder* encoder, const char* path, const varnic_picture* picture,
                                        varnic_file_kind kind, int replace, uint64_t* bytes_written) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(path, "path", status)) return status;
    const auto arguments = write_arguments(picture, kind);
    if (!arguments) return VARNIC_ERROR_INVALID_ARGUMENT;
    FileKind file = arguments->second;
    if (file == FileKind::kUnknown) file = kind_from_extension(path);
    if (file == FileKind::kUnknown)
      return fail(VARNIC_ERROR_INVALID_ARGUMENT, std::string(path) + ": the name does not say a picture format");
    Result<std::vector<std::uint8_t>> bytes = write_picture(arguments->first, file, encode_options(encoder));
    if (!bytes) return fail(bytes);
    if (status = write_bytes(path, bytes.value(), replace); status == VARNIC_OK && bytes_written != nullptr)
      *bytes_written = bytes.value().size();
    return status;
  });
}

varnic_status varnic_write_picture(const varnic_encoder* encoder, const varnic_picture* picture, varnic_file_kind kind,
                                   uint8_t** data, size_t* size) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(data, "data", status) || missing(size, "size", status)) return status;
    const auto arguments = write_arguments(picture, kind);
    if (!arguments) return VARNIC_ERROR_INVALID_ARGUMENT;
    Result<std::vector<std::uint8_t>> bytes = write_picture(arguments->first, arguments->second, encode_options(encoder));
    if (!bytes) return fail(bytes);
    *data = library_copy(bytes.value());
    *size = bytes.value().size();
    return VARNIC_OK;
  });
}

varnic_status varnic_decode_to_file(const varnic_decoder* decoder, const uint8_t* data, size_t size, const char* path,
                                   varnic_file_kind kind, int replace, uint64_t* bytes_written) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(path, "path", status) || (size != 0 && missing(data, "data", status))) return status;
    std::optional<FileKind> file = file_kind(kind);
    if (!file) return VARNIC_ERROR_INVALID_ARGUMENT;
    if (*file == FileKind::kUnknown) file = kind_from_extension(path);
    if (*file == FileKind::kUnknown)
      return fail(VARNIC_ERROR_INVALID_ARGUMENT, std::string(path) + ": the name does not say a picture format");
    if (decoder != nullptr && decoder->cancel.load(std::memory_order_relaxed))
      return fail(VARNIC_ERROR_CANCELLED, std::string(message(Status::kCancelled)));
    int error = 0;
    Result<WrittenPicture> written = decode_to_file(std::span(data, size), path, *file,
                                                    replace != 0 ? Overwrite::kReplace : Overwrite::kRefuse,
                                                    decode_options(decoder), &error);
    if (!written) {
      if (written.status() != Status::kFileError) return fail(written);
      return fail(VARNIC_ERROR_FILE, error == EEXIST && replace == 0
                                         ? std::string(path) + ": the file exists and is not replaced"
                                         : file_message(path, written.message(), error));
    }
    if (bytes_written != nullptr) *bytes_written = written.value().bytes;
    return VARNIC_OK;
  });
}

varnic_status varnic_write_file(const char* path, const uint8_t* data, size_t size, int replace) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(path, "path", status) || (size != 0 && missing(data, "data", status))) return status;
    return write_bytes(path, std::span(data, size), replace);
  });
}

}  // extern "C"
