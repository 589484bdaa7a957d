#include "codec/encoder.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include "codec/forward_wavelet.h"
#include "format/arithmetic_coder.h"

namespace varnic::codec {
namespace {

// Calls visit(value) for the positions [begin, end) of the plane in coding
// order (low band, then per level from the coarsest the bands h, v, d, row
// by row).
template <class Visit>
void for_each_in_coding_order(const CoefficientPlane& plane, int total_levels, std::size_t begin,
                          std::size_t end, Visit&& visit) {
  std::uint32_t h = plane.height() >> total_levels;
  std::uint32_t w = plane.width() >> total_levels;
  std::size_t position = 0;
  auto block = [&](std::uint32_t row, std::uint32_t col) {
    for (std::uint32_t r = row; r < row + h && position < end; ++r) {
      const std::size_t next = position + w;
      if (next > begin) {
        const std::int16_t* src = plane.row(r) + col;
        const std::size_t first = begin > position ? begin - position : 0;
        const std::size_t last = std::min<std::size_t>(w, end - position);
        for (std::size_t j = first; j < last; ++j) visit(src[j]);
      }
      position = next;
    }
  };
  block(0, 0);
  for (int l = 0; l < total_levels && position < end; ++l) {
    block(0, w);  // h
    block(h, 0);  // v
    block(h, w);  // d
    h *= 2;
    w *= 2;
  }
}

// The symbol table of a marked plane, with each value's rank (its character) by value +
// kSymbolBias.
struct SymbolCoding {
  format::SymbolTable table;
  std::array<int, 256> rank{};
};

// Every value of the whole plane counts, dropped levels and skip markers included, ordered by the
// exchange sort (ties as it leaves them).
SymbolCoding make_symbol_table(const CoefficientPlane& plane, WorkerPool* pool) {
  std::array<std::uint32_t, 256> count{};
  auto tally = [&plane](std::size_t begin, std::size_t end, std::array<std::uint32_t, 256>& n) {
    const std::int16_t* v = plane.samples().data();
    for (std::size_t i = begin; i < end; ++i) ++n[static_cast<std::uint8_t>(v[i] + format::kSymbolBias)];
  };
  if (pool == nullptr) {
    tally(0, plane.size(), count);
  } else {
    std::mutex mutex;
    pool->for_range(plane.size(), 4096, [&](std::size_t begin, std::size_t end) {
      std::array<std::uint32_t, 256> part{};
      tally(begin, end, part);
      const std::lock_guard lock(mutex);
      for (int v = 0; v < 256; ++v) count[v] += part[v];
    });
  }
  std::array<std::pair<std::uint32_t, int>, 256> order;
  for (int v = 0; v < 256; ++v) order[v] = {count[v], v};
  for (int i = 0; i < 255; ++i) {
    for (int j = i + 1; j < 256; ++j) {
      if (order[j].first > order[i].first) std::swap(order[i], order[j]);
    }
  }
  SymbolCoding coding;
  for (const auto& [n, v] : order) {
    if (n == 0) continue;
    coding.rank[static_cast<std::size_t>(v)] = coding.table.count;
    coding.table.values[static_cast<std::size_t>(coding.table.count++)] = static_cast<std::uint8_t>(v);
  }
  return coding;
}

// Positions [begin, end) in coding order as one segment with a fresh model,
// closed by the end symbol and the flush byte.
void code_segment(const CoefficientPlane& plane, int total_levels, std::size_t begin,
                 std::size_t end, const SymbolCoding& symbols, std::vector<std::uint8_t>& out) {
  format::AdaptiveModel model;
  format::ArithmeticEncoder encoder(out);
  model.start(symbols.table.count);
  encoder.start();
  for_each_in_coding_order(plane, total_levels, begin, end, [&](std::int16_t v) {
    if (v == format::kZeroTreeInside) return;
    const int symbol = model.symbol_of(symbols.rank[static_cast<std::uint8_t>(v + format::kSymbolBias)]);
    encoder.encode(model, symbol);
    model.update(symbol);
  });
  encoder.encode(model, model.end_symbol());
  encoder.finish();
}

// The symbol table of one marked plane, appended to `out`, and where its two
// segments lie in coding order.
struct ChannelCoding {
  SymbolCoding symbols;
  std::size_t split = 0;  // segment 2 starts here
  std::size_t coded = 0;  // and ends here
};

ChannelCoding start_channel_data(const CoefficientPlane& plane, int dropped, std::vector<std::uint8_t>& out,
                               WorkerPool* pool) {
  ChannelCoding coding;
  coding.symbols = make_symbol_table(plane, pool);
  // Values stay within -127..127, so at most 255 distinct symbols: the count
  // byte cannot overflow.
  format::append_symbol_table(coding.symbols.table, out);
  // Dropping d levels keeps exactly the first PlaneSize / 4^d positions; the
  // second segment is the finest coded level.
  coding.coded = plane.size() >> (2 * dropped);
  coding.split = coding.coded / 4;
  return coding;
}

// Both segments of a plane whose symbol table is in `out`, appended to it.
// Returns where segment 2 starts, counted from the start of `out`. With a
// pool the two segments are coded at the same time.
std::size_t code_segments(const CoefficientPlane& plane, int total_levels, const ChannelCoding& coding,
                         std::vector<std::uint8_t>& out, WorkerPool* pool) {
  if (pool == nullptr) {
    code_segment(plane, total_levels, 0, coding.split, coding.symbols, out);
    const std::size_t restart = out.size();
    code_segment(plane, total_levels, coding.split, coding.coded, coding.symbols, out);
    return restart;
  }
  std::vector<std::uint8_t> second;
  std::atomic<bool> failed{false};
  pool->run(2, [&](int segment) {
    try {
      if (segment == 0) {
        code_segment(plane, total_levels, 0, coding.split, coding.symbols, out);
      } else {
        second.reserve(coding.coded / 16);
        code_segment(plane, total_levels, coding.split, coding.coded, coding.symbols, second);
      }
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  });
  if (failed) throw std::bad_alloc();
  const std::size_t restart = out.size();
  out.insert(out.end(), second.begin(), second.end());
  return restart;
}

// Symbol table and both segments of one marked plane, appended to `out`.
std::size_t code_channel_data(const CoefficientPlane& plane, int total_levels, int dropped,
                            std::vector<std::uint8_t>& out) {
  return code_segments(plane, total_levels, start_channel_data(plane, dropped, out, nullptr), out, nullptr);
}

int plane_count_of(const CodecParams& p) { return p.image_mode == format::kImageModeGrey ? 1 : 3; }

}  // namespace

int effective_levels(std::uint32_t width, std::uint32_t height, int total_levels) {
  for (int levels = std::min(total_levels, format::kMaxFileLevels); levels >= 1; --levels) {
    const std::uint32_t side = 1u << levels;
    if (width > side && height > side) return levels;
  }
  return 0;
}

StatusCode make_working_params(const CodecParams& settings, std::uint32_t width, std::uint32_t height,
                         std::uint16_t image_mode, CodecParams& working) {
  if (settings.total_levels < kMinLevels || settings.total_levels > kMaxLevels) {
    return StatusCode::kTotalLevelsOutOfRange;
  }
  if (image_mode != format::kImageModeGrey && image_mode != format::kImageModeColour) {
    return StatusCode::kBadPictureBuffer;
  }
  if (width > static_cast<std::uint32_t>(format::kMaxSide) ||
      height > static_cast<std::uint32_t>(format::kMaxSide)) {
    return StatusCode::kPictureSideTooLarge;
  }
  const int levels = effective_levels(width, height, settings.total_levels);
  if (levels == 0) return StatusCode::kPictureTooSmall;

  constexpr StatusCode kLevelStatus[format::kChannelCount] = {StatusCode::kALevelsInvalid, StatusCode::kBLevelsInvalid,
                                                  StatusCode::kCLevelsInvalid};
  constexpr StatusCode kStepStatus[format::kChannelCount] = {
      StatusCode::kQuantVectorATooLarge, StatusCode::kQuantVectorBTooLarge, StatusCode::kQuantVectorCTooLarge};
  const int planes = image_mode == format::kImageModeGrey ? 1 : 3;
  for (int c = 0; c < format::kChannelCount; ++c) {
    if (settings.channels[c].dropped_levels < 0) return kLevelStatus[c];
    if (c >= planes) continue;
    for (int k = 0; k < format::subband_count(levels); ++k) {
      if (settings.channels[c].quant_vector[k] > format::kMaxQuantStep) return kStepStatus[c];
    }
  }

  working = settings;
  working.total_levels = static_cast<std::uint16_t>(levels);
  working.image_width = width;
  working.image_height = height;
  working.image_mode = image_mode;
  format::compute_padded_size(working);
  for (int c = 0; c < format::kChannelCount; ++c) {
    ChannelParams& channel = working.channels[c];
    channel.dropped_levels = std::min(channel.dropped_levels, levels - 1);
    // Fresh values only: nothing an earlier run or an opened file left behind
    // may reach the header (grey files keep I and Q at zero).
    channel.band_max.fill(0);
    channel.band_min.fill(0);
    channel.pixel_offset = c < planes ? kEncoderPixelOffset : 0;
    channel.end_offset = 0;
    channel.restart_offset = 0;
  }
  return StatusCode::kOk;
}

StatusCode encode_channel(CoefficientPlane& plane, format::Channel channel, CodecParams& params,
                     std::string_view comment, std::vector<std::uint8_t>& stream) {
  if (comment.size() > format::kMaxCommentLength) return StatusCode::kCommentTooLong;
  ChannelParams& cp = params.channel(channel);
  // The plane must be what the settings describe, and I and Q need the
  // header that coding Y wrote, or the offsets would be patched out of bounds.
  const int levels = params.total_levels;
  if (levels < kMinLevels || levels > format::kMaxFileLevels || plane.width() != params.padded_width ||
      plane.height() != params.padded_height || plane.size() != params.plane_size ||
      (plane.width() >> levels) == 0 || (plane.height() >> levels) == 0 ||
      cp.dropped_levels < 0 || cp.dropped_levels >= levels ||
      (channel != format::Channel::kY && stream.size() < format::field_offset(5, levels, format::HeaderField::kCommentLength) + 2)) {
    return StatusCode::kEncodeFailed;
  }
  try {
    mark_zerotrees(plane, params.total_levels, cp.dropped_levels);
    if (channel == format::Channel::kY) format::append_header(params, comment, stream);
    const std::size_t restart = code_channel_data(plane, params.total_levels, cp.dropped_levels,
                                                stream);
    cp.restart_offset = static_cast<std::uint32_t>(restart);
    cp.end_offset = static_cast<std::uint32_t>(stream.size());
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  format::patch_plane_offsets(stream, params.total_levels, channel, cp.restart_offset, cp.end_offset);
  return StatusCode::kOk;
}

namespace {

// One picture's encoding: the stages every channel goes through, and the two orders they run in.
// Stage k of the progress count is channel (k - 1) / 2's analysis when k is odd, its coding when
// k is even.
class PictureEncoder {
 public:
  PictureEncoder(const PictureRows& picture, const EncodeRequest& options, CodecParams& working,
                 EncodedPicture& out)
      : picture_(picture), options_(options), working_(working), out_(out),
        levels_(working.total_levels), count_(plane_count_of(working)), pool_(options.threads),
        workers_(pool_.size() > 1 ? &pool_ : nullptr) {}

  StatusCode run() {
    // Typical files are well under a byte per pixel; the vector grows if not.
    out_.stream.reserve(std::size_t{working_.plane_size} / 8 + 4096);
    VARNIC_RETURN_IF_ERROR(analyse(0, workers_));
    // Y's header goes out with Y's limits (I's and Q's still zero); later channels patch theirs.
    header_ = working_;
    if (!progress(1)) return StatusCode::kCancelled;
    if (workers_ != nullptr && count_ == format::kChannelCount) return run_overlapped();
    for (int c = 0; c < count_; ++c) {
      code(c, workers_);
      if (!progress(2 * c + 2)) return StatusCode::kCancelled;
      if (c + 1 < count_) {
        VARNIC_RETURN_IF_ERROR(analyse(c + 1, workers_));
        if (!progress(2 * c + 3)) return StatusCode::kCancelled;
      }
    }
    return StatusCode::kOk;
  }

 private:
  // When the planes are not kept, one plane serves every channel; with threads two take turns,
  // one coded while the next channel fills the other.
  CoefficientPlane& plane_of(int c) {
    if (options_.keep_planes) return out_.planes[static_cast<std::size_t>(c)];
    return spare_[workers_ != nullptr ? static_cast<std::size_t>(c % 2) : 0];
  }

  bool progress(int stage) const { return !options_.progress || options_.progress(stage, 2 * count_); }

  // The channel's samples through every level into the workspace.
  StatusCode transform(int c, WorkerPool* helpers) {
    return transform_picture_channel(picture_, c, working_, workspace_, helpers);
  }
  // The workspace's coefficients quantized and marked into the channel's plane; writes only that
  // plane and the channel's band limits.
  StatusCode quantize(int c, WorkerPool* helpers) {
    CoefficientPlane& plane = plane_of(c);
    if (plane.empty()) VARNIC_RETURN_IF_ERROR(plane.allocate(working_.padded_width, working_.padded_height));
    ChannelParams& cp = working_.channels[static_cast<std::size_t>(c)];
    quantize_channel(plane, workspace_.plane(), levels_, cp, helpers);
    mark_zerotrees(plane, levels_, cp.dropped_levels, helpers);
    return StatusCode::kOk;
  }
  StatusCode analyse(int c, WorkerPool* helpers) {
    VARNIC_RETURN_IF_ERROR(transform(c, helpers));
    return quantize(c, helpers);
  }

  // The header (for Y) or the channel's band limits, then its symbol table.
  ChannelCoding start_coding(int c, WorkerPool* helpers) {
    if (c == 0) {
      format::append_header(header_, options_.comment, out_.stream);
    } else {
      format::patch_band_limits(out_.stream, working_, static_cast<format::Channel>(c));
    }
    return start_channel_data(plane_of(c), working_.channels[static_cast<std::size_t>(c)].dropped_levels,
                              out_.stream, helpers);
  }
  void finish_coding(int c, std::size_t restart) {
    ChannelParams& cp = working_.channels[static_cast<std::size_t>(c)];
    cp.restart_offset = static_cast<std::uint32_t>(restart);
    cp.end_offset = static_cast<std::uint32_t>(out_.stream.size());
    format::patch_plane_offsets(out_.stream, levels_, static_cast<format::Channel>(c), cp.restart_offset,
                                cp.end_offset);
  }
  void code(int c, WorkerPool* helpers) {
    const ChannelCoding coding = start_coding(c, helpers);
    finish_coding(c, code_segments(plane_of(c), levels_, coding, out_.stream, helpers));
  }

  // Coding is sequential within a segment, so a colour picture on threads overlaps the stages:
  // Y is analysed by every thread; then Y's two segments are coded at once while I is analysed,
  // I is coded once Y is in the stream, and Q is transformed meanwhile (the workspace is free once
  // I is quantized) and quantized once its plane is free; last Q is coded, its two segments at
  // once. Two lanes code while the third analyses with the remaining threads, so never more
  // threads are busy than asked for. Progress is reported afterwards, in order, from this thread.
  StatusCode run_overlapped() {
    WorkerPool analysers(std::max(1, pool_.size() - 2));
    WorkerPool* helpers = analysers.size() > 1 ? &analysers : nullptr;
    const ChannelCoding y = start_coding(0, workers_);
    std::vector<std::uint8_t> y_second;
    StatusCode analysed_i = StatusCode::kOk;
    StatusCode analysed_q = StatusCode::kOk;
    bool coded_i = false;
    std::atomic<bool> out_of_memory{false};
    auto task = [&out_of_memory](auto body) {
      return std::function<void()>([&out_of_memory, body] {
        try {
          body();
        } catch (const std::bad_alloc&) {
          out_of_memory = true;
        }
      });
    };

    utils::TaskGraph graph;
    const auto code_y_first =
        graph.add({}, task([&] { code_segment(plane_of(0), levels_, 0, y.split, y.symbols, out_.stream); }));
    const auto code_y_second = graph.add({}, task([&] {
      y_second.reserve(y.coded / 16);
      code_segment(plane_of(0), levels_, y.split, y.coded, y.symbols, y_second);
    }));
    const auto append_y = graph.add({code_y_first, code_y_second}, task([&] {
      const std::size_t restart = out_.stream.size();
      out_.stream.insert(out_.stream.end(), y_second.begin(), y_second.end());
      finish_coding(0, restart);
    }));
    const auto analyse_i = graph.add({}, task([&] { analysed_i = analyse(1, helpers); }));
    graph.add({append_y, analyse_i}, task([&] {
      if (analysed_i != StatusCode::kOk || out_of_memory) return;
      code(1, nullptr);
      coded_i = true;
    }));
    const auto transform_q = graph.add({analyse_i}, task([&] {
      if (analysed_i == StatusCode::kOk) analysed_q = transform(2, helpers);
    }));
    // Without kept planes Q takes Y's plane.
    const auto q_plane_free = options_.keep_planes ? transform_q : append_y;
    graph.add({transform_q, q_plane_free}, task([&] {
      if (analysed_i == StatusCode::kOk && analysed_q == StatusCode::kOk) analysed_q = quantize(2, helpers);
    }));
    graph.run(&pool_, 3);

    if (out_of_memory) return StatusCode::kOutOfMemory;
    if (!progress(2)) return StatusCode::kCancelled;
    VARNIC_RETURN_IF_ERROR(analysed_i);
    if (!progress(3)) return StatusCode::kCancelled;
    if (!coded_i) return StatusCode::kEncodeFailed;
    if (!progress(4)) return StatusCode::kCancelled;
    VARNIC_RETURN_IF_ERROR(analysed_q);
    if (!progress(5)) return StatusCode::kCancelled;
    code(2, workers_);
    return progress(6) ? StatusCode::kOk : StatusCode::kCancelled;
  }

  const PictureRows& picture_;
  const EncodeRequest& options_;
  CodecParams& working_;
  EncodedPicture& out_;
  const int levels_;
  const int count_;
  WorkerPool pool_;
  WorkerPool* workers_;
  TransformWorkspace workspace_;
  std::array<CoefficientPlane, 2> spare_;
  CodecParams header_;
};

}  // namespace

StatusCode encode_picture(const PictureRows& picture, const CodecParams& settings, const EncodeRequest& options,
                          EncodedPicture& out) {
  if (picture.data == nullptr || (picture.bits_per_pixel != 24 && picture.bits_per_pixel != 8)) {
    return StatusCode::kBadPictureBuffer;
  }
  if (options.comment.size() > format::kMaxCommentLength) return StatusCode::kCommentTooLong;
  const std::uint16_t mode = picture.bits_per_pixel == 8 ? format::kImageModeGrey : format::kImageModeColour;
  CodecParams working;
  VARNIC_RETURN_IF_ERROR(make_working_params(settings, picture.width, picture.height, mode, working));
  if (picture.stride() < std::size_t{picture.width} * (picture.bits_per_pixel / 8) ||
      picture.size < picture.required_bytes()) {
    return StatusCode::kBadPictureBuffer;
  }
  out.stream.clear();
  out.plane_count = 0;
  for (CoefficientPlane& plane : out.planes) plane.release();
  try {
    PictureEncoder encoder(picture, options, working, out);
    VARNIC_RETURN_IF_ERROR(encoder.run());
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  out.params = working;
  out.plane_count = options.keep_planes ? plane_count_of(working) : 0;
  return StatusCode::kOk;
}

}  // namespace varnic::codec
