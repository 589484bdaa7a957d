#include "codec/encoder.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "codec/arithmetic_coder.h"
#include "codec/format.h"
#include "codec/forward_wavelet.h"
#include "codec/picture_geometry.h"

namespace varnic::codec {
namespace {

// Runs task(index, worker) for index 0..count-1 on up to `threads` threads
// (worker 0 is the calling thread); falls back to fewer threads when they
// cannot be started. Tasks write disjoint outputs.
template <class Task>
void RunTasks(int count, int threads, Task&& task) {
  threads = std::clamp(threads, 1, std::max(count, 1));
  std::atomic<int> next{0};
  auto worker = [&](int id) {
    for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) task(i, id);
  };
  std::vector<std::thread> pool;
  try {
    for (int t = 1; t < threads; ++t) pool.emplace_back(worker, t);
  } catch (const std::system_error&) {
    // Whatever started keeps pulling tasks; this thread joins in below.
  }
  worker(0);
  for (std::thread& t : pool) t.join();
}

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

// Calls visit(value) for every position of the plane in coding order (low
// band, then per level from the coarsest the bands h, v, d, row by row),
// stopping after `count` positions.
template <class Visit>
void ForEachInCodingOrder(const CoefficientPlane& plane, int total_levels, std::size_t count,
                          Visit&& visit) {
  std::uint32_t h = plane.height_ >> total_levels;
  std::uint32_t w = plane.width_ >> total_levels;
  auto block = [&](std::uint32_t row, std::uint32_t col) {
    for (std::uint32_t r = row; r < row + h && count > 0; ++r) {
      const std::int16_t* src = plane.row(r) + col;
      const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(w, count));
      for (std::uint32_t j = 0; j < n; ++j) visit(src[j]);
      count -= n;
    }
  };
  block(0, 0);
  for (int l = 0; l < total_levels && count > 0; ++l) {
    block(0, w);  // h
    block(h, 0);  // v
    block(h, w);  // d
    h *= 2;
    w *= 2;
  }
}

// Symbol table and both segments of one marked plane, appended to `out`.
// Returns where segment 2 starts, counted from the start of `out`.
std::size_t CodeChannelData(const CoefficientPlane& plane, int total_levels, int dropped,
                            std::vector<std::uint8_t>& out) {
  // Symbol list: every value of the whole plane counts, dropped levels and
  // skip markers included, ordered by the exchange sort (ties as it leaves them).
  std::array<std::uint32_t, 256> count{};
  for (const std::int16_t v : plane.samples_) ++count[static_cast<std::uint8_t>(v + 128)];
  std::array<std::pair<std::uint32_t, int>, 256> order;
  for (int v = 0; v < 256; ++v) order[v] = {count[v], v};
  for (int i = 0; i < 255; ++i) {
    for (int j = i + 1; j < 256; ++j) {
      if (order[j].first > order[i].first) std::swap(order[i], order[j]);
    }
  }
  std::array<int, 256> rank{};
  int symbols = 0;
  for (const auto& [n, v] : order) {
    if (n == 0) continue;
    rank[v] = symbols++;
  }
  // Values stay within -127..127, so at most 255 distinct symbols: the count
  // byte cannot overflow.
  out.push_back(static_cast<std::uint8_t>(symbols));
  for (const auto& [n, v] : order) {
    if (n != 0) out.push_back(static_cast<std::uint8_t>(v));
  }

  // Dropping d levels keeps exactly the first PlaneSize / 4^d positions.
  const std::size_t coded = plane.size() >> (2 * dropped);
  const std::size_t split = coded / 4;
  AdaptiveModel model;
  ArithmeticEncoder encoder(out);
  model.Start(symbols);
  encoder.Start();
  std::size_t position = 0;
  std::size_t restart = 0;
  ForEachInCodingOrder(plane, total_levels, coded, [&](std::int16_t v) {
    if (position++ == split) {
      encoder.Encode(model, model.end_symbol());
      encoder.Finish();
      restart = out.size();
      model.Start(symbols);
      encoder.Start();
    }
    if (v == kZeroTreeInside) return;
    const int symbol = model.symbol_of(rank[static_cast<std::uint8_t>(v + 128)]);
    encoder.Encode(model, symbol);
    model.Update(symbol);
  });
  encoder.Encode(model, model.end_symbol());
  encoder.Finish();
  return restart;
}

