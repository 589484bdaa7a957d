// SPDX-License-Identifier: BSD-2-Clause
// Writes the seed corpora of the fuzz targets into DIR/<target>/ (scripts/fuzz.sh seeds): small
// valid files of every version and kind, made with the project's own encoder and writers, plus
// hand-built variants of the layouts our writers never produce (top-down rows, long bitmap
// headers, older .cod versions, PNG colour types that need conversion, ASCII and 16-bit PNM), and
// photographs made with their own libraries (photo_files.h).
#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "format/arithmetic_coder.h"
#include "codec/encoder.h"
#include "codec/settings.h"
#include "utils/picture_layout.h"
#include "fuzz/cod_versions.h"
#include "fuzz/photo_files.h"
#include "fuzz/sample_pictures.h"
#include "imagefile/imagefile.h"
#include "imagefile/registry.h"

namespace {

namespace fs = std::filesystem;
namespace imf = varnic::imagefile;
namespace codec = varnic::codec;
namespace format = varnic::format;
using Bytes = std::vector<std::uint8_t>;

fs::path g_root;
int g_failures = 0;

void save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = g_root / target;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", target.c_str(), name.c_str());
    ++g_failures;
  }
  // The gdk-pixbuf loader and the reduced decode take the same files as the .cod reader.
  if (target == "cod_decode") {
    save("pixbuf_load", name, bytes);
    save("cod_reduce", name, bytes);
  }
}

void fail(const std::string& what) {
  std::fprintf(stderr, "make_seeds: %s\n", what.c_str());
  ++g_failures;
}

using varnic::fuzz::make_file_picture;
using varnic::fuzz::make_picture;
using varnic::fuzz::sample;

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// --- .cod ---------------------------------------------------------------------------------------

// A bottom-up picture buffer for the encoder.
struct BufferPicture {
  std::vector<std::uint8_t> bytes;
  varnic::codec::PictureRows view;
};

BufferPicture make_buffer(std::uint32_t width, std::uint32_t height, bool colour) {
  const std::uint16_t bits = colour ? 24 : 8;
  const auto geometry = varnic::utils::row_geometry(width, height, bits);
  BufferPicture p;
  p.bytes.assign(geometry.picture_bytes, 0);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t b = 0; b < width * (bits / 8u); ++b) p.bytes[y * geometry.stride + b] = sample(b, y, 2);
  p.view = {p.bytes.data(), p.bytes.size(), width, height, bits};
  return p;
}

Bytes encode(const BufferPicture& picture, const varnic::format::CodecParams& params, const std::string& comment,
             const std::string& name) {
  varnic::codec::EncodeRequest options;
  options.comment = comment;
  varnic::codec::EncodedPicture encoded;
  const auto status = varnic::codec::encode_picture(picture.view, params, options, encoded);
  if (status != varnic::format::StatusCode::kOk) {
    fail("cannot encode " + name + ": " + varnic::format::message(status));
    return {};
  }
  return encoded.stream;
}

