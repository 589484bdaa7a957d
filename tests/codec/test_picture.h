// A smooth picture with some texture and noise, bottom-up rows padded to 4
// bytes: every band gets values of both signs and some zerotrees.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "codec/encoder.h"
#include "codec/forward_wavelet.h"
#include "utils/picture_layout.h"

namespace varnic::codec {
using namespace ::varnic::format;
using namespace ::varnic::utils;

struct TestPicture {
  std::vector<std::uint8_t> bytes;
  PictureRows view;
};

inline TestPicture MakePicture(std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                               unsigned seed = 1) {
  TestPicture p;
  const RowGeometry g = utils::row_geometry(width, height, bits);
  p.bytes.assign(g.picture_bytes, 0);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-12, 12);
  const int channels = bits / 8;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const int v = static_cast<int>((x * (3 + c) + y * (5 - c)) % 200) + 28 + noise(rng);
        p.bytes[y * g.stride + x * channels + c] = static_cast<std::uint8_t>(v);
      }
    }
  }
  p.view = {p.bytes.data(), p.bytes.size(), width, height, bits};
  return p;
}

// The forward transform of integer samples, as the encoder runs it on a channel's rows.
inline std::vector<float> transform_to_float(const CoefficientPlane& samples, int total_levels,
                                             const std::uint16_t* thresholds, WorkerPool* pool = nullptr) {
  TransformWorkspace workspace;
  if (workspace.reserve(samples.width(), samples.height(), pool != nullptr ? pool->size() : 1) != StatusCode::kOk) return {};
  std::copy(samples.samples().begin(), samples.samples().end(), workspace.plane());
  analyse_plane(samples.width(), samples.height(), total_levels, thresholds, workspace, pool);
  return std::vector<float>(workspace.plane(), workspace.plane() + samples.size());
}

}  // namespace varnic::codec
