// decode: the decode driver of display/ with the library's options, progress and layout.
#include <algorithm>
#include <chrono>

#include "api/internal.h"
#include "display/display.h"

namespace varnic {
namespace {

using detail::failure;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

Result<Decoded> decode_unguarded(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  if (options.colour_format == PixelFormat::kGrey8)
    return {Status::kInvalidArgument, "the colour output format must be RGB or BGR"};
  if (options.threads < 1 || options.threads > kMaxThreads)
    return {Status::kInvalidArgument, "threads must be 1.." + std::to_string(kMaxThreads)};
  const Clock::time_point start = Clock::now();
  format::FileHeader header;
  if (const format::StatusCode s = format::parse_header(file, options.limits.max_pixels, header); s != format::StatusCode::kOk)
    return failure<Decoded>(s);
  const int levels = header.params.total_levels;
  if (options.reduce < 0 || options.reduce >= levels)
    return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be below the file's " +
                                          std::to_string(levels) + " levels"};

  display::ReconstructRequest request;
  request.reduce = options.reduce;
  request.threads = std::max(1, options.threads);
  request.layout = display::PixelLayout::kRows;
  request.rgb_order = options.colour_format == PixelFormat::kRgb24;
  Clock::time_point decoded = start;
  bool planes_reported = false;
  if (options.progress) {
    request.progress = [&](display::DecodeStage stage, int done, int total) {
      Progress progress;
      progress.stage = stage == display::DecodeStage::kPlanesDecoded ? Progress::Stage::kDecodePlane
                                                               : Progress::Stage::kSynthesisLevel;
      if (stage == display::DecodeStage::kPlanesDecoded) {
        decoded = Clock::now();
        planes_reported = true;
      }
      progress.done = done;
      progress.total = total;
      return options.progress(progress);
    };
  }
  display::DecodedFile result;
  if (const format::StatusCode s = display::decode_file(file, options.limits.max_pixels, request, result);
      s != format::StatusCode::kOk)
    return failure<Decoded>(s);
  const Clock::time_point end = Clock::now();
  // Without a callback the planes may be synthesised while others are still being decoded: the
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

}  // namespace

Result<Decoded> decode(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  return detail::guarded<Decoded>([&] { return decode_unguarded(file, options); });
}

}  // namespace varnic
