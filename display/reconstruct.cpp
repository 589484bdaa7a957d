// SPDX-License-Identifier: BSD-2-Clause
// The decode driver: coefficient planes, synthesis and pixels, on the worker pool.

#include <algorithm>
#include <new>

#include "display/display.h"
#include "utils/memory.h"
#include "utils/parallel.h"

namespace varnic::display {
namespace {

using format::kChannelCount;

int plane_count(const format::CodecParams& params) { return format::plane_count(params.image_mode); }

StatusCode check_planes(const decoder::PlaneSet& planes, const format::CodecParams& params, int reduce) {
  const int levels = params.total_levels;
  if (levels < 1 || levels > format::kMaxFileLevels || reduce < 0 || reduce >= levels) {
    return StatusCode::kReconstructFailed;
  }
  if (params.image_mode != format::kImageModeGrey && params.image_mode != format::kImageModeColour) {
    return StatusCode::kReconstructFailed;
  }
  if (params.image_width == 0 || params.image_height == 0 || params.image_width > params.padded_width ||
      params.image_height > params.padded_height) {
    return StatusCode::kReconstructFailed;
  }
  for (int c = 0; c < plane_count(params); ++c) {
    const format::CoefficientPlane& plane = planes[static_cast<std::size_t>(c)];
    if (plane.width() != params.padded_width || plane.height() != params.padded_height) {
      return StatusCode::kReconstructFailed;
    }
  }
  return StatusCode::kOk;
}

// task(c) for each plane, one task per plane on the pool; the first failure in plane order. A
// task that runs out of memory fails with kOutOfMemory rather than throwing across the pool.
template <class Task>
StatusCode for_each_plane(utils::WorkerPool& pool, int count, const Task& task) {
  std::array<StatusCode, kChannelCount> results;
  results.fill(StatusCode::kOk);
  pool.run(count, [&](int c) {
    try {
      results[static_cast<std::size_t>(c)] = task(c);
    } catch (const std::bad_alloc&) {
      results[static_cast<std::size_t>(c)] = StatusCode::kOutOfMemory;
    }
  });
  for (int c = 0; c < count; ++c) {
    if (results[static_cast<std::size_t>(c)] != StatusCode::kOk) return results[static_cast<std::size_t>(c)];
  }
  return StatusCode::kOk;
}

// A bottom-up picture buffer of `stride`-byte rows in blue-green-red order as `out`'s layout,
// keeping its bottom `height` rows and left `width` columns (a reduced picture's share of the
// padded planes).
void from_buffer(std::span<const std::uint8_t> buffer, std::size_t stride, std::uint32_t width,
                 std::uint32_t height, bool grey, const ReconstructRequest& request, DecodedPicture& out) {
  out.width = width;
  out.height = height;
  out.bits_per_pixel = grey ? 8 : 24;
  const std::size_t pixel_bytes = grey ? 1 : 3;
  const bool rows = request.layout == PixelLayout::kRows;
  const utils::RowGeometry g = utils::row_geometry(width, height, out.bits_per_pixel);
  out.stride = rows ? g.data_bytes : g.stride;
  utils::assign_large(out.pixels, out.stride * height);
  const bool swap = rows && !grey && request.rgb_order;
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = buffer.data() + std::size_t{y} * stride;
    std::uint8_t* dst = out.pixels.data() + out.stride * (rows ? height - 1 - y : y);
    if (!swap) {
      std::copy_n(src, std::size_t{width} * pixel_bytes, dst);
    } else {
      for (std::uint32_t x = 0; x < width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
    }
  }
}

// The synthesised planes as pixels in the request's layout.
StatusCode convert(const decoder::PlaneSet& planes, const format::CodecParams& params, const format::Magic& magic,
                   const ReconstructRequest& request, utils::WorkerPool& pool, DecodedPicture& out) {
  const bool grey = params.image_mode != format::kImageModeColour;
  DecodedPicture picture;
  if (request.reduce > 0) {
    std::vector<std::uint8_t> buffer;
    PreviewFrame frame;
    render_preview(planes, params, magic, params.total_levels - request.reduce, buffer, frame);
    // The reduced planes cover the padded size; the picture's share is ceil(W / 2^r) x ceil(H / 2^r).
    const std::uint32_t scale = 1u << request.reduce;
    const std::uint32_t width = std::min((params.image_width + scale - 1) / scale, frame.width);
    const std::uint32_t height = std::min((params.image_height + scale - 1) / scale, frame.height);
    const utils::RowGeometry g = utils::row_geometry(frame.width, frame.height, frame.bits_per_pixel);
    if (buffer.size() < g.picture_bytes) buffer.resize(g.picture_bytes, 0);  // no conversion for this magic
    from_buffer(buffer, g.stride, width, height, grey, request, picture);
  } else if (request.layout == PixelLayout::kRows && (grey || magic[format::kMinorDigitOffset] != '3')) {
    // Straight into the caller's rows, in as many bands as there are threads.
    picture.width = params.image_width;
    picture.height = params.image_height;
    picture.bits_per_pixel = grey ? 8 : 24;
    picture.stride = utils::row_geometry(picture.width, 1, picture.bits_per_pixel).data_bytes;
    utils::assign_large(picture.pixels, picture.stride * picture.height);
    bool converted = true;
    pool.for_range(picture.height, 16, [&](std::size_t first, std::size_t last) {
      if (!planes_to_rows(planes, params, magic, true, request.rgb_order, picture.pixels, picture.stride,
                          static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last))) {
        converted = false;  // every band refuses alike
      }
    });
    if (!converted) return StatusCode::kReconstructFailed;
  } else {
    const utils::RowGeometry g = utils::row_geometry(params.image_width, params.image_height, grey ? 8 : 24);
    std::vector<std::uint8_t> buffer;
    utils::assign_large(buffer, g.picture_bytes);
    planes_to_pixels(planes, params, magic, buffer);
    if (request.layout == PixelLayout::kPictureBuffer) {
      picture.width = params.image_width;
      picture.height = params.image_height;
      picture.bits_per_pixel = grey ? 8 : 24;
      picture.stride = g.stride;
      picture.pixels = std::move(buffer);
    } else {
      // Version 2.3's packed sequence, read as the desktop program draws it.
      from_buffer(buffer, g.stride, params.image_width, params.image_height, grey, request, picture);
    }
  }
  out = std::move(picture);
  return StatusCode::kOk;
}

StatusCode synthesize_and_convert(decoder::PlaneSet& planes, const format::CodecParams& params,
                                  const format::Magic& magic, const ReconstructRequest& request,
                                  utils::WorkerPool& pool, DecodedPicture& out) {
  const int count = plane_count(params);
  if (request.dequantize) {
    for (int c = 0; c < count; ++c) {
      decoder::dequantize_plane(planes[static_cast<std::size_t>(c)], params, static_cast<format::Channel>(c));
    }
  }
  // One work buffer per plane, as large as its last step needs, kept from step to step.
  std::array<std::vector<std::int16_t>, kChannelCount> work;
  auto synthesize = [&](int c, int step) {
    const auto i = static_cast<std::size_t>(c);
    return decoder::synthesize_level(planes[i], params, static_cast<format::Channel>(c), step, work[i]);
  };
  const int steps = params.total_levels - request.reduce;
  if (request.preview || request.progress) {
    std::vector<std::uint8_t> preview;
    for (int step = 0; step < steps; ++step) {
      if (request.preview) {
        PreviewFrame frame;
        render_preview(planes, params, magic, step, preview, frame);
        if (!request.preview(frame)) return StatusCode::kCancelled;
      }
      VARNIC_RETURN_IF_ERROR(for_each_plane(pool, count, [&](int c) { return synthesize(c, step); }));
      if (request.progress && !request.progress(DecodeStage::kLevelSynthesised, step + 1, steps)) {
        return StatusCode::kCancelled;
      }
    }
  } else {
    VARNIC_RETURN_IF_ERROR(for_each_plane(pool, count, [&](int c) {
      for (int step = 0; step < steps; ++step) VARNIC_RETURN_IF_ERROR(synthesize(c, step));
      return StatusCode::kOk;
    }));
  }
  return convert(planes, params, magic, request, pool, out);
}

StatusCode decode_one(std::span<const std::uint8_t> file, const format::FileHeader& header, int c,
                      decoder::PlaneSet& planes) {
  const format::CodecParams& p = header.params;
  format::CoefficientPlane& plane = planes[static_cast<std::size_t>(c)];
  VARNIC_RETURN_IF_ERROR(plane.allocate(p.padded_width, p.padded_height));
  return decoder::decode_plane(file, header, static_cast<format::Channel>(c), plane);
}

}  // namespace

