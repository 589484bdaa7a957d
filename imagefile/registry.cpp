// SPDX-License-Identifier: BSD-2-Clause
// The table of formats, the lookups over it, and what every reader and writer shares.
#include "imagefile/registry.h"

#include <algorithm>
#include <array>
#include <new>

#include "imagefile/formats.h"
#include "utils/memory.h"

namespace varnic::imagefile {
namespace {

constexpr std::string_view kBitmapExtensions[] = {".bmp", ".dib"};
constexpr std::string_view kTargaExtensions[] = {".tga", ".targa"};
constexpr std::string_view kPngExtensions[] = {".png"};
constexpr std::string_view kPnmExtensions[] = {".pnm", ".ppm", ".pgm"};
constexpr std::string_view kCompressedExtensions[] = {".cod"};
constexpr std::string_view kJpegExtensions[] = {".jpg", ".jpeg", ".jpe", ".jfif"};
constexpr std::string_view kTiffExtensions[] = {".tif", ".tiff"};
constexpr std::string_view kWebpExtensions[] = {".webp"};

const std::array<FormatEntry, 8> kFormats = {{
    {FileKind::kBmp, "BMP", kBitmapExtensions, formats::sniff_bitmap, formats::read_bitmap, nullptr,
     formats::bitmap_stored_rows, formats::bitmap_row_writer},
    {FileKind::kTga, "TGA", kTargaExtensions, nullptr, formats::read_targa, nullptr, nullptr, formats::targa_row_writer},
    {FileKind::kPng, "PNG", kPngExtensions, formats::sniff_png, formats::read_png, nullptr, nullptr, formats::png_row_writer},
    {FileKind::kPnm, "PNM", kPnmExtensions, formats::sniff_pnm, formats::read_pnm, nullptr, nullptr, formats::pnm_row_writer},
    {FileKind::kCod, "COD", kCompressedExtensions, formats::sniff_compressed, formats::read_compressed,
     formats::write_compressed},
    {FileKind::kJpeg, "JPEG", kJpegExtensions, formats::sniff_jpeg, formats::read_jpeg, nullptr},
    {FileKind::kTiff, "TIFF", kTiffExtensions, formats::sniff_tiff, formats::read_tiff, nullptr},
    {FileKind::kWebp, "WebP", kWebpExtensions, formats::sniff_webp, formats::read_webp, nullptr},
}};

// The extension after the last dot of the last path component, lower case ("" when none).
std::string lower_extension(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  std::string ext(path.substr(dot));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return ext;
}

// Room for headers, comments and trailing bytes on top of the pixels.
constexpr std::uint64_t kFileSlackBytes = std::uint64_t{1} << 20;
// ASCII PNM spends up to about 12 bytes on a pixel ("255 255 255 "); 16 leaves room for comments.
constexpr std::uint64_t kMaxFileBytesPerPixel = 16;

}  // namespace

std::span<const FormatEntry> format_table() { return kFormats; }

const FormatEntry* find_format(FileKind kind) {
  for (const FormatEntry& entry : kFormats)
    if (entry.kind == kind) return &entry;
  return nullptr;
}

FileKind kind_from_extension(std::string_view path) {
  const std::string ext = lower_extension(path);
  for (const FormatEntry& entry : kFormats)
    if (std::find(entry.extensions.begin(), entry.extensions.end(), ext) != entry.extensions.end()) return entry.kind;
  return FileKind::kUnknown;
}

FileKind sniff_kind(std::span<const std::uint8_t> bytes, std::string_view name_hint) {
  for (const FormatEntry& entry : kFormats)
    if (entry.sniff != nullptr && entry.sniff(bytes)) return entry.kind;
  // A signature-less format is taken from the name only when the bytes are nobody else's.
  const FormatEntry* by_name = find_format(kind_from_extension(name_hint));
  return by_name != nullptr && by_name->sniff == nullptr ? by_name->kind : FileKind::kUnknown;
}

FileStatus read_picture(std::span<const std::uint8_t> bytes, std::string_view name_hint, const ReadLimits& limits,
                        LoadedPicture& out, std::string* message, const PhotoOptions& photo) {
  const FormatEntry* entry = find_format(sniff_kind(bytes, name_hint));
  LoadedPicture loaded;
  std::string why;
  FileStatus status = FileStatus::kUnknownKind;
  try {
    if (entry != nullptr) status = entry->read(bytes, limits, loaded, why);
    if (status == FileStatus::kOk) finish_photo(loaded.picture, loaded.facts, photo, loaded.notices);
  } catch (const std::bad_alloc&) {
    status = FileStatus::kOutOfMemory;
  }
  if (status != FileStatus::kOk) {
    if (message != nullptr) *message = why.empty() ? status_message(status) : why;
    return status;
  }
  loaded.kind = entry->kind;
  out = std::move(loaded);
  return FileStatus::kOk;
}

FileStatus write_picture(const codec::PictureRows& rows, FileKind kind, const WriteSettings& settings,
                         std::vector<std::uint8_t>& out, std::string* message) {
  const FormatEntry* entry = find_format(kind);
  std::string why;
  FileStatus status = FileStatus::kUnknownKind;
  std::vector<std::uint8_t> bytes;
  if (rows.data == nullptr || rows.width == 0 || rows.height == 0 || rows.size < rows.required_bytes() ||
      (rows.bits_per_pixel != 8 && rows.bits_per_pixel != 24)) {
    status = FileStatus::kCannotWrite;
    why = "empty or inconsistent picture";
  } else if (entry != nullptr && entry->write != nullptr) {
    try {
      status = entry->write(rows, settings, bytes, why);
    } catch (const std::bad_alloc&) {
      status = FileStatus::kOutOfMemory;
    }
  } else if (entry != nullptr && entry->row_writer != nullptr) {
    // The rows in memory handed to the format's row writer, the file gathered in memory.
    status = write_picture_by_rows(
        kind, settings,
        [&rows](const RowFileSink& sink) {
          std::vector<std::uint8_t> row(std::size_t{rows.width} * (rows.bits_per_pixel / 8));
          if (!sink.begin(rows.width, rows.height, rows.bits_per_pixel == 8)) return false;
          for (std::uint32_t k = 0; k < rows.height; ++k) {
            copy_row(rows, sink.top_down ? rows.height - 1 - k : k, sink.rgb, row.data());
            if (!sink.row(row)) return false;
          }
          return true;
        },
        [&bytes](std::span<const std::uint8_t> piece) {
          bytes.insert(bytes.end(), piece.begin(), piece.end());
          return true;
        },
        &why);
  }
  if (status != FileStatus::kOk) {
    if (message != nullptr) *message = why.empty() ? status_message(status) : why;
    return status;
  }
  out = std::move(bytes);
  return FileStatus::kOk;
}

bool writes_by_rows(FileKind kind) {
  const FormatEntry* entry = find_format(kind);
  return entry != nullptr && entry->row_writer != nullptr;
}

FileStatus write_picture_by_rows(FileKind kind, const WriteSettings& settings,
                                 const std::function<bool(const RowFileSink& sink)>& produce, const ByteWriter& write,
                                 std::string* message) {
  const FormatEntry* entry = find_format(kind);
  if (entry == nullptr || entry->row_writer == nullptr) {
    if (message != nullptr) *message = status_message(FileStatus::kUnknownKind);
    return FileStatus::kUnknownKind;
  }
  std::string why;
  FileStatus refused = FileStatus::kOk;
  bool made = false;
  try {
    const std::unique_ptr<RowFileWriter> writer = entry->row_writer(write, settings);
    std::size_t row_bytes = 0;
    RowFileSink sink;
    sink.top_down = writer->top_down();
    sink.rgb = writer->rgb();
    sink.begin = [&](std::uint32_t width, std::uint32_t height, bool grey) {
      refused = writer->begin(width, height, grey, why);
      row_bytes = std::size_t{width} * (grey ? 1 : 3);
      return refused == FileStatus::kOk;
    };
    sink.row = [&](std::span<const std::uint8_t> row) { return row.size() >= row_bytes && writer->row(row.first(row_bytes)); };
    made = produce(sink) && writer->finish();
  } catch (const std::bad_alloc&) {
    refused = FileStatus::kOutOfMemory;
  }
  const FileStatus status = refused != FileStatus::kOk ? refused : made ? FileStatus::kOk : FileStatus::kCannotWrite;
  if (status != FileStatus::kOk && message != nullptr) *message = why.empty() ? status_message(status) : why;
  return status;
}

std::uint64_t max_picture_file_bytes(const ReadLimits& limits) {
  if (limits.max_pixels > (UINT64_MAX - kFileSlackBytes) / kMaxFileBytesPerPixel) return UINT64_MAX;
  return limits.max_pixels * kMaxFileBytesPerPixel + kFileSlackBytes;
}

std::string pixel_limit_message(std::uint64_t width, std::uint64_t height, std::uint64_t limit) {
  // Sides up to 2^32 each: the product fits in 64 bits.
  return "the picture is " + std::to_string(width) + "x" + std::to_string(height) + " = " +
         std::to_string(width * height) + " pixels, more than the limit of " + std::to_string(limit);
}

FileStatus shape_to_write(std::uint32_t width, std::uint32_t height, bool grey, PictureBuffer& out,
                          std::string& message) {
  const FileStatus status = new_picture(width, height, grey, false, out);
  if (status != FileStatus::kOk) message = "bitmap and Targa sides must be 1.." + std::to_string(format::kMaxSide);
  return status;
}

FileStatus new_picture(std::uint32_t width, std::uint32_t height, bool grey, bool allocate, PictureBuffer& out) {
  if (width == 0 || height == 0 || width > static_cast<std::uint32_t>(format::kMaxSide) ||
      height > static_cast<std::uint32_t>(format::kMaxSide))
    return FileStatus::kBitmapSize;
  PictureBuffer picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.bits_per_pixel = grey ? 8 : 24;
  picture.image_mode = grey ? format::kImageModeGrey : format::kImageModeColour;
  if (grey) set_grey_colour_table(picture.header);
  const utils::RowGeometry geometry = picture.geometry();
  fill_bitmap_header(picture.image_mode, false, picture.width, picture.height,
                     static_cast<std::uint32_t>(geometry.picture_bytes), picture.header);
  if (allocate) {
    try {
      // A quarter turn keeps the pixels where they are but pads width rows instead of height rows.
      const std::size_t turned = utils::row_geometry(height, width, picture.bits_per_pixel).picture_bytes;
      picture.pixels.reserve(std::max(geometry.picture_bytes, turned));
      utils::advise_huge_pages(picture.pixels.data(), picture.pixels.capacity());
      utils::assign_large(picture.pixels, geometry.picture_bytes);
    } catch (const std::bad_alloc&) {
      return FileStatus::kOutOfMemory;
    }
  }
  out = std::move(picture);
  return FileStatus::kOk;
}

codec::PictureRows rows_of(const PictureBuffer& picture) {
  codec::PictureRows rows;
  rows.data = picture.pixels.data();
  rows.size = picture.pixels.size();
  rows.width = static_cast<std::uint32_t>(picture.width);
  rows.height = static_cast<std::uint32_t>(picture.height);
  rows.bits_per_pixel = static_cast<std::uint16_t>(picture.bits_per_pixel);
  rows.row_stride = picture.geometry().stride;
  return rows;
}

void copy_row(const codec::PictureRows& rows, std::uint32_t y, bool rgb, std::uint8_t* out) {
  const std::size_t row_bytes = std::size_t{rows.width} * (rows.bits_per_pixel / 8);
  const std::uint8_t* src = rows.bottom_row(y);
  if (rows.bits_per_pixel != 24 || rows.rgb_order == rgb) {
    std::copy_n(src, row_bytes, out);
    return;
  }
  for (std::size_t x = 0; x < row_bytes; x += 3) {
    out[x] = src[x + 2];
    out[x + 1] = src[x + 1];
    out[x + 2] = src[x];
  }
}

void copy_rows_bottom_up(const codec::PictureRows& rows, std::uint8_t* out, std::size_t stride) {
  for (std::uint32_t y = 0; y < rows.height; ++y, out += stride) copy_row(rows, y, false, out);
}

}  // namespace varnic::imagefile
