// Reconstruction of the picture from its planes, and the whole decode of a
// stream with its timings.

#include <new>

#include "utils/memory.h"
#include "display/display.h"

namespace varnic::display {
namespace {

int plane_count(const format::CodecParams& params) {
  return params.image_mode_ == format::kImageModeColour ? format::kChannelCount : 1;
}

StatusCode check_planes(const decoder::PlaneSet& planes, const format::CodecParams& params) {
  const int levels = params.total_levels_;
  if (levels < 1 || levels > format::kMaxFileLevels) return StatusCode::kReconstructFailed;
  if (params.image_mode_ != format::kImageModeGrey && params.image_mode_ != format::kImageModeColour) {
    return StatusCode::kReconstructFailed;
  }
  if (params.image_width_ == 0 || params.image_height_ == 0 ||
      params.image_width_ > params.padded_width_ || params.image_height_ > params.padded_height_) {
    return StatusCode::kReconstructFailed;
  }
  for (int c = 0; c < plane_count(params); ++c) {
    if (planes[c].width_ != params.padded_width_ || planes[c].height_ != params.padded_height_) {
      return StatusCode::kReconstructFailed;
    }
  }
  return StatusCode::kOk;
}

utils::ClockReading read(const Clock& clock) { return clock ? clock() : utils::ClockReading{}; }

}  // namespace

StatusCode reconstruct_picture(decoder::PlaneSet& planes, const format::CodecParams& params,
                           const format::Magic& magic, const ReconstructOptions& options,
                           std::vector<std::uint8_t>& pixels) {
  VARNIC_RETURN_IF_ERROR(check_planes(planes, params));
  const int count = plane_count(params);
  const utils::RowGeometry g = utils::row_geometry(
      params.image_width_, params.image_height_, count == 1 ? 8 : 24);
  std::vector<std::uint8_t> out;
  try {
    utils::assign_large(out, g.picture_bytes);
  } catch (const std::bad_alloc&) {
    return StatusCode::kOutOfMemory;
  }

  if (options.encoder_reconstruction) {
    for (int c = 0; c < count; ++c) {
      decoder::dequantize_plane(planes[c], params, static_cast<format::Channel>(c));
    }
  }
  // One work buffer, as large as the last step needs, serves every step.
  std::vector<std::int16_t> work;
  if (options.preview) {
    std::vector<std::uint8_t> preview;
    for (int level = 0; level < params.total_levels_; ++level) {
      PreviewFrame frame;
      render_preview(planes, params, magic, level, preview, frame);
      if (!options.preview(frame)) return StatusCode::kCancelled;
      for (int c = 0; c < count; ++c) {
        VARNIC_RETURN_IF_ERROR(
            decoder::synthesize_level(planes[c], params, static_cast<format::Channel>(c), level, work));
      }
    }
  } else {
    for (int c = 0; c < count; ++c) {
      VARNIC_RETURN_IF_ERROR(
          decoder::synthesize_plane(planes[c], params, static_cast<format::Channel>(c), work));
    }
  }
  planes_to_pixels(planes, params, magic, out);
  pixels.swap(out);
  return StatusCode::kOk;
}

StatusCode decode_compressed_file(std::span<const std::uint8_t> file, const DecodeRequest& options,
                              DecodedFile& out) {
  DecodedFile result;
  utils::ClockReading start = read(options.clock);
  decoder::DecodedPlanes decoded;
  VARNIC_RETURN_IF_ERROR(decoder::decode_planes(file, options.max_pixels, decoded));
  utils::ClockReading end = read(options.clock);
  result.timings.entropy_decode = utils::elapsed_seconds(start, end);

  result.header = std::move(decoded.header_);
  result.planes = std::move(decoded.planes_);
  const format::CodecParams& params = result.header.params;
  result.bits_per_pixel = params.image_mode_ == format::kImageModeColour ? 24 : 8;
  result.geometry =
      utils::row_geometry(params.image_width_, params.image_height_, result.bits_per_pixel);

  start = read(options.clock);
  ReconstructOptions reconstruct;
  reconstruct.preview = options.preview;
  VARNIC_RETURN_IF_ERROR(
      reconstruct_picture(result.planes, params, result.header.magic, reconstruct, result.pixels));
  end = read(options.clock);
  result.timings.wavelet = utils::elapsed_seconds(start, end);
  result.timings.total = result.timings.wavelet + result.timings.entropy_decode;

  out = std::move(result);
  return StatusCode::kOk;
}

}  // namespace varnic::display
