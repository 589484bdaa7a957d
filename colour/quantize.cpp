// SPDX-License-Identifier: BSD-2-Clause
// Two-pass colour quantizer.
//
// Pass 1 counts pixels in a 32 × 64 × 32 histogram (5 bits of component 0,
// 6 of component 1, 5 of component 2) and splits the populated cells by
// median cut; each box's colour is the count-weighted mean of its cell
// centres. The histogram is 128 KiB whatever the picture size, so choosing
// the palette costs the same for every picture.
//
// Pass 2 reuses the histogram as a cache of nearest palette entries (entry
// + 1, 0 = not yet known), filled 4 × 8 × 4 cells at a time by an exact
// search over the entries that can win anywhere in the block.
#include <algorithm>
#include <climits>
#include <new>

#include "colour/colour.h"

namespace varnic::colour {

namespace {

constexpr int kCells0 = 32;
constexpr int kCells1 = 64;
constexpr int kCells2 = 32;
constexpr int kHistogramCells = kCells0 * kCells1 * kCells2;
// Cell counts saturate rather than wrap: a flat 4096² picture would
// otherwise count its one colour as a handful of pixels.
constexpr std::uint16_t kMaxCount = 65535;

// Component weights 1, 3, 2 times cell widths 8, 4, 8 samples.
constexpr int kBoxScale0 = 8;
constexpr int kBoxScale1 = 12;
constexpr int kBoxScale2 = 16;

// Cache blocks: 4 × 8 × 4 cells, 32 sample values along every component.
constexpr int kBlock0 = 4;
constexpr int kBlock1 = 8;
constexpr int kBlock2 = 4;

constexpr int kWeight[3] = {1, 3, 2};

inline int cell_index(int i0, int i1, int i2) { return (i0 * kCells1 + i1) * kCells2 + i2; }

inline int pixel_cell(int c0, int c1, int c2) { return cell_index(c0 >> 3, c1 >> 2, c2 >> 3); }

struct ColourBox {
  int c0min, c0max;
  int c1min, c1max;
  int c2min, c2max;
  int volume;
  int colorcount;
};

using Histogram = std::vector<std::uint16_t>;

class Quantizer {
 public:
  Quantizer(int width, int height, int colour_count, bool dither)
      : width_(width), height_(height), wanted_(colour_count), dither_(dither) {
    histogram_.assign(kHistogramCells, 0);
    for (auto& m : colour_map_) m.assign(static_cast<std::size_t>(colour_count), 0);
    if (dither_) {
      errors_.assign(3 * (static_cast<std::size_t>(width) + 2), 0);
      build_tables();
    }
  }

  void set_palette(std::span<const std::uint8_t> palette) {
    for (int i = 0; i < wanted_; ++i) {
      for (int k = 0; k < 3; ++k) colour_map_[k][static_cast<std::size_t>(i)] = palette[3 * static_cast<std::size_t>(i) + static_cast<std::size_t>(k)];
    }
    actual_ = wanted_;
  }

  void prescan(const std::uint8_t* pixels) {
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    for (std::size_t p = 0; p < count; ++p, pixels += 3) {
      std::uint16_t& cell = histogram_[static_cast<std::size_t>(pixel_cell(pixels[0], pixels[1], pixels[2]))];
      if (cell < kMaxCount) ++cell;
    }
  }

  // Median cut; false when a box holds no pixels (an empty picture).
  bool select_colours() {
    std::vector<ColourBox> boxes(static_cast<std::size_t>(wanted_));
    boxes[0] = {0, kCells0 - 1, 0, kCells1 - 1, 0, kCells2 - 1, 0, 0};
    shrink_box(boxes[0]);
    const int n = split_boxes(boxes, 1);
    for (int i = 0; i < n; ++i) {
      if (!box_colour(boxes[static_cast<std::size_t>(i)], i)) return false;
    }
    actual_ = n;
    return true;
  }

  void map(const std::uint8_t* pixels, std::uint8_t* indices) {
    std::fill(histogram_.begin(), histogram_.end(), 0);
    if (dither_) {
      map_dithered(pixels, indices);
    } else {
      map_plain(pixels, indices);
    }
  }

  int actual_colours() const { return actual_; }

  void write_palette(std::span<std::uint8_t> palette) const {
    for (int i = 0; i < actual_; ++i) {
      for (int k = 0; k < 3; ++k) palette[3 * static_cast<std::size_t>(i) + static_cast<std::size_t>(k)] = colour_map_[k][static_cast<std::size_t>(i)];
    }
  }

 private:
  std::uint16_t hist(int i0, int i1, int i2) const {
    return histogram_[static_cast<std::size_t>(cell_index(i0, i1, i2))];
  }

