// SPDX-License-Identifier: BSD-2-Clause
// Status texts, encode and probe. decode lives in decode.cpp.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>

#include "api/internal.h"
#include "codec/encoder.h"
#include "codec/settings.h"
#include "format/format.h"
#include "optimize/optimize.h"

namespace varnic {
namespace detail {

Status public_status(format::StatusCode status) {
  using C = format::StatusClass;
  switch (format::status_class(status)) {
    case C::kOk: return Status::kOk;
    case C::kSettings: return Status::kInvalidArgument;  // the settings checks and the picture description
    case C::kPictureTooSmall: return Status::kPictureTooSmall;
    case C::kPictureTooLarge: return Status::kLimitExceeded;
    case C::kNotCompressed: return Status::kNotCompressedFile;
    case C::kVersionTooLow: return Status::kVersionTooLow;
    case C::kVersionTooHigh: return Status::kVersionTooHigh;
    case C::kDamagedFile: return Status::kInvalidFile;
    case C::kOutOfMemory: return Status::kOutOfMemory;
    case C::kCancelled: return Status::kCancelled;
    case C::kInternal: return Status::kInternalError;
  }
  return Status::kInternalError;
}


}  // namespace detail

namespace {

using detail::failure;
using std::chrono::steady_clock;

// `source` set: the picture comes row by row from it, and `picture` gives only its shape.
Result<Encoded> encode_unguarded(const PictureView& picture, const EncodeOptions& options,
                                 const PictureSource* source = nullptr) {
  if (source != nullptr && (!source->read_row || options.optimize != 0))
    return {Status::kInvalidArgument, "a picture read row by row needs a row reader and the classic encoder"};
  Result<format::CodecParams> settings = detail::prepare_encode(picture, options, source != nullptr);
  if (!settings) return {settings.status(), settings.message()};
  codec::PictureRows view = detail::rows_of(picture);
  std::atomic<bool> unreadable{false};
  if (source != nullptr) {
    view.data = nullptr;
    view.size = 0;
    const std::size_t row_bytes = std::size_t{picture.width} * static_cast<std::size_t>(bytes_per_pixel(picture.format));
    view.read_bottom_row = [source, &unreadable, row_bytes, height = picture.height](std::uint32_t y, std::uint8_t* out) {
      if (source->read_row(height - 1 - y, std::span<std::uint8_t>(out, row_bytes))) return true;
      unreadable = true;
      return false;
    };
  }

  // The encoder codes one channel at a time and reports each channel's transform (odd
  // stages) and coding (even stages): the odd stages add up to the transform timing.
  const steady_clock::time_point start = steady_clock::now();
  steady_clock::time_point stage_start = start;
  steady_clock::duration transform_time{};
  codec::EncodeRequest codec_options;
  codec_options.comment = options.comment;
  codec_options.threads = std::max(1, options.threads);
  codec_options.keep_planes = false;  // one plane at a time: the planes are not returned
  codec_options.progress = [&](int done, int total) {
    const steady_clock::time_point now = steady_clock::now();
    if (done % 2 == 1) transform_time += now - stage_start;
    stage_start = now;
    if (!options.progress) return true;
    Progress progress;
    progress.stage = Progress::Stage::kEncodePlane;
    progress.done = done;
    progress.total = total;
    return options.progress(progress);
  };
  codec::EncodedPicture encoded;
  optimize::Choices choices;
  const format::StatusCode status =
      options.optimize == 0
          ? codec::encode_picture(view, settings.value(), codec_options, encoded)
          : optimize::encode_optimized(view, settings.value(), options.optimize, options.quality,
                                       detail::tune_of(options.tune), codec_options, encoded, &choices);
  if (unreadable) return {Status::kInvalidFile, "a row of the picture could not be read"};
  if (status != format::StatusCode::kOk) return failure<Encoded>(status);
  const steady_clock::time_point end = steady_clock::now();

  Encoded out;
  out.bytes = std::move(encoded.stream);
  out.quality = options.quality;
  out.levels = encoded.params.total_levels;
  for (int c = 0; c < 3; ++c) out.dropped[static_cast<std::size_t>(c)] = encoded.params.channels[static_cast<std::size_t>(c)].dropped_levels;
  out.distortion_scale = choices.distortion_scale;
  out.offsets = choices.offsets;
  out.timings.transform = std::chrono::duration<double>(transform_time).count();
  out.timings.entropy = std::chrono::duration<double>(end - start - transform_time).count();
  out.timings.total = std::chrono::duration<double>(end - start).count();
  return out;
}

Result<Info> probe_unguarded(std::span<const std::uint8_t> file, const Limits& limits) {
  format::FileHeader header;
  if (const format::StatusCode s = format::parse_header(file, limits.max_pixels, header); s != format::StatusCode::kOk)
    return detail::file_failure<Info>(s, file, limits);
  return detail::info_from_header(header, file.size());
}

}  // namespace

namespace detail {

Result<format::CodecParams> prepare_encode(const PictureView& picture, const EncodeOptions& options,
                                          bool rows_from_source) {
  if (!valid_format(picture.format)) return {Status::kInvalidArgument, "the picture's pixel format is unknown"};
  const std::size_t pixel_bytes = static_cast<std::size_t>(bytes_per_pixel(picture.format));
  if ((picture.data == nullptr && !rows_from_source) || picture.width == 0 || picture.height == 0)
    return {Status::kInvalidArgument, "the picture is empty"};
  const std::size_t row_bytes = std::size_t{picture.width} * pixel_bytes;
  const std::size_t stride = picture.stride == 0 ? row_bytes : picture.stride;
  if (stride < row_bytes) return {Status::kInvalidArgument, "the picture's stride is shorter than a row"};
  if (std::uint64_t{picture.width} * picture.height > options.limits.max_pixels)
    return {Status::kLimitExceeded,
            imagefile::pixel_limit_message(picture.width, picture.height, options.limits.max_pixels)};
  if (picture.width > static_cast<std::uint32_t>(kMaxSide) || picture.height > static_cast<std::uint32_t>(kMaxSide))
    return failure<format::CodecParams>(format::StatusCode::kPictureSideTooLarge);
  return encode_settings(options);
}

bool valid_format(PixelFormat format) {
  switch (format) {
    case PixelFormat::kGrey8:
    case PixelFormat::kRgb24:
    case PixelFormat::kBgr24: return true;
  }
  return false;
}

optimize::Tune tune_of(Tune tune) {
  switch (tune) {
    case Tune::kPsnr: return optimize::Tune::kPsnr;
    case Tune::kSsim: return optimize::Tune::kSsim;
  }
  return optimize::Tune::kPsnr;
}

codec::PictureRows rows_of(const PictureView& picture) {
  const bool grey = picture.format == PixelFormat::kGrey8;
  codec::PictureRows view;
  view.data = picture.data;
  view.width = picture.width;
  view.height = picture.height;
  view.bits_per_pixel = static_cast<std::uint16_t>(grey ? 8 : 24);
  view.row_stride = picture.stride == 0 ? std::size_t{picture.width} * (grey ? 1 : 3) : picture.stride;
  view.top_down = !picture.bottom_up;
  view.rgb_order = picture.format == PixelFormat::kRgb24;
  view.size = view.required_bytes();
  return view;
}

Info info_from_header(const format::FileHeader& header, std::uint64_t file_bytes) {
  const format::CodecParams& p = header.params;
  Info info;
  info.version_major = header.major_version();
  info.version_minor = header.minor_version();
  info.coded = header.has_coefficients();
  info.width = p.image_width;
  info.height = p.image_height;
  info.grey = !header.is_colour();
  info.levels = p.total_levels;
  for (int c = 0; c < 3; ++c) info.dropped[static_cast<std::size_t>(c)] = p.channels[static_cast<std::size_t>(c)].dropped_levels;
  info.comment = header.comment;
  info.file_bytes = file_bytes;
  info.header_bytes = header.data_start;
  // Plane sizes from the end offsets; files without coefficients may carry any offsets, so a
  // plane whose bounds are out of order counts as empty.
  std::uint64_t start = header.data_start;
  const int planes = info.grey ? 1 : 3;
  for (int c = 0; c < planes; ++c) {
    const std::uint64_t end = p.channels[static_cast<std::size_t>(c)].end_offset;
    info.plane_bytes[static_cast<std::size_t>(c)] = end >= start && end <= file_bytes ? end - start : 0;
    start = std::max(start, std::min<std::uint64_t>(end, file_bytes));
  }
  for (int c = 0; c < planes; ++c) {
    const format::ChannelParams& cp = p.channels[static_cast<std::size_t>(c)];
    for (int k = 0; k < format::subband_count(p.total_levels); ++k) {
      const auto vector = static_cast<std::int16_t>(cp.quant_vector[static_cast<std::size_t>(k)]);
      info.steps[static_cast<std::size_t>(c)].push_back(
          vector == 0 ? 0.0 : static_cast<double>(cp.band_max[static_cast<std::size_t>(k)]) / vector);
    }
  }
  info.bitmap_bytes = bitmap_file_bytes(info.width, info.height, info.grey);
  info.ratio = compression_ratio(info.width, info.height, info.grey, file_bytes);
  return info;
}

}  // namespace detail

// The build writes the format versions into version.h; they must be the ones the format layer
// writes and accepts.
static_assert(std::string_view(VARNIC_FORMAT_VERSION_STRING).size() == 3 &&
              VARNIC_FORMAT_VERSION_STRING[0] == format::kMagic[format::kMajorDigitOffset] &&
              VARNIC_FORMAT_VERSION_STRING[2] == format::kMagic[format::kMinorDigitOffset]);
static_assert(std::string_view(VARNIC_FORMAT_OLDEST_STRING).size() == 3 &&
              VARNIC_FORMAT_OLDEST_STRING[0] == format::kMagic[format::kMajorDigitOffset] &&
              VARNIC_FORMAT_OLDEST_STRING[2] == format::kOldestMinorDigit);

std::string_view version() noexcept { return VARNIC_VERSION_STRING; }

std::string_view version_text() noexcept { return VARNIC_VERSION_TEXT; }

std::string_view to_string(Status status) noexcept {
  switch (status) {
    case Status::kOk: return "ok";
    case Status::kInvalidArgument: return "invalid-argument";
    case Status::kPictureTooSmall: return "picture-too-small";
    case Status::kNotCompressedFile: return "not-compressed-file";
    case Status::kVersionTooLow: return "version-too-low";
    case Status::kVersionTooHigh: return "version-too-high";
    case Status::kInvalidFile: return "invalid-file";
    case Status::kLimitExceeded: return "limit-exceeded";
    case Status::kOutOfMemory: return "out-of-memory";
    case Status::kCancelled: return "cancelled";
    case Status::kInternalError: return "internal-error";
    case Status::kFileError: return "file-error";
  }
  return "unknown";
}

std::string_view message(Status status) noexcept {
  switch (status) {
    case Status::kOk: return "success";
    case Status::kInvalidArgument: return "an option or the picture description is out of range";
    case Status::kPictureTooSmall: return "the picture is too small to compress: both sides need at least 3 pixels";
    case Status::kNotCompressedFile: return "the data is not a compressed (.cod) file";
    case Status::kVersionTooLow: return "the compressed file's version is below 2.3";
    case Status::kVersionTooHigh: return "the compressed file's version is above 2.5";
    case Status::kInvalidFile: return "the file is damaged or breaks the format's limits";
    case Status::kLimitExceeded: return "the picture is larger than the pixel limit";
    case Status::kOutOfMemory: return "out of memory";
    case Status::kCancelled: return "cancelled by the progress callback";
    case Status::kInternalError: return "internal error";
    case Status::kFileError: return "a file cannot be opened, read or written";
  }
  return "unknown status";
}

Result<Encoded> encode(const PictureView& picture, const EncodeOptions& options) {
  if (options.target_size || options.target_psnr) return detail::encode_to_target(picture, options);
  return detail::guarded<Encoded>([&] { return encode_unguarded(picture, options); });
}

Result<Encoded> encode(const PictureSource& picture, const EncodeOptions& options) {
  if (options.target_size || options.target_psnr)
    return {Status::kInvalidArgument, "a target size or PSNR needs the whole picture in memory"};
  const PictureView shape{nullptr, picture.width, picture.height, 0, picture.format, false};
  return detail::guarded<Encoded>([&] { return encode_unguarded(shape, options, &picture); });
}

Result<Info> probe(std::span<const std::uint8_t> file, const Limits& limits) {
  return detail::guarded<Info>([&] { return probe_unguarded(file, limits); });
}

Result<RowShape> decoded_shape(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  return detail::guarded<RowShape>([&]() -> Result<RowShape> {
    if (options.colour_format == PixelFormat::kGrey8)
      return {Status::kInvalidArgument, "the colour output format must be RGB or BGR"};
    Result<Info> info = probe_unguarded(file, options.limits);
    if (!info) return {info.status(), info.message()};
    const Info& i = info.value();
    if (options.reduce < 0 || options.reduce >= i.levels)
      return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be below the file's " +
                                            std::to_string(i.levels) + " levels"};
    const std::uint64_t scale = std::uint64_t{1} << options.reduce;
    return RowShape{static_cast<std::uint32_t>((i.width + scale - 1) / scale),
                    static_cast<std::uint32_t>((i.height + scale - 1) / scale),
                    i.grey ? PixelFormat::kGrey8 : options.colour_format};
  });
}

}  // namespace varnic
