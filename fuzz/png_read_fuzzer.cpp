// SPDX-License-Identifier: BSD-2-Clause
// The PNG reader (libpng under our memory source, conversions of 16-bit, alpha and palette
// pictures) on arbitrary bytes.
#include "fuzz/registry_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_registry_reader(data, size, varnic::FileKind::kPng);
  return 0;
}
