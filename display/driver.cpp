// SPDX-License-Identifier: BSD-2-Clause
// The decode driver: codes, row-by-row synthesis and pixels, on the worker pool.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <new>

#include "display/display.h"
#include "utils/memory.h"
#include "utils/parallel.h"
#include "utils/picture_layout.h"

namespace varnic::display {

using format::StatusCode;
namespace {

using format::kChannelCount;

// Rows synthesized per task when there are threads: enough to make a task worth its hand-over, few
// enough that the ring's rows stay in the cores' caches until they are converted (at 32 rows of a
// 4096-wide picture the conversion took half as long again).
constexpr std::uint32_t kRowChunk = 8;
// Progress reports while the rows come: a smooth bar, and a callback that costs nothing.
constexpr std::uint32_t kProgressReports = 64;

int plane_count(const format::CodecParams& params) { return format::plane_count(params.image_mode); }

std::uint32_t ceil_shift(std::uint32_t v, int k) {
  return static_cast<std::uint32_t>((std::uint64_t{v} + (std::uint64_t{1} << k) - 1) >> k);
}

// What a request makes of the planes: the synthesis plan, the rows handed over and how samples
// become their bytes.
struct Output {
  decoder::SynthesisPlan plan;
  PictureShape shape;
  bool grey = false;
  // Version 2.3 colour at full size: every sample of the plane rows, red first, one sequence.
  bool packed = false;
  bool rgb_order = false;  // of the conversion
  int shift = 0;
};

StatusCode plan_output(const format::CodecParams& params, const format::Magic& magic, const DecodeRequest& request,
                       Output& out) {
  const int levels = params.total_levels;
  if (request.reduce < 0 || request.reduce > levels || (request.reduce == levels && !request.whole_region) ||
      params.image_width == 0 || params.image_height == 0 || params.image_width > params.padded_width ||
      params.image_height > params.padded_height) {
    return StatusCode::kReconstructFailed;
  }
  Output o;
  o.grey = params.image_mode != format::kImageModeColour;
  o.shift = request.reduce;
  // Version 2.3's colour conversion is red first into a buffer read blue first: reduced pictures
  // and previews come out with red and blue exchanged, the full picture as the packed sequence.
  const bool v23 = !o.grey && magic[format::kMinorDigitOffset] == '3';
  o.packed = v23 && request.reduce == 0 && !request.whole_region;
  o.rgb_order = o.packed || (v23 ? !request.rgb_order : request.rgb_order);
  PictureShape& shape = o.shape;
  shape.bits_per_pixel = o.grey ? 8 : 24;
  std::uint32_t rows = 0, cols = 0;
  if (request.whole_region) {
    shape.width = cols = params.padded_width >> request.reduce;
    shape.height = rows = params.padded_height >> request.reduce;
  } else {
    shape.width = cols = ceil_shift(params.image_width, request.reduce);
    shape.height = rows = ceil_shift(params.image_height, request.reduce);
  }
  shape.stride = utils::row_geometry(shape.width, 1, shape.bits_per_pixel).stride;
  if (o.packed) {
    // Every padded column, and the plane rows whose samples the picture's bytes reach.
    cols = params.padded_width;
    const std::uint64_t samples = (std::uint64_t{shape.stride} * shape.height + 2) / 3;
    rows = static_cast<std::uint32_t>(std::min<std::uint64_t>(params.padded_height, (samples + cols - 1) / cols));
  }
  VARNIC_RETURN_IF_ERROR(decoder::plan_synthesis(params, levels - request.reduce, rows, cols, o.plan));
  out = o;
  return StatusCode::kOk;
}

// Hands the rows over, reporting progress.
class Delivery {
 public:
  Delivery(const DecodeRequest& request, const RowSink& sink, std::uint32_t total)
      : request_(request), sink_(sink), total_(total) {}
  bool row(std::uint32_t index, std::span<const std::uint8_t> bytes) {
    if (!sink_.row(index, bytes)) return false;
    ++done_;
    if (request_.progress && (done_ == total_ || done_ % std::max(1u, total_ / kProgressReports) == 0)) {
      return request_.progress(DecodeStage::kRowsSynthesized, done_, total_);
    }
    return true;
  }

