// SPDX-License-Identifier: BSD-2-Clause
#include "viewers/cod_view.h"

#include <algorithm>
#include <cstring>

namespace varnic::viewers {

namespace {

std::uint32_t ceil_shift(std::uint32_t v, int k) noexcept {
  return static_cast<std::uint32_t>((std::uint64_t{v} + (std::uint64_t{1} << k) - 1) >> k);
}

}  // namespace

PictureSize reduced_size(const Info& info, int reduce) noexcept {
  return {ceil_shift(info.width, reduce), ceil_shift(info.height, reduce)};
}

int choose_reduce(const Info& info, PictureSize wanted) noexcept {
  if (wanted.width == 0 || wanted.height == 0) return 0;
  int reduce = 0;
  while (reduce + 1 < info.levels) {
    const PictureSize next = reduced_size(info, reduce + 1);
    if (next.width < wanted.width || next.height < wanted.height) break;
    ++reduce;
  }
  return reduce;
}

Result<Info> decode_into(std::span<const std::uint8_t> file, int reduce, std::uint8_t* rows, std::size_t stride,
                         bool expand_grey) {
  DecodeOptions options;
  options.reduce = reduce;
  options.colour_format = PixelFormat::kRgb24;
  options.threads = kThreads;
  options.limits = kLimits;
  bool expand = false;
  RowReceiver receiver;
  receiver.begin = [&](const Info& info, const RowShape& shape) {
    const PictureSize wanted = reduced_size(info, reduce);
    expand = expand_grey && shape.format == PixelFormat::kGrey8;
    return shape.width == wanted.width && shape.height == wanted.height;
  };
  receiver.rows = [&](std::uint32_t y, std::span<const std::uint8_t> pixels) {
    std::uint8_t* dst = rows + std::size_t{y} * stride;
    if (!expand) {
      std::memcpy(dst, pixels.data(), pixels.size());
      return true;
    }
    for (std::size_t x = 0; x < pixels.size(); ++x) dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = pixels[x];
    return true;
  };
  return decode_rows(file, options, receiver);
}

int save_quality(int requested) noexcept {
  if (requested < 0) return kDefaultQuality;
  return std::min(requested, 99);
}

}  // namespace varnic::viewers
