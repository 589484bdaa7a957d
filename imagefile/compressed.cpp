// SPDX-License-Identifier: BSD-2-Clause
// .cod files: loaded whole with the format's version check (the desktop program's Open), and as
// the registry's entry, decoded through the one decode driver into a picture buffer and encoded
// through the one encode driver.
#include <algorithm>
#include <new>

#include "display/display.h"
#include "imagefile/formats.h"
#include "imagefile/imagefile.h"
#include "optimize/optimize.h"
#include "utils/memory.h"

namespace varnic::imagefile {

FileStatus load_compressed(std::span<const std::uint8_t> data, CompressedFile& out) {
  if (const format::StatusCode version = format::check_version(data); version != format::StatusCode::kOk) {
    // The gate answers with a version status or "not compressed".
    return version == format::StatusCode::kVersionTooLow    ? FileStatus::kVersionTooLow
           : version == format::StatusCode::kVersionTooHigh ? FileStatus::kVersionTooHigh
                                                            : FileStatus::kNotCompressed;
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

namespace formats {
namespace {

// The decoder's refusal as a file status; `message` gets the decoder's own words, or for a
// picture over the limit its size.
FileStatus decode_refusal(format::StatusCode status, Bytes bytes, const ReadLimits& limits, std::string& message) {
  using C = format::StatusClass;
  message = format::message(status);
  switch (format::status_class(status)) {
    case C::kNotCompressed: return FileStatus::kNotCompressed;
    case C::kVersionTooLow: return FileStatus::kVersionTooLow;
    case C::kVersionTooHigh: return FileStatus::kVersionTooHigh;
    case C::kOutOfMemory: return FileStatus::kOutOfMemory;
    case C::kPictureTooLarge: {
      format::FileHeader header;
      if (format::parse_header(bytes, UINT64_MAX, header) == format::StatusCode::kOk)
        message = pixel_limit_message(header.params.image_width, header.params.image_height, limits.max_pixels);
      return FileStatus::kPictureTooLarge;
    }
    // The header's own faults, and what a decoder cannot answer for a file.
    case C::kOk:
    case C::kSettings:
    case C::kPictureTooSmall:
    case C::kDamagedFile:
    case C::kCancelled:
    case C::kInternal: break;
  }
  return FileStatus::kCompressedDamaged;
}

}  // namespace

bool sniff_compressed(Bytes bytes) { return format::has_family_magic(bytes); }

FileStatus read_compressed(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  display::DecodedFile decoded;
  if (const format::StatusCode s = display::decode_file(bytes, limits.max_pixels, {}, decoded);
      s != format::StatusCode::kOk)
    return decode_refusal(s, bytes, limits, message);
  const bool grey = !decoded.header.is_colour();
  if (const FileStatus s = new_picture(decoded.picture.width, decoded.picture.height, grey, false, out.picture);
      s != FileStatus::kOk)
    return s;
  out.picture.pixels = std::move(decoded.picture.pixels);
  return FileStatus::kOk;
}

FileStatus write_compressed(const codec::PictureRows& rows, const WriteSettings& settings, Out& out,
                            std::string& message) {
  const format::CodecParams params = settings.params != nullptr ? *settings.params : codec::default_codec_params();
  codec::EncodeRequest request = settings.request;
  request.keep_planes = false;  // one plane at a time: the planes are not returned
  codec::EncodedPicture encoded;
  const format::StatusCode status =
      settings.optimize_level == 0
          ? codec::encode_picture(rows, params, request, encoded)
          : optimize::encode_optimized(rows, params, settings.optimize_level, settings.quality,
                                       settings.tune, request, encoded);
  if (status != format::StatusCode::kOk) {
    if (settings.encoder_status != nullptr) *settings.encoder_status = status;
    message = format::message(status);
    return status == format::StatusCode::kOutOfMemory ? FileStatus::kOutOfMemory : FileStatus::kCannotEncode;
  }
  out = std::move(encoded.stream);
  return FileStatus::kOk;
}

}  // namespace formats
}  // namespace varnic::imagefile