 private:
  const DecodeRequest& request_;
  const RowSink& sink_;
  std::uint32_t total_;
  std::uint32_t done_ = 0;
};

// The packed 2.3 picture: its rows cut out of the sequence of converted plane rows, which come in
// the rows' order. Only the plane rows the next picture rows reach are kept.
class PackedRows {
 public:
  PackedRows(const Output& o, std::uint32_t padded_height, bool top_down, Delivery& delivery, bool rgb_order)
      : stride_(o.shape.stride), pixel_bytes_(3 * std::size_t{o.shape.width}), plane_bytes_(3 * std::size_t{o.plan.out_cols}),
        height_(o.shape.height), top_down_(top_down), delivery_(delivery), rgb_order_(rgb_order), row_(o.shape.stride),
        sequence_end_(plane_bytes_ * padded_height), next_(top_down ? std::int64_t{height_} - 1 : 0),
        low_(top_down ? o.plan.out_rows : 0) {}

  // Plane row p's converted bytes, the next in the rows' order; then every picture row it completes.
  bool take(std::uint32_t p, const std::uint8_t* bytes) {
    std::vector<std::uint8_t> row(bytes, bytes + plane_bytes_);
    if (top_down_) {
      window_.push_front(std::move(row));
      low_ = p;
    } else {
      window_.push_back(std::move(row));
    }
    return emit(top_down_ ? p : p + 1);
  }
  // The picture rows left once every plane row has come.
  bool finish() { return emit(top_down_ ? 0 : UINT32_MAX); }

 private:
  // Emits the rows that the plane rows taken cover: up to plane row `reach` (exclusive) going up,
  // down to plane row `reach` going down.
  bool emit(std::uint32_t reach) {
    while (next_ >= 0 && next_ < std::int64_t{height_}) {
      const auto j = static_cast<std::uint32_t>(next_);
      const std::uint64_t start = std::uint64_t{j} * stride_;
      const std::uint64_t end = std::min<std::uint64_t>(start + stride_, sequence_end_);
      const bool ready = start >= end || (top_down_ ? std::uint64_t{reach} * plane_bytes_ <= start
                                                    : std::uint64_t{reach} * plane_bytes_ >= end);
      if (!ready) return true;
      std::fill(row_.begin(), row_.end(), std::uint8_t{0});
      for (std::uint64_t b = start; b < end;) {
        const std::uint64_t p = b / plane_bytes_;
        const std::vector<std::uint8_t>& plane_row = window_[static_cast<std::size_t>(p - low_)];
        const std::uint64_t from = b - p * plane_bytes_;
        const std::uint64_t n = std::min<std::uint64_t>(plane_bytes_ - from, end - b);
        std::copy_n(plane_row.begin() + static_cast<std::ptrdiff_t>(from), n, row_.begin() + static_cast<std::ptrdiff_t>(b - start));
        b += n;
      }
      // The sequence is red first into rows read blue first; red first asked for swaps each pixel.
      if (rgb_order_) {
        for (std::size_t x = 0; x < pixel_bytes_; x += 3) std::swap(row_[x], row_[x + 2]);
      }
      if (!delivery_.row(j, row_)) return false;
      next_ += top_down_ ? -1 : 1;
      drop();
    }
    return true;
  }
  // Plane rows no later picture row reaches.
  void drop() {
    if (next_ < 0 || next_ >= std::int64_t{height_}) return;
    const std::uint64_t start = static_cast<std::uint64_t>(next_) * stride_;
    if (top_down_) {
      while (!window_.empty() && (low_ + window_.size() - 1) * plane_bytes_ >= start + stride_) window_.pop_back();
    } else {
      while (!window_.empty() && (low_ + 1) * plane_bytes_ <= start) {
        window_.pop_front();
        ++low_;
      }
    }
  }
  std::size_t stride_;
  std::size_t pixel_bytes_;
  std::size_t plane_bytes_;
  std::uint32_t height_;
  bool top_down_;
  Delivery& delivery_;
  bool rgb_order_;
  std::vector<std::uint8_t> row_;
  std::uint64_t sequence_end_;
  std::int64_t next_;  // the picture row to emit next
  std::uint64_t low_;  // the plane row at the window's front
  std::deque<std::vector<std::uint8_t>> window_;
};

// The rows with threads: chunks of rows go through a ring of slots. Each plane synthesizes its
// share of a chunk as one task, in chunk order; a chunk whose planes are all in is converted as
// one task; the calling thread hands the converted chunks over in order, and between them takes
// tasks like any thread. Every thread takes whichever task is ready, the oldest chunk first, so
// that neither a plane that takes longer nor a core that another process holds keeps the others
// waiting beyond the ring's depth.
class RowPipeline {
 public:
  // `produce(c, first, n, out)`: plane c's plane rows first..first+n-1 of the picture's order into
  // out; `convert(samples, n, bytes)`; `deliver(first, n, bytes)`, false to stop.
  using Produce = std::function<void(int, std::uint32_t, std::uint32_t, std::int16_t*)>;
  using Convert = std::function<void(const std::array<std::vector<std::int16_t>, kChannelCount>&, std::uint32_t,
                                     std::uint8_t*)>;
  using Deliver = std::function<bool(std::uint32_t, std::uint32_t, const std::uint8_t*)>;

