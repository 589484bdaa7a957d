// SPDX-License-Identifier: BSD-2-Clause
#include "app/pipeline.h"

#include <algorithm>

#include "codec/encoder.h"
#include "colour/colour.h"
#include "display/display.h"

namespace varnic::app::pipeline {

format::StatusCode encode(std::span<const std::uint8_t> picture, const format::CodecParams& params,
                     std::string_view comment, EncodeOutput& out) {
  codec::PictureRows view;
  view.data = picture.data();
  view.size = picture.size();
  view.width = params.image_width;
  view.height = params.image_height;
  view.bits_per_pixel = params.image_mode == format::kImageModeColour ? 24 : 8;
  codec::EncodeRequest options;
  options.comment = comment;
  codec::EncodedPicture encoded;
  const format::StatusCode status = codec::encode_picture(view, params, options, encoded);
  if (status != format::StatusCode::kOk) return status;
  for (int c = 0; c < encoded.plane_count; ++c) {
    const auto i = static_cast<std::size_t>(c);
    VARNIC_RETURN_IF_ERROR(
        decoder::codes_from_quantized(encoded.planes[i], encoded.params, static_cast<format::Channel>(c), out.planes[i]));
  }
  out.stream = std::move(encoded.stream);
  out.working = encoded.params;
  return format::StatusCode::kOk;
}

format::StatusCode reconstruct(const decoder::CodeSet& planes, const format::CodecParams& params,
                               const format::Magic& magic, const PreviewSink* preview, std::vector<std::uint8_t>& picture) {
  display::PreviewHook hook;
  if (preview != nullptr) {
    hook = [preview](const display::PreviewFrame& frame) {
      (*preview)(frame.pixels, static_cast<int>(frame.width), static_cast<int>(frame.height), frame.bits_per_pixel);
      return true;
    };
  }
  display::DecodedPicture out;
  VARNIC_RETURN_IF_ERROR(display::reconstruct(planes, params, magic, hook, out));
  picture = std::move(out.pixels);
  return format::StatusCode::kOk;
}

format::StatusCode convert_to_8bit(std::span<const std::uint8_t> picture, int width, int height, std::uint16_t image_mode,
                              bool dither, std::vector<std::uint8_t>& index,
                              std::array<std::uint8_t, imagefile::kColourTableBytes>& colour_table) {
  return colour::convert_to_8bit(image_mode, width, height, picture, dither, index, colour_table);
}

std::array<std::uint8_t, imagefile::kColourTableBytes> preview_palette() {
  std::array<std::uint8_t, imagefile::kColourTableBytes> table{};
  const auto& palette = display::preview_palette();
  for (std::size_t i = 0; i < palette.size(); ++i) {
    table[i * 4 + 0] = palette[i].blue;
    table[i * 4 + 1] = palette[i].green;
    table[i * 4 + 2] = palette[i].red;
  }
  return table;
}

format::StatusCode map_to_preview_palette(std::span<const std::uint8_t> pixels, int width, int height, bool dither,
                                     std::vector<std::uint8_t>& index) {
  if (width <= 0 || height <= 0) return format::StatusCode::kColourQuantFailed;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  const std::size_t stride = (w * 3 + 3) & ~std::size_t{3};
  const std::size_t index_stride = (w + 3) & ~std::size_t{3};
  if (pixels.size() < stride * h) return format::StatusCode::kColourQuantFailed;
  // The quantizer takes packed rows: unpad, map, pad again.
  std::vector<std::uint8_t> packed(w * 3 * h);
  for (std::size_t y = 0; y < h; ++y) {
    std::copy_n(pixels.data() + y * stride, w * 3, packed.data() + y * w * 3);
  }
  std::array<std::uint8_t, 768> palette{};
  const auto& entries = display::preview_palette();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    palette[i * 3 + 0] = entries[i].blue;
    palette[i * 3 + 1] = entries[i].green;
    palette[i * 3 + 2] = entries[i].red;
  }
  std::vector<std::uint8_t> packed_index(w * h);
  if (colour::quantize_to_palette(packed, width, height, packed_index, dither, true, palette, 256) == 0) {
    return format::StatusCode::kColourQuantFailed;
  }
  index.assign(index_stride * h, 0);
  for (std::size_t y = 0; y < h; ++y) {
    std::copy_n(packed_index.data() + y * w, w, index.data() + y * index_stride);
  }
  return format::StatusCode::kOk;
}

}  // namespace varnic::app::pipeline
