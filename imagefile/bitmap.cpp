// SPDX-License-Identifier: BSD-2-Clause
// Windows bitmap reading and writing.
//
// File layout (little-endian): a 14-byte file header (type "BM", file size,
// two reserved words, pixel-data offset), an information header of at least
// 40 bytes whose first 40 bytes are the classic layout (V4 and V5 headers
// extend it), an optional colour table of 4-byte (blue, green, red, 0)
// entries right after the declared header size, and the pixel rows at the
// pixel-data offset, each padded to 4 bytes, bottom-up unless the height is
// negative.
#include <algorithm>
#include <new>

#include "utils/memory.h"
#include "imagefile/formats.h"
#include "imagefile/notices.h"
#include "imagefile/imagefile.h"
#include "utils/le_bytes.h"

namespace varnic::imagefile {

using utils::load_u16;
using utils::load_u32;
using utils::store_u16;
using utils::store_u32;

namespace {

// Both byte orders of the two letters are accepted, as older writers on
// big-endian machines stored "MB".
constexpr std::uint16_t kTypeBM = 0x4D42;
constexpr std::uint16_t kTypeMB = 0x424D;

// Rewrites the pixels of a grey-table picture as the levels their entries
// hold, so that the table can become the identity ramp.
void remap_grey(PictureBuffer& picture) {
  const utils::RowGeometry g = picture.geometry();
  for (std::size_t y = 0; y < static_cast<std::size_t>(picture.height); ++y) {
    std::uint8_t* row = picture.pixels.data() + y * (g.stride);
    for (std::size_t x = 0; x < g.data_bytes; ++x) row[x] = picture.header.colour_table[4 * std::size_t{row[x]} + 2];
  }
  set_grey_colour_table(picture.header);
}

}  // namespace

namespace detail {

// Shared by the bitmap and Targa readers: 8-bit pictures become mode 61 with
// grey levels when their table is grey, else mode 622.
void settle_image_mode(PictureBuffer& picture) {
  if (picture.bits_per_pixel == 24) {
    picture.image_mode = format::kImageModeColour;
  } else if (is_grey_palette(picture.header)) {
    remap_grey(picture);
    picture.image_mode = format::kImageModeGrey;
  } else {
    picture.image_mode = format::kImageModePalette;
  }
}

}  // namespace detail

FileStatus read_bitmap(std::span<const std::uint8_t> data, PictureBuffer& out, const ReadLimits& limits) {
  const std::size_t size = data.size();
  const std::uint8_t* d = data.data();
  if (size < 2) return FileStatus::kNotBitmap;
  const std::uint16_t type = utils::load_u16(d);
  if (type != kTypeBM && type != kTypeMB) return FileStatus::kNotBitmap;
  if (size < kFileHeaderBytes + kInfoHeaderBytes) return FileStatus::kBitmapTruncated;

  const std::uint32_t pixel_offset = utils::load_u32(d + 10);
  InfoHeader info = parse_info_header(std::span<const std::uint8_t, kInfoHeaderBytes>(d + kFileHeaderBytes, kInfoHeaderBytes));
  // 12-byte core headers have another layout altogether.
  if (info.size < kInfoHeaderBytes) return FileStatus::kNotBitmap;
  if (info.bit_count != 24 && info.bit_count != 8) return FileStatus::kBitmapDepth;
  if (info.compression != 0) return FileStatus::kBitmapCompressed;

  // A negative height marks top-down rows. INT32_MIN has no positive twin.
  const bool top_down = info.height < 0;
  const std::int64_t height = top_down ? -static_cast<std::int64_t>(info.height) : info.height;
  if (info.width <= 0 || info.width > format::kMaxSide || height == 0 || height > format::kMaxSide) {
    return FileStatus::kBitmapSize;
  }
  const int width = info.width;
  const int h = static_cast<int>(height);
  if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(h) > limits.max_pixels) {
    return FileStatus::kPictureTooLarge;
  }
  if (info.colours_used > kColourTableEntries) return FileStatus::kBitmapColours;

