#include "picture_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace varnic::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes as_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// PNG colour types.
constexpr int kPngGrey = 0;
constexpr int kPngRgb = 2;
constexpr int kPngPalette = 3;
constexpr int kPngRgbAlpha = 6;

struct Rgb {
  std::uint8_t red, green, blue;
};

void put32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(Bytes& out, const char* type, const Bytes& data) {
  put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = start; i < out.size(); ++i) {
    crc ^= out[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  put32(out, ~crc);
}

// Writes a PNG of any colour type and depth byte by byte (the image data deflated as stored
// blocks), so that the reader, libpng's or the system's, is tested against files it did not
// write itself. `samples` holds packed rows (big-endian at 16 bits).
Bytes make_png(std::uint32_t width, std::uint32_t height, int colour_type, int depth, const Bytes& samples,
               const std::vector<Rgb>& palette = {}, const Bytes& trns = {}) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  put32(header, width);
  put32(header, height);
  header.insert(header.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0, 0});
  chunk(out, "IHDR", header);
  Bytes entries;
  for (const Rgb& c : palette) entries.insert(entries.end(), {c.red, c.green, c.blue});
  if (!palette.empty()) chunk(out, "PLTE", entries);
  if (!trns.empty()) chunk(out, "tRNS", trns);
  Bytes raw;  // every row behind filter byte 0
  const std::size_t row_bytes = samples.size() / height;
  for (std::uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), samples.begin() + static_cast<std::ptrdiff_t>(y * row_bytes),
               samples.begin() + static_cast<std::ptrdiff_t>((y + 1) * row_bytes));
  }
  Bytes z = {0x78, 0x01};
  for (std::size_t at = 0; at == 0 || at < raw.size(); at += 65535) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    z.insert(z.end(), {static_cast<std::uint8_t>(at + n == raw.size()), static_cast<std::uint8_t>(n),
                       static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)});
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at), raw.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  put32(z, b << 16 | a);
  chunk(out, "IDAT", z);
  chunk(out, "IEND", {});
  return out;
}

Picture make_picture(std::uint32_t width, std::uint32_t height, PixelFormat format, unsigned seed) {
  Picture p;
  p.width = width;
  p.height = height;
  p.format = format;
  p.pixels.resize(p.stride() * height);
  for (std::size_t i = 0; i < p.pixels.size(); ++i) p.pixels[i] = static_cast<std::uint8_t>((i * 37 + seed * 11) ^ (i >> 3));
  return p;
}

void expect_same_picture(const Picture& a, const Picture& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.format, b.format);
  EXPECT_EQ(a.pixels, b.pixels);
}

TEST(PictureIoTest, KindIsTakenFromMagicBeforeExtension) {
  EXPECT_EQ(sniff_kind(as_bytes("BM...."), "x.png"), FileKind::kBmp);
  EXPECT_EQ(sniff_kind(as_bytes("MB...."), "x"), FileKind::kBmp);
  EXPECT_EQ(sniff_kind(as_bytes("\x89PNG\r\n\x1a\n"), "x.bmp"), FileKind::kPng);
  EXPECT_EQ(sniff_kind(as_bytes("P6\n1 1\n255\n"), "x"), FileKind::kPnm);
  EXPECT_EQ(sniff_kind(as_bytes("QVT2.5aZ"), "x.bmp"), FileKind::kCod);
  // Targa has no magic: only the name says so.
  EXPECT_EQ(sniff_kind(as_bytes("\0\0\2"), "x.TGA"), FileKind::kTga);
  EXPECT_EQ(sniff_kind(as_bytes("\0\0\2"), "x.bin"), FileKind::kUnknown);
  EXPECT_EQ(kind_from_extension("dir.v2/picture"), FileKind::kUnknown);
  EXPECT_EQ(kind_from_extension("a/b.PgM"), FileKind::kPnm);
}

TEST(PictureIoTest, EveryWriterRoundTripsGreyAndColourAtOddWidths) {
  for (FileKind kind : {FileKind::kPng, FileKind::kPnm, FileKind::kBmp, FileKind::kTga}) {
    for (PixelFormat format : {PixelFormat::kGrey8, PixelFormat::kRgb24}) {
      for (std::uint32_t width : {1u, 2u, 3u, 5u, 8u}) {
        SCOPED_TRACE(testing::Message() << extension_of(kind) << " width " << width);
        const Picture original = make_picture(width, 3, format, width);
        Result<std::vector<std::uint8_t>> file = write_picture(original, kind);
        ASSERT_TRUE(file.ok()) << file.message();
        std::string name = "p";
        name += extension_of(kind);
        Result<LoadedPicture> back = read_picture(file.value(), name, {});
        ASSERT_TRUE(back.ok()) << back.message();
        expect_same_picture(back.value().picture, original);
        EXPECT_TRUE(back.value().notices.empty());
      }
    }
  }
}

