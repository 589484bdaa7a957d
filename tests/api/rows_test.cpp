// SPDX-License-Identifier: BSD-2-Clause
// Pictures read and decoded row by row: the same bytes as from memory, failures that say so, and
// a tiny valid file declaring a large picture decoded in a bounded address space (about a byte
// per pixel and plane for the coefficients, nothing for the picture).

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <vector>

#include "varnic/varnic.h"

namespace varnic {
namespace {

constexpr std::uint32_t kSide = 8192;
constexpr std::uint64_t kPixels = std::uint64_t{kSide} * kSide;
constexpr std::uint64_t kBytesPerPixel = 4;
// The test program, its libraries, stacks and the allocator's own reserve.
constexpr std::uint64_t kMargin = std::uint64_t{128} << 20;

std::uint64_t mix(std::uint64_t hash, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) hash = (hash ^ b) * 1099511628211u;  // FNV-1a
  return hash;
}

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

// Bitmap files by rows: encoded from where their rows lie and decoded into files row by row, with
// the bytes of the whole-picture paths; files whose rows are not stored plainly are refused.
TEST(RowsTest, BitmapFilesByRowsGiveTheBytesOfWholePictures) {
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

    const std::string out = (dir / "out.bmp").string();
    ASSERT_TRUE(decode_to_file(coded.value().bytes, out, FileKind::kBmp).ok());
    DecodeOptions bgr;
    bgr.colour_format = PixelFormat::kBgr24;
    const Result<Decoded> whole = decode(coded.value().bytes, bgr);
    const std::vector<std::uint8_t> expected = write_picture(whole.value().picture.view(), FileKind::kBmp).value();
    EXPECT_EQ(read_file(out, 1 << 20).value(), expected);
    std::vector<std::uint8_t> streamed;
    const ByteSink gather = [&](std::span<const std::uint8_t> piece) {
      streamed.insert(streamed.end(), piece.begin(), piece.end());
      return true;
    };
    ASSERT_TRUE(decode_to_stream(coded.value().bytes, FileKind::kBmp, gather).ok());
    EXPECT_EQ(streamed, expected);
    EXPECT_EQ(decode_to_file(coded.value().bytes, out, FileKind::kBmp, Overwrite::kRefuse).status(), Status::kFileError);

    const std::string png = (dir / "in.png").string();
    ASSERT_TRUE(write_picture_file(png, view).ok());
    EXPECT_FALSE(open_picture_rows(png).ok());
  }
  std::filesystem::remove_all(dir);
}

TEST(MemoryLimitTest, ALargeDeclaredPictureDecodesInFourBytesPerPixel) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves terabytes of address space";
#endif
  PictureSource flat;
  flat.width = kSide;
  flat.height = kSide;
  flat.format = PixelFormat::kRgb24;
  flat.read_row = [](std::uint32_t, std::span<std::uint8_t> out) {
    for (std::size_t i = 0; i < out.size(); i += 3) out[i] = 200, out[i + 1] = 120, out[i + 2] = 40;
    return true;
  };
  EncodeOptions options;
  options.levels = 6;
  Result<Encoded> file = encode(flat, options);
  ASSERT_TRUE(file.ok()) << file.message();
  EXPECT_LT(file.value().bytes.size(), 16384u);  // a flat picture: the low band and a few roots

  // The reference from the whole-picture decode (a progress callback keeps it on that path),
  // hashed bottom row first as the rows will come.
  std::uint64_t expected = 14695981039346656037u;
  {
    DecodeOptions whole;
    whole.progress = [](const Progress&) { return true; };
    Result<Decoded> decoded = decode(file.value().bytes, whole);
    ASSERT_TRUE(decoded.ok()) << decoded.message();
    const Picture& picture = decoded.value().picture;
    for (std::uint32_t r = picture.height; r-- > 0;) {
      expected = mix(expected, std::span<const std::uint8_t>(picture.pixels.data() + picture.stride() * r, picture.stride()));
    }
  }

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{kBytesPerPixel * kPixels + kMargin, kBytesPerPixel * kPixels + kMargin};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
    std::uint64_t hash = 14695981039346656037u;
    std::uint32_t rows = 0;
    RowReceiver receiver;
    receiver.rows = [&](std::uint32_t, std::span<const std::uint8_t> pixels) {
      hash = mix(hash, pixels);
      ++rows;
      return true;
    };
    const Result<Info> info = decode_rows(file.value().bytes, DecodeOptions{}, receiver);
    _exit(!info.ok() ? 2 : rows != kSide || hash != expected ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: other pixels, 2: the decode failed within the limit";
}

}  // namespace
}  // namespace varnic
