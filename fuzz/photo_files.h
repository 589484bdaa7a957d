// SPDX-License-Identifier: BSD-2-Clause
// Photograph files made with the libraries themselves, for the readers' tests and the fuzz
// targets' seeds: JPEG (libjpeg-turbo), TIFF (libtiff), WebP (libwebp and its muxer), EXIF blocks
// written by hand, and ICC profiles made with Little CMS. Samples are given top row first, packed,
// grey, RGB or CMYK (0 no ink). A failure gives an empty file.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnic::fuzz {

using Bytes = std::vector<std::uint8_t>;

// --- EXIF ---------------------------------------------------------------------------------------

struct ExifFields {
  unsigned orientation = 0;  // 0: none
  std::string make, model, taken;
  std::uint32_t exposure[2] = {0, 0};  // numerator, denominator; 0/0: none
  std::uint32_t f_number[2] = {0, 0};
  std::uint32_t focal[2] = {0, 0};
  unsigned iso = 0;
};

namespace detail {

struct IfdEntry {
  std::uint16_t tag, type;
  std::uint32_t count;
  Bytes value;  // big-endian
};

inline void put16(Bytes& b, std::uint32_t v) { b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); }
inline void put32(Bytes& b, std::uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
inline IfdEntry ascii(std::uint16_t tag, const std::string& text) {
  Bytes v(text.begin(), text.end());
  v.push_back(0);
  return {tag, 2, static_cast<std::uint32_t>(v.size()), v};
}
inline IfdEntry short1(std::uint16_t tag, unsigned value) {
  Bytes v;
  put16(v, value);
  return {tag, 3, 1, v};
}
inline IfdEntry rational(std::uint16_t tag, const std::uint32_t r[2]) {
  Bytes v;
  put32(v, r[0]);
  put32(v, r[1]);
  return {tag, 5, 1, v};
}

// IFDs laid one after the other from `start`, each followed by its values over 4 bytes; the
// pointer entries (`pointer_tag`) of IFD k are filled with the offset of IFD k + 1.
inline Bytes write_ifds(std::vector<std::vector<IfdEntry>> ifds, std::uint16_t pointer_tag) {
  Bytes out = {'M', 'M', 0, 42, 0, 0, 0, 8};
  std::vector<std::uint32_t> starts;
  std::uint32_t at = 8;
  for (const auto& ifd : ifds) {
    starts.push_back(at);
    at += 2 + 12 * static_cast<std::uint32_t>(ifd.size()) + 4;
    for (const IfdEntry& e : ifd) at += e.value.size() > 4 ? static_cast<std::uint32_t>(e.value.size() + 1) & ~1u : 0;
  }
  for (std::size_t k = 0; k < ifds.size(); ++k) {
    auto& ifd = ifds[k];
    std::sort(ifd.begin(), ifd.end(), [](const IfdEntry& a, const IfdEntry& b) { return a.tag < b.tag; });
    std::uint32_t data = starts[k] + 2 + 12 * static_cast<std::uint32_t>(ifd.size()) + 4;
    Bytes values;
    put16(out, static_cast<std::uint32_t>(ifd.size()));
    for (IfdEntry& e : ifd) {
      if (e.tag == pointer_tag && k + 1 < ifds.size()) {
        e.value.clear();
        put32(e.value, starts[k + 1]);
      }
      put16(out, e.tag);
      put16(out, e.type);
      put32(out, e.count);
      if (e.value.size() <= 4) {
        Bytes padded = e.value;
        padded.resize(4, 0);
        out.insert(out.end(), padded.begin(), padded.end());
      } else {
        put32(out, data + static_cast<std::uint32_t>(values.size()));
        values.insert(values.end(), e.value.begin(), e.value.end());
        if (values.size() % 2 != 0) values.push_back(0);
      }
    }
    put32(out, 0);
    out.insert(out.end(), values.begin(), values.end());
  }
  return out;
}

}  // namespace detail

