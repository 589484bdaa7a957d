// SPDX-License-Identifier: BSD-2-Clause
// Shared builders of the codec tests: a test picture, test data files, settings of a quality and
// the fields settings functions write.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/encoder.h"
#include "utils/picture_layout.h"

namespace varnic::codec {
using namespace ::varnic::format;
using namespace ::varnic::utils;

inline const std::string kConformanceDir = std::string(VARNIC_TEST_DATA) + "/conformance/";

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct TestPicture {
  std::vector<std::uint8_t> bytes;
  PictureRows view;
};

// A smooth picture with some texture and noise, bottom-up rows padded to 4 bytes: every band
// gets values of both signs and some zerotrees.
inline TestPicture MakePicture(std::uint32_t width, std::uint32_t height, std::uint16_t bits, unsigned seed = 1) {
  const RowGeometry g = utils::row_geometry(width, height, bits);
  TestPicture p{std::vector<std::uint8_t>(g.picture_bytes, 0), {}};
  std::mt19937 rng(seed);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t i = 0; i < g.data_bytes; ++i) {
      const std::uint32_t x = i / (bits / 8), c = i % (bits / 8);
      p.bytes[y * g.stride + i] = static_cast<std::uint8_t>((x * (3 + c) + y * (5 - c)) % 200 + 16 + rng() % 25);
    }
  }
  p.view = {p.bytes.data(), p.bytes.size(), width, height, bits};
  return p;
}

inline CodecParams Quality(int quality, int type = 0) {
  CodecParams p = default_codec_params();
  p.quality_factor = static_cast<std::int16_t>(quality);
  p.image_type = static_cast<std::int16_t>(type);
  EXPECT_EQ(derive_params_from_quality(p), StatusCode::kOk) << "quality " << quality;
  return p;
}

inline std::vector<std::int64_t> SettingsOf(const CodecParams& p) {
  std::vector<std::int64_t> v = {p.total_levels, p.quality_factor, p.color_quality, p.padded_width, p.padded_height, p.plane_size};
  v.insert(v.end(), p.threshold_vector.begin(), p.threshold_vector.end());
  for (const ChannelParams& c : p.channels) {
    v.push_back(c.dropped_levels);
    v.insert(v.end(), c.quant_vector.begin(), c.quant_vector.end());
    v.insert(v.end(), c.band_max.begin(), c.band_max.end());
  }
  return v;
}

}  // namespace varnic::codec
