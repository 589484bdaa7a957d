// Netpbm grey and colour maps: P2/P5 (grey) and P3/P6 (colour), any maxval 1..65535.
// Samples are rescaled to 0..255 with rounding when maxval is not 255. Bitmaps (P1/P4) and
// PAM (P7) are refused.
#include <algorithm>
#include <bit>
#include <cctype>
#include <new>

#include "imagefile/imagefile.h"
#include "utils/memory.h"
#include "picture_io.h"

namespace varnic::cli {
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

}  // namespace

Result<LoadedPicture> read_pnm(std::span<const std::uint8_t> bytes, const Limits& limits) {
  if (bytes.size() < 2 || bytes[0] != 'P') return {Status::kInvalidFile, "not a PNM file"};
  const char kind = static_cast<char>(bytes[1]);
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6')
    return {Status::kInvalidFile, std::string("PNM kind P") + kind + " is not supported (use P2, P3, P5 or P6)"};
  const bool colour = kind == '3' || kind == '6';
  const bool binary = kind == '5' || kind == '6';

  HeaderReader header(bytes);
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t maxval = 0;
  if (!header.number(width) || !header.number(height) || !header.number(maxval))
    return {Status::kInvalidFile, "the PNM header is incomplete"};
  if (width == 0 || height == 0) return {Status::kInvalidFile, "the PNM picture has no pixels"};
  if (maxval == 0 || maxval > 65535) return {Status::kInvalidFile, "the PNM maximum value is not 1..65535"};
  // Sides within what a .cod file holds keep every size product below 2^32 * 6.
  if (width > format::kMaxSide || height > format::kMaxSide)
    return {Status::kInvalidFile, "the picture's sides must be at most 32767 pixels"};
  const std::uint64_t pixels = std::uint64_t{width} * height;
  if (pixels > limits.max_pixels) return {Status::kLimitExceeded, pixel_limit_message(width, height, limits.max_pixels)};
  if (binary && !header.single_space()) return {Status::kInvalidFile, "the PNM header is not followed by a blank"};

  const std::size_t channels = colour ? 3 : 1;
  const std::size_t samples = static_cast<std::size_t>(pixels) * channels;
  // Nothing is allocated before the samples are known to be there: binary samples take one or
  // two bytes, ASCII ones at least a digit and a blank (the last one no blank).
  const std::size_t sample_bytes = maxval > 255 ? 2 : 1;
  const std::size_t needed = binary ? samples * sample_bytes : 2 * samples - 1;
  if (bytes.size() - header.position() < needed)
    return {Status::kInvalidFile, "the PNM file ends inside the picture data"};

  LoadedPicture loaded;
  try {
    utils::resize_large(loaded.picture.pixels, samples);
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, "out of memory reading the PNM picture"};
  }
  loaded.picture.width = width;
  loaded.picture.height = height;
  loaded.picture.format = colour ? PixelFormat::kRgb24 : PixelFormat::kGrey8;
  if (maxval > 255) loaded.notices.emplace_back(std::to_string(std::bit_width(maxval)) + "-bit samples reduced to 8 bits");

  const std::uint8_t* data = bytes.data() + header.position();
  if (binary && maxval == 255) {
    // Every byte is a valid sample as it stands.
    std::copy_n(data, samples, loaded.picture.pixels.data());
    return loaded;
  }
  for (std::size_t i = 0; i < samples; ++i) {
    std::uint32_t v = 0;
    if (binary) {
      v = sample_bytes == 2 ? (std::uint32_t{data[2 * i]} << 8 | data[2 * i + 1]) : data[i];
    } else if (!header.number(v)) {
      return {Status::kInvalidFile, "the PNM file ends inside the picture data"};
    }
    if (v > maxval) return {Status::kInvalidFile, "a PNM sample exceeds the maximum value"};
    loaded.picture.pixels[i] =
        maxval == 255 ? static_cast<std::uint8_t>(v) : static_cast<std::uint8_t>((v * 255 + maxval / 2) / maxval);
  }
  return loaded;
}

Result<std::vector<std::uint8_t>> write_pnm(const Picture& picture) {
  if (picture.format == PixelFormat::kBgr24) return write_pnm(to_rgb(picture));
  const std::size_t size = picture.stride() * picture.height;
  if (picture.width == 0 || picture.height == 0 || picture.pixels.size() < size)
    return {Status::kInvalidArgument, "empty or inconsistent picture"};
  const std::string header = std::string(picture.format == PixelFormat::kGrey8 ? "P5" : "P6") + "\n" +
                             std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
  std::vector<std::uint8_t> out;
  utils::assign_large(out, header.size() + size);
  std::copy(header.begin(), header.end(), out.begin());
  std::copy_n(picture.pixels.begin(), size, out.begin() + static_cast<std::ptrdiff_t>(header.size()));
  return out;
}

}  // namespace varnic::cli
