// SPDX-License-Identifier: BSD-2-Clause
// PNG pictures read on the page with exactly the pixels the command-line tool's reader gives:
// 16-bit samples rounded to 8 bits, palettes and low bit depths expanded, transparency blended
// over white, the picture turned as its EXIF orientation says, with the tool's notices. The
// browser's own decoder cannot give them: it truncates 16-bit samples and stores transparent pixels
// premultiplied. Only the compressed data's inflation is the browser's (the worker's
// DecompressionStream): the inflated rows are fed here in pieces of any size.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "imagefile/imagefile.h"
#include "photo_facts.h"

namespace varnic::web {

class PngReader {
 public:
  // Walks the chunks. False, with `message`, for a file that is not a PNG picture this page can
  // read, or one over `max_pixels` (refused before anything is allocated).
  bool begin(std::span<const std::uint8_t> file, std::uint64_t max_pixels, std::string& message);
  // Where the compressed data lie in the file (offset, length), in order.
  [[nodiscard]] const std::vector<std::pair<std::size_t, std::size_t>>& data() const { return data_; }
  // A colour profile, gamma or chromaticities that do not say sRGB, which the pixel values are to
  // be read through: the browser's colour-managed decoder reads such a file instead.
  [[nodiscard]] bool colour_tagged() const { return colour_tagged_; }
  // The file's metadata and colour facts, for the browser's reading.
  [[nodiscard]] const PhotoScan& scan() const { return scan_; }
  [[nodiscard]] std::uint32_t width() const { return width_; }
  [[nodiscard]] std::uint32_t height() const { return height_; }
  [[nodiscard]] bool grey() const { return grey_out_; }

  // Allocates the picture; false (out of memory) with `message`.
  bool allocate(std::string& message);
  // Inflated bytes, in order; false with `message` once they break the rows' layout.
  bool feed(std::span<const std::uint8_t> bytes, std::string& message);
  // Turns the picture as its orientation says; false with `message` when rows are missing.
  bool finish(std::string& message);

  // The picture as the tool's readers give it: rows bottom-up, blue first, padded.
  [[nodiscard]] imagefile::PictureBuffer take_picture() { return std::move(picture_); }
  [[nodiscard]] const std::vector<std::string>& notices() const { return notices_; }

 private:
  struct Pass {
    std::uint32_t x0, y0, dx, dy;  // where its pixels go in the picture
    std::uint32_t width, height;
  };

  void finish_row();
  // Sample `i` of the unfiltered row at the file's depth.
  [[nodiscard]] unsigned sample(std::size_t i) const;

  std::uint32_t width_ = 0, height_ = 0;
  unsigned depth_ = 0;       // bits per sample
  unsigned colour_type_ = 0;
  unsigned channels_ = 0;    // samples per pixel as stored
  bool interlaced_ = false;
  bool grey_out_ = false;    // grey pictures and grey palettes give one channel
  bool alpha_ = false;       // an alpha channel or a transparency chunk
  bool colour_tagged_ = false;
  PhotoScan scan_;
  std::vector<std::pair<std::size_t, std::size_t>> data_;
  std::uint8_t palette_[256][4] = {};  // red, green, blue, alpha; missing entries black, opaque
  unsigned key_[3] = {};               // a grey or colour transparency key at the file's depth
  bool keyed_ = false;
  std::vector<std::string> notices_;

  std::vector<Pass> passes_;
  std::size_t pass_ = 0;
  std::uint32_t pass_row_ = 0;
  std::size_t row_bytes_ = 0;  // the pass's filtered row, filter byte included
  std::vector<std::uint8_t> row_, previous_;
  std::size_t filled_ = 0;
  imagefile::PictureBuffer picture_;
};

}  // namespace varnic::web