  bool any_in(int a0, int b0, int a1, int b1, int a2, int b2) const {
    for (int i0 = a0; i0 <= b0; ++i0)
      for (int i1 = a1; i1 <= b1; ++i1)
        for (int i2 = a2; i2 <= b2; ++i2)
          if (hist(i0, i1, i2) != 0) return true;
    return false;
  }

  void shrink_box(ColourBox& b) const {
    if (b.c0max > b.c0min) {
      for (int i0 = b.c0min; i0 <= b.c0max; ++i0)
        if (any_in(i0, i0, b.c1min, b.c1max, b.c2min, b.c2max)) { b.c0min = i0; break; }
    }
    if (b.c0max > b.c0min) {
      for (int i0 = b.c0max; i0 >= b.c0min; --i0)
        if (any_in(i0, i0, b.c1min, b.c1max, b.c2min, b.c2max)) { b.c0max = i0; break; }
    }
    if (b.c1max > b.c1min) {
      for (int i1 = b.c1min; i1 <= b.c1max; ++i1)
        if (any_in(b.c0min, b.c0max, i1, i1, b.c2min, b.c2max)) { b.c1min = i1; break; }
    }
    if (b.c1max > b.c1min) {
      for (int i1 = b.c1max; i1 >= b.c1min; --i1)
        if (any_in(b.c0min, b.c0max, i1, i1, b.c2min, b.c2max)) { b.c1max = i1; break; }
    }
    if (b.c2max > b.c2min) {
      for (int i2 = b.c2min; i2 <= b.c2max; ++i2)
        if (any_in(b.c0min, b.c0max, b.c1min, b.c1max, i2, i2)) { b.c2min = i2; break; }
    }
    if (b.c2max > b.c2min) {
      for (int i2 = b.c2max; i2 >= b.c2min; --i2)
        if (any_in(b.c0min, b.c0max, b.c1min, b.c1max, i2, i2)) { b.c2max = i2; break; }
    }
    const int d0 = kBoxScale0 * (b.c0max - b.c0min);
    const int d1 = kBoxScale1 * (b.c1max - b.c1min);
    const int d2 = kBoxScale2 * (b.c2max - b.c2min);
    b.volume = d0 * d0 + d1 * d1 + d2 * d2;
    int count = 0;
    for (int i0 = b.c0min; i0 <= b.c0max; ++i0)
      for (int i1 = b.c1min; i1 <= b.c1max; ++i1)
        for (int i2 = b.c2min; i2 <= b.c2max; ++i2)
          if (hist(i0, i1, i2) != 0) ++count;
    b.colorcount = count;
  }

  int split_boxes(std::vector<ColourBox>& boxes, int n) const {
    while (n < wanted_) {
      // Early on split the most populated boxes, later the largest; the
      // first box in the list wins ties.
      ColourBox* chosen = nullptr;
      int best = 0;
      for (int i = 0; i < n; ++i) {
        ColourBox& b = boxes[static_cast<std::size_t>(i)];
        if (2 * n <= wanted_) {
          if (b.colorcount > best && b.volume > 0) { chosen = &b; best = b.colorcount; }
        } else if (b.volume > best) {
          chosen = &b;
          best = b.volume;
        }
      }
      if (chosen == nullptr) break;
      ColourBox& fresh = boxes[static_cast<std::size_t>(n)];
      fresh = *chosen;
      // Longest weighted side; ties go to green, then red, then blue.
      const int l0 = kBoxScale0 * (chosen->c0max - chosen->c0min);
      const int l1 = kBoxScale1 * (chosen->c1max - chosen->c1min);
      const int l2 = kBoxScale2 * (chosen->c2max - chosen->c2min);
      int axis = 1;
      int longest = l1;
      if (l2 > longest) { axis = 2; longest = l2; }
      if (l0 > longest) axis = 0;
      int ColourBox::*lo = axis == 0 ? &ColourBox::c0min : axis == 1 ? &ColourBox::c1min : &ColourBox::c2min;
      int ColourBox::*hi = axis == 0 ? &ColourBox::c0max : axis == 1 ? &ColourBox::c1max : &ColourBox::c2max;
      const int mid = (chosen->*lo + chosen->*hi) / 2;
      chosen->*hi = mid;
      fresh.*lo = mid + 1;
      ++n;
      shrink_box(*chosen);
      shrink_box(fresh);
    }
    return n;
  }

