// SPDX-License-Identifier: BSD-2-Clause
// Pictures read and decoded row by row: the same bytes as from memory, and failures that say so.
// (The memory of decoding by rows is bound_test's, in tests/viewers.)

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <vector>

#include "varnic/varnic.h"

namespace varnic {
namespace {

TEST(RowsTest, PicturesReadByRowsCodeAsFromMemoryAndFailuresStop) {
  for (const PixelFormat format : {PixelFormat::kRgb24, PixelFormat::kBgr24, PixelFormat::kGrey8}) {
    const std::uint32_t width = 67, height = 45;
    const std::size_t row_bytes = std::size_t{width} * static_cast<std::size_t>(bytes_per_pixel(format));
    std::vector<std::uint8_t> pixels(row_bytes * height);
    std::uint32_t noise = 7;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      pixels[i] = static_cast<std::uint8_t>((i % row_bytes) + (noise >> 29));  // a ramp with some noise
    }
    PictureSource source;
    source.width = width;
    source.height = height;
    source.format = format;
    source.read_row = [&](std::uint32_t row, std::span<std::uint8_t> out) {
      std::copy_n(pixels.data() + row_bytes * row, row_bytes, out.data());
      return true;
    };
    for (const int threads : {1, 2}) {
      EncodeOptions options;
      options.threads = threads;
      const Result<Encoded> from_memory = encode(PictureView{pixels.data(), width, height, 0, format, false}, options);
      const Result<Encoded> from_rows = encode(source, options);
      ASSERT_TRUE(from_memory.ok() && from_rows.ok()) << from_rows.message();
      EXPECT_EQ(from_rows.value().bytes, from_memory.value().bytes);

      std::vector<std::uint8_t> decoded(pixels.size());
      RowReceiver receiver;
      receiver.rows = [&](std::uint32_t row, std::span<const std::uint8_t> out) {
        std::copy(out.begin(), out.end(), decoded.begin() + static_cast<std::ptrdiff_t>(row_bytes * row));
        return true;
      };
      DecodeOptions decode_options;
      decode_options.threads = threads;
      if (format != PixelFormat::kGrey8) decode_options.colour_format = format;
      ASSERT_TRUE(decode_rows(from_rows.value().bytes, decode_options, receiver).ok());
      EXPECT_EQ(decoded, decode(from_rows.value().bytes, decode_options).value().picture.pixels);
      receiver.rows = [](std::uint32_t row, std::span<const std::uint8_t>) { return row != 30; };
      EXPECT_EQ(decode_rows(from_rows.value().bytes, decode_options, receiver).status(), Status::kCancelled);
    }
    source.read_row = [](std::uint32_t row, std::span<std::uint8_t>) { return row != 20; };
    EXPECT_EQ(encode(source, EncodeOptions{}).status(), Status::kInvalidFile);
  }
}

// Bitmap files by rows: encoded from where their rows lie, and pictures decoded into files of every
// kind row by row, with the bytes of the whole-picture paths; files whose rows are not stored
// plainly are refused.
TEST(RowsTest, FilesByRowsGiveTheBytesOfWholePictures) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("varnic_rows_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  for (const PixelFormat format : {PixelFormat::kBgr24, PixelFormat::kGrey8}) {
    const std::uint32_t width = 61, height = 37;  // rows padded in the file
    std::vector<std::uint8_t> pixels(std::size_t{width} * height * static_cast<std::size_t>(bytes_per_pixel(format)));
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 97);
    const PictureView view{pixels.data(), width, height, 0, format, false};
    const std::string bmp = (dir / "in.bmp").string();
    ASSERT_TRUE(write_picture_file(bmp, view).ok());
    Result<PictureSource> rows = open_picture_rows(bmp);
    ASSERT_TRUE(rows.ok()) << rows.message();
    const Result<Encoded> coded = encode(rows.value(), EncodeOptions{});
    ASSERT_TRUE(coded.ok()) << coded.message();
    EXPECT_EQ(coded.value().bytes, encode(view, EncodeOptions{}).value().bytes);

    // Every kind decoded row by row into a file and into a stream: the bytes of the whole picture
    // written whole.
    const Result<Decoded> whole = decode(coded.value().bytes);
    for (const FileKind kind : {FileKind::kBmp, FileKind::kTga, FileKind::kPng, FileKind::kPnm}) {
      const std::string out = (dir / ("out" + std::string(extension_of(kind)))).string();
      ASSERT_TRUE(decode_to_file(coded.value().bytes, out, kind).ok()) << extension_of(kind);
      const std::vector<std::uint8_t> expected = write_picture(whole.value().picture.view(), kind).value();
      EXPECT_EQ(read_file(out, 1 << 20).value(), expected) << extension_of(kind);
      std::vector<std::uint8_t> streamed;
      const ByteSink gather = [&](std::span<const std::uint8_t> piece) {
        streamed.insert(streamed.end(), piece.begin(), piece.end());
        return true;
      };
      ASSERT_TRUE(decode_to_stream(coded.value().bytes, kind, gather).ok());
      EXPECT_EQ(streamed, expected) << extension_of(kind);
      EXPECT_EQ(decode_to_file(coded.value().bytes, out, kind, Overwrite::kRefuse).status(), Status::kFileError);
    }
    EXPECT_EQ(decode_to_stream(coded.value().bytes, FileKind::kCod, [](std::span<const std::uint8_t>) { return true; }).status(),
              Status::kInvalidArgument);
    DecodeOptions no_such_level;
    no_such_level.png_level = kMaxPngLevel + 1;
    const std::string never = (dir / "never.png").string();
    EXPECT_EQ(decode_to_file(coded.value().bytes, never, FileKind::kPng, Overwrite::kReplace, no_such_level).status(),
              Status::kInvalidArgument);
    EXPECT_FALSE(std::filesystem::exists(never));

    const std::string png = (dir / "in.png").string();
    ASSERT_TRUE(write_picture_file(png, view).ok());
    EXPECT_FALSE(open_picture_rows(png).ok());
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnic
