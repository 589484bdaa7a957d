// Reconstruction of the picture from its planes, and the whole decode of a
// stream with its timings.

#include <new>

#include "codec/memory.h"
#include "display/display.h"

namespace varnic::display {
namespace {

int plane_count(const codec::CodecParams& params) {
  return params.image_mode_ == codec::kImageModeColour ? codec::kChannelCount : 1;
}

Status check_planes(const decoder::PlaneSet& planes, const codec::CodecParams& params) {
  const int levels = params.total_levels_;
  if (levels < 1 || levels > codec::kMaxFileLevels) return Status::kReconstructFailed;
  if (params.image_mode_ != codec::kImageModeGrey && params.image_mode_ != codec::kImageModeColour) {
    return Status::kReconstructFailed;
  }
  if (params.image_width_ == 0 || params.image_height_ == 0 ||
      params.image_width_ > params.padded_width_ || params.image_height_ > params.padded_height_) {
    return Status::kReconstructFailed;
  }
  for (int c = 0; c < plane_count(params); ++c) {
    if (planes[c].width_ != params.padded_width_ || planes[c].height_ != params.padded_height_) {
      return Status::kReconstructFailed;
    }
  }
  return Status::kOk;
}

codec::ClockReading read(const Clock& clock) { return clock ? clock() : codec::ClockReading{}; }

}  // namespace

Status reconstruct_picture(decoder::PlaneSet& planes, const codec::CodecParams& params,
                           const decoder::Magic& magic, const ReconstructOptions& options,
                           std::vector<std::uint8_t>& pixels) {
  VARNIC_RETURN_IF_ERROR(check_planes(planes, params));
  const int count = plane_count(params);
  const codec::RowGeometry g = codec::ComputeRowGeometry(
      params.image_width_, params.image_height_, count == 1 ? 8 : 24);
  std::vector<std::uint8_t> out;
  try {
    codec::AssignLarge(out, g.picture_bytes);
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  }

  if (options.encoder_reconstruction) {
    for (int c = 0; c < count; ++c) {
      decoder::dequantize_plane(planes[c], params, static_cast<codec::Channel>(c));
    }
  }
  // One work buffer, as large as the last step needs, serves every step.
  std::vector<std::int16_t> work;
  if (options.preview) {
    std::vector<std::uint8_t> preview;
    for (int level = 0; level < params.total_levels_; ++level) {
      PreviewFrame frame;
      render_preview(planes, params, magic, level, preview, frame);
      if (!options.preview(frame)) return Status::kCancelled;
      for (int c = 0; c < count; ++c) {
        VARNIC_RETURN_IF_ERROR(
            decoder::synthesize_level(planes[c], params, static_cast<codec::Channel>(c), level, work));
      }
    }
  } else {
    for (int c = 0; c < count; ++c) {
      VARNIC_RETURN_IF_ERROR(
          decoder::synthesize_plane(planes[c], params, static_cast<codec::Channel>(c), work));
    }
  }
  planes_to_pixels(planes, params, magic, out);
  pixels.swap(out);
  return Status::kOk;
}

Status decode_compressed_file(std::span<const std::uint8_t> file, const DecodeOptions& options,
                              DecodedFile& out) {
  DecodedFile result;
  codec::ClockReading start = read(options.clock);
  decoder::DecodedPlanes decoded;
  VARNIC_RETURN_IF_ERROR(decoder::decode_planes(file, options.limits, decoded));
  codec::ClockReading end = read(options.clock);
  result.timings.entropy_decode = codec::ElapsedSeconds(start, end);

  result.header = std::move(decoded.header_);
  result.planes = std::move(decoded.planes_);
  const codec::CodecParams& params = result.header.params_;
  result.bits_per_pixel = params.image_mode_ == codec::kImageModeColour ? 24 : 8;
  result.geometry =
      codec::ComputeRowGeometry(params.image_width_, params.image_height_, result.bits_per_pixel);

  start = read(options.clock);
  ReconstructOptions reconstruct;
  reconstruct.preview = options.preview;
  VARNIC_RETURN_IF_ERROR(
      reconstruct_picture(result.planes, params, result.header.magic_, reconstruct, result.pixels));
  end = read(options.clock);
  result.timings.wavelet = codec::ElapsedSeconds(start, end);
  result.timings.total = result.timings.wavelet + result.timings.entropy_decode;

  out = std::move(result);
  return Status::kOk;
}

}  // namespace varnic::display
