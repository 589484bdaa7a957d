// SPDX-License-Identifier: BSD-2-Clause
// A program outside the project: encodes a picture it makes, decodes it and checks the result.
#include <varnic/varnic.h>

#include <cstdio>
#include <cstdlib>

int main() {
  varnic::Picture picture;
  picture.width = 40;
  picture.height = 24;
  picture.format = varnic::PixelFormat::kRgb24;
  for (std::uint32_t y = 0; y < picture.height; ++y)
    for (std::uint32_t x = 0; x < picture.width; ++x)
      for (int c = 0; c < 3; ++c) picture.pixels.push_back(static_cast<std::uint8_t>(x * 6 + y * 4 + c * 40));

  varnic::EncodeOptions options;
  options.quality = 90;
  options.comment = "consumer";
  varnic::Result<varnic::Encoded> encoded = varnic::encode(picture.view(), options);
  if (!encoded) {
    std::fprintf(stderr, "encode: %s\n", encoded.message().c_str());
    return 1;
  }
  varnic::Result<varnic::Info> info = varnic::probe(encoded.value().bytes);
  varnic::Result<varnic::Decoded> decoded = varnic::decode(encoded.value().bytes);
  if (!info || !decoded || info.value().comment != "consumer" || decoded.value().picture.width != 40 ||
      decoded.value().picture.height != 24) {
    std::fprintf(stderr, "round trip failed\n");
    return 1;
  }
  varnic::Result<varnic::Decoded> bad = varnic::decode(std::span<const std::uint8_t>());
  if (bad || bad.status() != varnic::Status::kNotCompressedFile) return 1;
  std::printf("varnic %s: %zu bytes, %s for an empty file\n", std::string(varnic::version()).c_str(),
              encoded.value().bytes.size(), std::string(varnic::to_string(bad.status())).c_str());
  return 0;
}