// A TIFF-structured EXIF block (big-endian, without "Exif\0\0").
inline Bytes make_exif(const ExifFields& f) {
  using namespace detail;
  std::vector<IfdEntry> ifd0;
  std::vector<IfdEntry> exif;
  if (!f.make.empty()) ifd0.push_back(ascii(0x010F, f.make));
  if (!f.model.empty()) ifd0.push_back(ascii(0x0110, f.model));
  if (f.orientation != 0) ifd0.push_back(short1(0x0112, f.orientation));
  if (f.exposure[1] != 0) exif.push_back(rational(0x829A, f.exposure));
  if (f.f_number[1] != 0) exif.push_back(rational(0x829D, f.f_number));
  if (f.iso != 0) exif.push_back(short1(0x8827, f.iso));
  if (!f.taken.empty()) exif.push_back(ascii(0x9003, f.taken));
  if (f.focal[1] != 0) exif.push_back(rational(0x920A, f.focal));
  if (exif.empty()) return write_ifds({ifd0}, 0);
  ifd0.push_back({0x8769, 4, 1, Bytes(4, 0)});  // the EXIF IFD's offset, filled in
  return write_ifds({ifd0, exif}, 0x8769);
}

// --- ICC profiles -------------------------------------------------------------------------------

// A matrix-and-curves RGB profile (Display P3's primaries and D65 with sRGB's curve, by default),
// described as `description`; `padding` bytes of a private tag make it larger (a JPEG then needs
// several segments for it). Grey: a grey profile of gamma `grey_gamma`.
inline Bytes make_profile(const std::string& description, std::size_t padding = 0, bool grey = false,
                          double grey_gamma = 1.0) {
  const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = grey ? cmsBuildGamma(nullptr, grey_gamma) : cmsBuildParametricToneCurve(nullptr, 4, srgb);
  const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = grey ? cmsCreateGrayProfile(&d65, curve) : cmsCreateRGBProfile(&d65, &p3, curves);
  cmsFreeToneCurve(curve);
  if (profile == nullptr) return {};
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description.c_str());
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  if (padding > 0) {
    const Bytes filler(padding, 0x5A);
    cmsWriteRawTag(profile, static_cast<cmsTagSignature>(0x7A7A7A7A), filler.data(), static_cast<cmsUInt32Number>(padding));
  }
  cmsUInt32Number size = 0;
  Bytes out;
  if (cmsSaveProfileToMem(profile, nullptr, &size)) {
    out.resize(size);
    if (!cmsSaveProfileToMem(profile, out.data(), &size)) out.clear();
  }
  cmsCloseProfile(profile);
  return out;
}

// A CMYK output profile whose table maps inks to Lab by a smooth made-up rule (no ink white, full
// black ink black), enough for a converter to go through.
inline Bytes make_cmyk_profile(const std::string& description) {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 2.1);  // a table alone is a lut16 there; version 4 wants curves around it
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* table = cmsStageAllocCLut16bit(nullptr, 5, 4, 3, nullptr);
  cmsStageSampleCLut16bit(
      table,
      [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
        const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0, k = in[3] / 65535.0;
        const cmsCIELab lab = {100 * (1 - k) * (1 - 0.5 * std::max({c, m, y})), 60 * (m - c), 60 * (y - (c + m) / 2)};
        cmsFloat2LabEncoded(out, &lab);
        return 1;
      },
      nullptr, 0);
  cmsPipelineInsertStage(lut, cmsAT_BEGIN, table);
  cmsWriteTag(profile, cmsSigAToB0Tag, lut);
  cmsPipelineFree(lut);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description.c_str());
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  cmsUInt32Number size = 0;
  Bytes out;
  if (cmsSaveProfileToMem(profile, nullptr, &size)) {
    out.resize(size);
    if (!cmsSaveProfileToMem(profile, out.data(), &size)) out.clear();
  }
  cmsCloseProfile(profile);
  return out;
}

// --- PNG ----------------------------------------------------------------------------------------

// `samples` holds packed rows (big-endian at 16 bits); `extra` adds chunks before the rows.
inline Bytes make_png(std::uint32_t width, std::uint32_t height, int colour_type, int depth, const Bytes& samples,
                      const std::function<void(png_structp, png_infop)>& extra = {}) {
  struct State {
    Bytes out;
  } state;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &state.out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      [](png_structp) {});
  png_set_IHDR(png, info, width, height, depth, colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (extra) extra(png, info);
  png_write_info(png, info);
  const std::size_t row_bytes = samples.size() / height;
  for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, samples.data() + y * row_bytes);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return state.out;
}

// --- JPEG ---------------------------------------------------------------------------------------

struct JpegLayout {
  JpegLayout(std::uint32_t w, std::uint32_t h, int c = 3, int q = 95) : width(w), height(h), components(c), quality(q) {}
  std::uint32_t width = 0, height = 0;
  int components = 3;  // 1 grey, 3 RGB, 4 CMYK (written inverted with Adobe's marker, as Photoshop does)
  int quality = 95;
  Bytes exif;           // written as APP1 "Exif\0\0"
  Bytes icc;            // written as APP2 segments
  bool xmp = false;     // an APP1 XMP packet
  bool iptc = false;    // an APP13 Photoshop block with an IPTC record
};

