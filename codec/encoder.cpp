// SPDX-License-Identifier: BSD-2-Clause
#include "codec/encoder.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <utility>

#include "codec/quantize.h"
#include "codec/symbols.h"
#include "codec/zerotrees.h"
#include "utils/parallel.h"

namespace varnic::codec {

using format::CodecParams;
using format::StatusCode;

namespace {

using format::ChannelParams;
using format::CoefficientPlane;
using utils::WorkerPool;

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

namespace {

// One picture's encoding. Each channel's codes come from the source (the picture rows through both
// passes of quantize.h, or the optimiser's choices), then get their zerotrees and symbol counts,
// and its two segments are coded from them. One thread takes the channels in turn with a single
// plane of codes; more threads make the channels' codes at once, each into its own plane, and
// code every segment as soon as its channel is ready, so a colour picture has up to nine tasks to
// share. The stream is then laid out in the one order the format has.
//
// Stage k of the progress count is channel (k - 1) / 2's codes when k is odd, its coding when k is
// even. Stages are reported in order on the calling thread: with threads, whenever the calling
// thread finishes a task of its own, and the rest at the end; a refusal makes every task not yet
// started return at once.
class PictureEncoder {
 public:
  PictureEncoder(const ChannelCodes& source, const EncodeRequest& options, CodecParams& working, EncodedPicture& out)
      : source_(source), options_(options), working_(working), out_(out), levels_(working.total_levels),
        count_(plane_count_of(working)), pool_(options.threads) {}

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
      const SegmentSplit& split = coded_[ci].split;
      code_segment(codes, levels_, 0, split.split, coded_[ci].symbols, segments_[ci][0]);
      code_segment(codes, levels_, split.split, split.coded, coded_[ci].symbols, segments_[ci][1]);
      VARNIC_RETURN_IF_ERROR(keep(c, codes));
      if (c == 0) start_stream();
      append_channel(c);
      if (!progress(2 * c + 2)) return StatusCode::kCancelled;
    }
    return StatusCode::kOk;
  }

 private:
  // The symbols of one marked channel and where its two segments lie.
  struct ChannelCoding {
    SymbolCoding symbols;
    SegmentSplit split;
  };

  bool progress(int stage) const { return !options_.progress || options_.progress(stage, 2 * count_); }

  // Codes, zerotrees and symbol table of channel c; its band limits into the working copy.
  StatusCode analyse(int c, format::SymbolPlane& codes) {
    VARNIC_RETURN_IF_ERROR(source_(c, working_, codes));
    const int dropped = working_.channels[static_cast<std::size_t>(c)].dropped_levels;
    mark_zerotree_codes(codes, levels_, dropped);
    ChannelCoding& coding = coded_[static_cast<std::size_t>(c)];
    coding.symbols = symbol_coding(count_codes(codes));
    coding.split = segment_split(codes, dropped);
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
    std::atomic<bool> cancelled{false};
    // finished[k - 1]: stage k is done; `reported` stages have been passed to the callback.
    std::array<std::atomic<bool>, 2 * format::kChannelCount> finished{};
    int reported = 0;
    const std::thread::id caller = std::this_thread::get_id();
    auto report = [&] {
      while (reported < 2 * count_ && finished[static_cast<std::size_t>(reported)] && !cancelled) {
        if (!progress(++reported)) cancelled = true;
      }
    };
    auto task = [&](int stage, auto body) {
      return std::function<void()>([&, stage, body] {
        if (cancelled) return;
        try {
          body();
        } catch (const std::bad_alloc&) {
          out_of_memory = true;
        }
        if (stage > 0) finished[static_cast<std::size_t>(stage - 1)] = true;
        if (std::this_thread::get_id() == caller) report();
      });
    };
    utils::TaskGraph graph;
    for (int c = 0; c < count_; ++c) {
      const auto i = static_cast<std::size_t>(c);
      const auto analysis = graph.add({}, task(2 * c + 1, [this, c, i, &analysed] {
        analysed[i] = codes_[i].allocate(working_.padded_width, working_.padded_height);
        if (analysed[i] == StatusCode::kOk) analysed[i] = analyse(c, codes_[i]);
      }));
      std::array<utils::TaskGraph::TaskId, 2> segment{};
      for (int part = 0; part < 2; ++part) {
        segment[static_cast<std::size_t>(part)] = graph.add({analysis}, task(0, [this, i, part, &analysed] {
          if (analysed[i] != StatusCode::kOk) return;
          const ChannelCoding& coding = coded_[i];
          code_segment(codes_[i], levels_, part == 0 ? 0 : coding.split.split,
                       part == 0 ? coding.split.split : coding.split.coded, coding.symbols,
                       segments_[i][static_cast<std::size_t>(part)]);
        }));
      }
      graph.add({segment[0], segment[1]}, task(2 * c + 2, [this, c, i, &analysed, &kept] {
        if (analysed[i] == StatusCode::kOk) kept[i] = keep(c, codes_[i]);
        codes_[i].release();
      }));
    }
    graph.run(&pool_, pool_.size());
    if (out_of_memory) return StatusCode::kOutOfMemory;
    for (int c = 0; c < count_; ++c) {
      VARNIC_RETURN_IF_ERROR(analysed[static_cast<std::size_t>(c)]);
      VARNIC_RETURN_IF_ERROR(kept[static_cast<std::size_t>(c)]);
    }
    report();
    if (cancelled) return StatusCode::kCancelled;
    for (int c = 0; c < count_; ++c) {
      if (c == 0) start_stream();
      append_channel(c);
    }
    return StatusCode::kOk;
  }

  const ChannelCodes& source_;
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

StatusCode encode_codes(CodecParams& working, const ChannelCodes& codes, const EncodeRequest& options,
                        EncodedPicture& out) {
  if (options.comment.size() > format::kMaxCommentLength) return StatusCode::kCommentTooLong;
  out.stream.clear();
  out.plane_count = 0;
  for (CoefficientPlane& plane : out.planes) plane.release();
  try {
    PictureEncoder encoder(codes, options, working, out);
    VARNIC_RETURN_IF_ERROR(encoder.run());
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }
  out.params = working;
  out.plane_count = options.keep_planes ? plane_count_of(working) : 0;
  return StatusCode::kOk;
}

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
  const ChannelCodes rows = [&picture](int c, CodecParams& w, format::SymbolPlane& codes) {
    return quantize_channel_rows(picture, c, w, w.channels[static_cast<std::size_t>(c)], codes);
  };
  return encode_codes(working, rows, options, out);
}

}  // namespace varnic::codec
