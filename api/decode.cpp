// SPDX-License-Identifier: BSD-2-Clause
// decode: the decode driver of display/ with the library's options, progress and layout.
#include <algorithm>
#include <chrono>

#include "api/internal.h"
#include "display/display.h"
#include "utils/memory.h"

namespace varnic {
namespace {

using detail::failure;
using std::chrono::steady_clock;
using display::DecodedPicture;

double seconds(steady_clock::time_point from, steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

Result<Decoded> decode_unguarded(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  if (options.colour_format != PixelFormat::kRgb24 && options.colour_format != PixelFormat::kBgr24)
    return {Status::kInvalidArgument, "the colour output format must be RGB or BGR"};
  if (options.threads < 1 || options.threads > kMaxThreads)
    return {Status::kInvalidArgument, "threads must be 1.." + std::to_string(kMaxThreads)};
  const steady_clock::time_point start = steady_clock::now();
  format::FileHeader header;
  if (const format::StatusCode s = format::parse_header(file, options.limits.max_pixels, header); s != format::StatusCode::kOk)
    return detail::file_failure<Decoded>(s, file, options.limits);
  const int levels = header.params.total_levels;
  if (options.reduce < 0)
    return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be at least 0"};
  if (options.reduce >= levels)
    return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be below the file's " +
                                          std::to_string(levels) + " levels"};

  display::ReconstructRequest request;
  request.reduce = options.reduce;
  request.threads = std::max(1, options.threads);
  request.layout = display::PixelLayout::kRows;
  request.rgb_order = options.colour_format == PixelFormat::kRgb24;
  steady_clock::time_point decoded = start;
  bool planes_reported = false;
  if (options.progress) {
    request.progress = [&](display::DecodeStage stage, int done, int total) {
      Progress progress;
      progress.stage = stage == display::DecodeStage::kPlanesDecoded ? Progress::Stage::kDecodePlane
                                                               : Progress::Stage::kSynthesisLevel;
      if (stage == display::DecodeStage::kPlanesDecoded) {
        decoded = steady_clock::now();
        planes_reported = true;
      }
      progress.done = done;
      progress.total = total;
      return options.progress(progress);
    };
  }
  display::DecodedFile result;
  if (options.reduce == 0 && !options.progress) {
    // Row by row from the codes: no sample planes besides the picture.
    DecodedPicture& picture = result.picture;
    display::RowSink sink;
    sink.begin = [&](const format::FileHeader& parsed) {
      picture.width = parsed.params.image_width;
      picture.height = parsed.params.image_height;
      picture.bits_per_pixel = parsed.is_colour() ? 24 : 8;
      picture.stride = std::size_t{picture.width} * static_cast<std::size_t>(picture.bits_per_pixel / 8);
      utils::resize_large(picture.pixels, picture.stride * picture.height);
      return true;
    };
    sink.row = [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
      std::copy(pixels.begin(), pixels.end(), picture.pixels.begin() + static_cast<std::ptrdiff_t>(
                                                   picture.stride * (picture.height - 1 - row)));
      return true;
    };
    if (const format::StatusCode s = display::decode_rows(file, options.limits.max_pixels, request.threads,
                                                          request.rgb_order, sink);
        s != format::StatusCode::kOk)
      return detail::file_failure<Decoded>(s, file, options.limits);
  } else if (const format::StatusCode s = display::decode_file(file, options.limits.max_pixels, request, result);
             s != format::StatusCode::kOk) {
    return detail::file_failure<Decoded>(s, file, options.limits);
  }
  const steady_clock::time_point end = steady_clock::now();
  // Without a callback the planes may be synthesized while others are still being decoded: the
  // whole decode counts as entropy decoding then.
  if (!planes_reported) decoded = end;

  Decoded out;
  out.picture.width = result.picture.width;
  out.picture.height = result.picture.height;
  out.picture.format = header.is_colour() ? options.colour_format : PixelFormat::kGrey8;
  out.picture.pixels = std::move(result.picture.pixels);
  out.info = detail::info_from_header(header, file.size());
  out.timings.entropy = seconds(start, decoded);
  out.timings.transform = seconds(decoded, end);
  out.timings.total = seconds(start, end);
  return out;
}

Result<Info> decode_rows_unguarded(std::span<const std::uint8_t> file, const DecodeOptions& options,
                                   const RowReceiver& receiver) {
  if (options.reduce != 0 || options.progress || !receiver.rows) {
    // Reduced pictures and progress reports come from the whole-picture decode.
    Result<Decoded> decoded = decode_unguarded(file, options);
    if (!decoded) return {decoded.status(), decoded.message()};
    const Picture& picture = decoded.value().picture;
    if (receiver.begin && !receiver.begin(decoded.value().info, RowShape{picture.width, picture.height, picture.format}))
      return failure<Info>(format::StatusCode::kCancelled);
    for (std::uint32_t r = picture.height; r-- > 0;) {
      const std::span<const std::uint8_t> row(picture.pixels.data() + picture.stride() * r, picture.stride());
      if (receiver.rows && !receiver.rows(r, row)) return failure<Info>(format::StatusCode::kCancelled);
    }
    return decoded.value().info;
  }
  if (options.colour_format != PixelFormat::kRgb24 && options.colour_format != PixelFormat::kBgr24)
    return {Status::kInvalidArgument, "the colour output format must be RGB or BGR"};
  if (options.threads < 1 || options.threads > kMaxThreads)
    return {Status::kInvalidArgument, "threads must be 1.." + std::to_string(kMaxThreads)};
  Info info;
  display::RowSink sink;
  sink.begin = [&](const format::FileHeader& header) {
    info = detail::info_from_header(header, file.size());
    return !receiver.begin ||
           receiver.begin(info, RowShape{info.width, info.height,
                                         header.is_colour() ? options.colour_format : PixelFormat::kGrey8});
  };
  sink.row = [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
    return receiver.rows(info.height - 1 - row, pixels);
  };
  if (const format::StatusCode s = display::decode_rows(file, options.limits.max_pixels, options.threads,
                                                        options.colour_format == PixelFormat::kRgb24, sink);
      s != format::StatusCode::kOk)
    return detail::file_failure<Info>(s, file, options.limits);
  return info;
}

}  // namespace

Result<Info> decode_rows(std::span<const std::uint8_t> file, const DecodeOptions& options,
                         const RowReceiver& receiver) {
  return detail::guarded<Info>([&] { return decode_rows_unguarded(file, options, receiver); });
}

Result<Decoded> decode(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  return detail::guarded<Decoded>([&] { return decode_unguarded(file, options); });
}

}  // namespace varnic