inline Bytes make_jpeg(const JpegLayout& layout, const Bytes& samples) {
  // What must outlive a longjmp lives here, made before setjmp.
  struct State {
    jpeg_error_mgr manager;  // first: the error handler finds the state through it
    std::jmp_buf jump;
    jpeg_compress_struct cinfo;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    Bytes inverted;
  };
  auto state = std::make_unique<State>();
  jpeg_compress_struct& cinfo = state->cinfo;
  cinfo.err = jpeg_std_error(&state->manager);
  state->manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<State*>(c->err)->jump, 1); };
  if (setjmp(state->jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(state->buffer);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &state->buffer, &state->size);
  cinfo.image_width = layout.width;
  cinfo.image_height = layout.height;
  cinfo.input_components = layout.components;
  cinfo.in_color_space = layout.components == 1 ? JCS_GRAYSCALE : layout.components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, layout.quality, TRUE);
  for (int c = 0; c < cinfo.num_components; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  if (!layout.exif.empty()) {
    Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), layout.exif.begin(), layout.exif.end());
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
  }
  if (layout.xmp) {
    const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/") + '\0' + "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(xmp.data()), static_cast<unsigned>(xmp.size()));
  }
  if (layout.iptc) {
    const std::string app13 = std::string("Photoshop 3.0") + '\0' + "8BIM" + std::string("\x04\x04\0\0\0\0\0\x04", 8) +
                              "\x1C\x02\x00\x00";
    jpeg_write_marker(&cinfo, JPEG_APP0 + 13, reinterpret_cast<const JOCTET*>(app13.data()),
                      static_cast<unsigned>(app13.size()));
  }
  if (!layout.icc.empty()) jpeg_write_icc_profile(&cinfo, layout.icc.data(), static_cast<unsigned>(layout.icc.size()));
  const std::size_t row = std::size_t{layout.width} * static_cast<std::size_t>(layout.components);
  Bytes& inverted = state->inverted;
  while (cinfo.next_scanline < cinfo.image_height) {
    const std::uint8_t* from = samples.data() + cinfo.next_scanline * row;
    if (layout.components == 4) {
      inverted.assign(from, from + row);
      for (std::uint8_t& v : inverted) v = static_cast<std::uint8_t>(255 - v);
      from = inverted.data();
    }
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(from)};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(state->buffer, state->buffer + state->size);
  std::free(state->buffer);
  return out;
}

// --- TIFF ---------------------------------------------------------------------------------------

struct TiffLayout {
  TiffLayout(std::uint32_t w, std::uint32_t h, int s = 3) : width(w), height(h), samples(s) {}
  std::uint32_t width = 0, height = 0;
  int samples = 3;        // per pixel, alpha included
  int bits = 8;           // 8 or 16 (samples given as native 16-bit values)
  std::uint16_t photometric = PHOTOMETRIC_RGB;
  bool alpha = false;     // the last sample is straight alpha
  bool tiled = false;     // 16 x 16 tiles, else strips of 3 rows
  bool separate = false;  // planes of one sample each
  std::uint16_t compression = COMPRESSION_NONE;
  unsigned orientation = 0;
  Bytes icc;
  int pages = 1;          // further pages repeat the first
};

namespace detail {

struct TiffMemory {
  Bytes bytes;
  std::uint64_t at = 0;
};

inline tmsize_t tiff_read(thandle_t h, void* out, tmsize_t n) {
  auto* m = static_cast<TiffMemory*>(h);
  const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), m->bytes.size() - std::min<std::uint64_t>(m->at, m->bytes.size()));
  std::memcpy(out, m->bytes.data() + m->at, static_cast<std::size_t>(count));
  m->at += count;
  return static_cast<tmsize_t>(count);
}
inline tmsize_t tiff_write(thandle_t h, void* in, tmsize_t n) {
  auto* m = static_cast<TiffMemory*>(h);
  if (m->bytes.size() < m->at + static_cast<std::uint64_t>(n)) m->bytes.resize(static_cast<std::size_t>(m->at) + static_cast<std::size_t>(n));
  std::memcpy(m->bytes.data() + m->at, in, static_cast<std::size_t>(n));
  m->at += static_cast<std::uint64_t>(n);
  return n;
}
inline toff_t tiff_seek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<TiffMemory*>(h);
  m->at = (whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->bytes.size() : 0) + off;
  return m->at;
}
inline int tiff_close(thandle_t) { return 0; }
inline toff_t tiff_size(thandle_t h) { return static_cast<TiffMemory*>(h)->bytes.size(); }
inline int tiff_map(thandle_t, void**, toff_t*) { return 0; }
inline void tiff_unmap(thandle_t, void*, toff_t) {}

}  // namespace detail