StatusCode reconstruct(decoder::PlaneSet& planes, const format::CodecParams& params, const format::Magic& magic,
                       const ReconstructRequest& request, DecodedPicture& out) {
  VARNIC_RETURN_IF_ERROR(check_planes(planes, params, request.reduce));
  try {
    utils::WorkerPool pool(request.threads);
    return synthesize_and_convert(planes, params, magic, request, pool, out);
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
}

StatusCode decode_coefficients(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads,
                               format::FileHeader& header, decoder::PlaneSet& planes) {
  format::FileHeader parsed;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, parsed));
  decoder::PlaneSet decoded;
  utils::WorkerPool pool(threads);
  VARNIC_RETURN_IF_ERROR(for_each_plane(pool, plane_count(parsed.params),
                                        [&](int c) { return decode_one(file, parsed, c, decoded); }));
  header = std::move(parsed);
  planes = std::move(decoded);
  return StatusCode::kOk;
}

StatusCode decode_file(std::span<const std::uint8_t> file, std::uint64_t max_pixels, const ReconstructRequest& request,
                       DecodedFile& out) {
  DecodedFile result;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, result.header));
  const format::CodecParams& params = result.header.params;
  if (request.reduce < 0 || request.reduce >= params.total_levels) return StatusCode::kReconstructFailed;
  const int count = plane_count(params);
  try {
    utils::WorkerPool pool(request.threads);
    if (pool.size() > 1 && count > 1 && !request.preview && !request.progress && !request.dequantize) {
      // A plane's synthesis needs only its own coefficients, so each task takes a plane from
      // decoding to samples: I and Q are synthesised while Y is still being decoded.
      std::array<std::vector<std::int16_t>, kChannelCount> work;
      const int steps = params.total_levels - request.reduce;
      VARNIC_RETURN_IF_ERROR(for_each_plane(pool, count, [&](int c) {
        VARNIC_RETURN_IF_ERROR(decode_one(file, result.header, c, result.planes));
        const auto i = static_cast<std::size_t>(c);
        for (int step = 0; step < steps; ++step) {
          VARNIC_RETURN_IF_ERROR(
              decoder::synthesize_level(result.planes[i], params, static_cast<format::Channel>(c), step, work[i]));
        }
        return StatusCode::kOk;
      }));
      VARNIC_RETURN_IF_ERROR(convert(result.planes, params, result.header.magic, request, pool, result.picture));
    } else {
      VARNIC_RETURN_IF_ERROR(
          for_each_plane(pool, count, [&](int c) { return decode_one(file, result.header, c, result.planes); }));
      if (request.progress && !request.progress(DecodeStage::kPlanesDecoded, count, count)) return StatusCode::kCancelled;
      VARNIC_RETURN_IF_ERROR(check_planes(result.planes, params, request.reduce));
      VARNIC_RETURN_IF_ERROR(
          synthesize_and_convert(result.planes, params, result.header.magic, request, pool, result.picture));
    }
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  out = std::move(result);
  return StatusCode::kOk;
}