  PictureBuffer picture;
  picture.width = width;
  picture.height = h;
  picture.bits_per_pixel = info.bit_count;
  // Entries the file does not give stay grey, never a previous picture's palette.
  set_grey_colour_table(picture.header);

  // The colour table follows the declared header size, which V4 and V5
  // headers make longer than 40 bytes.
  const std::uint64_t table_start = kFileHeaderBytes + static_cast<std::uint64_t>(info.size);
  std::uint64_t entries = info.colours_used;
  if (entries == 0 && table_start < pixel_offset && info.bit_count < 16) {
    // No count given: a full table, or as much of one as fits before the pixels.
    entries = std::min<std::uint64_t>(kColourTableEntries, (pixel_offset - table_start) / 4);
  }
  if (table_start + 4 * entries > size) {
    // A true-colour picture does not need its optional table.
    if (info.bit_count == 8) return FileStatus::kBitmapTruncated;
    entries = table_start < size ? (size - table_start) / 4 : 0;
  }
  std::copy_n(d + table_start, 4 * entries, picture.header.colour_table.begin());
  for (std::size_t i = 0; i < entries; ++i) picture.header.colour_table[4 * i + 3] = 0;

  const utils::RowGeometry g = picture.geometry();
  const std::size_t stride = g.stride;
  if (pixel_offset > size || size - pixel_offset < g.picture_bytes) return FileStatus::kBitmapTruncated;

  try {
    utils::assign_large(picture.pixels, g.picture_bytes);
  } catch (const std::bad_alloc&) {
    return FileStatus::kOutOfMemory;
  }
  const std::uint8_t* src = d + pixel_offset;
  for (std::size_t y = 0; y < static_cast<std::size_t>(h); ++y) {
    const std::size_t dst_row = top_down ? static_cast<std::size_t>(h) - 1 - y : y;
    // Padding bytes stay zero whatever the file holds there.
    std::copy_n(src + y * stride, g.data_bytes, picture.pixels.data() + dst_row * stride);
  }

  // Keep a header that describes what the buffer now holds.
  info.size = kInfoHeaderBytes;
  info.height = h;
  info.planes = 1;
  info.image_size = static_cast<std::uint32_t>(g.picture_bytes);
  info.colours_important = std::min<std::uint32_t>(info.colours_important, info.colours_used);
  picture.header.info = info;
  detail::settle_image_mode(picture);

  out = std::move(picture);
  return FileStatus::kOk;
}

namespace detail {

// Sides, depth and mode agree, whatever the pixel buffer holds.
bool has_consistent_shape(const PictureBuffer& picture) {
  if (picture.width < 1 || picture.width > format::kMaxSide || picture.height < 1 || picture.height > format::kMaxSide) {
    return false;
  }
  if (picture.bits_per_pixel != (picture.image_mode == format::kImageModeColour ? 24 : 8)) return false;
  return picture.image_mode == format::kImageModeColour || picture.image_mode == format::kImageModeGrey ||
         picture.image_mode == format::kImageModePalette;
}

bool is_consistent(const PictureBuffer& picture) {
  return has_consistent_shape(picture) && picture.pixels.size() >= picture.geometry().picture_bytes;
}

}  // namespace detail