TEST(PictureIoTest, BgrPicturesAreWrittenInTheirTrueColours) {
  Picture bgr;
  bgr.width = 1;
  bgr.height = 1;
  bgr.format = PixelFormat::kBgr24;
  bgr.pixels = {1, 2, 3};  // blue 1, green 2, red 3
  for (FileKind kind : {FileKind::kPng, FileKind::kPnm, FileKind::kBmp}) {
    Result<std::vector<std::uint8_t>> file = write_picture(bgr, kind);
    ASSERT_TRUE(file.ok());
    Result<LoadedPicture> back = read_picture(file.value(), "x", {});
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(back.value().picture.pixels, (Bytes{3, 2, 1})) << extension_of(kind);
  }
}

TEST(PngReaderTest, SixteenBitSamplesAreScaledWithANotice) {
  // Grey 16-bit, big-endian: 0xFFFF, 0x0000, 0x8080 (exactly 128/255 of full scale).
  const Bytes png = make_png(3, 1, kPngGrey, 16, {0xFF, 0xFF, 0x00, 0x00, 0x80, 0x80});
  Result<LoadedPicture> r = read_png(png, {});
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().picture.format, PixelFormat::kGrey8);
  EXPECT_EQ(r.value().picture.pixels, (Bytes{255, 0, 128}));
  ASSERT_EQ(r.value().notices.size(), 1u);
  EXPECT_NE(r.value().notices[0].find("16-bit"), std::string::npos);
}

TEST(PngReaderTest, AlphaIsBlendedOverWhiteWithANotice) {
  // (200, 100, 0) at alpha 128: c*128/255 + 255*127/255, rounded: 227, 177, 127.
  // A fully opaque and a fully transparent pixel keep their colour and become white.
  const Bytes png = make_png(3, 1, kPngRgbAlpha, 8,
                             {200, 100, 0, 128, 10, 20, 30, 255, 10, 20, 30, 0});
  Result<LoadedPicture> r = read_png(png, {});
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().picture.format, PixelFormat::kRgb24);
  EXPECT_EQ(r.value().picture.pixels, (Bytes{227, 177, 127, 10, 20, 30, 255, 255, 255}));
  ASSERT_EQ(r.value().notices.size(), 1u);
  EXPECT_NE(r.value().notices[0].find("transparency"), std::string::npos);
}

TEST(PngReaderTest, PalettesBecomeColourOrGreyAndSmallDepthsAreExpanded) {
  const std::vector<Rgb> colours = {{30, 20, 10}, {60, 50, 40}};
  Result<LoadedPicture> colour = read_png(make_png(2, 1, kPngPalette, 8, {1, 0}, colours), {});
  ASSERT_TRUE(colour.ok()) << colour.message();
  EXPECT_EQ(colour.value().picture.format, PixelFormat::kRgb24);
  EXPECT_EQ(colour.value().picture.pixels, (Bytes{60, 50, 40, 30, 20, 10}));
  EXPECT_EQ(colour.value().notices.size(), 1u);

  // A palette of greys gives a grey picture, like a bitmap with a grey colour table.
  const std::vector<Rgb> greys = {{0, 0, 0}, {90, 90, 90}, {255, 255, 255}};
  Result<LoadedPicture> grey = read_png(make_png(3, 1, kPngPalette, 8, {2, 1, 0}, greys), {});
  ASSERT_TRUE(grey.ok());
  EXPECT_EQ(grey.value().picture.format, PixelFormat::kGrey8);
  EXPECT_EQ(grey.value().picture.pixels, (Bytes{255, 90, 0}));
  EXPECT_TRUE(grey.value().notices.empty());

  // 1-bit grey, 8 pixels in one byte 0b10110000: 255 0 255 255 0 0 0 0.
  Result<LoadedPicture> bits = read_png(make_png(8, 1, kPngGrey, 1, {0xB0}), {});
  ASSERT_TRUE(bits.ok());
  EXPECT_EQ(bits.value().picture.pixels, (Bytes{255, 0, 255, 255, 0, 0, 0, 0}));
}