namespace {

// Rows synthesised per task when decode_rows has threads: enough to make a task worth a wake-up,
// few enough that the three planes' rows stay in the cache.
constexpr std::uint32_t kRowChunk = 32;

// The rows of a picture decoded whole (the packed 2.3 colour layout), bottom row first.
StatusCode rows_of_whole_decode(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads,
                                bool rgb_order, const RowSink& sink) {
  ReconstructRequest request;
  request.threads = threads;
  request.layout = PixelLayout::kRows;
  request.rgb_order = rgb_order;
  DecodedFile decoded;
  VARNIC_RETURN_IF_ERROR(decode_file(file, max_pixels, request, decoded));
  if (sink.begin && !sink.begin(decoded.header)) return StatusCode::kCancelled;
  const DecodedPicture& picture = decoded.picture;
  const std::size_t row_bytes = std::size_t{picture.width} * static_cast<std::size_t>(picture.bits_per_pixel / 8);
  for (std::uint32_t r = 0; r < picture.height; ++r) {
    const std::uint8_t* top_down = picture.pixels.data() + picture.stride * (picture.height - 1 - r);
    if (!sink.row(r, std::span<const std::uint8_t>(top_down, row_bytes))) return StatusCode::kCancelled;
  }
  return StatusCode::kOk;
}

}  // namespace