namespace {

// The headers and colour table of `picture`, which its pixels follow; `highest` is the largest
// palette index.
std::vector<std::uint8_t> bitmap_headers(const PictureBuffer& picture, std::uint8_t highest) {
  const utils::RowGeometry g = picture.geometry();
  InfoHeader info = picture.header.info;
  // Whatever the stored header says, the layout fields describe this buffer.
  info.size = kInfoHeaderBytes;
  info.width = picture.width;
  info.height = picture.height;
  info.planes = 1;
  info.compression = 0;
  info.image_size = static_cast<std::uint32_t>(g.picture_bytes);
  if (picture.image_mode == format::kImageModeColour) {
    info.bit_count = 24;
    info.colours_used = 0;
    info.colours_important = 0;
  } else if (picture.image_mode == format::kImageModeGrey) {
    info.bit_count = 8;
    info.colours_used = 256;
    info.colours_important = 256;
  } else {
    info.bit_count = 8;
    // Every index in the picture must have its table entry in the file.
    if (info.colours_used == 0 || info.colours_used > 256 || highest >= info.colours_used) {
      info.colours_used = 256;
      info.colours_important = 256;
    }
  }

  const std::size_t table_bytes = 4 * static_cast<std::size_t>(info.colours_used);
  const std::size_t offset = kFileHeaderBytes + kInfoHeaderBytes + table_bytes;
  std::vector<std::uint8_t> out(offset, 0);
  std::uint8_t* p = out.data();
  utils::store_u16(p, kTypeBM);
  utils::store_u32(p + 2, static_cast<std::uint32_t>(offset + g.picture_bytes));
  utils::store_u32(p + 10, static_cast<std::uint32_t>(offset));
  write_info_header(info, std::span<std::uint8_t, kInfoHeaderBytes>(p + kFileHeaderBytes, kInfoHeaderBytes));
  std::copy_n(picture.header.colour_table.begin(), table_bytes, p + kFileHeaderBytes + kInfoHeaderBytes);
  return out;
}

// The headers at the front of a zeroed file buffer with room for the pixels.
std::vector<std::uint8_t> bitmap_with_headers(const PictureBuffer& picture, std::uint8_t highest,
                                              std::size_t& offset) {
  const std::vector<std::uint8_t> head = bitmap_headers(picture, highest);
  offset = head.size();
  std::vector<std::uint8_t> out;
  utils::assign_large(out, offset + picture.geometry().picture_bytes);
  std::copy(head.begin(), head.end(), out.begin());
  return out;
}

}  // namespace

std::vector<std::uint8_t> encode_bitmap(const PictureBuffer& picture) {
  if (!detail::is_consistent(picture)) return {};
  const std::uint8_t highest = picture.image_mode == format::kImageModePalette
                                   ? *std::max_element(picture.pixels.begin(), picture.pixels.end())
                                   : std::uint8_t{0};
  std::size_t offset = 0;
  std::vector<std::uint8_t> out = bitmap_with_headers(picture, highest, offset);
  std::copy_n(picture.pixels.begin(), picture.geometry().picture_bytes, out.data() + offset);
  return out;
}

