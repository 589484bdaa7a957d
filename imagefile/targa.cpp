// SPDX-License-Identifier: BSD-2-Clause
// Targa reading and writing.
//
// File layout (little-endian): an 18-byte header (ID length, colour-map type,
// image type, map first entry, map length, map entry size, X and Y origin,
// width, height, pixel depth, descriptor), the ID field, the colour map of
// 3-byte (blue, green, red) entries when the map type is 1, then the pixel
// rows without padding, bottom-up unless descriptor bit 5 is set.
#include <algorithm>
#include <new>

#include "utils/memory.h"
#include "imagefile/formats.h"
#include "imagefile/imagefile.h"
#include "utils/le_bytes.h"

namespace varnic::imagefile {

using utils::load_u16;
using utils::store_u16;

namespace detail {
void settle_image_mode(PictureBuffer& picture);
bool is_consistent(const PictureBuffer& picture);
}  // namespace detail

namespace {

constexpr std::uint8_t kTopDownBit = 0x20;
constexpr std::uint8_t kTypeTrueColour = 2;
constexpr std::uint8_t kTypeGrey = 3;

bool is_refused_type(std::uint8_t type) {
  // No image data, uncompressed colour-mapped, and the three run-length types.
  return type == 0 || type == 1 || type == 9 || type == 10 || type == 11;
}

}  // namespace

FileStatus read_targa(std::span<const std::uint8_t> data, PictureBuffer& out, const ReadLimits& limits) {
  const std::size_t size = data.size();
  const std::uint8_t* d = data.data();
  if (size < 3) return FileStatus::kTargaTruncated;
  const std::uint8_t id_length = d[0];
  const std::uint8_t map_type = d[1];
  const std::uint8_t image_type = d[2];
  if (is_refused_type(image_type)) return FileStatus::kTargaType;
  if (size < kTargaHeaderBytes) return FileStatus::kTargaTruncated;

  const std::uint16_t map_first = utils::load_u16(d + 3);
  const std::uint16_t map_length = utils::load_u16(d + 5);
  const std::uint8_t map_entry_bits = d[7];
  const std::uint16_t width = utils::load_u16(d + 12);
  const std::uint16_t height = utils::load_u16(d + 14);
  const std::uint8_t depth = d[16];
  const std::uint8_t descriptor = d[17];

  if (depth != 8 && depth != 24) return FileStatus::kTargaDepth;
  if (width == 0 || height == 0 || width > format::kMaxSide || height > format::kMaxSide) return FileStatus::kTargaSize;
  if (static_cast<std::uint64_t>(width) * height > limits.max_pixels) return FileStatus::kPictureTooLarge;
  const bool has_map = map_type == 1;
  if (has_map && (map_entry_bits != 24 || map_first + map_length > kColourTableEntries)) {
    return FileStatus::kTargaColourMap;
  }

  PictureBuffer picture;
  picture.width = width;
  picture.height = height;
  picture.bits_per_pixel = depth;
  set_grey_colour_table(picture.header);

  std::size_t pos = kTargaHeaderBytes + id_length;
  if (has_map) {
    const std::size_t map_bytes = 3 * static_cast<std::size_t>(map_length);
    if (pos + map_bytes > size) return FileStatus::kTargaTruncated;
    // A pixel value v names map entry v, so entry j of the map is index first + j.
    for (std::size_t j = 0; j < map_length; ++j) {
      std::uint8_t* entry = &picture.header.colour_table[4 * (map_first + j)];
      std::copy_n(d + pos + 3 * j, 3, entry);
      entry[3] = 0;
    }
    pos += map_bytes;
  }

  const utils::RowGeometry g = picture.geometry();
  const std::size_t stride = g.stride;
  if (pos > size || (size - pos) / g.data_bytes < height) return FileStatus::kTargaTruncated;
  try {
    utils::assign_large(picture.pixels, g.picture_bytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  const bool top_down = (descriptor & kTopDownBit) != 0;
  for (std::size_t y = 0; y < height; ++y) {
    const std::size_t dst_row = top_down ? height - 1u - y : y;
    std::copy_n(d + pos + y * g.data_bytes, g.data_bytes, picture.pixels.data() + dst_row * stride);
  }

  InfoHeader& info = picture.header.info;
  info.width = width;
  info.height = height;
  info.bit_count = depth;
  info.image_size = static_cast<std::uint32_t>(g.picture_bytes);
  info.colours_used = depth == 8 ? 256 : 0;
  info.colours_important = info.colours_used;
  detail::settle_image_mode(picture);

  out = std::move(picture);
  return FileStatus::kOk;
}

namespace {

// The 18-byte header of an uncompressed picture stored bottom row first.
void put_targa_header(std::uint32_t width, std::uint32_t height, bool grey, int bits, std::uint8_t* p) {
  std::fill_n(p, kTargaHeaderBytes, std::uint8_t{0});
  p[2] = grey ? kTypeGrey : kTypeTrueColour;
  utils::store_u16(p + 12, width);
  utils::store_u16(p + 14, height);
  p[16] = static_cast<std::uint8_t>(bits);
}

}  // namespace

std::vector<std::uint8_t> encode_targa(const PictureBuffer& picture) {
  if (!detail::is_consistent(picture)) return {};
  const utils::RowGeometry g = picture.geometry();
  const std::size_t stride = g.stride;
  const auto width = static_cast<std::size_t>(picture.width);
  const auto height = static_cast<std::size_t>(picture.height);
  // Palette pictures are written as true colour: a map-less 8-bit Targa
  // would be read back as grey levels.
  const bool expand = picture.image_mode == format::kImageModePalette;
  const bool grey = picture.image_mode == format::kImageModeGrey;
  const std::size_t out_row = expand ? 3 * width : g.data_bytes;

  std::vector<std::uint8_t> out;
  utils::assign_large(out, kTargaHeaderBytes + out_row * height);
  put_targa_header(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), grey,
                   expand ? 24 : picture.bits_per_pixel, out.data());
  std::uint8_t* dst = out.data() + kTargaHeaderBytes;
  for (std::size_t y = 0; y < height; ++y, dst += out_row) {
    const std::uint8_t* row = picture.pixels.data() + y * stride;
    if (!expand) {
      std::copy_n(row, g.data_bytes, dst);
      continue;
    }
    for (std::size_t x = 0; x < width; ++x) {
      std::copy_n(&picture.header.colour_table[4 * std::size_t{row[x]}], 3, dst + 3 * x);
    }
  }
  return out;
}

namespace formats {

FileStatus read_targa(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  const FileStatus status = imagefile::read_targa(bytes, out.picture, limits);
  // The reader checked these fields before it compared their product with the limit.
  if (status == FileStatus::kPictureTooLarge)
    message = pixel_limit_message(load_u16(&bytes[12]), load_u16(&bytes[14]), limits.max_pixels);
  return status;
}

namespace {

// Bottom row first (the header's origin bit says so), blue first, rows unpadded.
class TargaRowWriter final : public RowFileWriter {
 public:
  explicit TargaRowWriter(ByteWriter write) : write_(std::move(write)) {}
  bool top_down() const override { return false; }
  bool rgb() const override { return false; }
  FileStatus begin(std::uint32_t width, std::uint32_t height, bool grey, std::string& message) override {
    PictureBuffer shape;
    if (const FileStatus s = shape_to_write(width, height, grey, shape, message); s != FileStatus::kOk) return s;
    std::uint8_t head[kTargaHeaderBytes];
    put_targa_header(width, height, grey, grey ? 8 : 24, head);
    return write_(head) ? FileStatus::kOk : FileStatus::kCannotWrite;
  }
  bool row(std::span<const std::uint8_t> pixels) override { return write_(pixels); }
  bool finish() override { return true; }

 private:
  ByteWriter write_;
};

}  // namespace

std::unique_ptr<RowFileWriter> targa_row_writer(const ByteWriter& write, const WriteSettings&) {
  return std::make_unique<TargaRowWriter>(write);
}

}  // namespace formats
}  // namespace varnic::imagefile