StatusCode decode_rows(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads, bool rgb_order,
                       const RowSink& sink) {
  format::FileHeader header;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, header));
  const format::CodecParams& params = header.params;
  const bool grey = params.image_mode != format::kImageModeColour;
  if (!grey && header.magic[format::kMinorDigitOffset] == '3') {
    return rows_of_whole_decode(file, max_pixels, threads, rgb_order, sink);
  }
  const int count = plane_count(params);
  try {
    std::array<format::SymbolPlane, kChannelCount> codes;
    utils::WorkerPool pool(threads);
    VARNIC_RETURN_IF_ERROR(for_each_plane(pool, count, [&](int c) {
      format::SymbolPlane& plane = codes[static_cast<std::size_t>(c)];
      VARNIC_RETURN_IF_ERROR(plane.allocate(params.padded_width, params.padded_height));
      return decoder::decode_plane_symbols(file, header, static_cast<format::Channel>(c), plane);
    }));
    std::array<decoder::LineSynthesis, kChannelCount> lines;
    for (int c = 0; c < count; ++c) {
      VARNIC_RETURN_IF_ERROR(lines[static_cast<std::size_t>(c)].start(codes[static_cast<std::size_t>(c)], params,
                                                                      static_cast<format::Channel>(c)));
    }
    if (sink.begin && !sink.begin(header)) return StatusCode::kCancelled;
    const std::int32_t offset = params.channel(format::Channel::kY).pixel_offset;
    const std::size_t row_bytes = std::size_t{params.image_width} * (grey ? 1 : 3);
    // Rows go in chunks: each plane synthesises its share of a chunk as one task, then the
    // chunk's pixels are converted on every thread and handed over in order.
    const std::uint32_t chunk = pool.size() > 1 ? kRowChunk : 1;
    const std::size_t width = params.padded_width;
    std::array<std::vector<std::int16_t>, kChannelCount> samples;
    for (int c = 0; c < count; ++c) samples[static_cast<std::size_t>(c)].resize(width * chunk);
    std::vector<std::uint8_t> pixels(row_bytes * chunk);
    for (std::uint32_t first = 0; first < params.image_height; first += chunk) {
      const std::uint32_t rows = std::min(chunk, params.image_height - first);
      auto synthesise = [&](int c) {
        std::int16_t* out = samples[static_cast<std::size_t>(c)].data();
        for (std::uint32_t k = 0; k < rows; ++k) {
          std::copy_n(lines[static_cast<std::size_t>(c)].next_row(), width, out + width * k);
        }
      };
      auto convert_rows = [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) {
          const std::int16_t* y = samples[0].data() + width * k;
          std::uint8_t* out = pixels.data() + row_bytes * k;
          if (grey) {
            samples_to_grey_row(y, params.image_width, offset, out);
          } else {
            samples_to_colour_row(y, samples[1].data() + width * k, samples[2].data() + width * k,
                                  params.image_width, offset, rgb_order, out);
          }
        }
      };
      if (chunk == 1) {
        for (int c = 0; c < count; ++c) synthesise(c);
        convert_rows(0, 1);
      } else {
        pool.run(count, synthesise);
        pool.for_range(rows, 4, convert_rows);
      }
      for (std::uint32_t k = 0; k < rows; ++k) {
        if (!sink.row(first + k, std::span<const std::uint8_t>(pixels.data() + row_bytes * k, row_bytes))) {
          return StatusCode::kCancelled;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  return StatusCode::kOk;
}

}  // namespace varnic::display
