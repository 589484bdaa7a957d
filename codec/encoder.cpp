#include "codec/encoder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "codec/arithmetic_coder.h"
#include "codec/format.h"
#include "codec/forward_wavelet.h"
#include "codec/picture_geometry.h"

namespace varnic::codec {
namespace {

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutI16(std::vector<std::uint8_t>& out, std::int32_t v) {
  PutU16(out, static_cast<std::uint16_t>(v));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  PutU16(out, static_cast<std::uint16_t>(v));
  PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

// The version 2.5 header with zero offsets and the header length patched.
void WriteFileHeader(const CodecParams& p, std::string_view comment,
                     std::vector<std::uint8_t>& out) {
  const std::size_t start = out.size();
  out.insert(out.end(), kMagic, kMagic + kMagicSize);
  for (const ChannelParams& c : p.channels_) PutI16(out, c.dropped_levels_);
  PutU16(out, 0);  // header length, patched below
  PutI16(out, static_cast<std::int32_t>(p.image_width_));
  PutI16(out, static_cast<std::int32_t>(p.image_height_));
  PutI16(out, p.using_mask_);
  for (int c = 0; c < kChannelCount; ++c) PutU32(out, 0);  // end offsets
  PutU16(out, p.image_mode_);
  PutU16(out, p.total_levels_);
  const int subbands = SubbandCount(p.total_levels_);
  for (int k = 0; k < subbands; ++k) {
    for (const ChannelParams& c : p.channels_) {
      PutI16(out, c.band_max_[k]);
      PutI16(out, c.band_min_[k]);
    }
  }
  for (int c = 0; c < kChannelCount; ++c) PutU32(out, 0);  // restart offsets
  for (const ChannelParams& c : p.channels_) PutI16(out, c.pixel_offset_);
  for (int k = 0; k < subbands; ++k) {
    for (const ChannelParams& c : p.channels_) PutU16(out, c.quant_vector_[k]);
  }
  PutU16(out, static_cast<std::uint16_t>(comment.size()));
  out.insert(out.end(), comment.begin(), comment.end());
  StoreU16(out.data() + start + kHeaderLengthOffset,
           static_cast<std::uint16_t>(out.size() - start - kHeaderLengthBase));
}

// Calls visit(value) for the positions [begin, end) of the plane in coding
// order (low band, then per level from the coarsest the bands h, v, d, row
// by row).
template <class Visit>
void ForEachInCodingOrder(const CoefficientPlane& plane, int total_levels, std::size_t begin,
                          std::size_t end, Visit&& visit) {
  std::uint32_t h = plane.height_ >> total_levels;
  std::uint32_t w = plane.width_ >> total_levels;
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

// The symbol list of a marked plane: every value of the whole plane counts,
// dropped levels and skip markers included, ordered by the exchange sort
// (ties as it leaves them).
struct SymbolList {
  int count = 0;
  std::array<std::uint8_t, 256> values{};  // value + 128, most frequent first
  std::array<int, 256> rank{};             // by value + 128
};

SymbolList MakeSymbolList(const CoefficientPlane& plane, WorkerPool* pool) {
  std::array<std::uint32_t, 256> count{};
  auto tally = [&plane](std::size_t begin, std::size_t end, std::array<std::uint32_t, 256>& n) {
    const std::int16_t* v = plane.samples_.data();
    for (std::size_t i = begin; i < end; ++i) ++n[static_cast<std::uint8_t>(v[i] + 128)];
  };
  if (pool == nullptr) {
    tally(0, plane.size(), count);
  } else {
    std::mutex mutex;
    pool->ForRange(plane.size(), 4096, [&](std::size_t begin, std::size_t end) {
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
  SymbolList list;
  for (const auto& [n, v] : order) {
    if (n == 0) continue;
    list.rank[v] = list.count;
    list.values[list.count++] = static_cast<std::uint8_t>(v);
  }
  return list;
}

// Positions [begin, end) in coding order as one segment with a fresh model,
// closed by the end symbol and the flush byte.
void CodeSegment(const CoefficientPlane& plane, int total_levels, std::size_t begin,
                 std::size_t end, const SymbolList& symbols, std::vector<std::uint8_t>& out) {
  AdaptiveModel model;
  ArithmeticEncoder encoder(out);
  model.Start(symbols.count);
  encoder.Start();
  ForEachInCodingOrder(plane, total_levels, begin, end, [&](std::int16_t v) {
    if (v == kZeroTreeInside) return;
    const int symbol = model.symbol_of(symbols.rank[static_cast<std::uint8_t>(v + 128)]);
    encoder.Encode(model, symbol);
    model.Update(symbol);
  });
  encoder.Encode(model, model.end_symbol());
  encoder.Finish();
}

// The symbol table of one marked plane, appended to `out`, and where its two
// segments lie in coding order.
struct ChannelCoding {
  SymbolList symbols;
  std::size_t split = 0;  // segment 2 starts here
  std::size_t coded = 0;  // and ends here
};

ChannelCoding StartChannelData(const CoefficientPlane& plane, int dropped, std::vector<std::uint8_t>& out,
                               WorkerPool* pool) {
  ChannelCoding coding;
  coding.symbols = MakeSymbolList(plane, pool);
  // Values stay within -127..127, so at most 255 distinct symbols: the count
  // byte cannot overflow.
  out.push_back(static_cast<std::uint8_t>(coding.symbols.count));
  out.insert(out.end(), coding.symbols.values.begin(), coding.symbols.values.begin() + coding.symbols.count);
  // Dropping d levels keeps exactly the first PlaneSize / 4^d positions; the
  // second segment is the finest coded level.
  coding.coded = plane.size() >> (2 * dropped);
  coding.split = coding.coded / 4;
  return coding;
}

// Both segments of a plane whose symbol table is in `out`, appended to it.
// Returns where segment 2 starts, counted from the start of `out`. With a
// pool the two segments are coded at the same time.
std::size_t CodeSegments(const CoefficientPlane& plane, int total_levels, const ChannelCoding& coding,
                         std::vector<std::uint8_t>& out, WorkerPool* pool) {
  if (pool == nullptr) {
    CodeSegment(plane, total_levels, 0, coding.split, coding.symbols, out);
    const std::size_t restart = out.size();
    CodeSegment(plane, total_levels, coding.split, coding.coded, coding.symbols, out);
    return restart;
  }
  std::vector<std::uint8_t> second;
  std::atomic<bool> failed{false};
  pool->Run(2, [&](int segment) {
    try {
      if (segment == 0) {
        CodeSegment(plane, total_levels, 0, coding.split, coding.symbols, out);
      } else {
        second.reserve(coding.coded / 16);
        CodeSegment(plane, total_levels, coding.split, coding.coded, coding.symbols, second);
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
std::size_t CodeChannelData(const CoefficientPlane& plane, int total_levels, int dropped,
                            std::vector<std::uint8_t>& out) {
  return CodeSegments(plane, total_levels, StartChannelData(plane, dropped, out, nullptr), out, nullptr);
}

std::size_t EndOffsetField(Channel c) {
  return kEndOffsetsOffset + 4 * static_cast<std::size_t>(c);
}
std::size_t RestartOffsetField(int total_levels, Channel c) {
  return ComputeHeaderLayout(5, total_levels).restart_offsets + 4 * static_cast<std::size_t>(c);
}

// Rewrites one channel's band limits in a header already in the stream.
void PatchBandLimits(const CodecParams& p, Channel c, std::vector<std::uint8_t>& stream) {
  const ChannelParams& cp = p.channel(c);
  const std::size_t base =
      ComputeHeaderLayout(5, p.total_levels_).band_limits + 4 * static_cast<std::size_t>(c);
  for (int k = 0; k < SubbandCount(p.total_levels_); ++k) {
    std::uint8_t* field = stream.data() + base + 12 * static_cast<std::size_t>(k);
    StoreU16(field, static_cast<std::uint16_t>(cp.band_max_[k]));
    StoreU16(field + 2, static_cast<std::uint16_t>(cp.band_min_[k]));
  }
}

int PlaneCount(const CodecParams& p) { return p.image_mode_ == kImageModeGrey ? 1 : 3; }

}  // namespace

int EffectiveLevels(std::uint32_t width, std::uint32_t height, int total_levels) {
  for (int levels = std::min(total_levels, kMaxFileLevels); levels >= 1; --levels) {
    const std::uint32_t side = 1u << levels;
    if (width > side && height > side) return levels;
  }
  return 0;
}

Status MakeWorkingParams(const CodecParams& settings, std::uint32_t width, std::uint32_t height,
                         std::uint16_t image_mode, CodecParams& working) {
  if (settings.total_levels_ < kMinLevels || settings.total_levels_ > kMaxLevels) {
    return Status::kTotalLevelsOutOfRange;
  }
  if (image_mode != kImageModeGrey && image_mode != kImageModeColour) {
    return Status::kBadPictureBuffer;
  }
  if (width > static_cast<std::uint32_t>(kMaxFileSide) ||
      height > static_cast<std::uint32_t>(kMaxFileSide)) {
    return Status::kPictureSideTooLarge;
  }
  const int levels = EffectiveLevels(width, height, settings.total_levels_);
  if (levels == 0) return Status::kPictureTooSmall;

  constexpr Status kLevelStatus[kChannelCount] = {Status::kALevelsInvalid, Status::kBLevelsInvalid,
                                                  Status::kCLevelsInvalid};
  constexpr Status kStepStatus[kChannelCount] = {
      Status::kQuantVectorATooLarge, Status::kQuantVectorBTooLarge, Status::kQuantVectorCTooLarge};
  const int planes = image_mode == kImageModeGrey ? 1 : 3;
  for (int c = 0; c < kChannelCount; ++c) {
    if (settings.channels_[c].dropped_levels_ < 0) return kLevelStatus[c];
    if (c >= planes) continue;
    for (int k = 0; k < SubbandCount(levels); ++k) {
      if (settings.channels_[c].quant_vector_[k] > kMaxQuantStep) return kStepStatus[c];
    }
  }

  working = settings;
  working.total_levels_ = static_cast<std::uint16_t>(levels);
  working.image_width_ = width;
  working.image_height_ = height;
  working.image_mode_ = image_mode;
  ComputePaddedSize(working);
  for (int c = 0; c < kChannelCount; ++c) {
    ChannelParams& channel = working.channels_[c];
    channel.dropped_levels_ = std::min(channel.dropped_levels_, levels - 1);
    // Fresh values only: nothing an earlier run or an opened file left behind
    // may reach the header (grey files keep I and Q at zero).
    channel.band_max_.fill(0);
    channel.band_min_.fill(0);
    channel.pixel_offset_ = c < planes ? kEncoderPixelOffset : 0;
    channel.end_offset_ = 0;
    channel.restart_offset_ = 0;
  }
  return Status::kOk;
}

Status BuildPlanes(const PictureView& picture, CodecParams& working,
                   std::array<CoefficientPlane, kChannelCount>& planes,
                   const EncodeOptions& options) {
  const int count = PlaneCount(working);
  for (CoefficientPlane& plane : planes) plane.Release();
  WorkerPool pool(options.threads);
  WorkerPool* workers = pool.size() > 1 ? &pool : nullptr;
  TransformWorkspace workspace;
  for (int c = 0; c < count; ++c) {
    VARNIC_RETURN_IF_ERROR(planes[c].Allocate(working.padded_width_, working.padded_height_));
    VARNIC_RETURN_IF_ERROR(TransformPictureChannel(picture, c, working, workspace, workers));
    QuantizeChannel(planes[c], workspace.plane(), working.total_levels_, working.channels_[c],
                    workers);
    if (options.progress && !options.progress(c + 1, 2 * count)) return Status::kCancelled;
  }
  return Status::kOk;
}

void ReorderSubbands(const CoefficientPlane& plane, int total_levels,
                     std::vector<std::int16_t>& out) {
  out.clear();
  out.reserve(plane.size());
  ForEachInCodingOrder(plane, total_levels, 0, plane.size(),
                       [&](std::int16_t v) { out.push_back(v); });
}

Status EncodeChannel(CoefficientPlane& plane, Channel channel, CodecParams& params,
                     std::string_view comment, std::vector<std::uint8_t>& stream) {
  if (comment.size() > kMaxCommentLength) return Status::kCommentTooLong;
  ChannelParams& cp = params.channel(channel);
  // The plane must be what the settings describe, and I and Q need the
  // header that coding Y wrote, or the offsets would be patched out of bounds.
  const int levels = params.total_levels_;
  if (levels < kMinLevels || levels > kMaxFileLevels || plane.width_ != params.padded_width_ ||
      plane.height_ != params.padded_height_ || plane.size() != params.plane_size_ ||
      (plane.width_ >> levels) == 0 || (plane.height_ >> levels) == 0 ||
      cp.dropped_levels_ < 0 || cp.dropped_levels_ >= levels ||
      (channel != Channel::kY && stream.size() < ComputeHeaderLayout(5, levels).fixed_end)) {
    return Status::kEncodeFailed;
  }
  try {
    MarkZerotrees(plane, params.total_levels_, cp.dropped_levels_);
    if (channel == Channel::kY) WriteFileHeader(params, comment, stream);
    const std::size_t restart = CodeChannelData(plane, params.total_levels_, cp.dropped_levels_,
                                                stream);
    cp.restart_offset_ = static_cast<std::uint32_t>(restart);
    cp.end_offset_ = static_cast<std::uint32_t>(stream.size());
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  StoreU32(stream.data() + RestartOffsetField(params.total_levels_, channel), cp.restart_offset_);
  StoreU32(stream.data() + EndOffsetField(channel), cp.end_offset_);
  return Status::kOk;
}

Status EncodePicture(const PictureView& picture, const CodecParams& settings,
                     const EncodeOptions& options, EncodedPicture& out) {
  if (picture.data == nullptr || (picture.bits_per_pixel != 24 && picture.bits_per_pixel != 8)) {
    return Status::kBadPictureBuffer;
  }
  if (options.comment.size() > kMaxCommentLength) return Status::kCommentTooLong;
  const std::uint16_t mode = picture.bits_per_pixel == 8 ? kImageModeGrey : kImageModeColour;
  CodecParams working;
  VARNIC_RETURN_IF_ERROR(
      MakeWorkingParams(settings, picture.width, picture.height, mode, working));
  if (picture.stride() < std::size_t{picture.width} * (picture.bits_per_pixel / 8) ||
      picture.size < picture.required_bytes()) {
    return Status::kBadPictureBuffer;
  }

  out.stream.clear();
  out.plane_count = 0;
  for (CoefficientPlane& plane : out.planes) plane.Release();
  const int count = PlaneCount(working);
  const int levels = working.total_levels_;
  WorkerPool pool(options.threads);
  WorkerPool* workers = pool.size() > 1 ? &pool : nullptr;
  TransformWorkspace workspace;
  // When the planes are not kept, one plane serves every channel; with
  // threads two take turns, one coded while the next channel fills the other.
  std::array<CoefficientPlane, 2> spare;
  auto plane_of = [&](int c) -> CoefficientPlane& {
    if (options.keep_planes) return out.planes[c];
    return spare[workers != nullptr ? static_cast<std::size_t>(c % 2) : 0];
  };
  auto progress = [&](int stage) { return !options.progress || options.progress(stage, 2 * count); };

  // Transform (into the workspace), then quantize and mark one channel;
  // writes only that channel's plane and band limits.
  auto quantize = [&](int c, WorkerPool* helpers) -> Status {
    CoefficientPlane& plane = plane_of(c);
    if (plane.empty()) {
      VARNIC_RETURN_IF_ERROR(plane.Allocate(working.padded_width_, working.padded_height_));
    }
    ChannelParams& cp = working.channels_[c];
    QuantizeChannel(plane, workspace.plane(), levels, cp, helpers);
    MarkZerotrees(plane, levels, cp.dropped_levels_, helpers);
    return Status::kOk;
  };
  auto analyse = [&](int c, WorkerPool* helpers) -> Status {
    VARNIC_RETURN_IF_ERROR(TransformPictureChannel(picture, c, working, workspace, helpers));
    return quantize(c, helpers);
  };
  // Y's header goes out with Y's limits (I's and Q's still zero, as
  // `header` holds them); later channels patch theirs in.
  CodecParams header;
  auto start_coding = [&](int c, WorkerPool* helpers) {
    if (c == 0) {
      WriteFileHeader(header, options.comment, out.stream);
    } else {
      PatchBandLimits(working, static_cast<Channel>(c), out.stream);
    }
    return StartChannelData(plane_of(c), working.channels_[c].dropped_levels_, out.stream, helpers);
  };
  auto finish_coding = [&](int c, std::size_t restart) {
    ChannelParams& cp = working.channels_[c];
    cp.restart_offset_ = static_cast<std::uint32_t>(restart);
    cp.end_offset_ = static_cast<std::uint32_t>(out.stream.size());
    StoreU32(out.stream.data() + RestartOffsetField(levels, static_cast<Channel>(c)), cp.restart_offset_);
    StoreU32(out.stream.data() + EndOffsetField(static_cast<Channel>(c)), cp.end_offset_);
  };
  auto code = [&](int c, WorkerPool* helpers) {
    const ChannelCoding coding = start_coding(c, helpers);
    finish_coding(c, CodeSegments(plane_of(c), levels, coding, out.stream, helpers));
  };

  // Coding is sequential within a segment, so with threads a colour picture
  // goes: Y analysed by all threads; then one thread analyses I and Q while
  // the others code Y's two segments and, once I is ready, I; then Q is coded
  // (its two segments at once). Q's transform needs only the workspace, so
  // when planes take turns it overlaps Y's coding and only its quantization
  // waits for Y's plane. Progress is reported afterwards, in order, from
  // this thread. Never more threads are busy than asked for.
  auto CodeYAndIWhileAnalysingIAndQ = [&]() -> Status {
    WorkerPool analysers(std::max(1, pool.size() - 2));
    WorkerPool* analyser_workers = analysers.size() > 1 ? &analysers : nullptr;
    const ChannelCoding y = start_coding(0, workers);
    std::vector<std::uint8_t> y_second;
    Status analysed_i = Status::kOk;
    Status analysed_q = Status::kOk;
    bool coded_i = false;
    std::atomic<bool> out_of_memory{false};
    // Set when a task is past the point the name says, however it ended.
    std::atomic<bool> i_analysed{false}, y_second_coded{false}, y_coded{false};
    struct Signal {
      std::atomic<bool>& flag;
      ~Signal() {
        flag.store(true, std::memory_order_release);
        flag.notify_all();
      }
    };
    auto wait_for = [](const std::atomic<bool>& flag) {
#if defined(_WIN32)
      // MinGW's waits on atomics rest on condition variables that can lose a wake-up: poll.
      while (!flag.load(std::memory_order_acquire)) std::this_thread::sleep_for(std::chrono::microseconds(200));
#else
      flag.wait(false, std::memory_order_acquire);
#endif
    };
    pool.Run(3, [&](int task) {
      try {
        if (task == 0) {
          {
            const Signal done{i_analysed};
            analysed_i = analyse(1, analyser_workers);
          }
          if (analysed_i != Status::kOk) return;
          analysed_q = TransformPictureChannel(picture, 2, working, workspace, analyser_workers);
          if (analysed_q != Status::kOk) return;
          if (!options.keep_planes) wait_for(y_coded);  // Q takes Y's plane
          analysed_q = quantize(2, analyser_workers);
        } else if (task == 1) {
          const Signal done{y_second_coded};
          y_second.reserve(y.coded / 16);
          CodeSegment(plane_of(0), levels, y.split, y.coded, y.symbols, y_second);
        } else {
          {
            const Signal done{y_coded};
            CodeSegment(plane_of(0), levels, 0, y.split, y.symbols, out.stream);
            wait_for(y_second_coded);
            const std::size_t restart = out.stream.size();
            out.stream.insert(out.stream.end(), y_second.begin(), y_second.end());
            finish_coding(0, restart);
          }
          wait_for(i_analysed);
          if (analysed_i != Status::kOk || out_of_memory) return;
          code(1, nullptr);
          coded_i = true;
        }
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    });
    if (out_of_memory) return Status::kOutOfMemory;
    if (!progress(2)) return Status::kCancelled;
    VARNIC_RETURN_IF_ERROR(analysed_i);
    if (!progress(3)) return Status::kCancelled;
    if (!coded_i) return Status::kEncodeFailed;
    if (!progress(4)) return Status::kCancelled;
    VARNIC_RETURN_IF_ERROR(analysed_q);
    return progress(5) ? Status::kOk : Status::kCancelled;
  };

  try {
    // Typical files are well under a byte per pixel; the vector grows if not.
    out.stream.reserve(std::size_t{working.plane_size_} / 8 + 4096);
    VARNIC_RETURN_IF_ERROR(analyse(0, workers));
    header = working;
    if (!progress(1)) return Status::kCancelled;
    if (workers != nullptr && count == kChannelCount) {
      VARNIC_RETURN_IF_ERROR(CodeYAndIWhileAnalysingIAndQ());
      code(2, workers);
      if (!progress(6)) return Status::kCancelled;
    } else {
      for (int c = 0; c < count; ++c) {
        code(c, workers);
        if (!progress(2 * c + 2)) return Status::kCancelled;
        if (c + 1 < count) {
          VARNIC_RETURN_IF_ERROR(analyse(c + 1, workers));
          if (!progress(2 * c + 3)) return Status::kCancelled;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  out.params = working;
  out.plane_count = options.keep_planes ? count : 0;
  return Status::kOk;
}

}  // namespace varnic::codec