void cod_seeds() {
  struct Case {
    const char* name;
    std::uint32_t width, height;
    bool colour;
    int quality;
    int type;
    int levels;
    const char* comment;
  };
  const Case cases[] = {
      {"colour_11x9_L2_q60_comment", 11, 9, true, 60, 0, 2, "seed"},
      {"grey_16x16_L3_q50", 16, 16, false, 50, 0, 3, ""},
      {"colour_33x17_lowered", 33, 17, true, 50, 0, 5, ""},
      {"grey_9x9_q0", 9, 9, false, 0, 0, 2, ""},
      {"colour_8x8_q99", 8, 8, true, 99, 0, 2, ""},
      {"colour_12x10_faces", 12, 10, true, 40, 2, 2, ""},
      {"grey_3x3_L1_landscape", 3, 3, false, 50, 1, 1, ""},
      {"grey_40x8_L2_q90", 40, 8, false, 90, 0, 2, "x"},
  };
  for (const Case& c : cases) {
    format::CodecParams params = codec::default_codec_params();
    params.quality_factor = static_cast<std::int16_t>(c.quality);
    params.image_type = static_cast<std::int16_t>(c.type);
    params.total_levels = static_cast<std::uint16_t>(c.levels);
    if (codec::derive_params_from_quality(params) != format::StatusCode::kOk) {
      fail(std::string("cannot derive settings for ") + c.name);
      continue;
    }
    const Bytes v25 = encode(make_buffer(c.width, c.height, c.colour), params, c.comment, c.name);
    if (v25.empty()) continue;
    const std::string name = c.name;
    save("cod_decode", name + ".cod", v25);
    // Every picture as version 2.3 too: colour ones are cut from the packed sequence.
    save("cod_v23", name + "_v23.cod", varnic::fuzz::rewrite_as_version(v25, 3));
    if (name == "colour_11x9_L2_q60_comment" || name == "grey_16x16_L3_q50") {
      save("cod_decode", name + "_v24.cod", varnic::fuzz::rewrite_as_version(v25, 4));
      save("cod_decode", name + "_v23.cod", varnic::fuzz::rewrite_as_version(v25, 3));
      Bytes flat = v25;
      flat[7] = 'X';  // coefficients not decoded: the flat picture
      save("cod_decode", name + "_not_coded.cod", flat);
      Bytes no_restart = v25;  // RestartOffset 0: the first end symbol ends the plane
      const std::size_t restart_at = 38 + 12 * (3 * std::size_t{v25[36]} + 1);
      put32(no_restart, restart_at, 0);
      save("cod_decode", name + "_restart0.cod", no_restart);
      Bytes zero_length = v25;  // HeaderLength 0: the planes follow the last field read
      put16(zero_length, 14, 0);
      save("cod_decode", name + "_header_length0.cod", zero_length);
    }
  }
  // Full settings: dropped levels, hand-picked vectors and thresholds.
  const struct {
    const char* name;
    std::int64_t levels;
    std::array<std::int64_t, 3> dropped;
  } full_cases[] = {{"colour_7x5_L1_full", 1, {0, 0, 0}}, {"colour_16x12_L3_dropped", 3, {1, 2, 1}}};
  for (const auto& f : full_cases) {
    codec::FullSettings full;
    full.total_levels = f.levels;
    full.dropped_levels = f.dropped;
    for (std::size_t c = 0; c < 3; ++c)
      for (int k = 0; k < format::subband_count(static_cast<int>(f.levels)); ++k)
        full.quant_vectors[c].push_back(c == 0 ? 20 + 10 * k : 5 + 3 * k);
    for (int l = 0; l <= f.levels; ++l) full.thresholds.push_back(l == 0 ? 2 : 0);
    format::CodecParams params = codec::default_codec_params();
    if (codec::apply_full_settings(full, params) != format::StatusCode::kOk) {
      fail(std::string("full settings refused for ") + f.name);
      continue;
    }
    const Bytes v25 = encode(make_buffer(f.levels == 1 ? 7 : 16, f.levels == 1 ? 5 : 12, true), params, "", f.name);
    if (!v25.empty()) save("cod_decode", std::string(f.name) + ".cod", v25);
  }
}

// --- bitmap and Targa ---------------------------------------------------------------------------

