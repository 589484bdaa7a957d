// Picture files for the command-line tool: PNG (through libpng) and PNM read and written here,
// bitmap and Targa through the imagefile module. Everything works on memory buffers; the caller
// reads and writes the files. Pictures are varnic::Picture: top row first, rows tightly packed,
// 8-bit grey or 24-bit RGB. Inputs the codec cannot take as they are (16-bit samples, alpha,
// colour palettes) are converted, and each conversion adds one line to `notices`.
#pragma once

#include <cstdint>
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

// Writers take kGrey8 or kRgb24 pictures.
[[nodiscard]] Result<std::vector<std::uint8_t>> write_png(const Picture& picture);
[[nodiscard]] Result<std::vector<std::uint8_t>> write_pnm(const Picture& picture);  // P5 or P6, maxval 255
[[nodiscard]] Result<std::vector<std::uint8_t>> write_bmp(const Picture& picture);
[[nodiscard]] Result<std::vector<std::uint8_t>> write_tga(const Picture& picture);
[[nodiscard]] Result<std::vector<std::uint8_t>> write_picture(const Picture& picture, FileKind kind);

// Converts between the public layouts (top row first, packed): grey to RGB repeats the level,
// BGR and RGB swap bytes. Grey is never produced from colour here.
[[nodiscard]] Picture to_rgb(const Picture& picture);

}  // namespace varnic::cli
