// SPDX-License-Identifier: BSD-2-Clause
// The WebP reader (the container through libwebpdemux, then libwebp, EXIF and ICCP chunks) on arbitrary bytes, with the colour and orientation step after it.
#include "fuzz/registry_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_photo_reader(data, size, varnic::FileKind::kWebp);
  return 0;
}
