// SPDX-License-Identifier: BSD-2-Clause
// Encode, then decode. The input chooses a small picture and its settings; the target compresses
// it, reconstructs it the way the program does right after compressing (from the encoder's own
// values), decodes the stream as an opened file, and aborts unless both pictures are identical
// byte for byte. Input layout:
//   0  width - 3 (mod 62)      1  height - 3 (mod 62)
//   2  flags: bit 0 colour, bit 1 full settings, bit 2 previews while reconstructing after
//      encoding, bit 3 the program's decode with previews (else the row decode), bit 4 also encode on three threads
//   3  quality (mod 100)       4  image type (mod 3)      5  levels - 1 (mod 6)
//   6  dropped levels, 2 bits per channel Y, I, Q (mod levels)
//   7  full settings only: 3 x (3L + 1) quantization steps (mod 126), L + 1 thresholds
//   .. then pixel bytes, repeated as needed to fill the picture
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/encoder.h"
#include "codec/settings.h"
#include "utils/picture_layout.h"
#include "decoder/decoder.h"
#include "display/display.h"
#include "fuzz/picture_checks.h"

using varnic::fuzz::require;
namespace codec = varnic::codec;
namespace format = varnic::format;
namespace utils = varnic::utils;
namespace display = varnic::display;

namespace {

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  // Zero once the input is used up, so every input describes some picture.
  std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::span<const std::uint8_t> rest() const { return {data_ + pos_, size_ - pos_}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

bool make_settings(InputReader& in, bool full, format::CodecParams& params) {
  params = codec::default_codec_params();
  params.quality_factor = static_cast<std::int16_t>(in.next() % 100);
  params.image_type = static_cast<std::int16_t>(in.next() % 3);
  const int levels = 1 + in.next() % 6;
  const std::uint8_t dropped = in.next();
  if (!full) {
    params.total_levels = static_cast<std::uint16_t>(levels);
    return codec::derive_params_from_quality(params) == format::StatusCode::kOk;
  }
  codec::FullSettings settings;
  settings.total_levels = levels;
  for (int c = 0; c < format::kChannelCount; ++c) {
    settings.dropped_levels[static_cast<std::size_t>(c)] = ((dropped >> (2 * c)) & 3) % levels;
    for (int k = 0; k < format::subband_count(levels); ++k)
      settings.quant_vectors[static_cast<std::size_t>(c)].push_back(in.next() % (format::kMaxQuantStep + 1));
  }
  for (int l = 0; l <= levels; ++l) settings.thresholds.push_back(in.next());
  return codec::apply_full_settings(settings, params) == format::StatusCode::kOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  const std::uint32_t width = 3 + in.next() % 62;
  const std::uint32_t height = 3 + in.next() % 62;
  const std::uint8_t flags = in.next();
  const bool colour = flags & 1;
  format::CodecParams settings;
  require(make_settings(in, flags & 2, settings), "settings made within their ranges are accepted");

  // A bottom-up picture buffer with zero row padding, filled from the rest of the input.
  const std::uint16_t bits = colour ? 24 : 8;
  const utils::RowGeometry geometry = utils::row_geometry(width, height, bits);
  std::vector<std::uint8_t> picture(geometry.picture_bytes, 0);
  const auto pixels = in.rest();
  std::size_t next = 0;
  const std::size_t row_data = std::size_t{width} * (bits / 8);
  for (std::size_t y = 0; y < height; ++y)
    for (std::size_t b = 0; b < row_data; ++b, ++next)
      picture[y * geometry.stride + b] = pixels.empty() ? 0 : pixels[next % pixels.size()];

  const codec::PictureRows view{picture.data(), picture.size(), width, height, bits};
  codec::EncodedPicture encoded;
  require(codec::encode_picture(view, settings, codec::EncodeRequest{}, encoded) == format::StatusCode::kOk,
          "a picture of at least 3 x 3 with valid settings encodes");

  if (flags & 16) {
    codec::EncodeRequest threaded;
    threaded.threads = 3;
    codec::EncodedPicture again;
    require(codec::encode_picture(view, settings, threaded, again) == format::StatusCode::kOk &&
                again.stream == encoded.stream,
            "encoding on threads gives the same bytes");
  }

  // What the program shows after compressing: the decode of the encoder's own values.
  varnic::decoder::CodeSet coded;
  for (int c = 0; c < encoded.plane_count; ++c) {
    const auto i = static_cast<std::size_t>(c);
    require(varnic::decoder::codes_from_quantized(encoded.planes[i], encoded.params, static_cast<format::Channel>(c),
                                                  coded[i]) == format::StatusCode::kOk,
            "the encoder's planes give codes");
  }
  const display::PreviewHook previews = [](const display::PreviewFrame&) { return true; };
  display::DecodedPicture shown;
  require(display::reconstruct(coded, encoded.params, format::kCurrentMagic, flags & 4 ? previews : nullptr, shown) ==
              format::StatusCode::kOk,
          "the encoder's planes reconstruct");

  // The stream as the program opens it (whole codes, previews) or as the library decodes it.
  display::DecodedPicture opened;
  format::FileHeader header;
  if (flags & 8) {
    varnic::decoder::CodeSet codes;
    require(display::decode_coefficients(encoded.stream, varnic::fuzz::kPixelLimit, 1, header, codes) ==
                    format::StatusCode::kOk &&
                display::reconstruct(codes, header.params, header.magic, previews, opened) == format::StatusCode::kOk,
            "the encoder's stream decodes level by level");
  } else {
    display::DecodedFile decoded;
    require(display::decode_file(encoded.stream, varnic::fuzz::kPixelLimit, {}, decoded) == format::StatusCode::kOk,
            "the encoder's stream decodes");
    header = decoded.header;
    opened = std::move(decoded.picture);
  }
  require(header.params.image_width == width && header.params.image_height == height,
          "the decoded picture has the encoded size");
  require(opened.pixels == shown.pixels, "decoding the stream reproduces the encoder-side reconstruction");
  return 0;
}
