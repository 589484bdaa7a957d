// SPDX-License-Identifier: BSD-2-Clause
// The PNM reader (P2, P3, P5, P6 headers, comments, maxval scaling) on arbitrary bytes.
#include "fuzz/registry_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_registry_reader(data, size, varnic::FileKind::kPnm);
  return 0;
}
