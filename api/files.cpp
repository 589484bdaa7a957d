// SPDX-License-Identifier: BSD-2-Clause
// Picture files through the imagefile registry: its picture buffers handed over as public
// pictures without a copy, public views handed to its writers as rows.
#include <algorithm>
#include <optional>

#include "api/internal.h"
#include "format/format.h"
#include "imagefile/notices.h"
#include "imagefile/registry.h"
#include "utils/memory.h"

namespace varnic {
namespace detail {

Status public_status(imagefile::FileStatus status) {
  using F = imagefile::FileStatus;
  switch (status) {
    case F::kOk: return Status::kOk;
    case F::kCannotOpen:
    case F::kCannotWrite: return Status::kFileError;
    case F::kNotCompressed: return Status::kNotCompressedFile;
    case F::kVersionTooLow: return Status::kVersionTooLow;
    case F::kVersionTooHigh: return Status::kVersionTooHigh;
    case F::kPictureTooLarge:
    case F::kFileTooLarge: return Status::kLimitExceeded;
    case F::kOutOfMemory: return Status::kOutOfMemory;
    case F::kCannotEncode: return Status::kInvalidArgument;
    case F::kNotBitmap:
    case F::kBitmapDepth:
    case F::kBitmapCompressed:
    case F::kBitmapSize:
    case F::kBitmapColours:
    case F::kBitmapTruncated:
    case F::kTargaType:
    case F::kTargaDepth:
    case F::kTargaColourMap:
    case F::kTargaSize:
    case F::kTargaTruncated:
    case F::kUnknownKind:
    case F::kPictureSides:
    case F::kNotPng:
    case F::kPngCorrupt:
    case F::kPngTruncated:
    case F::kNotPnm:
    case F::kPnmKind:
    case F::kPnmHeader:
    case F::kPnmEmpty:
    case F::kPnmMaxval:
    case F::kPnmBlank:
    case F::kPnmTruncated:
    case F::kPnmSample:
    case F::kCompressedDamaged:
    case F::kJpegCorrupt:
    case F::kJpegTruncated:
    case F::kTiffCorrupt:
    case F::kWebpCorrupt:
    case F::kPhotoLayout:
    case F::kCmykWithoutProfile:
    case F::kFormatNotBuilt: return Status::kInvalidFile;
  }
  return Status::kInternalError;
}

}  // namespace detail

namespace {

using detail::failure;
using detail::public_status;

// A palette picture becomes blue-green-red in the same row order and padding.
void expand_palette(imagefile::PictureBuffer& picture) {
  const utils::RowGeometry from = picture.geometry();
  const utils::RowGeometry to = utils::row_geometry(static_cast<std::uint32_t>(picture.width),
                                                    static_cast<std::uint32_t>(picture.height), 24);
  std::vector<std::uint8_t> colour;
  utils::assign_large(colour, to.picture_bytes);
  const auto& table = picture.header.colour_table;
  for (std::size_t y = 0; y < static_cast<std::size_t>(picture.height); ++y) {
    const std::uint8_t* in = picture.pixels.data() + y * from.stride;
    std::uint8_t* out = colour.data() + y * to.stride;
    for (std::size_t x = 0; x < static_cast<std::size_t>(picture.width); ++x)
      std::copy_n(&table[4 * std::size_t{in[x]}], 3, out + 3 * x);
  }
  picture.pixels = std::move(colour);
  picture.bits_per_pixel = 24;
  picture.image_mode = format::kImageModeColour;
}

}  // namespace

namespace detail {

Result<PictureFile> to_public(imagefile::FileStatus status, imagefile::LoadedPicture& loaded,
                              const std::string& message) {
  if (status != imagefile::FileStatus::kOk) return {public_status(status), message};
  PictureFile out;
  out.notices = std::move(loaded.notices);
  if (loaded.picture.image_mode == format::kImageModePalette) {
    expand_palette(loaded.picture);
    out.notices.push_back(imagefile::notices::eight_bit_palette_expanded());
  }
  Picture& picture = out.picture;
  picture.width = static_cast<std::uint32_t>(loaded.picture.width);
  picture.height = static_cast<std::uint32_t>(loaded.picture.height);
  picture.format = loaded.picture.image_mode == format::kImageModeGrey ? PixelFormat::kGrey8 : PixelFormat::kBgr24;
  picture.row_stride = loaded.picture.geometry().stride;
  picture.bottom_up = true;
  picture.pixels = std::move(loaded.picture.pixels);
  out.kind = loaded.kind;
  out.exif_summary = imagefile::camera_summary(loaded.facts.camera);
  return out;
}

imagefile::PhotoOptions photo_options(const ReadOptions& options) {
  imagefile::PhotoOptions out;
  out.keep_orientation = options.keep_orientation;
  out.keep_colours = options.keep_colours;
  return out;
}

imagefile::ReadLimits read_limits(const Limits& limits) {
  imagefile::ReadLimits out;
  out.max_pixels = limits.max_pixels;
  return out;
}

Result<std::vector<std::uint8_t>> write_picture_bytes(const PictureView& picture, FileKind kind,
                                                  const EncodeOptions& options) {
  if (!detail::valid_format(picture.format)) return {Status::kInvalidArgument, "the pixel format is unknown"};
  const std::size_t row_bytes = std::size_t{picture.width} * static_cast<std::size_t>(bytes_per_pixel(picture.format));
  if (picture.data == nullptr || picture.width == 0 || picture.height == 0 ||
      (picture.stride != 0 && picture.stride < row_bytes))
    return {Status::kInvalidArgument, "empty or inconsistent picture"};
  if (const imagefile::FormatEntry* entry = imagefile::find_format(kind); entry == nullptr || !entry->writable())
    return {Status::kInvalidArgument, "pictures are written as bmp, tga, png, pnm or cod"};
  if (kind == FileKind::kCod && (options.target_size || options.target_psnr)) {
    // The quality search belongs to encode.
    Result<Encoded> encoded = encode(picture, options);
    if (!encoded) return {encoded.status(), encoded.message()};
    return std::move(encoded.value().bytes);
  }
  imagefile::WriteSettings settings;
  format::StatusCode encoder_status = format::StatusCode::kOk;
  Result<format::CodecParams> params = format::CodecParams{};
  if (kind == FileKind::kCod) {
    params = detail::prepare_encode(picture, options);
    if (!params) return {params.status(), params.message()};
    settings.params = &params.value();
    settings.request.comment = options.comment;
    settings.request.threads = options.threads;
    if (options.progress) {
      settings.request.progress = [&options](int done, int total) {
        Progress progress;
        progress.stage = Progress::Stage::kEncodePlane;
        progress.done = done;
        progress.total = total;
        return options.progress(progress);
      };
    }
    settings.optimize_level = options.optimize;
    settings.quality = options.quality;
    settings.tune = detail::tune_of(options.tune);
    settings.encoder_status = &encoder_status;
  }
  std::vector<std::uint8_t> bytes;
  std::string message;
  const imagefile::FileStatus status =
      imagefile::write_picture(detail::rows_of(picture), kind, settings, bytes, &message);
  if (encoder_status != format::StatusCode::kOk) return failure<std::vector<std::uint8_t>>(encoder_status);
  if (status != imagefile::FileStatus::kOk) {
    // A writer that refuses the picture itself says so in its message.
    return {status == imagefile::FileStatus::kOutOfMemory ? Status::kOutOfMemory : Status::kInvalidArgument, message};
  }
  return bytes;
}

}  // namespace

namespace detail {

Result<WrittenPicture> decode_by_rows(
    std::span<const std::uint8_t> file, const DecodeOptions& options,
    const std::function<imagefile::FileStatus(const RowProducer& produce, std::string& message)>& write_rows) {
  if (options.png_level < kMinPngLevel || options.png_level > kMaxPngLevel) {
    const bool low = options.png_level < kMinPngLevel;
    return {Status::kInvalidArgument, "the PNG level is " + std::to_string(options.png_level) +
                                          (low ? ", below the minimum " : ", above the maximum ") +
                                          std::to_string(low ? kMinPngLevel : kMaxPngLevel)};
  }
  WrittenPicture written;
  std::optional<Result<Info>> decoded;
  std::string message;
  const imagefile::FileStatus status = write_rows(
      [&](const imagefile::RowFileSink& sink) {
        // Rows as the file stores them.
        DecodeOptions by_rows = options;
        by_rows.colour_format = sink.rgb ? PixelFormat::kRgb24 : PixelFormat::kBgr24;
        RowReceiver receiver;
        receiver.begin = [&](const Info&, const RowShape& shape) {
          written.width = shape.width;
          written.height = shape.height;
          return sink.begin(shape.width, shape.height, shape.format == PixelFormat::kGrey8);
        };
        receiver.rows = [&](std::uint32_t, std::span<const std::uint8_t> pixels) { return sink.row(pixels); };
        decoded = decode_rows_holding(file, by_rows, receiver, false, sink.top_down, nullptr);
        return decoded->ok();
      },
      message);
  // The decoder's own refusal, not a cancel from a writer that could not go on.
  if (decoded && !decoded->ok() && decoded->status() != Status::kCancelled) return {decoded->status(), decoded->message()};
  if (status == imagefile::FileStatus::kCannotWrite || status == imagefile::FileStatus::kCannotOpen)
    return {Status::kFileError, message};
  if (status != imagefile::FileStatus::kOk) return {public_status(status), message};
  written.info = decoded->value();
  return written;
}

imagefile::WriteSettings row_write_settings(const DecodeOptions& options) {
  imagefile::WriteSettings settings;
  settings.png_level = options.png_level;
  return settings;
}

}  // namespace detail

Result<WrittenPicture> decode_to_stream(std::span<const std::uint8_t> file, FileKind kind, const ByteSink& write,
                                        const DecodeOptions& options) {
  return detail::guarded<WrittenPicture>([&]() -> Result<WrittenPicture> {
    if (!write) return {Status::kInvalidArgument, "no writer for the picture's bytes"};
    std::uint64_t bytes = 0;
    const ByteSink counted = [&](std::span<const std::uint8_t> piece) {
      bytes += piece.size();
      return write(piece);
    };
    if (!imagefile::writes_by_rows(kind)) return {Status::kInvalidArgument, "pictures are decoded into bmp, tga, png or pnm"};
    Result<WrittenPicture> written =
        detail::decode_by_rows(file, options, [&](const detail::RowProducer& produce, std::string& message) {
          return imagefile::write_picture_by_rows(kind, detail::row_write_settings(options), produce, counted,
                                                  &message);
        });
    if (written) written.value().bytes = bytes;
    return written;
  });
}

Result<Picture> convert_picture(const PictureView& picture, PixelFormat format) {
  return detail::guarded<Picture>([&]() -> Result<Picture> {
    if (!detail::valid_format(picture.format) || !detail::valid_format(format))
      return {Status::kInvalidArgument, "the pixel format is unknown"};
    const bool grey_in = picture.format == PixelFormat::kGrey8;
    const std::size_t in_pixel = grey_in ? 1 : 3;
    if (picture.data == nullptr || picture.width == 0 || picture.height == 0 ||
        (picture.stride != 0 && picture.stride < picture.width * in_pixel))
      return {Status::kInvalidArgument, "empty or inconsistent picture"};
    if (!grey_in && format == PixelFormat::kGrey8)
      return {Status::kInvalidArgument, "a colour picture is not converted to grey"};
    Picture out;
    out.width = picture.width;
    out.height = picture.height;
    out.format = format;
    utils::resize_large(out.pixels, out.stride() * out.height);
    const std::size_t in_stride = picture.stride != 0 ? picture.stride : picture.width * in_pixel;
    // Byte k of an output pixel comes from byte source[k] of the input pixel.
    const bool swap = !grey_in && format != picture.format;
    const std::size_t source[3] = {grey_in ? 0u : swap ? 2u : 0u, grey_in ? 0u : 1u, grey_in ? 0u : swap ? 0u : 2u};
    const std::size_t out_pixel = static_cast<std::size_t>(bytes_per_pixel(format));
    for (std::uint32_t y = 0; y < out.height; ++y) {
      const std::uint8_t* in = picture.data + in_stride * (picture.bottom_up ? out.height - 1 - y : y);
      std::uint8_t* dst = out.pixels.data() + out.stride() * y;
      for (std::size_t x = 0; x < out.width; ++x, in += in_pixel)
        for (std::size_t k = 0; k < out_pixel; ++k) *dst++ = in[source[k]];
    }
    return out;
  });
}

FileKind kind_from_extension(std::string_view path) noexcept { return imagefile::kind_from_extension(path); }

std::string_view cod_signature() noexcept { return {format::kMagic, format::kFamilyBytes}; }

FileKind sniff_kind(std::span<const std::uint8_t> bytes, std::string_view name_hint) noexcept {
  return imagefile::sniff_kind(bytes, name_hint);
}

std::string_view extension_of(FileKind kind) noexcept {
  const imagefile::FormatEntry* entry = imagefile::find_format(kind);
  return entry != nullptr ? entry->extensions.front() : std::string_view();
}

Result<PictureFile> read_picture(std::span<const std::uint8_t> bytes, std::string_view name_hint,
                                 const Limits& limits, const ReadOptions& options) {
  return detail::guarded<PictureFile>([&]() -> Result<PictureFile> {
    imagefile::LoadedPicture loaded;
    std::string message;
    const imagefile::FileStatus status = imagefile::read_picture(bytes, name_hint, detail::read_limits(limits), loaded,
                                                                 &message, detail::photo_options(options));
    return detail::to_public(status, loaded, message);
  });
}

Result<std::vector<std::uint8_t>> write_picture(const PictureView& picture, FileKind kind,
                                                const EncodeOptions& options) {
  return detail::guarded<std::vector<std::uint8_t>>([&] { return detail::write_picture_bytes(picture, kind, options); });
}

}  // namespace varnic