  bool box_colour(const ColourBox& b, int entry) {
    // Up to 65535 × 65536 cells × 252: beyond 32 bits.
    std::int64_t total = 0, s0 = 0, s1 = 0, s2 = 0;
    for (int i0 = b.c0min; i0 <= b.c0max; ++i0)
      for (int i1 = b.c1min; i1 <= b.c1max; ++i1)
        for (int i2 = b.c2min; i2 <= b.c2max; ++i2) {
          const std::int64_t count = hist(i0, i1, i2);
          if (count == 0) continue;
          total += count;
          s0 += count * (8 * i0 + 4);
          s1 += count * (4 * i1 + 2);
          s2 += count * (8 * i2 + 4);
        }
    if (total == 0) return false;
    const auto e = static_cast<std::size_t>(entry);
    colour_map_[0][e] = static_cast<std::uint8_t>((s0 + total / 2) / total);
    colour_map_[1][e] = static_cast<std::uint8_t>((s1 + total / 2) / total);
    colour_map_[2][e] = static_cast<std::uint8_t>((s2 + total / 2) / total);
    return true;
  }

  void fill_cache_block(int i0, int i1, int i2) {
    const int b0 = i0 / kBlock0, b1 = i1 / kBlock1, b2 = i2 / kBlock2;
    // Bounds are the centres of the block's corner cells.
    const int minv[3] = {32 * b0 + 4, 32 * b1 + 2, 32 * b2 + 4};
    const int maxv[3] = {minv[0] + 24, minv[1] + 28, minv[2] + 24};
    int centre[3];
    for (int k = 0; k < 3; ++k) centre[k] = (minv[k] + maxv[k]) >> 1;

    // Entries that might be nearest somewhere in the block: those whose
    // nearest possible distance does not exceed the best farthest distance.
    std::vector<int>& mindist = scratch_mindist_;
    mindist.assign(static_cast<std::size_t>(actual_), 0);
    int minmax = INT_MAX;
    for (int i = 0; i < actual_; ++i) {
      int lo = 0, hi = 0;
      for (int k = 0; k < 3; ++k) {
        const int x = colour_map_[k][static_cast<std::size_t>(i)];
        const int w = kWeight[k];
        int t;
        if (x < minv[k]) {
          t = (x - minv[k]) * w;
          lo += t * t;
          t = (x - maxv[k]) * w;
          hi += t * t;
        } else if (x > maxv[k]) {
          t = (x - maxv[k]) * w;
          lo += t * t;
          t = (x - minv[k]) * w;
          hi += t * t;
        } else {
          t = (x <= centre[k] ? x - maxv[k] : x - minv[k]) * w;
          hi += t * t;
        }
      }
      mindist[static_cast<std::size_t>(i)] = lo;
      minmax = std::min(minmax, hi);
    }

    int best_dist[kBlock0 * kBlock1 * kBlock2];
    std::uint16_t best_entry[kBlock0 * kBlock1 * kBlock2] = {};
    std::fill(std::begin(best_dist), std::end(best_dist), INT_MAX);
    for (int i = 0; i < actual_; ++i) {
      if (mindist[static_cast<std::size_t>(i)] > minmax) continue;
      // Per-axis squared weighted distances to the cell centres; their sums
      // are the exact distances, in increasing candidate order so that the
      // lowest index keeps ties.
      int d0[kBlock0], d1[kBlock1], d2[kBlock2];
      for (int j = 0; j < kBlock0; ++j) {
        const int t = (minv[0] + 8 * j - colour_map_[0][static_cast<std::size_t>(i)]) * kWeight[0];
        d0[j] = t * t;
      }
      for (int j = 0; j < kBlock1; ++j) {
        const int t = (minv[1] + 4 * j - colour_map_[1][static_cast<std::size_t>(i)]) * kWeight[1];
        d1[j] = t * t;
      }
      for (int j = 0; j < kBlock2; ++j) {
        const int t = (minv[2] + 8 * j - colour_map_[2][static_cast<std::size_t>(i)]) * kWeight[2];
        d2[j] = t * t;
      }
      int c = 0;
      for (int j0 = 0; j0 < kBlock0; ++j0)
        for (int j1 = 0; j1 < kBlock1; ++j1)
          for (int j2 = 0; j2 < kBlock2; ++j2, ++c) {
            const int dist = d0[j0] + d1[j1] + d2[j2];
            if (dist < best_dist[c]) {
              best_dist[c] = dist;
              best_entry[c] = static_cast<std::uint16_t>(i);
            }
          }
    }

    int c = 0;
    for (int j0 = 0; j0 < kBlock0; ++j0)
      for (int j1 = 0; j1 < kBlock1; ++j1)
        for (int j2 = 0; j2 < kBlock2; ++j2, ++c) {
          histogram_[static_cast<std::size_t>(cell_index(b0 * kBlock0 + j0, b1 * kBlock1 + j1, b2 * kBlock2 + j2))] =
              static_cast<std::uint16_t>(best_entry[c] + 1);
        }
  }

