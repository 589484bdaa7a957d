#include "app/pipeline.h"

#include "codec/encoder.h"

namespace varnic::app::pipeline {

codec::Status encode(std::span<const std::uint8_t> picture, const codec::CodecParams& params,
                     std::string_view comment, EncodeOutput& out) {
  codec::PictureView view;
  view.data = picture.data();
  view.size = picture.size();
  view.width = params.image_width_;
  view.height = params.image_height_;
  view.bits_per_pixel = params.image_mode_ == codec::kImageModeColour ? 24 : 8;
  codec::EncodeOptions options;
  options.comment = comment;
  codec::EncodedPicture encoded;
  const codec::Status status = codec::EncodePicture(view, params, options, encoded);
  if (status != codec::Status::kOk) return status;
  out.stream = std::move(encoded.stream);
  out.planes = std::move(encoded.planes);
  out.working = encoded.params;
  return codec::Status::kOk;
}

// Provisional until the display and colour libraries land.
codec::Status reconstruct(decoder::PlaneSet&, const codec::CodecParams&, const decoder::Magic&, bool,
                          const PreviewSink*, std::vector<std::uint8_t>&) {
  return codec::Status::kReconstructFailed;
}

codec::Status convert_to_8bit(std::span<const std::uint8_t>, int, int, std::uint16_t, bool,
                              std::vector<std::uint8_t>&, std::array<std::uint8_t, imagefile::kColourTableBytes>&) {
  return codec::Status::kColourQuantFailed;
}

std::array<std::uint8_t, imagefile::kColourTableBytes> preview_palette() { return {}; }

codec::Status map_to_preview_palette(std::span<const std::uint8_t>, int, int, bool, std::vector<std::uint8_t>&) {
  return codec::Status::kColourQuantFailed;
}

}  // namespace varnic::app::pipeline
