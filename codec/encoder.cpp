// SPDX-License-Identifier: BSD-2-Clause
#include "codec/encoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "codec/channel_analysis.h"
#include "codec/forward_wavelet.h"
#include "format/arithmetic_coder.h"

namespace varnic::codec {
namespace {

// Calls visit(value) for the positions [begin, end) of the plane in coding
// order (low band, then per level from the coarsest the bands h, v, d, row
// by row).
template <class Plane, class Visit>
void for_each_in_coding_order(const Plane& plane, int total_levels, std::size_t begin,
                          std::size_t end, Visit&& visit) {
  std::uint32_t h = plane.height() >> total_levels;
  std::uint32_t w = plane.width() >> total_levels;
  std::size_t position = 0;
  auto block = [&](std::uint32_t row, std::uint32_t col) {
    for (std::uint32_t r = row; r < row + h && position < end; ++r) {
      const std::size_t next = position + w;
      if (next > begin) {
        const auto* src = plane.row(r) + col;
        const std::size_t first = begin > position ? begin - position : 0;
        const std::size_t last = std::min<std::size_t>(w, end - position);
        std::size_t j = first;
        if constexpr (sizeof *src == 1) {
          // Byte codes: runs of positions inside zerotrees, most of a fine band, are passed over
          // eight at a time; they are never coded.
          constexpr std::uint64_t kInsideRun = 0x0101010101010101u * static_cast<std::uint8_t>(format::kZeroTreeInside);
          while (j < last) {
            if (j + 8 <= last) {
              std::uint64_t eight;
              std::memcpy(&eight, src + j, sizeof eight);
              if (eight == kInsideRun) {
                j += 8;
                continue;
              }
            }
            visit(src[j]);
            ++j;
          }
        }
        for (; j < last; ++j) visit(src[j]);
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
SymbolCoding symbol_table_of(const std::array<std::uint32_t, 256>& count);

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
      for (std::size_t v = 0; v < 256; ++v) count[v] += part[v];
    });
  }
  return symbol_table_of(count);
}

SymbolCoding symbol_table_of(const std::array<std::uint32_t, 256>& count) {
  std::array<std::pair<std::uint32_t, int>, 256> order;
  for (std::size_t v = 0; v < 256; ++v) order[v] = {count[v], static_cast<int>(v)};
  for (std::size_t i = 0; i < 255; ++i) {
    for (std::size_t j = i + 1; j < 256; ++j) {
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
template <class Plane>
void code_segment(const Plane& plane, int total_levels, std::size_t begin,
                 std::size_t end, const SymbolCoding& symbols, std::vector<std::uint8_t>& out) {
  format::AdaptiveModel model;
  format::ArithmeticEncoder encoder(out);
  model.start(symbols.table.count);
  encoder.start();
  for_each_in_coding_order(plane, total_levels, begin, end, [&](auto v) {
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
  const std::size_t planes = image_mode == format::kImageModeGrey ? 1 : 3;
  const auto subbands = static_cast<std::size_t>(format::subband_count(levels));
  for (std::size_t c = 0; c < format::kChannelCount; ++c) {
    if (settings.channels[c].dropped_levels < 0) return kLevelStatus[c];
    if (c >= planes) continue;
    const auto& steps = settings.channels[c].quant_vector;
    if (std::any_of(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(subbands),
                    [](std::uint16_t step) { return step > format::kMaxQuantStep; })) {
      return kStepStatus[c];
    }
  }

  working = settings;
  working.total_levels = static_cast<std::uint16_t>(levels);
  working.image_width = width;
  working.image_height = height;
  working.image_mode = image_mode;
  format::compute_padded_size(working);
  for (std::size_t c = 0; c < format::kChannelCount; ++c) {
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

// One picture's encoding. Each channel is analysed from the picture rows into byte codes (both
// passes of channel_analysis.h, then the zerotrees and the symbol counts), and its two segments
// are coded from them. One thread takes the channels in turn with a single plane of codes; more
// threads analyse the channels at once, each into its own plane, and code every segment as soon
// as its channel is ready, so a colour picture has up to nine tasks to share. The stream is then
// laid out in the one order the format has. Stage k of the progress count is channel
// (k - 1) / 2's analysis when k is odd, its coding when k is even.
class PictureEncoder {
 public:
  PictureEncoder(const PictureRows& picture, const EncodeRequest& options, CodecParams& working,
                 EncodedPicture& out)
      : picture_(picture), options_(options), working_(working), out_(out),
        levels_(working.total_levels), count_(plane_count_of(working)), pool_(options.threads) {}

  StatusCode run() {
    // Typical files are well under a byte per pixel; the vector grows if not.
    out_.stream.reserve(std::size_t{working_.plane_size} / 8 + 4096);
    if (pool_.size() > 1) return run_parallel();
    for (int c = 0; c < count_; ++c) {
      format::SymbolPlane& codes = codes_[0];
      if (codes.empty()) VARNIC_RETURN_IF_ERROR(codes.allocate(working_.padded_width, working_.padded_height));
      VARNIC_RETURN_IF_ERROR(analyse(c, codes));
      if (!progress(2 * c + 1)) return StatusCode::kCancelled;
      const auto ci = static_cast<std::size_t>(c);
      const std::size_t split = coded_[ci].split;
      const std::size_t end = coded_[ci].coded;
      code_segment(codes, levels_, 0, split, coded_[ci].symbols, segments_[ci][0]);
      code_segment(codes, levels_, split, end, coded_[ci].symbols, segments_[ci][1]);
      VARNIC_RETURN_IF_ERROR(keep(c, codes));
      if (c == 0) start_stream();
      append_channel(c);
      if (!progress(2 * c + 2)) return StatusCode::kCancelled;
    }
    return StatusCode::kOk;
  }

 private:
  bool progress(int stage) const { return !options_.progress || options_.progress(stage, 2 * count_); }

  // Codes, zerotrees and symbol table of channel c; its band limits into the working copy.
  StatusCode analyse(int c, format::SymbolPlane& codes) {
    ChannelParams& cp = working_.channels[static_cast<std::size_t>(c)];
    VARNIC_RETURN_IF_ERROR(analyse_channel_rows(picture_, c, working_, cp, codes));
    mark_zerotree_codes(codes, levels_, cp.dropped_levels);
    ChannelCoding& coding = coded_[static_cast<std::size_t>(c)];
    coding.symbols = symbol_table_of(count_codes(codes));
    // Dropping d levels keeps exactly the first PlaneSize / 4^d positions; the second segment is
    // the finest coded level.
    coding.coded = codes.size() >> (2 * cp.dropped_levels);
    coding.split = coding.coded / 4;
    return StatusCode::kOk;
  }

  // The coded values with their markers as int16 planes, for a caller that shows them.
  StatusCode keep(int c, const format::SymbolPlane& codes) {
    if (!options_.keep_planes) return StatusCode::kOk;
    CoefficientPlane& plane = out_.planes[static_cast<std::size_t>(c)];
    VARNIC_RETURN_IF_ERROR(plane.allocate(working_.padded_width, working_.padded_height));
    std::copy_n(codes.data(), codes.size(), plane.samples().begin());
    return StatusCode::kOk;
  }

  // The header with Y's band limits (I's and Q's still zero, as they were when Y was coded
  // first); later channels patch theirs.
  void start_stream() {
    CodecParams header = working_;
    for (int c = 1; c < format::kChannelCount; ++c) {
      header.channels[static_cast<std::size_t>(c)].band_max.fill(0);
      header.channels[static_cast<std::size_t>(c)].band_min.fill(0);
    }
    format::append_header(header, options_.comment, out_.stream);
  }

  // Channel c's limits (I and Q), symbol table and segments, and its offsets in the header.
  void append_channel(int c) {
    const auto i = static_cast<std::size_t>(c);
    if (c > 0) format::patch_band_limits(out_.stream, working_, static_cast<format::Channel>(c));
    format::append_symbol_table(coded_[i].symbols.table, out_.stream);
    out_.stream.insert(out_.stream.end(), segments_[i][0].begin(), segments_[i][0].end());
    ChannelParams& cp = working_.channels[i];
    cp.restart_offset = static_cast<std::uint32_t>(out_.stream.size());
    out_.stream.insert(out_.stream.end(), segments_[i][1].begin(), segments_[i][1].end());
    cp.end_offset = static_cast<std::uint32_t>(out_.stream.size());
    format::patch_plane_offsets(out_.stream, levels_, static_cast<format::Channel>(c), cp.restart_offset,
                                cp.end_offset);
    std::vector<std::uint8_t>().swap(segments_[i][0]);
    std::vector<std::uint8_t>().swap(segments_[i][1]);
  }

  StatusCode run_parallel() {
    std::array<StatusCode, format::kChannelCount> analysed;
    analysed.fill(StatusCode::kOk);
    std::array<StatusCode, format::kChannelCount> kept;
    kept.fill(StatusCode::kOk);
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
    for (int c = 0; c < count_; ++c) {
      const auto i = static_cast<std::size_t>(c);
      const auto analysis = graph.add({}, task([this, c, i, &analysed] {
        analysed[i] = codes_[i].allocate(working_.padded_width, working_.padded_height);
        if (analysed[i] == StatusCode::kOk) analysed[i] = analyse(c, codes_[i]);
      }));
      std::array<utils::TaskGraph::TaskId, 2> segment{};
      for (int part = 0; part < 2; ++part) {
        segment[static_cast<std::size_t>(part)] = graph.add({analysis}, task([this, i, part, &analysed] {
          if (analysed[i] != StatusCode::kOk) return;
          const ChannelCoding& coding = coded_[i];
          code_segment(codes_[i], levels_, part == 0 ? 0 : coding.split, part == 0 ? coding.split : coding.coded,
                       coding.symbols, segments_[i][static_cast<std::size_t>(part)]);
        }));
      }
      graph.add({segment[0], segment[1]}, task([this, c, i, &analysed, &kept] {
        if (analysed[i] == StatusCode::kOk) kept[i] = keep(c, codes_[i]);
        codes_[i].release();
      }));
    }
    graph.run(&pool_, pool_.size());
    if (out_of_memory) return StatusCode::kOutOfMemory;
    for (int c = 0; c < count_; ++c) {
      const auto i = static_cast<std::size_t>(c);
      VARNIC_RETURN_IF_ERROR(analysed[i]);
      VARNIC_RETURN_IF_ERROR(kept[i]);
      if (!progress(2 * c + 1)) return StatusCode::kCancelled;
      if (c == 0) start_stream();
      append_channel(c);
      if (!progress(2 * c + 2)) return StatusCode::kCancelled;
    }
    return StatusCode::kOk;
  }

  const PictureRows& picture_;
  const EncodeRequest& options_;
  CodecParams& working_;
  EncodedPicture& out_;
  const int levels_;
  const int count_;
  WorkerPool pool_;
  std::array<format::SymbolPlane, format::kChannelCount> codes_;
  std::array<ChannelCoding, format::kChannelCount> coded_;
  std::array<std::array<std::vector<std::uint8_t>, 2>, format::kChannelCount> segments_;
};

}  // namespace

StatusCode encode_picture(const PictureRows& picture, const CodecParams& settings, const EncodeRequest& options,
                          EncodedPicture& out) {
  const bool streamed = static_cast<bool>(picture.read_bottom_row);
  if ((picture.data == nullptr && !streamed) || (picture.bits_per_pixel != 24 && picture.bits_per_pixel != 8)) {
    return StatusCode::kBadPictureBuffer;
  }
  if (options.comment.size() > format::kMaxCommentLength) return StatusCode::kCommentTooLong;
  const std::uint16_t mode = picture.bits_per_pixel == 8 ? format::kImageModeGrey : format::kImageModeColour;
  CodecParams working;
  VARNIC_RETURN_IF_ERROR(make_working_params(settings, picture.width, picture.height, mode, working));
  if (!streamed && (picture.stride() < std::size_t{picture.width} * (picture.bits_per_pixel / 8) ||
                    picture.size < picture.required_bytes())) {
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