TEST(PngReaderTest, TransparentPaletteEntryCountsAsAlpha) {
  const std::vector<Rgb> colours = {{0, 0, 0}, {40, 80, 120}};
  Result<LoadedPicture> r = read_png(make_png(2, 1, kPngPalette, 8, {0, 1}, colours, {0}), {});
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().picture.pixels, (Bytes{255, 255, 255, 40, 80, 120}));
  EXPECT_EQ(r.value().notices.size(), 2u);  // palette expanded, transparency removed
}

TEST(PngReaderTest, RefusesDamagedOrOversizedFiles) {
  const Bytes good = make_png(16, 16, kPngRgb, 8, Bytes(16 * 16 * 3, 77));
  for (std::size_t cut : {std::size_t{4}, std::size_t{20}, std::size_t{40}, good.size() - 13}) {
    Result<LoadedPicture> r = read_png(std::span(good.data(), cut), {});
    EXPECT_EQ(r.status(), Status::kInvalidFile) << "cut at " << cut;
  }
  Bytes flipped = good;
  flipped[flipped.size() / 2] ^= 0x5A;  // inside the compressed data: CRC or inflate fails
  EXPECT_EQ(read_png(flipped, {}).status(), Status::kInvalidFile);

  Limits small;
  small.max_pixels = 255;
  Result<LoadedPicture> big = read_png(good, small);
  EXPECT_EQ(big.status(), Status::kLimitExceeded);
  EXPECT_NE(big.message().find("256"), std::string::npos);
}

TEST(PnmReaderTest, ReadsAsciiAndBinaryWithCommentsAndAnyMaxval) {
  Result<LoadedPicture> ascii = read_pnm(as_bytes("P2\n# a comment\n3 1 # more\n15\n15 7\n0\n"), {});
  ASSERT_TRUE(ascii.ok()) << ascii.message();
  // 15 -> 255, 7 -> round(7 * 255 / 15) = round(119.0) = 119.
  EXPECT_EQ(ascii.value().picture.pixels, (Bytes{255, 119, 0}));
  EXPECT_TRUE(ascii.value().notices.empty());

  Result<LoadedPicture> colour = read_pnm(as_bytes("P3 1 1 255 9 8 7"), {});
  ASSERT_TRUE(colour.ok());
  EXPECT_EQ(colour.value().picture.format, PixelFormat::kRgb24);
  EXPECT_EQ(colour.value().picture.pixels, (Bytes{9, 8, 7}));

  Bytes wide = as_bytes("P5\n2 1\n65535\n");
  for (std::uint8_t b : {0xFF, 0xFF, 0x80, 0x00}) wide.push_back(b);
  Result<LoadedPicture> sixteen = read_pnm(wide, {});
  ASSERT_TRUE(sixteen.ok()) << sixteen.message();
  EXPECT_EQ(sixteen.value().picture.pixels, (Bytes{255, 128}));  // 32768 * 255 / 65535 = 127.5 -> 128
  EXPECT_EQ(sixteen.value().notices.size(), 1u);
}

TEST(PnmReaderTest, RefusesWhatItCannotRead) {
  EXPECT_EQ(read_pnm(as_bytes("P4\n8 1\n\xff"), {}).status(), Status::kInvalidFile);
  EXPECT_EQ(read_pnm(as_bytes("P6\n2 2\n255\nabc"), {}).status(), Status::kInvalidFile);  // short data
  EXPECT_EQ(read_pnm(as_bytes("P5\n2 1\n"), {}).status(), Status::kInvalidFile);           // no maxval
  EXPECT_EQ(read_pnm(as_bytes("P2 2 1 10 5 11"), {}).status(), Status::kInvalidFile);      // above maxval
  EXPECT_EQ(read_pnm(as_bytes("P5 0 1 255 "), {}).status(), Status::kInvalidFile);
  EXPECT_EQ(read_pnm(as_bytes("P5 1 1 70000 "), {}).status(), Status::kInvalidFile);
  EXPECT_EQ(read_pnm(as_bytes("P5 99999999999 1 255 "), {}).status(), Status::kInvalidFile);
  Limits small;
  small.max_pixels = 1000;
  // 100000 x 100000 is refused on the header alone, before any sample is looked at.
  EXPECT_EQ(read_pnm(as_bytes("P5 100000 100000 255 "), small).status(), Status::kLimitExceeded);
}

