// SPDX-License-Identifier: BSD-2-Clause
// Integer inverse wavelet over whole planes, one synthesis step per level, coarsest first: the
// optimiser's reconstruction until it decodes through the row-by-row synthesis.
//
// Sums are formed in 32 bits from sign-extended 16-bit samples, >> is an
// arithmetic shift and every result is truncated to 16 bits when stored; the
// interior rules read back values already stored (truncated), so the order of
// the rows and columns below is part of the result.

#include "utils/wide_loops.h"
#include "decoder/decoder.h"
#include "decoder/synthesis_rows.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace varnic::decoder {
namespace {

// Vertical pass of a full step: columns 0..cols-1 of the plane's top rows
// (low half s, high half d) into rows of `t` (pitch cols).
inline void vertical_synthesis(const int16_t* p, size_t stride, int rows, int cols,
                       int16_t* t) {
  const int hh = rows / 2;
  auto s = [&](int i) { return p + static_cast<size_t>(i) * stride; };
  auto d = [&](int i) { return p + static_cast<size_t>(hh + i) * stride; };
  auto out = [&](int r) { return t + static_cast<size_t>(r) * static_cast<size_t>(cols); };

  {
    const int16_t* s0 = s(0);
    const int16_t* d0 = d(0);
    const int16_t* d1 = d(1);
    int16_t* t0 = out(0);
    int16_t* t1 = out(1);
    for (int x = 0; x < cols; ++x) {
      t0[x] = Store((2 * s0[x] - 7 * d0[x] + d1[x]) >> 2);
      t1[x] = Store((d1[x] + 2 * s0[x] + d0[x]) >> 2);
    }
  }
  {
    const int16_t* sl = s(hh - 1);
    const int16_t* sl2 = s(hh - 2);
    const int16_t* dl = d(hh - 1);
    const int16_t* dl2 = d(hh - 2);
    int16_t* tl = out(rows - 1);
    int16_t* tl2 = out(rows - 2);
    for (int x = 0; x < cols; ++x) {
      tl[x] = Store((dl[x] + 2 * sl[x]) >> 2);
      tl2[x] = Store(((sl2[x] + sl[x]) >> 2) + ((dl2[x] + 2 * dl[x]) >> 3) - dl[x]);
    }
  }
  for (int i = 1; i <= hh - 2; ++i) {
    const int16_t* si = s(i);
    const int16_t* di = d(i);
    const int16_t* dn = d(i + 1);
    int16_t* odd = out(2 * i + 1);
    for (int x = 0; x < cols; ++x) odd[x] = Store((di[x] + 2 * si[x] + dn[x]) >> 2);
    const int16_t* prev = out(2 * i - 1);
    int16_t* even = out(2 * i);
    for (int x = 0; x < cols; ++x) even[x] = Store(((prev[x] + odd[x]) >> 1) - di[x]);
  }
}

// The vertical passes run over strips of this many columns into a strip
// buffer and copy it back; the horizontal passes copy each row out first. So
// the work area is a strip and a row, not a second plane.
constexpr int kStrip = 64;

// Calls vertical(c0, width, strip) for the strips [c0, c0 + width) of the
// first `cols` columns; it writes the strip's `rows` output rows (pitch
// width) into `strip`, which then replace those columns of the plane.
template <class Vertical>
inline void in_strips(int16_t* plane, size_t stride, int rows, int cols, int16_t* strip, Vertical&& vertical) {
  for (int c0 = 0; c0 < cols; c0 += kStrip) {
    const int width = std::min(kStrip, cols - c0);
    vertical(c0, width, strip);
    for (int y = 0; y < rows; ++y) {
      std::copy_n(strip + static_cast<size_t>(y) * static_cast<size_t>(width), width, plane + static_cast<size_t>(y) * stride + static_cast<size_t>(c0));
    }
  }
}

std::size_t synthesis_work_size(int rows, int cols) {
  if (rows <= 0 || cols <= 0) return 0;
  const std::size_t strip = static_cast<std::size_t>(std::min(cols, kStrip));
  return static_cast<std::size_t>(rows) * strip + static_cast<std::size_t>(cols) +
         static_cast<std::size_t>(cols / 2);
}

VARNIC_WIDE_LOOPS void synthesis_step(int16_t* plane, size_t stride, int rows, int cols, int16_t* work) {
  in_strips(plane, stride, rows, cols, work, [&](int c0, int width, int16_t* strip) {
    vertical_synthesis(plane + c0, stride, rows, width, strip);
  });
  int16_t* row = work + static_cast<size_t>(rows) * static_cast<size_t>(std::min(cols, kStrip));
  int16_t* odd = row + cols;
  for (int y = 0; y < rows; ++y) {
    int16_t* o = plane + static_cast<size_t>(y) * stride;
    std::copy_n(o, cols, row);
    horizontal_synthesis(row, cols, o, odd);
  }
}

VARNIC_WIDE_LOOPS void upsample_step(int16_t* plane, size_t stride, int rows, int cols, int16_t* work) {
  const int hh = rows / 2;
  const int ww = cols / 2;
  // Only the low quarter is read: the detail quarters count as zero. Each
  // strip of its columns is expanded to all rows and stored back in place.
  auto s = [&](int i) { return plane + static_cast<size_t>(i) * stride; };
  in_strips(plane, stride, rows, ww, work, [&](int c0, int width, int16_t* strip) {
    auto out = [&](int r) { return strip + static_cast<size_t>(r) * static_cast<size_t>(width); };
    for (int x = 0; x < width; ++x) {
      const int16_t v = Store(s(0)[c0 + x] >> 1);
      out(0)[x] = v;
      out(1)[x] = v;
      out(rows - 2)[x] = Store((s(hh - 2)[c0 + x] + s(hh - 1)[c0 + x]) >> 2);
      out(rows - 1)[x] = Store(s(hh - 1)[c0 + x] >> 1);
    }
    for (int i = 1; i <= hh - 2; ++i) {
      const int16_t* prev = s(i - 1) + c0;
      const int16_t* cur = s(i) + c0;
      int16_t* odd = out(2 * i + 1);
      int16_t* even = out(2 * i);
      for (int x = 0; x < width; ++x) {
        odd[x] = Store(cur[x] >> 1);
        even[x] = Store((prev[x] + cur[x]) >> 2);
      }
    }
  });
  int16_t* row = work + static_cast<size_t>(rows) * static_cast<size_t>(std::min(ww, kStrip));
  for (int y = 0; y < rows; ++y) {
    int16_t* o = s(y);
    std::copy_n(o, ww, row);
    horizontal_upsample(row, cols, o);
  }
}

StatusCode synthesize_level(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel, int step, std::vector<std::int16_t>& work) {
  const int levels = params.total_levels;
  if (step < 0 || step >= levels || levels > format::kMaxFileLevels) return StatusCode::kReconstructFailed;
  const int shift = levels - 1 - step;
  const std::uint32_t rows = params.padded_height >> shift;
  const std::uint32_t cols = params.padded_width >> shift;
  // The boundary rules read two rows and two columns of each half.
  if (rows < 4 || cols < 4 || rows % 2 != 0 || cols % 2 != 0 ||
      plane.width() != params.padded_width || plane.height() != params.padded_height ||
      plane.size() < std::size_t{rows} * cols) {
    return StatusCode::kReconstructFailed;
  }
  const std::size_t work_size = synthesis_work_size(static_cast<int>(rows), static_cast<int>(cols));
  if (work.size() < work_size) {
    try {
      work.resize(work_size);
    } catch (const std::bad_alloc&) {
      return StatusCode::kOutOfMemory;
    }
  }
  const int coded = levels - params.channel(channel).dropped_levels;
  if (step < coded) {
    synthesis_step(plane.samples().data(), plane.width(), static_cast<int>(rows),
                   static_cast<int>(cols), work.data());
  } else {
    upsample_step(plane.samples().data(), plane.width(), static_cast<int>(rows),
                  static_cast<int>(cols), work.data());
  }
  return StatusCode::kOk;
}

}  // namespace

StatusCode synthesize_plane(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel, std::vector<std::int16_t>& work) {
  for (int step = 0; step < params.total_levels; ++step) {
    VARNIC_RETURN_IF_ERROR(synthesize_level(plane, params, channel, step, work));
  }
  return StatusCode::kOk;
}

StatusCode synthesize_plane(format::CoefficientPlane& plane, const format::CodecParams& params,
                        Channel channel) {
  std::vector<std::int16_t> work;
  return synthesize_plane(plane, params, channel, work);
}

}  // namespace varnic::decoder