  RowPipeline(int planes, std::uint32_t rows, std::size_t span, std::size_t converted, const Produce& produce,
              const Convert& convert, const Deliver& deliver)
      : planes_(planes), rows_(rows), produce_(produce), convert_(convert), deliver_(deliver) {
    // Rows per chunk: enough to make a task worth its hand-over, few enough that the ring stays
    // small beside the decode's bound on wide pictures.
    const std::size_t row_bytes = 2 * span * static_cast<std::size_t>(planes) + converted;
    chunk_ = static_cast<std::uint32_t>(std::clamp<std::size_t>(kRingBytes / (kSlots * row_bytes), 1, kRowChunk));
    chunks_ = (rows + chunk_ - 1) / chunk_;
    for (Slot& slot : slots_) {
      for (int c = 0; c < planes; ++c) slot.samples[static_cast<std::size_t>(c)].resize(span * chunk_);
      slot.bytes.resize(converted * chunk_);
    }
  }

  StatusCode run(utils::WorkerPool& pool) {
    pool.run(pool.size(), [&](int lane) { work(lane == 0); });
    return status_;
  }

 private:
  static constexpr std::uint32_t kSlots = 4;
  static constexpr std::size_t kRingBytes = std::size_t{8} << 20;

  struct Slot {
    std::array<std::vector<std::int16_t>, kChannelCount> samples;
    std::vector<std::uint8_t> bytes;
    int planes = 0;  // synthesized into it
    bool converting = false;
    bool converted = false;
  };
  struct Task {
    enum Kind { kNone, kSynthesize, kConvert, kDeliver } kind = kNone;
    int plane = 0;
    std::uint32_t chunk = 0;
  };

  Slot& slot(std::uint32_t chunk) { return slots_[chunk % kSlots]; }
  std::uint32_t first_row(std::uint32_t chunk) const { return chunk * chunk_; }
  std::uint32_t rows_in(std::uint32_t chunk) const { return std::min(chunk_, rows_ - chunk * chunk_); }

