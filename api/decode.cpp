// decode: header, coefficient planes (one thread per plane when asked), synthesis level by
// level, then the picture buffer in the public layout. `reduce` stops the synthesis early and
// scales the partly synthesised planes exactly as the desktop program's previews do.
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "api/internal.h"
#include "codec/memory.h"
#include "codec/picture_geometry.h"
#include "decoder/decoder.h"
#include "display/display.h"

namespace varnic {
namespace {

using detail::failure;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Runs task(index, worker) for index 0..count-1 (planes, or parts of a picture; at most three) on up
// to `threads` threads (worker 0 is the calling thread, so a worker's scratch is never shared);
// returns the first failure in index order.
template <class Task>
codec::Status for_each_task(int count, int threads, const Task& task) {
  std::array<codec::Status, codec::kChannelCount> results;
  results.fill(codec::Status::kOk);
  std::atomic<int> next{0};
  auto work = [&](int worker) {
    for (int c = next.fetch_add(1); c < count; c = next.fetch_add(1))
      results[static_cast<std::size_t>(c)] = task(c, worker);
  };
  std::vector<std::thread> pool;
  try {
    for (int t = 1; t < std::min(threads, count); ++t) pool.emplace_back(work, t);
  } catch (const std::system_error&) {
    // The threads that started and this one share the planes.
  }
  work(0);
  for (std::thread& t : pool) t.join();
  for (int c = 0; c < count; ++c)
    if (results[static_cast<std::size_t>(c)] != codec::Status::kOk) return results[static_cast<std::size_t>(c)];
  return codec::Status::kOk;
}

bool report(const ProgressCallback& callback, Progress::Stage stage, int done, int total) {
  if (!callback) return true;
  Progress progress;
  progress.stage = stage;
  progress.done = done;
  progress.total = total;
  return callback(progress);
}

// A picture buffer (rows bottom-up, padded to 4 bytes, blue-green-red) as a public picture:
// top row first, packed, in the asked byte order. Only the bottom `height` rows and the left
// `width` columns are taken, which crops a reduced preview to the picture's own share.
Picture from_buffer(std::span<const std::uint8_t> buffer, std::size_t buffer_stride, std::uint32_t width,
                    std::uint32_t height, bool grey, PixelFormat colour_format) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.format = grey ? PixelFormat::kGrey8 : colour_format;
  codec::ResizeLarge(picture.pixels, picture.stride() * height);
  const bool swap = !grey && colour_format == PixelFormat::kRgb24;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = buffer.data() + std::size_t{height - 1 - y} * buffer_stride;
    std::uint8_t* dst = picture.pixels.data() + std::size_t{y} * picture.stride();
    if (!swap) {
      std::copy(src, src + picture.stride(), dst);
    } else {
      for (std::uint32_t x = 0; x < width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    }
  }
  return picture;
}

Result<Decoded> decode_unguarded(std::span<const std::uint8_t> file, const DecodeOptions& options) {
  if (options.colour_format == PixelFormat::kGrey8)
    return {Status::kInvalidArgument, "the colour output format must be RGB or BGR"};
  if (options.threads < 1 || options.threads > kMaxThreads)
    return {Status::kInvalidArgument, "threads must be 1.." + std::to_string(kMaxThreads)};
  const Clock::time_point start = Clock::now();
  decoder::DecodeLimits limits;
  limits.max_pixels_ = options.limits.max_pixels;
  decoder::FileHeader header;
  if (const codec::Status s = decoder::parse_file_header(file, limits, header); s != codec::Status::kOk)
    return failure<Decoded>(s);
  const codec::CodecParams& params = header.params_;
  const int levels = params.total_levels_;
  if (options.reduce < 0 || options.reduce >= levels)
    return {Status::kInvalidArgument, "reduce " + std::to_string(options.reduce) + " must be below the file's " +
                                          std::to_string(levels) + " levels"};

  const bool grey = !header.is_colour();
  const int planes_count = grey ? 1 : codec::kChannelCount;
  decoder::PlaneSet planes;
  const int threads = std::max(1, options.threads);
  const int steps = levels - options.reduce;
  // One synthesis work buffer per worker, kept from step to step and plane to plane.
  std::array<std::vector<std::int16_t>, codec::kChannelCount> work;
  auto decode_one = [&](int c) {
    codec::CoefficientPlane& plane = planes[static_cast<std::size_t>(c)];
    VARNIC_RETURN_IF_ERROR(plane.Allocate(params.padded_width_, params.padded_height_));
    return decoder::decode_plane(file, header, static_cast<codec::Channel>(c), plane);
  };
  auto synthesize = [&](int c, int step, int worker) {
    return decoder::synthesize_level(planes[static_cast<std::size_t>(c)], params, static_cast<codec::Channel>(c),
                                     step, work[static_cast<std::size_t>(worker)]);
  };
  Clock::time_point decoded;
  if (threads > 1 && planes_count > 1 && !options.progress) {
    // A plane's synthesis needs only its own coefficients, so each task takes
    // a plane from decoding to the picture-sized samples: I and Q are
    // synthesised while Y is still being decoded. (The progress stages come
    // in order from this thread, so a caller with a callback gets the phases
    // below.) The entropy time then includes the synthesis.
    if (const codec::Status s = for_each_task(planes_count, threads, [&](int c, int worker) {
          VARNIC_RETURN_IF_ERROR(decode_one(c));
          for (int step = 0; step < steps; ++step) VARNIC_RETURN_IF_ERROR(synthesize(c, step, worker));
          return codec::Status::kOk;
        });
        s != codec::Status::kOk)
      return failure<Decoded>(s);
    decoded = Clock::now();
  } else {
    if (const codec::Status s = for_each_task(planes_count, threads, [&](int c, int) { return decode_one(c); });
        s != codec::Status::kOk)
      return failure<Decoded>(s);
    if (!report(options.progress, Progress::Stage::kDecodePlane, planes_count, planes_count))
      return failure<Decoded>(codec::Status::kCancelled);
    decoded = Clock::now();
    for (int step = 0; step < steps; ++step) {
      if (const codec::Status s =
              for_each_task(planes_count, threads, [&](int c, int worker) { return synthesize(c, step, worker); });
          s != codec::Status::kOk)
        return failure<Decoded>(s);
      if (!report(options.progress, Progress::Stage::kSynthesisLevel, step + 1, steps))
        return failure<Decoded>(codec::Status::kCancelled);
    }
  }

  Decoded out;
  bool converted = false;
  if (options.reduce == 0 && (grey || header.minor_version() != 3)) {
    // Straight into the caller's top-down rows: no picture buffer in between.
    out.picture.width = params.image_width_;
    out.picture.height = params.image_height_;
    out.picture.format = grey ? PixelFormat::kGrey8 : options.colour_format;
    codec::ResizeLarge(out.picture.pixels, out.picture.stride() * out.picture.height);
    const bool rgb = !grey && options.colour_format == PixelFormat::kRgb24;
    // Row halves on two threads when asked; a refusal refuses every range alike.
    const std::uint32_t half = threads > 1 ? params.image_height_ / 2 : params.image_height_;
    converted = for_each_task(half < params.image_height_ ? 2 : 1, threads, [&](int part, int) {
                  const std::uint32_t first = part == 0 ? 0 : half;
                  const std::uint32_t last = part == 0 ? half : params.image_height_;
                  return display::planes_to_rows(planes, params, header.magic_, true, rgb, out.picture.pixels,
                                                 out.picture.stride(), first, last)
                             ? codec::Status::kOk
                             : codec::Status::kReconstructFailed;
                }) == codec::Status::kOk;
  }
  if (converted) {
    // done
  } else if (options.reduce == 0) {
    const codec::RowGeometry geometry =
        codec::ComputeRowGeometry(params.image_width_, params.image_height_, static_cast<std::uint16_t>(grey ? 8 : 24));
    std::vector<std::uint8_t> buffer;
    codec::AssignLarge(buffer, geometry.picture_bytes);
    display::planes_to_pixels(planes, params, header.magic_, buffer);
    out.picture = from_buffer(buffer, geometry.row_bytes, params.image_width_, params.image_height_, grey,
                              options.colour_format);
  } else {
    std::vector<std::uint8_t> buffer;
    display::PreviewFrame frame;
    display::render_preview(planes, params, header.magic_, steps, buffer, frame);
    // The reduced planes cover the padded size; the picture's share is ceil(W / 2^K) x ceil(H / 2^K).
    const std::uint32_t scale = 1u << options.reduce;
    const std::uint32_t width = (params.image_width_ + scale - 1) / scale;
    const std::uint32_t height = (params.image_height_ + scale - 1) / scale;
    const codec::RowGeometry geometry =
        codec::ComputeRowGeometry(frame.width, frame.height, static_cast<std::uint16_t>(grey ? 8 : 24));
    if (buffer.size() < geometry.picture_bytes) buffer.resize(geometry.picture_bytes, 0);
    out.picture = from_buffer(buffer, geometry.row_bytes, std::min(width, frame.width), std::min(height, frame.height),
                              grey, options.colour_format);
  }
  const Clock::time_point end = Clock::now();
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