void bitmap_seeds() {
  for (const std::uint16_t mode : {format::kImageModeColour, format::kImageModeGrey, format::kImageModePalette}) {
    const std::string stem = mode == format::kImageModeColour ? "rgb24" : mode == format::kImageModeGrey ? "grey8" : "palette8";
    const imf::PictureBuffer picture = make_file_picture(5, 3, mode);
    const Bytes bmp = imf::encode_bitmap(picture);
    save("bmp_read", stem + "_5x3.bmp", bmp);
    if (mode != format::kImageModePalette) save("tga_read", stem + "_5x3.tga", imf::encode_targa(picture));
    if (mode == format::kImageModeColour) {
      // "MB" byte order of the type field.
      Bytes mb = bmp;
      std::swap(mb[0], mb[1]);
      save("bmp_read", stem + "_5x3_mb.bmp", mb);
      // Top-down rows: negative height, rows reversed.
      Bytes top_down = bmp;
      const std::size_t offset = get32(bmp, 10);
      const std::size_t stride = 16;
      for (std::size_t y = 0; y < 3; ++y)
        std::copy_n(bmp.begin() + static_cast<std::ptrdiff_t>(offset + (2 - y) * stride), stride,
                    top_down.begin() + static_cast<std::ptrdiff_t>(offset + y * stride));
      put32(top_down, 22, static_cast<std::uint32_t>(-3));
      save("bmp_read", stem + "_5x3_top_down.bmp", top_down);
    }
    if (mode == format::kImageModePalette) {
      // A 108-byte information header (the V4 layout): the colour table follows the longer header.
      Bytes v4(bmp.begin(), bmp.begin() + 54);
      v4.insert(v4.end(), 68, 0);
      v4.insert(v4.end(), bmp.begin() + 54, bmp.end());
      put32(v4, 14, 108);
      put32(v4, 10, get32(bmp, 10) + 68);
      put32(v4, 2, static_cast<std::uint32_t>(v4.size()));
      save("bmp_read", stem + "_5x3_v4_header.bmp", v4);
    }
  }
  // A Targa with a 24-bit colour map, an ID field and top-down rows: type 1 is refused, so the
  // mapped picture is stored as type 2 with 8-bit indices, which the reader takes uncompressed.
  Bytes tga = {4, 1, 2, 0, 0, 4, 0, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0x20, 's', 'e', 'e', 'd'};
  for (int i = 0; i < 4; ++i) tga.insert(tga.end(), {static_cast<std::uint8_t>(60 * i), 0x80, static_cast<std::uint8_t>(255 - 60 * i)});
  for (std::uint8_t i = 0; i < 6; ++i) tga.push_back(i % 4);
  save("tga_read", "mapped8_3x2_top_down.tga", tga);
}

// --- PNG and PNM --------------------------------------------------------------------------------

struct PngSink {
  Bytes bytes;
};

void png_write_to(png_structp png, png_bytep data, png_size_t size) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  sink->bytes.insert(sink->bytes.end(), data, data + size);
}
void png_flush_nothing(png_structp) {}

// A PNG of a colour type our own writer never produces, written with libpng directly.
Bytes raw_png(std::uint32_t width, std::uint32_t height, int colour_type, int bit_depth, bool interlaced) {
  PngSink sink;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fail("libpng refused a seed");
    return {};
  }
  png_set_write_fn(png, &sink, png_write_to, png_flush_nothing);
  png_set_IHDR(png, info, width, height, bit_depth, colour_type,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {40, 80, 255}};
    png_set_PLTE(png, info, palette, 4);
    png_byte alpha[2] = {0, 128};
    png_set_tRNS(png, info, alpha, 2, nullptr);
  }
  png_write_info(png, info);
  int channels = 1;
  if (colour_type == PNG_COLOR_TYPE_RGB) channels = 3;
  if (colour_type == PNG_COLOR_TYPE_RGB_ALPHA) channels = 4;
  if (colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) channels = 2;
  const std::size_t row_bytes = (std::size_t{width} * static_cast<std::size_t>(channels * bit_depth) + 7) / 8;
  std::vector<Bytes> rows(height, Bytes(row_bytes));
  std::vector<png_bytep> pointers;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::size_t b = 0; b < row_bytes; ++b) rows[y][b] = sample(static_cast<std::uint32_t>(b), y, 1);
    if (colour_type == PNG_COLOR_TYPE_PALETTE)
      for (std::size_t b = 0; b < row_bytes; ++b) rows[y][b] &= bit_depth == 8 ? 0x03 : 0x55;
    pointers.push_back(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return sink.bytes;
}

