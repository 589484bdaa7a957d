// SPDX-License-Identifier: BSD-2-Clause
// WebP through libwebp, from memory. The container is parsed first (libwebpdemux), so that a file
// whose chunks end past its last byte is refused before anything is allocated, and its ICCP, EXIF
// and XMP chunks give the facts. An opaque picture is decoded blue-green-red straight into the
// picture buffer, upside down as the buffer holds its rows; one with alpha into the same buffer
// with room for four bytes a pixel, then blended over white and packed in place.
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>
#include <new>

#include "imagefile/formats.h"
#include "imagefile/notices.h"
#include "utils/memory.h"

namespace varnic::imagefile::formats {
namespace {

// A lossy key frame codes each 16x16 macroblock's prediction modes with fixed probabilities, at
// more than a bit each, so a frame with fewer bits than macroblocks cannot hold the picture it
// declares. Lossless frames can code a flat picture in next to nothing and are not checked.
constexpr std::uint64_t kMinBitsPerMacroblock = 1;
constexpr int kLossyFormat = 1;  // WebPBitstreamFeatures::format

struct DemuxDeleter {
  void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

std::string_view decoder_reason(VP8StatusCode code) {
  switch (code) {
    case VP8_STATUS_OK: return "no error";
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_SUSPENDED: return "suspended";
    case VP8_STATUS_USER_ABORT: return "aborted";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the data end early";
  }
  return "unknown error";
}

std::span<const std::uint8_t> chunk(WebPDemuxer* demux, const char fourcc[4], WebPChunkIterator& iterator) {
  if (!WebPDemuxGetChunk(demux, fourcc, 1, &iterator)) return {};
  return {iterator.chunk.bytes, iterator.chunk.size};
}

void gather_facts(WebPDemuxer* demux, PhotoFacts& facts) {
  WebPChunkIterator iterator;
  if (const auto icc = chunk(demux, "ICCP", iterator); !icc.empty()) facts.colour.icc_profile.assign(icc.begin(), icc.end());
  if (const auto exif = chunk(demux, "EXIF", iterator); !exif.empty()) read_exif(exif, facts);
  facts.xmp = !chunk(demux, "XMP ", iterator).empty();
  WebPDemuxReleaseChunkIterator(&iterator);
}

// Straight-alpha blue-green-red-alpha pixels, `width` x `height` packed, become blue-green-red
// rows `stride` bytes apart in the same buffer; each written byte lies at or before the bytes it
// is made from.
void blend_in_place(std::uint8_t* pixels, std::size_t width, std::size_t height, std::size_t stride) {
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* in = pixels + y * width * 4;
    std::uint8_t* out = pixels + y * stride;
    for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
      const unsigned alpha = in[3];
      for (int c = 0; c < 3; ++c)
        out[c] = static_cast<std::uint8_t>((in[c] * alpha + 255u * (255u - alpha) + 127u) / 255u);
    }
    std::fill(out, pixels + (y + 1) * stride, std::uint8_t{0});
  }
}

}  // namespace

FileStatus read_webp(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  const WebPData data = {bytes.data(), bytes.size()};
  const Demuxer demux(WebPDemux(&data));
  if (demux == nullptr) {
    message = std::string(status_message(FileStatus::kWebpCorrupt)) + ": the file is damaged or ends inside a chunk";
    return FileStatus::kWebpCorrupt;
  }
  if ((WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) != 0) {
    message = "animated WebP pictures are not read (save one frame as a picture first)";
    return FileStatus::kPhotoLayout;
  }
  const std::uint32_t width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
  const std::uint32_t height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
  if (const FileStatus size = check_picture_size(width, height, limits, message); size != FileStatus::kOk) return size;
  WebPIterator frame;
  if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return FileStatus::kWebpCorrupt;
  const std::span<const std::uint8_t> coded(frame.fragment.bytes, frame.fragment.size);
  const bool frame_fills_canvas = frame.width == static_cast<int>(width) && frame.height == static_cast<int>(height) &&
                                  frame.x_offset == 0 && frame.y_offset == 0;
  WebPDemuxReleaseIterator(&frame);
  if (!frame_fills_canvas) return FileStatus::kWebpCorrupt;

  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return FileStatus::kWebpCorrupt;
  if (const VP8StatusCode features = WebPGetFeatures(coded.data(), coded.size(), &config.input);
      features != VP8_STATUS_OK || config.input.width != static_cast<int>(width) ||
      config.input.height != static_cast<int>(height)) {
    return FileStatus::kWebpCorrupt;
  }
  const std::uint64_t macroblocks = (std::uint64_t{width} + 15) / 16 * ((std::uint64_t{height} + 15) / 16);
  if (config.input.format == kLossyFormat && macroblocks * kMinBitsPerMacroblock > std::uint64_t{coded.size()} * 8) {
    message = "the WebP file is too short for the " + std::to_string(width) + "x" + std::to_string(height) +
              " picture it declares";
    return FileStatus::kWebpCorrupt;
  }
  LoadedPicture result;
  gather_facts(demux.get(), result.facts);
  const bool alpha = config.input.has_alpha != 0;
  PictureBuffer& picture = result.picture;
  if (FileStatus made = new_picture(width, height, false, !alpha, picture); made != FileStatus::kOk) return made;
  const utils::RowGeometry geometry = picture.geometry();
  if (alpha) {
    const std::size_t turned = utils::row_geometry(height, width, 24).picture_bytes;
    const std::size_t decoded = std::size_t{width} * height * 4;
    picture.pixels.reserve(std::max({decoded, geometry.picture_bytes, turned}));
    utils::assign_large(picture.pixels, decoded);
  }
  config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = picture.pixels.data();
  config.output.u.RGBA.stride = static_cast<int>(alpha ? std::size_t{width} * 4 : geometry.stride);
  config.output.u.RGBA.size = picture.pixels.size();
  config.options.flip = 1;  // the buffer's rows run bottom-up
  const VP8StatusCode decoded = WebPDecode(coded.data(), coded.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (decoded == VP8_STATUS_OUT_OF_MEMORY) return FileStatus::kOutOfMemory;
  if (decoded != VP8_STATUS_OK) {
    message = std::string(status_message(FileStatus::kWebpCorrupt)) + ": " + std::string(decoder_reason(decoded));
    return FileStatus::kWebpCorrupt;
  }
  if (alpha) {
    blend_in_place(picture.pixels.data(), width, height, geometry.stride);
    picture.pixels.resize(geometry.picture_bytes);
    result.notices.push_back(notices::transparency_blended());
  }
  out = std::move(result);
  return FileStatus::kOk;
}

}  // namespace varnic::imagefile::formats
