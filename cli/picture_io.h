// SPDX-License-Identifier: BSD-2-Clause
// Picture files for the command-line tool: PNG (through libpng) and PNM read and written here,
// bitmap and Targa through the imagefile module. Everything works on memory buffers; the caller
// reads and writes the files. Pictures are varnic::Picture: top row first, rows tightly packed,
// 8-bit grey or 24-bit RGB. Inputs the codec cannot take as they are (16-bit samples, alpha,
// colour palettes) are converted, and each conversion adds one line to `notices`.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "varnic/varnic.h"

namespace varnic::cli {

enum class FileKind : std::uint8_t { kUnknown, kBmp, kTga, kPng, kPnm, kCod };

// Decides by the first bytes; Targa has no magic, so it is taken from the name's extension.
[[nodiscard]] FileKind sniff_kind(std::span<const std::uint8_t> bytes, std::string_view path);
// By extension only (case-insensitive): for naming outputs.
[[nodiscard]] FileKind kind_from_extension(std::string_view path);
[[nodiscard]] std::string_view extension_of(FileKind kind);  // ".png", ...

// The refusal of a picture above the pixel limit, with its size: the same words for every format.
[[nodiscard]] std::string pixel_limit_message(std::uint64_t width, std::uint64_t height, std::uint64_t limit);

struct LoadedPicture {
  Picture picture;
  std::vector<std::string> notices;
};

[[nodiscard]] Result<LoadedPicture> read_png(std::span<const std::uint8_t> bytes, const Limits& limits);
[[nodiscard]] Result<LoadedPicture> read_pnm(std::span<const std::uint8_t> bytes, const Limits& limits);
[[nodiscard]] Result<LoadedPicture> read_bmp(std::span<const std::uint8_t> bytes, const Limits& limits);
[[nodiscard]] Result<LoadedPicture> read_tga(std::span<const std::uint8_t> bytes, const Limits& limits);
// Any of the above, chosen by sniff_kind; a .cod file or an unknown kind is refused.
[[nodiscard]] Result<LoadedPicture> read_picture(std::span<const std::uint8_t> bytes, std::string_view path,
                                                 const Limits& limits);

// A picture to compress, kept in the layout it was read in so that the encoder can read bitmap
// and Targa pixels in place (bottom row first, blue-green-red, rows padded to 4 bytes) instead
// of holding two converted copies of a large picture.
struct EncodablePicture {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t stride = 0;
  PixelFormat format = PixelFormat::kRgb24;
  bool bottom_up = false;
  std::vector<std::string> notices;

  [[nodiscard]] PictureView view() const { return {pixels.data(), width, height, stride, format, bottom_up}; }
  // Top row first, packed, grey or RGB: for comparisons.
  [[nodiscard]] Picture to_picture() const;
};

// read_picture for compressing: the same pixels, without the conversion for bitmap and Targa
// pictures that need none.
[[nodiscard]] Result<EncodablePicture> read_picture_for_encoding(std::span<const std::uint8_t> bytes,
                                                                 std::string_view path, const Limits& limits);

// Writers take kGrey8 or kRgb24 pictures.
[[nodiscard]] Result<std::vector<std::uint8_t>> write_png(const Picture& picture);
[[nodiscard]] Result<std::vector<std::uint8_t>> write_pnm(const Picture& picture);  // P5 or P6, maxval 255
[[nodiscard]] Result<std::vector<std::uint8_t>> write_bmp(const Picture& picture);
[[nodiscard]] Result<std::vector<std::uint8_t>> write_tga(const Picture& picture);
[[nodiscard]] Result<std::vector<std::uint8_t>> write_picture(const Picture& picture, FileKind kind);

// A bitmap file made row by row: its headers (those write_bmp writes for a picture of this size
// and format), then `height` rows bottom row first, each blue-green-red or grey and padded with
// zeros to bitmap_row_bytes.
[[nodiscard]] Result<std::vector<std::uint8_t>> bitmap_headers(std::uint32_t width, std::uint32_t height,
                                                               PixelFormat format);
[[nodiscard]] std::size_t bitmap_row_bytes(std::uint32_t width, PixelFormat format);

// Where the pixels of a plain bitmap lie in its file: 24-bit, or 8-bit with the 256 grey levels
// as its table, uncompressed, without a version 5 header. Such a file can be encoded from its
// rows in place; for any other (and any broken) file this gives nothing, and
// read_picture_for_encoding reads it, with its conversions, notices and messages.
struct BitmapLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelFormat format = PixelFormat::kBgr24;  // kBgr24 or kGrey8
  bool top_down = false;
  std::uint64_t pixel_offset = 0;
  std::size_t stride = 0;
};
[[nodiscard]] std::optional<BitmapLayout> plain_bitmap_layout(std::span<const std::uint8_t> head,
                                                              std::uint64_t file_size, const Limits& limits);
// Rows of such a file, read as asked for (row counted from the top); safe from several threads.
class BitmapRowReader {
 public:
  [[nodiscard]] bool open(const std::filesystem::path& path, const BitmapLayout& layout);
  [[nodiscard]] bool read(std::uint32_t row, std::span<std::uint8_t> out);

 private:
  BitmapLayout layout_;
  std::ifstream file_;
  std::mutex mutex_;
};

// Converts between the public layouts (top row first, packed): grey to RGB repeats the level,
// BGR and RGB swap bytes. Grey is never produced from colour here.
[[nodiscard]] Picture to_rgb(const Picture& picture);

}  // namespace varnic::cli
