// SPDX-License-Identifier: BSD-2-Clause
#include "png_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

// The size rules of the tool's PNG readers, shared so that the page refuses exactly what they do;
// its notices and its last step (finish_photo).
#include "imagefile/notices.h"
#include "imagefile/png_chunks.h"
#include "imagefile/registry.h"
#include "varnic/rules.h"

namespace varnic::web {
namespace {

using imagefile::FileStatus;
using imagefile::formats::load_be32;

constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC

// A sample of `depth` bits as 8 bits: low depths stretched to 0..255, 16 bits rounded to nearest
// (libpng's png_set_scale_16, which the tool uses: 0x00C0 gives 1, not 0).
unsigned to_8_bits(unsigned value, unsigned depth) {
  switch (depth) {
    case 1: return value * 255;
    case 2: return value * 0x55;
    case 4: return value * 0x11;
    case 16: return (value * 255 + 32895) >> 16;
    default: return value;
  }
}

bool allowed_depth(unsigned colour_type, unsigned depth) {
  switch (colour_type) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

bool fail(std::string& message, FileStatus status, const char* why = nullptr) {
  message = imagefile::status_message(status);
  if (why != nullptr) message += std::string(": ") + why;
  return false;
}

}  // namespace

bool PngReader::begin(std::span<const std::uint8_t> file, std::uint64_t max_pixels, std::string& message) {
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
  if (file.size() < sizeof kSignature || std::memcmp(file.data(), kSignature, sizeof kSignature) != 0)
    return fail(message, FileStatus::kNotPng);
  for (std::uint8_t(&entry)[4] : palette_) entry[3] = 255;
  bool header = false;
  unsigned palette_entries = 0;
  unsigned significant = 0;  // the largest sBIT value
  for (std::size_t at = imagefile::formats::kPngSignatureBytes; file.size() - at >= kChunkOverhead;) {
    const std::size_t length = load_be32(&file[at]);
    const char* type = reinterpret_cast<const char*>(&file[at + 4]);
    if (length > file.size() - at - kChunkOverhead) return fail(message, FileStatus::kPngTruncated);
    const std::uint8_t* body = &file[at + 8];
    at += kChunkOverhead + length;
    if (!header && std::memcmp(type, "IHDR", 4) != 0) return fail(message, FileStatus::kPngCorrupt, "no header first");
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (header || length != 13) return fail(message, FileStatus::kPngCorrupt, "bad header");
      header = true;
      width_ = load_be32(body);
      height_ = load_be32(body + 4);
      depth_ = body[8];
      colour_type_ = body[9];
      interlaced_ = body[12] == 1;
      if (width_ == 0 || height_ == 0 || !allowed_depth(colour_type_, depth_) || body[10] != 0 || body[11] != 0 ||
          body[12] > 1)
        return fail(message, FileStatus::kPngCorrupt, "bad header");
      channels_ = colour_type_ == 2 ? 3 : colour_type_ == 4 ? 2 : colour_type_ == 6 ? 4 : 1;
    } else if (std::memcmp(type, "PLTE", 4) == 0) {
      palette_entries = std::min<unsigned>(static_cast<unsigned>(length / 3), 256);
      for (unsigned i = 0; i < palette_entries; ++i) {
        std::memcpy(palette_[i], body + 3 * i, 3);
        palette_[i][3] = 255;
      }
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      alpha_ = true;
      if (colour_type_ == 3) {
        for (unsigned i = 0; i < std::min<std::size_t>(length, 256); ++i) palette_[i][3] = body[i];
      } else if ((colour_type_ == 0 && length >= 2) || (colour_type_ == 2 && length >= 6)) {
        keyed_ = true;
        for (unsigned c = 0; c < (colour_type_ == 0 ? 1u : 3u); ++c)
          key_[c] = (unsigned{body[2 * c]} << 8 | body[2 * c + 1]) & ((1u << depth_) - 1);
      }
    } else if (std::memcmp(type, "sBIT", 4) == 0) {
      for (std::size_t i = 0; i < std::min<std::size_t>(length, 4); ++i) significant = std::max<unsigned>(significant, body[i]);
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      data_.emplace_back(static_cast<std::size_t>(body - file.data()), length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      break;
    }
  }
  if (!header) return fail(message, FileStatus::kPngTruncated);
  if (colour_type_ == 3 && palette_entries == 0) return fail(message, FileStatus::kPngCorrupt, "no palette");
  alpha_ = alpha_ || colour_type_ == 4 || colour_type_ == 6;
  scan_ = scan_png(file);
  colour_tagged_ = !imagefile::says_srgb(scan_.facts.colour);

  const imagefile::formats::PngChunks chunks = imagefile::formats::scan_png_chunks(file);
  const imagefile::ReadLimits limits{max_pixels};
  if (const FileStatus s = imagefile::formats::check_png_size(width_, height_, channels_ * depth_, chunks, limits, message);
      s != FileStatus::kOk) {
    if (message.empty()) message = imagefile::status_message(s);
    return false;
  }

  bool grey_palette = colour_type_ == 3;
  for (unsigned i = 0; grey_palette && i < palette_entries; ++i)
    grey_palette = palette_[i][0] == palette_[i][1] && palette_[i][1] == palette_[i][2];
  grey_out_ = colour_type_ == 0 || colour_type_ == 4 || grey_palette;
  if (depth_ == 16) notices_.push_back(imagefile::notices::samples_reduced(significant > 8 && significant <= 16 ? static_cast<int>(significant) : 16));
  if (colour_type_ == 3 && !grey_palette) notices_.push_back(imagefile::notices::palette_expanded());
  if (alpha_) notices_.push_back(imagefile::notices::transparency_blended());

  // Adam7 sends the picture in seven passes of every 8th, 4th or 2nd pixel.
  static constexpr Pass kAdam7[] = {{0, 0, 8, 8, 0, 0}, {4, 0, 8, 8, 0, 0}, {0, 4, 4, 8, 0, 0}, {2, 0, 4, 4, 0, 0},
                                    {0, 2, 2, 4, 0, 0}, {1, 0, 2, 2, 0, 0}, {0, 1, 1, 2, 0, 0}};
  static constexpr Pass kWhole = {0, 0, 1, 1, 0, 0};
  for (Pass pass : interlaced_ ? std::span<const Pass>(kAdam7) : std::span<const Pass>(&kWhole, 1)) {
    pass.width = width_ > pass.x0 ? (width_ - pass.x0 + pass.dx - 1) / pass.dx : 0;
    pass.height = height_ > pass.y0 ? (height_ - pass.y0 + pass.dy - 1) / pass.dy : 0;
    if (pass.width != 0 && pass.height != 0) passes_.push_back(pass);
  }
  return true;
}

bool PngReader::allocate(std::string& message) {
  try {
    if (imagefile::new_picture(width_, height_, grey_out_, true, picture_) != FileStatus::kOk) {
      message = "out of memory reading the PNG picture";
      return false;
    }
    const std::size_t most = 1 + (std::size_t{width_} * channels_ * depth_ + 7) / 8;
    row_.resize(most);
    previous_.resize(most);
  } catch (const std::bad_alloc&) {
    message = "out of memory reading the PNG picture";
    return false;
  }
  row_bytes_ = 1 + (std::size_t{passes_[0].width} * channels_ * depth_ + 7) / 8;
  return true;
}

unsigned PngReader::sample(std::size_t i) const {
  const std::uint8_t* data = row_.data() + 1;
  switch (depth_) {
    case 16: return unsigned{data[2 * i]} << 8 | data[2 * i + 1];
    case 8: return data[i];
    default: {
      const std::size_t bit = i * depth_;
      return (data[bit / 8] >> (8 - depth_ - bit % 8)) & ((1u << depth_) - 1);
    }
  }
}

void PngReader::finish_row() {
  // Unfiltered in place against the pass's previous row (zero before its first).
  const std::size_t step = std::max<std::size_t>(1, channels_ * depth_ / 8);
  std::uint8_t* x = row_.data() + 1;
  const std::uint8_t* up = previous_.data() + 1;
  const std::size_t n = row_bytes_ - 1;
  switch (row_[0]) {
    case 1: for (std::size_t i = step; i < n; ++i) x[i] = static_cast<std::uint8_t>(x[i] + x[i - step]); break;
    case 2: for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<std::uint8_t>(x[i] + up[i]); break;
    case 3:
      for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<std::uint8_t>(x[i] + ((i >= step ? x[i - step] : 0) + up[i]) / 2);
      break;
    case 4:
      for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= step ? x[i - step] : 0, b = up[i], c = i >= step ? up[i - step] : 0;
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        x[i] = static_cast<std::uint8_t>(x[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
      }
      break;
    default: break;
  }

  // Into the tool's layout: rows bottom-up, blue first.
  const Pass& pass = passes_[pass_];
  const std::size_t out_channels = grey_out_ ? 1 : 3;
  const std::size_t y = std::size_t{pass.y0} + std::size_t{pass_row_} * pass.dy;
  std::uint8_t* out = picture_.pixels.data() + (height_ - 1 - y) * picture_.geometry().stride;
  const unsigned opaque = (1u << depth_) - 1;
  for (std::uint32_t i = 0; i < pass.width; ++i) {
    unsigned rgba[4];
    if (colour_type_ == 3) {
      const std::uint8_t* entry = palette_[sample(i)];
      rgba[0] = entry[0], rgba[1] = entry[1], rgba[2] = entry[2], rgba[3] = entry[3];
    } else {
      unsigned stored[4];
      for (unsigned c = 0; c < channels_; ++c) stored[c] = sample(std::size_t{i} * channels_ + c);
      const bool colour = colour_type_ == 2 || colour_type_ == 6;
      const bool keyed_out = keyed_ && stored[0] == key_[0] && (!colour || (stored[1] == key_[1] && stored[2] == key_[2]));
      for (unsigned c = 0; c < 3; ++c) rgba[c] = to_8_bits(stored[colour ? c : 0], depth_);
      const unsigned alpha = colour_type_ == 4 || colour_type_ == 6 ? stored[channels_ - 1] : keyed_out ? 0 : opaque;
      rgba[3] = to_8_bits(alpha, depth_);
    }
    std::uint8_t* px = out + (std::size_t{pass.x0} + std::size_t{i} * pass.dx) * out_channels;
    for (std::size_t c = 0; c < out_channels; ++c) {
      const unsigned v = rgba[out_channels == 3 ? 2 - c : 0];
      px[c] = alpha_ ? blend_over_white(v, rgba[3]) : static_cast<std::uint8_t>(v);
    }
  }

  std::swap(row_, previous_);
  filled_ = 0;
  if (++pass_row_ < pass.height) return;
  pass_row_ = 0;
  if (++pass_ == passes_.size()) return;
  row_bytes_ = 1 + (std::size_t{passes_[pass_].width} * channels_ * depth_ + 7) / 8;
  std::fill(previous_.begin(), previous_.end(), 0);
}

bool PngReader::feed(std::span<const std::uint8_t> bytes, std::string& message) {
  while (!bytes.empty()) {
    // Data after the last row is ignored, as the tool's reader does.
    if (pass_ == passes_.size()) return true;
    const std::size_t take = std::min(bytes.size(), row_bytes_ - filled_);
    std::memcpy(row_.data() + filled_, bytes.data(), take);
    filled_ += take;
    bytes = bytes.subspan(take);
    if (filled_ < row_bytes_) continue;
    if (row_[0] > 4) return fail(message, FileStatus::kPngCorrupt, "bad filter type");
    finish_row();
  }
  return true;
}

bool PngReader::finish(std::string& message) {
  if (pass_ != passes_.size()) return fail(message, FileStatus::kPngTruncated);
  try {
    imagefile::finish_photo(picture_, scan_.facts, {}, notices_);
  } catch (const std::bad_alloc&) {
    message = "out of memory turning the PNG picture";
    return false;
  }
  return true;
}

}  // namespace varnic::web
