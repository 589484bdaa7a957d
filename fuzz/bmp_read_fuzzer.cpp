// SPDX-License-Identifier: BSD-2-Clause
// The bitmap reader on arbitrary bytes. Beyond not crashing: a refusal leaves the caller's picture
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
  const imf::FileStatus status = imf::read_bitmap(std::span<const uint8_t>(data, size), picture, limits);
  if (status != imf::FileStatus::kOk) {
    require(status != imf::FileStatus::kOutOfMemory, "no allocation failure within the pixel limit");
    require(same(picture, previous_picture()), "a refused file leaves the previous picture");
    return 0;
  }
  check_picture(picture);

  const auto written = imf::encode_bitmap(picture);
  imf::PictureBuffer again = previous_picture();
  require(imf::read_bitmap(written, again, limits) == imf::FileStatus::kOk, "a written bitmap reads back");
  require(again.width == picture.width && again.height == picture.height &&
              again.image_mode == picture.image_mode && same_rows(again, picture),
          "a written bitmap reads back as the same picture");
  return 0;
}