TEST(BitmapGlueTest, PaletteBitmapIsExpandedWithANotice) {
  // 2 x 1, 8 bits, two colour-table entries (blue, green, red, 0), one row of 2 bytes + 2 padding.
  Bytes bmp = {'B', 'M'};
  auto put32 = [&bmp](std::uint32_t v) { for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
  auto put16 = [&bmp](std::uint16_t v) { bmp.push_back(static_cast<std::uint8_t>(v)); bmp.push_back(static_cast<std::uint8_t>(v >> 8)); };
  const std::uint32_t offset = 14 + 40 + 8;
  put32(offset + 4); put16(0); put16(0); put32(offset);
  put32(40); put32(2); put32(1); put16(1); put16(8); put32(0); put32(4); put32(0); put32(0); put32(2); put32(0);
  for (std::uint8_t b : {10, 20, 30, 0, 40, 50, 60, 0}) bmp.push_back(b);
  for (std::uint8_t b : {1, 0, 0, 0}) bmp.push_back(b);

  Result<LoadedPicture> r = read_picture(bmp, "x.bmp", {});
  ASSERT_TRUE(r.ok()) << r.message();
  EXPECT_EQ(r.value().picture.format, PixelFormat::kRgb24);
  EXPECT_EQ(r.value().picture.pixels, (Bytes{60, 50, 40, 30, 20, 10}));
  ASSERT_EQ(r.value().notices.size(), 1u);
  EXPECT_NE(r.value().notices[0].find("palette"), std::string::npos);
}

TEST(BitmapGlueTest, BitmapRowsComeOutTopFirst) {
  Picture p = make_picture(3, 2, PixelFormat::kRgb24, 1);
  Result<std::vector<std::uint8_t>> file = write_bmp(p);
  ASSERT_TRUE(file.ok());
  // Bitmap rows are stored bottom-up: the first stored row is our second row, in blue-green-red.
  const std::uint8_t* first_stored = file.value().data() + 54;
  EXPECT_EQ(first_stored[0], p.pixels[9 + 2]);
  EXPECT_EQ(first_stored[2], p.pixels[9 + 0]);
}

TEST(PictureIoTest, PicturesForEncodingKeepBitmapRowsAndShowTheSamePixels) {
  for (FileKind kind : {FileKind::kBmp, FileKind::kTga, FileKind::kPng, FileKind::kPnm}) {
    for (PixelFormat format : {PixelFormat::kGrey8, PixelFormat::kRgb24}) {
      SCOPED_TRACE(testing::Message() << extension_of(kind) << " grey " << (format == PixelFormat::kGrey8));
      const Picture original = make_picture(5, 3, format, 7);
      Result<std::vector<std::uint8_t>> file = write_picture(original, kind);
      ASSERT_TRUE(file.ok());
      std::string name = "p";
      name += extension_of(kind);
      Result<EncodablePicture> e = read_picture_for_encoding(file.value(), name, {});
      ASSERT_TRUE(e.ok()) << e.message();
      const bool program_layout = kind == FileKind::kBmp || kind == FileKind::kTga;
      EXPECT_EQ(e.value().bottom_up, program_layout);
      if (program_layout) {
        // Rows padded to 4 bytes, bottom row first, blue before red.
        EXPECT_EQ(e.value().stride, format == PixelFormat::kGrey8 ? 8u : 16u);
        EXPECT_EQ(e.value().format, format == PixelFormat::kGrey8 ? PixelFormat::kGrey8 : PixelFormat::kBgr24);
        if (format == PixelFormat::kRgb24) {
          EXPECT_EQ(e.value().pixels[0], original.pixels[2 * 15 + 2]);
        }
      }
      expect_same_picture(e.value().to_picture(), original);
    }
  }
}

TEST(PictureIoTest, RefusesCompressedAndUnknownInputs) {
  EXPECT_EQ(read_picture(as_bytes("QVT2.5aZ........"), "a.cod", {}).status(), Status::kInvalidFile);
  EXPECT_EQ(read_picture(as_bytes("hello"), "a.txt", {}).status(), Status::kInvalidFile);
  EXPECT_EQ(read_picture(as_bytes("BM"), "a.bmp", {}).status(), Status::kInvalidFile);
}

}  // namespace
}  // namespace varnic::cli
