// SPDX-License-Identifier: BSD-2-Clause
// decode and decode_rows: the decode driver of display/ with the library's options, progress and
// row layout.
#include <algorithm>
#include <chrono>

#include "api/internal.h"
#include "display/display.h"
#include "utils/memory.h"

namespace varnic {
namespace {

using std::chrono::steady_clock;

double seconds(steady_clock::time_point from, steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

namespace detail {

Result<Info> decode_rows_holding(std::span<const std::uint8_t> file, const DecodeOptions& options,
                                 const RowReceiver& receiver, bool held, bool top_down, Timings* timings) {
  if (options.colour_format != PixelFormat::kRgb24 && options.colour_format != PixelFormat::kBgr24)
    return {Status::kInvalidArgument, "the colour output format must be RGB or BGR"};
  if (options.threads < 1 || options.threads > kMaxThreads)
    return {Status::kInvalidArgument, "threads must be 1.." + std::to_string(kMaxThreads)};
  const steady_clock::time_point start = steady_clock::now();
  format::FileHeader header;
  if (const format::StatusCode s = format::parse_header(file, options.limits.max_pixels, header); s != format::StatusCode::kOk)
    return detail::file_failure<Info>(s, file, options.limits);
  const int levels = header.params.total_levels;
  if (options.reduce < 0)
    return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be at least 0"};
  if (options.reduce >= levels)
    return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be below the file's " +
                                          std::to_string(levels) + " levels"};
  const PixelFormat format = header.is_colour() ? options.colour_format : PixelFormat::kGrey8;

  display::DecodeRequest request;
  request.reduce = options.reduce;
  request.rgb_order = options.colour_format == PixelFormat::kRgb24;
  request.top_down = top_down;
  request.threads = options.threads;
  request.held_bytes_per_pixel = held ? bytes_per_pixel(format) : 0;
  steady_clock::time_point decoded = start;
  request.progress = [&](display::DecodeStage stage, std::uint32_t done, std::uint32_t total) {
    Progress progress;
    switch (stage) {
      case display::DecodeStage::kPlanesDecoded:
        decoded = steady_clock::now();
        progress.stage = Progress::Stage::kDecodePlane;
        break;
      case display::DecodeStage::kRowsSynthesized:
        progress.stage = Progress::Stage::kSynthesisLevel;
        break;
    }
    progress.done = static_cast<int>(done);
    progress.total = static_cast<int>(total);
    return !options.progress || options.progress(progress);
  };
  Info info = detail::info_from_header(header, file.size());
  std::size_t row_bytes = 0;
  std::uint32_t height = 0;
  display::RowSink sink;
  sink.begin = [&](const format::FileHeader&, const display::PictureShape& shape) {
    row_bytes = std::size_t{shape.width} * static_cast<std::size_t>(bytes_per_pixel(format));
    height = shape.height;
    return !receiver.begin || receiver.begin(info, RowShape{shape.width, shape.height, format});
  };
  sink.row = [&](std::uint32_t row, std::span<const std::uint8_t> bytes) {
    return !receiver.rows || receiver.rows(height - 1 - row, bytes.first(row_bytes));
  };
  if (const format::StatusCode s = display::decode_rows(file, options.limits.max_pixels, request, sink);
      s != format::StatusCode::kOk)
    return detail::file_failure<Info>(s, file, options.limits);
  if (timings != nullptr) {
    const steady_clock::time_point end = steady_clock::now();
    timings->entropy = seconds(start, decoded);
    timings->transform = seconds(decoded, end);
    timings->total = seconds(start, end);
  }
  return info;
}

}  // namespace detail

Result<Info> decode_rows(std::span<const std::uint8_t> file, const DecodeOptions& options,
                         const RowReceiver& receiver) {
  return detail::guarded<Info>([&] { return detail::decode_rows_holding(file, options, receiver, true, false, nullptr); });
}

Result<Decoded> decode(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  return detail::guarded<Decoded>([&]() -> Result<Decoded> {
    Decoded out;
    Picture& picture = out.picture;
    RowReceiver receiver;
    receiver.begin = [&](const Info&, const RowShape& shape) {
      picture.width = shape.width;
      picture.height = shape.height;
      picture.format = shape.format;
      utils::resize_large(picture.pixels, picture.stride() * picture.height);
      return true;
    };
    receiver.rows = [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
      std::copy(pixels.begin(), pixels.end(), picture.pixels.begin() + static_cast<std::ptrdiff_t>(picture.stride() * row));
      return true;
    };
    Result<Info> info = detail::decode_rows_holding(file, options, receiver, true, false, &out.timings);
    if (!info) return {info.status(), info.message()};
    out.info = std::move(info).value();
    return out;
  });
}

}  // namespace varnic