void picture_io_seeds() {
  for (const auto format : {varnic::PixelFormat::kRgb24, varnic::PixelFormat::kGrey8}) {
    const std::string stem = format == varnic::PixelFormat::kRgb24 ? "rgb" : "grey";
    const varnic::Picture picture = make_picture(6, 4, format);
    varnic::codec::PictureRows rows;
    rows.data = picture.pixels.data();
    rows.size = picture.pixels.size();
    rows.width = picture.width;
    rows.height = picture.height;
    rows.bits_per_pixel = format == varnic::PixelFormat::kGrey8 ? 8 : 24;
    rows.row_stride = picture.stride();
    rows.top_down = true;
    rows.rgb_order = true;
    std::vector<std::uint8_t> png;
    std::vector<std::uint8_t> pnm;
    if (varnic::imagefile::write_picture(rows, varnic::FileKind::kPng, {}, png) != varnic::imagefile::FileStatus::kOk ||
        varnic::imagefile::write_picture(rows, varnic::FileKind::kPnm, {}, pnm) != varnic::imagefile::FileStatus::kOk) {
      fail("cannot write PNG or PNM seeds");
      continue;
    }
    save("png_read", stem + "_6x4.png", png);
    save("pnm_read", stem + "_6x4" + (format == varnic::PixelFormat::kRgb24 ? ".ppm" : ".pgm"), pnm);
  }
  save("png_read", "rgba8_5x3.png", raw_png(5, 3, PNG_COLOR_TYPE_RGB_ALPHA, 8, false));
  save("png_read", "grey_alpha8_4x4.png", raw_png(4, 4, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false));
  save("png_read", "rgb16_3x3.png", raw_png(3, 3, PNG_COLOR_TYPE_RGB, 16, false));
  save("png_read", "grey2_9x2.png", raw_png(9, 2, PNG_COLOR_TYPE_GRAY, 2, false));
  save("png_read", "palette8_trns_5x5.png", raw_png(5, 5, PNG_COLOR_TYPE_PALETTE, 8, false));
  save("png_read", "palette2_7x3.png", raw_png(7, 3, PNG_COLOR_TYPE_PALETTE, 2, false));
  save("png_read", "rgb8_adam7_9x9.png", raw_png(9, 9, PNG_COLOR_TYPE_RGB, 8, true));

  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  save("pnm_read", "ascii_grey_maxval15.pgm", text("P2\n# seed\n3 2\n15\n0 5 10\n15 7 1\n"));
  save("pnm_read", "ascii_rgb.ppm", text("P3 2 2 255 255 0 0  0 255 0\n0 0 255  9 9 9\n"));
  Bytes wide = text("P6\n2 1\n65535\n");
  wide.insert(wide.end(), {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x00});
  save("pnm_read", "rgb16_2x1.ppm", wide);
  save("pnm_read", "bitmap_refused.pbm", text("P1\n2 2\n0 1\n1 0\n"));
}

// --- arithmetic decoder -------------------------------------------------------------------------

// Input of the arith_decode target: one byte N (the alphabet), then the code bytes of a segment.
void arith_seeds() {
  std::mt19937 rng(8);
  for (const int characters : {1, 2, 17, 255}) {
    varnic::format::AdaptiveModel model;
    model.start(characters);
    Bytes out = {static_cast<std::uint8_t>(characters)};
    varnic::format::ArithmeticEncoder encoder(out);
    encoder.start();
    std::geometric_distribution<int> skewed(0.3);
    for (int n = 0; n < 300; ++n) {
      const int character = std::min(skewed(rng), characters - 1);
      const int symbol = model.symbol_of(character);
      encoder.encode(model, symbol);
      model.update(symbol);
    }
    encoder.encode(model, model.end_symbol());
    encoder.finish();
    save("arith_decode", "alphabet" + std::to_string(characters) + ".bin", out);
  }
}

// --- encode and decode --------------------------------------------------------------------------

// Inputs of the round_trip target (its layout is described there): a size, flags and settings,
// then pixel bytes.
void round_trip_seeds() {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> head;
  };
  const Case cases[] = {
      {"colour_16x16_q50_L3_threads", {13, 13, 0x11, 50, 0, 2, 0}},
      {"grey_3x3_q10", {0, 0, 0x00, 10, 1, 0, 0}},
      {"grey_64x5_q99_L6_previews", {61, 2, 0x0C, 99, 2, 5, 0}},
      // Full settings at two levels, dropped levels Y 1, I 0, Q 1, previews on both sides.
      {"colour_20x11_full_L2_dropped", {17, 8, 0x0F, 0, 0, 1, 0x11,
                                        30, 30, 20, 40, 40, 30, 100,
                                        10, 10, 5, 20, 20, 10, 60,
                                        10, 10, 5, 20, 20, 10, 60,
                                        4, 2, 0}},
  };
  for (const Case& c : cases) {
    Bytes input = c.head;
    for (std::uint32_t i = 0; i < 96; ++i) input.push_back(sample(i % 11, i / 11, 1));
    save("round_trip", std::string(c.name) + ".bin", input);
  }
}

// --- photographs -------------------------------------------------------------------------------

