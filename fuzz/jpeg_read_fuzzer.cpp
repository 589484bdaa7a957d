// SPDX-License-Identifier: BSD-2-Clause
// The JPEG reader (libjpeg-turbo under our memory source, EXIF, ICC segments, CMYK through a
// profile) on arbitrary bytes, with the colour and orientation step after it.
#include "fuzz/registry_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_photo_reader(data, size, varnic::FileKind::kJpeg);
  return 0;
}
