// SPDX-License-Identifier: BSD-2-Clause
// The Targa reader on arbitrary bytes. Beyond not crashing: a refusal leaves the caller's picture
// as it was, an accepted picture is self-consistent, and writing it out and reading it back gives
// the same pixels.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/imagefile_checks.h"

using namespace varnic::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const imf::ReadLimits limits{kPixelLimit};
  imf::PictureBuffer picture = previous_picture();
  const imf::FileStatus status = imf::read_targa(std::span<const uint8_t>(data, size), picture, limits);
  if (status != imf::FileStatus::kOk) {
    require(status != imf::FileStatus::kOutOfMemory, "no allocation failure within the pixel limit");
    require(same(picture, previous_picture()), "a refused file leaves the previous picture");
    return 0;
  }
  check_picture(picture);

  // Targa files are written as grey (type 3) or true colour (type 2, palette applied), so only
  // those two modes come back unchanged.
  if (picture.image_mode == varnic::format::kImageModePalette) return 0;
  const auto written = imf::encode_targa(picture);
  imf::PictureBuffer again = previous_picture();
  require(imf::read_targa(written, again, limits) == imf::FileStatus::kOk, "a written Targa file reads back");
  require(again.width == picture.width && again.height == picture.height &&
              again.image_mode == picture.image_mode && same_rows(again, picture),
          "a written Targa file reads back as the same picture");
  return 0;
}