// Small files of every layout the readers take apart: orientations, profiles (one spread over
// several JPEG segments), CMYK, grey, 16 bits, tiles, planes, pages, alpha, metadata.
void photo_seeds() {
  namespace pf = varnic::fuzz;
  const std::uint32_t side = 12;
  Bytes rgb, grey, cmyk, rgba;
  for (std::uint32_t y = 0; y < side; ++y)
    for (std::uint32_t x = 0; x < side; ++x) {
      for (std::uint32_t c = 0; c < 4; ++c) {
        if (c < 3) rgb.push_back(sample(x, y, c));
        cmyk.push_back(sample(x, y, c + 1));
        rgba.push_back(c < 3 ? sample(x, y, c) : static_cast<std::uint8_t>(x * 20));
      }
      grey.push_back(sample(x, y, 0));
    }
  const Bytes p3 = pf::make_profile("Display P3 seed");
  const Bytes inks = pf::make_cmyk_profile("Seed inks");
  pf::ExifFields camera;
  camera.orientation = 6;
  camera.make = "Seed";
  camera.model = "Camera 1";
  camera.taken = "2024:01:02 03:04:05";
  camera.exposure[0] = 1, camera.exposure[1] = 60;
  camera.iso = 100;
  const Bytes exif = pf::make_exif(camera);

  pf::JpegLayout jpeg(side, side);
  jpeg.exif = exif;
  jpeg.icc = p3;
  jpeg.xmp = jpeg.iptc = true;
  save("jpeg_read", "rgb_exif_p3.jpg", pf::make_jpeg(jpeg, rgb));
  pf::JpegLayout long_profile(side, side);
  long_profile.icc = pf::make_profile("Long", 70000);
  save("jpeg_read", "profile_in_two_segments.jpg", pf::make_jpeg(long_profile, rgb));
  pf::JpegLayout grey_jpeg(side, side, 1);
  grey_jpeg.icc = pf::make_profile("Linear grey", 0, true, 1.0);
  save("jpeg_read", "grey_profile.jpg", pf::make_jpeg(grey_jpeg, grey));
  pf::JpegLayout cmyk_jpeg(side, side, 4);
  cmyk_jpeg.icc = inks;
  save("jpeg_read", "cmyk_adobe.jpg", pf::make_jpeg(cmyk_jpeg, cmyk));

  pf::TiffLayout strips(side, side);
  strips.orientation = 8;
  strips.icc = p3;
  save("tiff_read", "rgb_strips_p3.tif", pf::make_tiff(strips, rgb));
  pf::TiffLayout tiles(side, side, 1);
  tiles.photometric = PHOTOMETRIC_MINISWHITE;
  tiles.tiled = true;
  tiles.compression = COMPRESSION_ADOBE_DEFLATE;
  tiles.pages = 2;
  save("tiff_read", "grey_tiles_two_pages.tif", pf::make_tiff(tiles, grey));
  pf::TiffLayout planes(side, side, 4);
  planes.alpha = true;
  planes.separate = true;
  planes.compression = COMPRESSION_LZW;
  save("tiff_read", "rgba_planes.tif", pf::make_tiff(planes, rgba));
  pf::TiffLayout cmyk_tiff(side, side, 4);
  cmyk_tiff.photometric = PHOTOMETRIC_SEPARATED;
  cmyk_tiff.icc = inks;
  save("tiff_read", "cmyk_profile.tif", pf::make_tiff(cmyk_tiff, cmyk));
  pf::TiffLayout deep(side, side, 1);
  deep.bits = 16;
  Bytes grey16;
  for (const std::uint8_t v : grey) grey16.insert(grey16.end(), {v, static_cast<std::uint8_t>(255 - v)});
  save("tiff_read", "grey16_strips.tif", pf::make_tiff(deep, grey16));

  save("webp_read", "lossless_exif_p3.webp", pf::make_webp(side, side, rgb, true, false, exif, p3));
  save("webp_read", "lossy.webp", pf::make_webp(side, side, rgb, false));
  save("webp_read", "alpha.webp", pf::make_webp(side, side, rgba, true, true));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 1;
  }
  g_root = argv[1];
  cod_seeds();
  bitmap_seeds();
  picture_io_seeds();
  arith_seeds();
  round_trip_seeds();
  photo_seeds();
  if (g_failures > 0) {
    std::fprintf(stderr, "make_seeds: %d seeds could not be made\n", g_failures);
    return 1;
  }
  return 0;
}