std::size_t EndOffsetField(Channel c) {
  return kEndOffsetsOffset + 4 * static_cast<std::size_t>(c);
}
std::size_t RestartOffsetField(int total_levels, Channel c) {
  return ComputeHeaderLayout(5, total_levels).restart_offsets + 4 * static_cast<std::size_t>(c);
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
  for (int c = 0; c < count; ++c) {
    VARNIC_RETURN_IF_ERROR(planes[c].Allocate(working.padded_width_, working.padded_height_));
  }
  if (count == 1) {
    GreyToY(picture, working.channels_[0].pixel_offset_, planes[0]);
  } else {
    RgbToYiq(picture, working.channels_[0].pixel_offset_, working.channels_[1].pixel_offset_,
             working.channels_[2].pixel_offset_, planes[0], planes[1], planes[2]);
  }

  // One workspace per worker, reused from channel to channel.
  std::array<TransformWorkspace, kChannelCount> workspaces;
  std::array<Status, kChannelCount> results{};
  auto transform = [&](int c, int worker) {
    results[c] = ForwardTransformChannel(planes[c], working.total_levels_,
                                         working.threshold_vector_.data(), working.channels_[c],
                                         workspaces[worker]);
  };
  if (options.threads <= 1) {
    for (int c = 0; c < count; ++c) {
      transform(c, 0);
      VARNIC_RETURN_IF_ERROR(results[c]);
      if (options.progress && !options.progress(c + 1, 2 * count)) return Status::kCancelled;
    }
    return Status::kOk;
  }
  RunTasks(count, options.threads, transform);
  for (int c = 0; c < count; ++c) VARNIC_RETURN_IF_ERROR(results[c]);
  if (options.progress && !options.progress(count, 2 * count)) return Status::kCancelled;
  return Status::kOk;
}

void ReorderSubbands(const CoefficientPlane& plane, int total_levels,
                     std::vector<std::int16_t>& out) {
  out.clear();
  out.reserve(plane.size());
  ForEachInCodingOrder(plane, total_levels, plane.size(), [&](std::int16_t v) { out.push_back(v); });
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
  const RowGeometry geometry =
      ComputeRowGeometry(picture.width, picture.height, picture.bits_per_pixel);
  if (picture.size < geometry.picture_bytes) return Status::kBadPictureBuffer;

  out.stream.clear();
  out.plane_count = 0;
  VARNIC_RETURN_IF_ERROR(BuildPlanes(picture, working, out.planes, options));
  const int count = PlaneCount(working);

  try {
    // Typical files are well under a byte per pixel; the vector grows if not.
    out.stream.reserve(std::size_t{working.plane_size_} / 8 + 4096);
    if (options.threads <= 1 || count == 1) {
      for (int c = 0; c < count; ++c) {
        VARNIC_RETURN_IF_ERROR(EncodeChannel(out.planes[c], static_cast<Channel>(c), working,
                                             options.comment, out.stream));
        if (options.progress && !options.progress(count + c + 1, 2 * count)) {
          return Status::kCancelled;
        }
      }
    } else {
      // Segments do not depend on where they land in the file, so the
      // channels are coded into buffers of their own and joined afterwards.
      std::array<std::vector<std::uint8_t>, kChannelCount> parts;
      std::array<std::size_t, kChannelCount> restarts{};
      std::array<bool, kChannelCount> failed{};
      RunTasks(count, options.threads, [&](int c, int) {
        try {
          MarkZerotrees(out.planes[c], working.total_levels_,
                        working.channels_[c].dropped_levels_);
          restarts[c] = CodeChannelData(out.planes[c], working.total_levels_,
                                        working.channels_[c].dropped_levels_, parts[c]);
        } catch (const std::bad_alloc&) {
          failed[c] = true;
        }
      });
      for (int c = 0; c < count; ++c) {
        if (failed[c]) return Status::kOutOfMemory;
      }
      WriteFileHeader(working, options.comment, out.stream);
      for (int c = 0; c < count; ++c) {
        ChannelParams& cp = working.channels_[c];
        cp.restart_offset_ = static_cast<std::uint32_t>(out.stream.size() + restarts[c]);
        out.stream.insert(out.stream.end(), parts[c].begin(), parts[c].end());
        cp.end_offset_ = static_cast<std::uint32_t>(out.stream.size());
        StoreU32(out.stream.data() + RestartOffsetField(working.total_levels_,
                                                        static_cast<Channel>(c)),
                 cp.restart_offset_);
        StoreU32(out.stream.data() + EndOffsetField(static_cast<Channel>(c)), cp.end_offset_);
      }
      if (options.progress && !options.progress(2 * count, 2 * count)) {
        return Status::kCancelled;
      }
    }
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }
  out.params = working;
  out.plane_count = count;
  return Status::kOk;
}

}  // namespace varnic::codec
