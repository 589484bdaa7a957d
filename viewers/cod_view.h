// SPDX-License-Identifier: BSD-2-Clause
// What the image-viewer integrations (the gdk-pixbuf loader and the Qt image-format plugin) share,
// built on the public library only: the bounds they hold a hostile file to, the choice of a
// reduced decode for the size a viewer asks for, the decode into a viewer's picture buffer, and
// the encoder settings of a save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "varnic/varnic.h"

namespace varnic::viewers {

// The library's own pixel limit: a viewer never raises it, so a 60-byte file cannot ask for more
// memory than `varnic-cli` would give it.
inline constexpr Limits kLimits{};

// Longest header: the magic and the 16-bit header length's reach.
inline constexpr std::uint64_t kMaxHeaderBytes = 8 + 65535;
// A plane codes at most one symbol per coefficient, and each symbol narrows a coder range of at
// least 2^14 by a frequency of at least 1 in a total of at most 4096: at most 14 bits. Two bytes
// per sample and plane therefore bound the file of a picture at the pixel limit (whose sides are
// long enough that the padding to whole wavelet levels adds under 1%).
inline constexpr std::uint64_t kMaxCodedBytesPerPixel = 3 * 2;

// Largest file a picture within `limits` can have; a viewer that buffers its input stops there
// instead of growing without end on a stream that never ends.
[[nodiscard]] constexpr std::uint64_t max_file_bytes(const Limits& limits = kLimits) noexcept {
  return kMaxHeaderBytes + kMaxCodedBytesPerPixel * limits.max_pixels;
}

// Worker threads of one decode or save: the three planes are coded independently, and the
// pictures never depend on the count.
inline constexpr int kThreads = 3;

struct PictureSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// ceil(W / 2^reduce) x ceil(H / 2^reduce): the picture a reduced decode gives.
[[nodiscard]] PictureSize reduced_size(const Info& info, int reduce) noexcept;

// The largest reduce whose picture is still at least `wanted` on both sides (never a smaller
// picture that the viewer would have to enlarge); 0 when the viewer wants the full size or more,
// or asks for nothing.
[[nodiscard]] int choose_reduce(const Info& info, PictureSize wanted) noexcept;

// Decodes at 1/2^reduce of the size straight into a viewer's picture: `rows` holds
// reduced_size(info, reduce) rows, top row first, `stride` bytes apart. Colour comes as
// red-green-blue, grey as grey or, with `expand_grey`, as red-green-blue rows of equal levels.
// The rows are the only picture held: the decode adds at most a byte per pixel (plus the
// library's slack) for itself.
[[nodiscard]] Result<Info> decode_into(std::span<const std::uint8_t> file, int reduce, std::uint8_t* rows,
                                       std::size_t stride, bool expand_grey);

// Quality of a save: the viewer's value 0..99 as given, anything above as the best (Qt's scale
// ends at 100), anything negative (Qt's "not set") as kDefaultQuality.
inline constexpr int kDefaultQuality = 50;
[[nodiscard]] int save_quality(int requested) noexcept;

}  // namespace varnic::viewers