namespace formats {
namespace {

// A version 5 information header (124 bytes) can carry an ICC profile, marked by colour space
// 'MBED'; the reader keeps the pixels only.
constexpr std::size_t kV5HeaderBytes = 124;
constexpr std::size_t kColourSpaceAt = kFileHeaderBytes + 56;
constexpr std::uint32_t kEmbeddedProfile = 0x4D424544;

}  // namespace

bool sniff_bitmap(Bytes bytes) {
  return bytes.size() >= 2 && (load_u16(bytes.data()) == kTypeBM || load_u16(bytes.data()) == kTypeMB);
}

FileStatus read_bitmap(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  const FileStatus status = imagefile::read_bitmap(bytes, out.picture, limits);
  if (status == FileStatus::kPictureTooLarge) {
    // The reader checked these fields before it compared their product with the limit.
    const std::int32_t height = utils::load_i32(&bytes[22]);
    message = pixel_limit_message(static_cast<std::uint64_t>(utils::load_i32(&bytes[18])),
                                  static_cast<std::uint64_t>(height < 0 ? -std::int64_t{height} : height),
                                  limits.max_pixels);
  }
  if (status != FileStatus::kOk) return status;
  if (bytes.size() > kColourSpaceAt + 4 && load_u32(&bytes[kFileHeaderBytes]) >= kV5HeaderBytes &&
      load_u32(&bytes[kColourSpaceAt]) == kEmbeddedProfile)
    out.notices.push_back(notices::profile_dropped());
  return FileStatus::kOk;
}

bool bitmap_stored_rows(Bytes head, std::uint64_t file_size, const ReadLimits& limits, StoredRows& out) {
  // The fields read_bitmap reads; anything it would convert, refuse or give a notice for is left
  // to it.
  if (head.size() < kFileHeaderBytes + kInfoHeaderBytes || load_u16(head.data()) != kTypeBM) return false;
  const std::uint8_t* d = head.data();
  const std::uint32_t pixel_offset = load_u32(d + 10);
  const InfoHeader info =
      parse_info_header(std::span<const std::uint8_t, kInfoHeaderBytes>(d + kFileHeaderBytes, kInfoHeaderBytes));
  if (info.size < kInfoHeaderBytes || info.size >= kV5HeaderBytes || info.compression != 0 ||
      (info.bit_count != 24 && info.bit_count != 8) || info.colours_used > kColourTableEntries)
    return false;
  const std::int64_t height = info.height < 0 ? -std::int64_t{info.height} : info.height;
  if (info.width <= 0 || info.width > format::kMaxSide || height == 0 || height > format::kMaxSide) return false;
  StoredRows rows;
  rows.width = static_cast<std::uint32_t>(info.width);
  rows.height = static_cast<std::uint32_t>(height);
  rows.top_down = info.height < 0;
  rows.grey = info.bit_count == 8;
  if (std::uint64_t{rows.width} * rows.height > limits.max_pixels) return false;
  rows.stride = utils::row_geometry(rows.width, rows.height, rows.grey ? 8 : 24).stride;
  rows.pixel_offset = pixel_offset;
  if (pixel_offset > file_size || file_size - pixel_offset < std::uint64_t{rows.stride} * rows.height) return false;
  if (rows.grey) {
    // Grey only with a full table of the 256 levels in order: anything else is a palette picture.
    const std::size_t table = kFileHeaderBytes + info.size;
    if ((info.colours_used != 0 && info.colours_used != kColourTableEntries) ||
        table + 4 * kColourTableEntries > std::min<std::uint64_t>(head.size(), pixel_offset))
      return false;
    for (std::size_t i = 0; i < kColourTableEntries; ++i) {
      const std::uint8_t* e = d + table + 4 * i;
      if (e[0] != i || e[1] != i || e[2] != i) return false;
    }
  }
  out = rows;
  return true;
}

namespace {

// Bottom row first, blue first, each row padded to a multiple of 4.
class BitmapRowWriter final : public RowFileWriter {
 public:
  explicit BitmapRowWriter(ByteWriter write) : write_(std::move(write)) {}
  bool top_down() const override { return false; }
  bool rgb() const override { return false; }
  FileStatus begin(std::uint32_t width, std::uint32_t height, bool grey, std::string& message) override {
    PictureBuffer shape;
    if (const FileStatus s = shape_to_write(width, height, grey, shape, message); s != FileStatus::kOk) return s;
    padded_.assign(shape.geometry().stride, 0);  // the padding stays zero
    return write_(bitmap_headers(shape, 0)) ? FileStatus::kOk : FileStatus::kCannotWrite;
  }
  bool row(std::span<const std::uint8_t> pixels) override {
    std::copy(pixels.begin(), pixels.end(), padded_.begin());
    return write_(padded_);
  }
  bool finish() override { return true; }

 private:
  ByteWriter write_;
  std::vector<std::uint8_t> padded_;
};

}  // namespace

std::unique_ptr<RowFileWriter> bitmap_row_writer(const ByteWriter& write, const WriteSettings&) {
  return std::make_unique<BitmapRowWriter>(write);
}

}  // namespace formats
}  // namespace varnic::imagefile