inline Bytes make_tiff(const TiffLayout& layout, const Bytes& samples) {
  detail::TiffMemory memory;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFClientOpen("test", "w", &memory, detail::tiff_read, detail::tiff_write, detail::tiff_seek,
                             detail::tiff_close, detail::tiff_size, detail::tiff_map, detail::tiff_unmap);
  if (tif == nullptr) return {};
  const std::size_t sample_bytes = static_cast<std::size_t>(layout.bits / 8);
  const std::size_t pixel = sample_bytes * static_cast<std::size_t>(layout.samples);
  bool ok = true;
  for (int page = 0; page < layout.pages && ok; ++page) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
    if (layout.alpha) {
      const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (layout.orientation != 0) TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
    if (!layout.icc.empty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(layout.icc.size()), layout.icc.data());
    if (layout.pages > 1) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    const int planes = layout.separate ? layout.samples : 1;
    const std::size_t chunk_pixel = layout.separate ? sample_bytes : pixel;
    // One sample (or all of them) of pixel (x, y), copied to `out`.
    auto put = [&](std::uint32_t x, std::uint32_t y, int plane, std::uint8_t* out) {
      const std::uint8_t* from = samples.data() + (std::size_t{y} * layout.width + x) * pixel;
      if (layout.separate) from += static_cast<std::size_t>(plane) * sample_bytes;
      if (x < layout.width && y < layout.height) std::memcpy(out, from, chunk_pixel);
    };
    if (layout.tiled) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
      Bytes tile(16 * 16 * chunk_pixel);
      for (int plane = 0; plane < planes; ++plane)
        for (std::uint32_t ty = 0; ty < layout.height; ty += 16)
          for (std::uint32_t tx = 0; tx < layout.width; tx += 16) {
            std::fill(tile.begin(), tile.end(), 0);
            for (std::uint32_t y = 0; y < 16; ++y)
              for (std::uint32_t x = 0; x < 16; ++x) put(tx + x, ty + y, plane, &tile[(y * 16 + x) * chunk_pixel]);
            ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, static_cast<std::uint16_t>(plane)) >= 0;
          }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3);
      Bytes row(layout.width * chunk_pixel);
      for (int plane = 0; plane < planes; ++plane)
        for (std::uint32_t y = 0; y < layout.height; ++y) {
          for (std::uint32_t x = 0; x < layout.width; ++x) put(x, y, plane, &row[x * chunk_pixel]);
          ok = ok && TIFFWriteScanline(tif, row.data(), y, static_cast<std::uint16_t>(plane)) >= 0;
        }
    }
    ok = ok && TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return ok ? memory.bytes : Bytes{};
}

// --- WebP ---------------------------------------------------------------------------------------

// Lossless (exact) or lossy RGB, or lossless RGBA when `alpha`; metadata chunks through the muxer.
inline Bytes make_webp(std::uint32_t width, std::uint32_t height, const Bytes& samples, bool lossless = true,
                       bool alpha = false, const Bytes& exif = {}, const Bytes& icc = {}) {
  std::uint8_t* coded = nullptr;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  const std::size_t size = alpha ? WebPEncodeLosslessRGBA(samples.data(), w, h, w * 4, &coded)
                           : lossless ? WebPEncodeLosslessRGB(samples.data(), w, h, w * 3, &coded)
                                      : WebPEncodeRGB(samples.data(), w, h, w * 3, 90, &coded);
  Bytes image(coded, coded + size);
  WebPFree(coded);
  if (size == 0 || (exif.empty() && icc.empty())) return image;
  const WebPData bitstream = {image.data(), image.size()};
  WebPMux* mux = WebPMuxCreate(&bitstream, 1);
  if (mux == nullptr) return {};
  const WebPData exif_data = {exif.data(), exif.size()};
  const WebPData icc_data = {icc.data(), icc.size()};
  if (!exif.empty()) WebPMuxSetChunk(mux, "EXIF", &exif_data, 1);
  if (!icc.empty()) WebPMuxSetChunk(mux, "ICCP", &icc_data, 1);
  WebPData assembled = {nullptr, 0};
  Bytes out;
  if (WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK) out.assign(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return out;
}

}  // namespace varnic::fuzz