  // Under the lock: the next task for this thread, or none for now.
  Task pick(bool caller) {
    if (caller && delivered_ < chunks_ && slot(delivered_).converted) return {Task::kDeliver, 0, delivered_};
    for (std::uint32_t k = delivered_; k < std::min(chunks_, delivered_ + kSlots); ++k) {
      const Slot& s = slot(k);
      if (s.planes == planes_ && !s.converting && !s.converted) return {Task::kConvert, 0, k};
    }
    Task best;
    for (int c = 0; c < planes_; ++c) {
      const std::uint32_t k = next_[static_cast<std::size_t>(c)];
      if (busy_[static_cast<std::size_t>(c)] || k >= chunks_ || k >= delivered_ + kSlots) continue;
      if (best.kind == Task::kNone || k < best.chunk) best = {Task::kSynthesize, c, k};
    }
    return best;
  }
  // Under the lock: whether this thread has nothing left to do.
  bool finished(bool caller) const {
    if (stop_) return true;
    if (caller) return delivered_ == chunks_;
    for (int c = 0; c < planes_; ++c) {
      if (next_[static_cast<std::size_t>(c)] < chunks_) return false;
    }
    for (const Slot& s : slots_) {
      if (s.planes == planes_ && !s.converted) return false;
    }
    return true;
  }

  void work(bool caller) {
    std::unique_lock lock(mutex_);
    while (!finished(caller)) {
      const Task task = pick(caller);
      if (task.kind == Task::kNone) {
        // The timeout only guards against a wake-up lost by a platform's condition variable.
        changed_.wait_for(lock, std::chrono::milliseconds(5));
        continue;
      }
      Slot& s = slot(task.chunk);
      if (task.kind == Task::kSynthesize) busy_[static_cast<std::size_t>(task.plane)] = true;
      if (task.kind == Task::kConvert) s.converting = true;
      lock.unlock();
      bool going = true;
      try {
        switch (task.kind) {
          case Task::kSynthesize:
            produce_(task.plane, first_row(task.chunk), rows_in(task.chunk),
                     s.samples[static_cast<std::size_t>(task.plane)].data());
            break;
          case Task::kConvert:
            convert_(s.samples, rows_in(task.chunk), s.bytes.data());
            break;
          case Task::kDeliver:
            going = deliver_(first_row(task.chunk), rows_in(task.chunk), s.bytes.data());
            break;
          case Task::kNone:
            break;
        }
      } catch (const std::bad_alloc&) {
        lock.lock();
        status_ = StatusCode::kOutOfMemory;
        stop_ = true;
        changed_.notify_all();
        return;
      }
      lock.lock();
      switch (task.kind) {
        case Task::kSynthesize:
          busy_[static_cast<std::size_t>(task.plane)] = false;
          ++next_[static_cast<std::size_t>(task.plane)];
          ++s.planes;
          break;
        case Task::kConvert:
          s.converting = false;
          s.converted = true;
          break;
        case Task::kDeliver:
          s.planes = 0;
          s.converted = false;
          ++delivered_;
          if (!going) {
            status_ = StatusCode::kCancelled;
            stop_ = true;
          }
          break;
        case Task::kNone:
          break;
      }
      changed_.notify_all();
    }
  }