  std::uint8_t lookup(int c0, int c1, int c2) {
    const auto cell = static_cast<std::size_t>(pixel_cell(c0, c1, c2));
    if (histogram_[cell] == 0) fill_cache_block(c0 >> 3, c1 >> 2, c2 >> 3);
    return static_cast<std::uint8_t>(histogram_[cell] - 1);
  }

  void map_plain(const std::uint8_t* pixels, std::uint8_t* indices) {
    const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    for (std::size_t p = 0; p < count; ++p, pixels += 3) indices[p] = lookup(pixels[0], pixels[1], pixels[2]);
  }

  void build_tables() {
    // Errors beyond ±48 are cut to ±32: large errors at edges would
    // otherwise smear along the row.
    for (int e = 0; e <= 255; ++e) {
      const int limited = e < 16 ? e : e < 48 ? 16 + (e - 16) / 2 : 32;
      error_limit_[static_cast<std::size_t>(255 + e)] = limited;
      error_limit_[static_cast<std::size_t>(255 - e)] = -limited;
    }
    for (int v = -255; v <= 510; ++v) {
      range_limit_[static_cast<std::size_t>(v + 255)] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    }
  }

  void map_dithered(const std::uint8_t* pixels, std::uint8_t* indices) {
    const auto width = static_cast<std::ptrdiff_t>(width_);
    bool odd_row = false;  // the first row of every call runs left to right
    std::int16_t* const errors = errors_.data();
    for (int row = 0; row < height_; ++row) {
      const std::uint8_t* in = pixels + 3 * static_cast<std::ptrdiff_t>(row) * width;
      std::uint8_t* out = indices + static_cast<std::ptrdiff_t>(row) * width;
      std::ptrdiff_t dir, slot;
      if (odd_row) {
        in += 3 * (width - 1);
        out += width - 1;
        slot = width + 1;
        dir = -1;
        odd_row = false;
      } else {
        slot = 0;
        dir = 1;
        odd_row = true;
      }
      // Errors are held ×16: cur is this row's carry (7/16), below and
      // below_prev the pending 1/16 and 5/16 shares of the next row.
      int cur[3] = {0, 0, 0}, below[3] = {0, 0, 0}, below_prev[3] = {0, 0, 0};
      for (std::ptrdiff_t x = 0; x < width; ++x) {
        const std::int16_t* next = errors + 3 * (slot + dir);
        int value[3];
        for (int k = 0; k < 3; ++k) {
          int c = (cur[k] + next[k] + 8) >> 4;  // arithmetic shift: floors negatives
          c = error_limit_[static_cast<std::size_t>(c + 255)];
          value[k] = range_limit_[static_cast<std::size_t>(c + in[k] + 255)];
        }
        const std::uint8_t index = lookup(value[0], value[1], value[2]);
        *out = index;
        std::int16_t* here = errors + 3 * slot;
        for (int k = 0; k < 3; ++k) {
          const int err = value[k] - colour_map_[k][index];
          here[k] = static_cast<std::int16_t>(below_prev[k] + 3 * err);
          below_prev[k] = below[k] + 5 * err;
          below[k] = err;
          cur[k] = 7 * err;
        }
        in += 3 * dir;
        out += dir;
        slot += dir;
      }
      std::int16_t* last = errors + 3 * slot;
      for (int k = 0; k < 3; ++k) last[k] = static_cast<std::int16_t>(below_prev[k]);
    }
  }

  int width_;
  int height_;
  int wanted_;
  bool dither_;
  int actual_ = 0;
  std::vector<std::uint8_t> colour_map_[3];
  Histogram histogram_;
  std::vector<std::int16_t> errors_;
  std::array<int, 511> error_limit_{};
  std::array<std::uint8_t, 766> range_limit_{};
  std::vector<int> scratch_mindist_;
};

}  // namespace

int quantize_to_palette(std::span<const std::uint8_t> pixels, int width, int height,
                        std::span<std::uint8_t> indices, bool dither, bool palette_given,
                        std::span<std::uint8_t> palette, int colour_count) {
  if (colour_count < kMinColours || colour_count > kMaxColours) return 0;
  if (width <= 0 || height <= 0) return 0;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels.size() / 3 < count || indices.size() < count ||
      palette.size() < 3 * static_cast<std::size_t>(colour_count)) {
    return 0;
  }
  try {
    Quantizer q(width, height, colour_count, dither);
    if (palette_given) {
      q.set_palette(palette);
    } else {
      q.prescan(pixels.data());
      if (!q.select_colours()) return 0;
    }
    q.map(pixels.data(), indices.data());
    if (!palette_given) q.write_palette(palette);
    return q.actual_colours();
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace varnic::colour
