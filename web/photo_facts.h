// SPDX-License-Identifier: BSD-2-Clause
// What the page needs from a photograph's file beside its pixels, for the turns and notices of the
// tool's readers (imagefile::finish_photo): the EXIF orientation, whether EXIF, XMP and IPTC
// blocks are there, and the name of a colour profile. The tool reads these through libexif and
// Little CMS, which the page is built without; the browser converts the colours itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imagefile/photo.h"

namespace varnic::web {

struct PhotoScan {
  imagefile::PhotoFacts facts;  // orientation and the metadata blocks
  bool profile = false;         // an ICC profile that is not sRGB under another name
  std::string profile_name;     // its description, as the tool's notices name it ("" unnamed)
};

// The segments of a JPEG file, the chunks of a WebP or a PNG file. Damaged containers give what
// could be read before the damage.
[[nodiscard]] PhotoScan scan_jpeg(std::span<const std::uint8_t> file);
[[nodiscard]] PhotoScan scan_webp(std::span<const std::uint8_t> file);
[[nodiscard]] PhotoScan scan_png(std::span<const std::uint8_t> file);
// An ICC profile on its own (a PNG's, once inflated): `profile` and `profile_name`.
[[nodiscard]] PhotoScan scan_profile(std::span<const std::uint8_t> icc);

}  // namespace varnic::web