  const int planes_;
  const std::uint32_t rows_;
  const Produce& produce_;
  const Convert& convert_;
  const Deliver& deliver_;
  std::uint32_t chunk_ = 1;
  std::uint32_t chunks_ = 0;
  std::array<Slot, kSlots> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::array<std::uint32_t, kChannelCount> next_{};  // each plane's next chunk to synthesize
  std::array<bool, kChannelCount> busy_{};
  std::uint32_t delivered_ = 0;  // chunks handed over
  bool stop_ = false;
  StatusCode status_ = StatusCode::kOk;
};

StatusCode run(const decoder::CodeSet& codes, const format::CodecParams& params, const Output& o,
               const DecodeRequest& request, const RowSink& sink) {
  const int count = plane_count(params);
  std::array<decoder::LineSynthesis, kChannelCount> lines;
  for (int c = 0; c < count; ++c) {
    VARNIC_RETURN_IF_ERROR(lines[static_cast<std::size_t>(c)].start(codes[static_cast<std::size_t>(c)], params,
                                                                    static_cast<format::Channel>(c), o.plan));
  }
  const std::size_t width = o.plan.out_cols;
  // Samples a plane row takes in the buffers: the synthesis writes every column it computes there.
  std::size_t span = width;
  for (int c = 0; c < count; ++c) {
    span = std::max(span, static_cast<std::size_t>(lines[static_cast<std::size_t>(c)].row_width()));
  }
  const std::int32_t offset = params.channel(format::Channel::kY).pixel_offset;
  // Bytes a plane row converts to: a row of the picture, or a piece of the packed sequence.
  const std::size_t converted = o.packed ? 3 * width : o.shape.stride;
  Delivery delivery(request, sink, o.shape.height);
  PackedRows packed(o, params.padded_height, request.top_down, delivery, request.rgb_order);
  const std::uint32_t rows = o.plan.out_rows;
  // The k-th plane row of the picture's order.
  auto plane_row = [&](std::uint32_t k) { return request.top_down ? rows - 1 - k : k; };

  const RowPipeline::Produce produce = [&](int c, std::uint32_t first, std::uint32_t n, std::int16_t* out) {
    for (std::uint32_t k = 0; k < n; ++k) {
      lines[static_cast<std::size_t>(c)].row_into(static_cast<int>(plane_row(first + k)), out + span * k);
    }
  };
  const RowPipeline::Convert convert = [&](const std::array<std::vector<std::int16_t>, kChannelCount>& samples,
                                           std::uint32_t n, std::uint8_t* bytes) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::int16_t* y = samples[0].data() + span * k;
      std::uint8_t* out = bytes + converted * k;
      if (o.grey) {
        grey_pixels(y, o.shape.width, o.shift, offset, out);
      } else {
        colour_pixels(y, samples[1].data() + span * k, samples[2].data() + span * k,
                      o.packed ? static_cast<std::uint32_t>(width) : o.shape.width, o.shift, offset, o.rgb_order, out);
      }
    }
  };
  const RowPipeline::Deliver deliver = [&](std::uint32_t first, std::uint32_t n, const std::uint8_t* bytes) {
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint8_t* row = bytes + converted * k;
      const bool going = o.packed ? packed.take(plane_row(first + k), row)
                                  : delivery.row(plane_row(first + k), std::span<const std::uint8_t>(row, converted));
      if (!going) return false;
    }
    return true;
  };

  utils::WorkerPool pool(request.threads);
  if (pool.size() > 1) {
    RowPipeline pipeline(count, rows, span, converted, produce, convert, deliver);
    VARNIC_RETURN_IF_ERROR(pipeline.run(pool));
  } else {
    // One thread: a row at a time through one slot.
    std::array<std::vector<std::int16_t>, kChannelCount> samples;
    for (int c = 0; c < count; ++c) samples[static_cast<std::size_t>(c)].resize(span);
    std::vector<std::uint8_t> bytes(converted);
    for (std::uint32_t k = 0; k < rows; ++k) {
      for (int c = 0; c < count; ++c) produce(c, k, 1, samples[static_cast<std::size_t>(c)].data());
      convert(samples, 1, bytes.data());
      if (!deliver(k, 1, bytes.data())) return StatusCode::kCancelled;
    }
  }
  if (o.packed && !packed.finish()) return StatusCode::kCancelled;
  return StatusCode::kOk;
}

