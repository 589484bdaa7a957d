// SPDX-License-Identifier: BSD-2-Clause
// The TIFF reader (libtiff over our memory map: strips, tiles, planes, 16-bit samples, pages,
// EXIF directory) on arbitrary bytes, with the colour and orientation step after it.
#include "fuzz/registry_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_photo_reader(data, size, varnic::FileKind::kTiff);
  return 0;
}
