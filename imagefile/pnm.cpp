// SPDX-License-Identifier: BSD-2-Clause
// Netpbm grey and colour maps: P2/P5 (grey) and P3/P6 (colour), any maxval 1..65535, read
// straight into the picture buffer. Samples are rescaled to 0..255 with rounding when maxval is
// not 255. Bitmaps (P1/P4) and PAM (P7) are refused. Written as P5 or P6 with maxval 255.
#include <algorithm>
#include <bit>
#include <cctype>
#include <new>

#include "imagefile/formats.h"
#include "imagefile/notices.h"
#include "utils/memory.h"

namespace varnic::imagefile::formats {
namespace {

class HeaderReader {
 public:
  explicit HeaderReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  // Next decimal number, skipping whitespace and '#' comments; false when none is there.
  bool number(std::uint32_t& value) {
    skip_space_and_comments();
    if (pos_ >= bytes_.size() || !std::isdigit(bytes_[pos_])) return false;
    std::uint64_t v = 0;
    while (pos_ < bytes_.size() && std::isdigit(bytes_[pos_])) {
      v = v * 10 + (bytes_[pos_++] - '0');
      if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
  }
  // After maxval exactly one whitespace byte precedes the binary samples.
  bool single_space() {
    if (pos_ >= bytes_.size() || !std::isspace(bytes_[pos_])) return false;
    ++pos_;
    return true;
  }
  std::size_t position() const { return pos_; }

 private:
  void skip_space_and_comments() {
    while (pos_ < bytes_.size()) {
      if (std::isspace(bytes_[pos_])) {
        ++pos_;
      } else if (bytes_[pos_] == '#') {
        while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 2;  // after the magic
};

constexpr std::uint32_t kMaxSampleValue = 65535;

}  // namespace

bool sniff_pnm(Bytes bytes) {
  return bytes.size() >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7' && std::isspace(bytes[2]);
}

FileStatus read_pnm(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  if (bytes.size() < 2 || bytes[0] != 'P') return FileStatus::kNotPnm;
  const char kind = static_cast<char>(bytes[1]);
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6') {
    message = std::string("PNM kind P") + kind + " is not supported (use P2, P3, P5 or P6)";
    return FileStatus::kPnmKind;
  }
  const bool colour = kind == '3' || kind == '6';
  const bool binary = kind == '5' || kind == '6';

  HeaderReader header(bytes);
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t maxval = 0;
  if (!header.number(width) || !header.number(height) || !header.number(maxval)) return FileStatus::kPnmHeader;
  if (width == 0 || height == 0) return FileStatus::kPnmEmpty;
  if (maxval == 0 || maxval > kMaxSampleValue) return FileStatus::kPnmMaxval;
  // Sides within what a .cod file holds keep every size product below 2^32 * 6.
  if (width > format::kMaxSide || height > format::kMaxSide) return FileStatus::kPictureSides;
  const std::uint64_t pixels = std::uint64_t{width} * height;
  if (pixels > limits.max_pixels) {
    message = pixel_limit_message(width, height, limits.max_pixels);
    return FileStatus::kPictureTooLarge;
  }
  if (binary && !header.single_space()) return FileStatus::kPnmBlank;

  const std::size_t channels = colour ? 3 : 1;
  const std::size_t samples = static_cast<std::size_t>(pixels) * channels;
  // Nothing is allocated before the samples are known to be there: binary samples take one or
  // two bytes, ASCII ones at least a digit and a blank (the last one no blank).
  const std::size_t sample_bytes = maxval > 255 ? 2 : 1;
  const std::size_t needed = binary ? samples * sample_bytes : 2 * samples - 1;
  if (bytes.size() - header.position() < needed) return FileStatus::kPnmTruncated;

  LoadedPicture loaded;
  if (new_picture(width, height, !colour, true, loaded.picture) != FileStatus::kOk) {
    message = "out of memory reading the PNM picture";
    return FileStatus::kOutOfMemory;
  }
  if (maxval > 255) loaded.notices.push_back(notices::samples_reduced(static_cast<int>(std::bit_width(maxval))));

  // Samples arrive top row first, red first; the buffer is bottom-up, blue first.
  const std::size_t stride = loaded.picture.geometry().stride;
  const std::size_t row_samples = std::size_t{width} * channels;
  const std::uint8_t* data = bytes.data() + header.position();
  for (std::size_t y = 0; y < height; ++y) {
    std::uint8_t* row = loaded.picture.pixels.data() + (height - 1 - y) * stride;
    for (std::size_t k = 0; k < row_samples; ++k) {
      const std::size_t i = y * row_samples + k;
      std::uint32_t v = 0;
      if (binary) {
        v = sample_bytes == 2 ? (std::uint32_t{data[2 * i]} << 8 | data[2 * i + 1]) : data[i];
      } else if (!header.number(v)) {
        return FileStatus::kPnmTruncated;
      }
      if (v > maxval) return FileStatus::kPnmSample;
      const std::size_t at = colour ? k - k % 3 + 2 - k % 3 : k;
      row[at] = maxval == 255 ? static_cast<std::uint8_t>(v) : static_cast<std::uint8_t>((v * 255 + maxval / 2) / maxval);
    }
  }
  out = std::move(loaded);
  return FileStatus::kOk;
}

namespace {

// P5 or P6 with maxval 255: top row first, red first, rows unpadded.
class PnmRowWriter final : public RowFileWriter {
 public:
  explicit PnmRowWriter(ByteWriter write) : write_(std::move(write)) {}
  bool top_down() const override { return true; }
  bool rgb() const override { return true; }
  FileStatus begin(std::uint32_t width, std::uint32_t height, bool grey, std::string&) override {
    const std::string header = std::string(grey ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                               std::to_string(height) + "\n255\n";
    return write_(std::span(reinterpret_cast<const std::uint8_t*>(header.data()), header.size())) ? FileStatus::kOk
                                                                                                   : FileStatus::kCannotWrite;
  }
  bool row(std::span<const std::uint8_t> pixels) override { return write_(pixels); }
  bool finish() override { return true; }

 private:
  ByteWriter write_;
};

}  // namespace

std::unique_ptr<RowFileWriter> pnm_row_writer(const ByteWriter& write, const WriteSettings&) {
  return std::make_unique<PnmRowWriter>(write);
}

}  // namespace varnic::imagefile::formats