StatusCode decode_planes(std::span<const std::uint8_t> file, const format::FileHeader& header,
                         const decoder::SynthesisPlan& plan, const std::array<bool, kChannelCount>& leave_last,
                         int threads, decoder::CodeSet& codes) {
  const int count = plane_count(header.params);
  std::array<decoder::PlaneDecode, kChannelCount> decodes;
  for (int c = 0; c < count; ++c) {
    const auto i = static_cast<std::size_t>(c);
    VARNIC_RETURN_IF_ERROR(decodes[i].start(file, header, static_cast<format::Channel>(c), plan, leave_last[i]));
  }
  // Every plane's first part, then the second parts: the pool takes them in this order, so a
  // second part that waits on its first waits on a running one, and while Y's parts, the largest,
  // run at once, the other planes fill the gaps.
  std::vector<std::pair<int, int>> parts;
  for (int part = 0; part < 2; ++part) {
    for (int c = 0; c < count; ++c) {
      if (part < decodes[static_cast<std::size_t>(c)].parts()) parts.emplace_back(c, part);
    }
  }
  utils::WorkerPool pool(threads);
  pool.run(static_cast<int>(parts.size()),
           [&](int k) { decodes[static_cast<std::size_t>(parts[static_cast<std::size_t>(k)].first)].walk(parts[static_cast<std::size_t>(k)].second); });
  for (int c = 0; c < count; ++c) {
    const auto i = static_cast<std::size_t>(c);
    VARNIC_RETURN_IF_ERROR(decodes[i].finish(codes[i]));
  }
  return StatusCode::kOk;
}

}  // namespace

StatusCode picture_shape(const format::CodecParams& params, const format::Magic& magic, const DecodeRequest& request,
                         PictureShape& shape) {
  Output o;
  VARNIC_RETURN_IF_ERROR(plan_output(params, magic, request, o));
  shape = o.shape;
  return StatusCode::kOk;
}

StatusCode decode_codes(const decoder::CodeSet& codes, const format::CodecParams& params, const format::Magic& magic,
                        const DecodeRequest& request, const RowSink& sink) {
  Output o;
  VARNIC_RETURN_IF_ERROR(plan_output(params, magic, request, o));
  try {
    return run(codes, params, o, request, sink);
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
}

StatusCode decode_rows(std::span<const std::uint8_t> file, std::uint64_t max_pixels, const DecodeRequest& request,
                       const RowSink& sink) {
  format::FileHeader header;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, header));
  const format::CodecParams& params = header.params;
  Output o;
  VARNIC_RETURN_IF_ERROR(plan_output(params, header.magic, request, o));
  // The codes' share of the bound, plane by plane: a plane whose finest codes do not fit what is
  // left leaves them in the stream.
  const std::uint64_t pixels = std::uint64_t{o.shape.width} * o.shape.height;
  const std::uint64_t share = kBoundBytesPerPixel - std::min<std::uint64_t>(
                                                        kBoundBytesPerPixel, static_cast<std::uint64_t>(std::max(0, request.held_bytes_per_pixel)));
  std::uint64_t budget = share * pixels + kCodeSlack;
  std::array<bool, kChannelCount> leave_last{};
  for (int c = 0; c < plane_count(params); ++c) {
    const auto channel = static_cast<format::Channel>(c);
    const std::uint64_t coarse = decoder::plane_code_bytes(o.plan, params, channel, false);
    const std::uint64_t whole = decoder::plane_code_bytes(o.plan, params, channel, true);
    budget -= std::min(budget, coarse);
    // Bands left in the stream are read forwards only.
    leave_last[static_cast<std::size_t>(c)] = whole - coarse > budget && !request.top_down;
    if (whole - coarse <= budget) budget -= whole - coarse;
  }
  try {
    decoder::CodeSet codes;
    VARNIC_RETURN_IF_ERROR(decode_planes(file, header, o.plan, leave_last, request.threads, codes));
    const auto count = static_cast<std::uint32_t>(plane_count(params));
    if (request.progress && !request.progress(DecodeStage::kPlanesDecoded, count, count)) return StatusCode::kCancelled;
    if (sink.begin && !sink.begin(header, o.shape)) return StatusCode::kCancelled;
    return run(codes, params, o, request, sink);
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
}

