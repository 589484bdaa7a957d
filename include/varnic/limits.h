// SPDX-License-Identifier: BSD-2-Clause
// The limits every varnic call shares. This header stands alone (it is included by varnic.h and
// by the library's own format layer), so the numbers are written in one place.
#pragma once

#include <cstdint>

namespace varnic {

// Largest number of pixels (width x height) a call accepts or allocates for unless told
// otherwise: 2^28 covers a 16384 x 16384 picture and keeps a 60-byte hostile header from asking
// for gigabytes of planes.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 28;

}  // namespace varnic
