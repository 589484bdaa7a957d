// SPDX-License-Identifier: BSD-2-Clause
// The .cod reader on arbitrary bytes: probe, then a full decode, then a reduced one. Beyond not
// crashing, the three must agree with each other and with the header, and fail only with the
// statuses a bad file can cause.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/picture_checks.h"
#include "varnic/varnic.h"

using varnic::fuzz::kPixelLimit;
using varnic::fuzz::require;

namespace {

constexpr std::uint64_t kThreadedPixels = 64 * 64;

bool file_fault(varnic::Status s) {
  return s == varnic::Status::kNotCompressedFile || s == varnic::Status::kVersionTooLow ||
         s == varnic::Status::kVersionTooHigh || s == varnic::Status::kInvalidFile ||
         s == varnic::Status::kLimitExceeded;
}

std::uint32_t ceil_shift(std::uint32_t v, int k) {
  return static_cast<std::uint32_t>((std::uint64_t{v} + (std::uint64_t{1} << k) - 1) >> k);
}

void check_picture(const varnic::Picture& p, std::uint32_t width, std::uint32_t height, bool grey,
                   varnic::PixelFormat colour_format) {
  require(p.width == width && p.height == height, "picture has the size asked for");
  require(p.format == (grey ? varnic::PixelFormat::kGrey8 : colour_format), "picture has the format asked for");
  require(p.pixels.size() == p.stride() * p.height, "pixels fill the picture exactly");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const varnic::Limits limits{kPixelLimit};

  const auto probed = varnic::probe(file, limits);
  if (!probed.ok()) {
    require(file_fault(probed.status()), "probe fails only for a bad file");
    require(!probed.message().empty(), "a failure says why");
  } else {
    const auto& info = probed.value();
    require(info.width >= 1 && info.height >= 1 &&
                std::uint64_t{info.width} * info.height <= kPixelLimit,
            "probe keeps within the pixel limit");
    require(info.file_bytes == size, "probe reports the file size");
  }

  varnic::DecodeOptions options;
  options.limits = limits;
  // The last byte picks the channel order, so both output paths are explored.
  options.colour_format = size > 0 && (data[size - 1] & 1) ? varnic::PixelFormat::kBgr24 : varnic::PixelFormat::kRgb24;
  const auto decoded = varnic::decode(file, options);
  if (!decoded.ok()) {
    require(file_fault(decoded.status()), "decode fails only for a bad file");
    require(!decoded.message().empty(), "a failure says why");
    return 0;
  }
  // Whatever decodes must also probe, with the same facts.
  require(probed.ok(), "a decodable file probes");
  const auto& info = probed.value();
  require(decoded.value().info.width == info.width && decoded.value().info.height == info.height &&
              decoded.value().info.grey == info.grey && decoded.value().info.levels == info.levels,
          "decode and probe agree on the header");
  check_picture(decoded.value().picture, info.width, info.height, info.grey, options.colour_format);

  // Planes decode on worker threads when asked; the picture must not depend on it. Small pictures
  // only, to keep the target quick.
  if (!info.grey && std::uint64_t{info.width} * info.height <= kThreadedPixels) {
    varnic::DecodeOptions threaded = options;
    threaded.threads = 3;
    const auto again = varnic::decode(file, threaded);
    require(again.ok() && again.value().picture.pixels == decoded.value().picture.pixels,
            "decoding on threads gives the same picture");
  }

  // A reduced decode runs fewer synthesis steps over the same coefficients, so it cannot fail
  // where the full one succeeded.
  if (info.levels >= 2) {
    options.reduce = 1 + static_cast<int>(size % static_cast<size_t>(info.levels - 1));
    const auto reduced = varnic::decode(file, options);
    require(reduced.ok(), "a reduced decode succeeds where the full one did");
    check_picture(reduced.value().picture, ceil_shift(info.width, options.reduce),
                  ceil_shift(info.height, options.reduce), info.grey, options.colour_format);
  }
  return 0;
}