StatusCode decode_file(std::span<const std::uint8_t> file, std::uint64_t max_pixels, const DecodeRequest& request,
                       DecodedFile& out) {
  DecodedFile result;
  DecodeRequest held = request;
  RowSink sink;
  sink.begin = [&](const format::FileHeader& header, const PictureShape& shape) {
    result.header = header;
    DecodedPicture& picture = result.picture;
    picture.width = shape.width;
    picture.height = shape.height;
    picture.bits_per_pixel = shape.bits_per_pixel;
    picture.stride = shape.stride;
    utils::assign_large(picture.pixels, shape.stride * shape.height);
    return true;
  };
  sink.row = [&](std::uint32_t row, std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), result.picture.pixels.begin() + static_cast<std::ptrdiff_t>(result.picture.stride * row));
    return true;
  };
  // The picture buffer is held while the rows come.
  format::FileHeader header;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, header));
  held.held_bytes_per_pixel = header.is_colour() ? 3 : 1;
  try {
    VARNIC_RETURN_IF_ERROR(decode_rows(file, max_pixels, held, sink));
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  out = std::move(result);
  return StatusCode::kOk;
}

StatusCode decode_coefficients(std::span<const std::uint8_t> file, std::uint64_t max_pixels, int threads,
                               format::FileHeader& header, decoder::CodeSet& codes) {
  format::FileHeader parsed;
  VARNIC_RETURN_IF_ERROR(format::parse_header(file, max_pixels, parsed));
  const format::CodecParams& p = parsed.params;
  decoder::SynthesisPlan plan;
  VARNIC_RETURN_IF_ERROR(decoder::plan_synthesis(p, p.total_levels, p.padded_height, p.padded_width, plan));
  decoder::CodeSet decoded;
  try {
    VARNIC_RETURN_IF_ERROR(decode_planes(file, parsed, plan, {}, threads, decoded));
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  header = std::move(parsed);
  codes = std::move(decoded);
  return StatusCode::kOk;
}

StatusCode reconstruct(const decoder::CodeSet& codes, const format::CodecParams& params, const format::Magic& magic,
                       const PreviewHook& preview, DecodedPicture& out) {
  try {
    // Rows into a picture buffer, bottom row first.
    auto into = [](DecodedPicture& picture) {
      RowSink sink;
      sink.row = [&picture](std::uint32_t row, std::span<const std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), picture.pixels.begin() + static_cast<std::ptrdiff_t>(picture.stride * row));
        return true;
      };
      return sink;
    };
    auto decode = [&](const DecodeRequest& request, DecodedPicture& picture) {
      PictureShape shape;
      VARNIC_RETURN_IF_ERROR(picture_shape(params, magic, request, shape));
      picture.width = shape.width;
      picture.height = shape.height;
      picture.bits_per_pixel = shape.bits_per_pixel;
      picture.stride = shape.stride;
      utils::assign_large(picture.pixels, shape.stride * shape.height);
      return decode_codes(codes, params, magic, request, into(picture));
    };
    const int levels = params.total_levels;
    if (preview) {
      DecodedPicture shown;
      for (int level = 0; level < levels; ++level) {
        DecodeRequest request;
        request.reduce = levels - level;
        request.whole_region = true;
        VARNIC_RETURN_IF_ERROR(decode(request, shown));
        PreviewFrame frame;
        frame.level = level;
        frame.total_levels = levels;
        frame.width = shown.width;
        frame.height = shown.height;
        frame.bits_per_pixel = static_cast<std::uint16_t>(shown.bits_per_pixel);
        frame.pixels = shown.pixels;
        if (!preview(frame)) return StatusCode::kCancelled;
      }
    }
    DecodedPicture picture;
    VARNIC_RETURN_IF_ERROR(decode({}, picture));
    out = std::move(picture);
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  return StatusCode::kOk;
}

}  // namespace varnic::display
