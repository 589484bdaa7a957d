// SPDX-License-Identifier: BSD-2-Clause
// Storage for the multi-megabyte buffers of a picture: planes, pixels, files.
#pragma once

#include <cstddef>
#include <vector>

namespace varnic::utils {

// Asks the kernel to back the 2 MiB-aligned interior of [data, data + bytes)
// with transparent huge pages, where it offers them on request. Call it before
// the buffer is first touched: written front to back, a buffer then costs one
// page fault per 2 MiB instead of one per 4 KiB, and on a virtual machine the
// 4 KiB faults of a 16-megapixel picture take longer than decoding it. Best
// effort: no effect on small ranges, other systems or when the kernel says no.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

// v becomes n value-initialised (zero) elements. Storage that has to grow is
// fresh, advised as above, and the old storage is released first, so the peak
// is one buffer. Throws std::bad_alloc like assign.
template <class T>
void assign_large(std::vector<T>& v, std::size_t n) {
  if (v.capacity() < n) {
    std::vector<T>().swap(v);
    v.reserve(n);
    advise_huge_pages(v.data(), n * sizeof(T));
  }
  v.assign(n, T{});
}

// Like v.resize(n), keeping the contents; grown storage is advised as above.
template <class T>
void resize_large(std::vector<T>& v, std::size_t n) {
  if (v.capacity() < n) {
    std::vector<T> fresh;
    fresh.reserve(n);
    advise_huge_pages(fresh.data(), n * sizeof(T));
    fresh.assign(v.begin(), v.end());
    v.swap(fresh);
  }
  v.resize(n);
}

}  // namespace varnic::utils
