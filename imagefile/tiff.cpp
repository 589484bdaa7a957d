// SPDX-License-Identifier: BSD-2-Clause
// TIFF through libtiff, from memory (the file is handed over as libtiff's memory map, so that
// strips are decoded from where they lie). The first page is read: 8- or 16-bit grey, RGB (also
// YCbCr inside JPEG, which libtiff converts), or CMYK through its ICC profile; alpha is blended
// over white, other extra samples are left out, 16-bit samples are rounded as the PNG reader rounds
// them. Strips of interleaved samples are decoded one row at a time straight into place; tiles and
// planes of separate samples one band of rows at a time.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "imagefile/colour_profile.h"
#include "imagefile/formats.h"
#include "imagefile/notices.h"

namespace varnic::imagefile::formats {
namespace {

// libtiff's largest single allocation (a strip or tile buffer, a tag's array): what a picture
// within the limit needs, at 8 bytes a pixel (16-bit samples with alpha), and never less than this.
constexpr std::uint64_t kMinLargestAllocation = std::uint64_t{64} << 20;
constexpr std::uint64_t kBytesPerPixelAtMost = 8;
// The most decoded bytes one byte of coded data can give: PackBits repeats a byte 128 times for
// two; deflate's bound as for PNG; LZW's codes of 12 bits name strings of up to 4096 bytes; JPEG
// spends a bit at least on each 8x8 block of up to four 8-bit components. Other compressions
// (zstd, LZMA, ...) have no useful bound and are not checked.
constexpr std::uint64_t kPackBitsRatio = 64;
constexpr std::uint64_t kDeflateRatio = 1032;
constexpr std::uint64_t kLzwRatio = 4096 * 8 / 12 + 1;
constexpr std::uint64_t kJpegRatio = 8 * 64 * 4;
// Counting the pages walks the directory chain; beyond this many the count stops.
constexpr unsigned kMaxPagesCounted = 10000;

struct MemoryFile {
  Bytes bytes;
  std::uint64_t position = 0;
};

tmsize_t read_memory(thandle_t handle, void* out, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (size <= 0 || file->position >= file->bytes.size()) return 0;
  const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), file->bytes.size() - file->position);
  std::memcpy(out, file->bytes.data() + file->position, static_cast<std::size_t>(count));
  file->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t write_nothing(thandle_t, void*, tmsize_t) { return 0; }

toff_t seek_memory(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  const std::uint64_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->bytes.size() : 0;
  file->position = base + offset;  // reads beyond the end give nothing
  return file->position;
}

int close_nothing(thandle_t) { return 0; }

toff_t memory_size(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }

int map_memory(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  *base = const_cast<std::uint8_t*>(file->bytes.data());  // libtiff only reads a file opened "r"
  *size = file->bytes.size();
  return 1;
}

void unmap_nothing(thandle_t, void*, toff_t) {}

// Keeps libtiff's first error; warnings are dropped (libraries never print).
int on_error(TIFF*, void* user_data, const char*, const char* format, va_list arguments) {
  auto* error = static_cast<std::string*>(user_data);
  if (error->empty()) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    *error = text;
  }
  return 1;
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};

std::uint8_t reduce16(std::uint16_t v) { return static_cast<std::uint8_t>((v * 255u + 32895u) >> 16); }

std::uint8_t over_white(unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// What the first page holds and how one row of its interleaved samples becomes picture pixels.
struct Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  unsigned samples = 0;     // per pixel, extra samples included
  unsigned colours = 0;     // 1 grey, 3 RGB, 4 CMYK
  unsigned sample_bytes = 1;
  bool min_is_white = false;
  enum class Alpha : std::uint8_t { kNone, kStraight, kPremultiplied } alpha = Alpha::kNone;
  bool cmyk() const { return colours == 4; }
  bool grey() const { return colours == 1; }
  std::size_t row_bytes() const { return std::size_t{width} * samples * sample_bytes; }
};

struct RowConverter {
  const Layout& layout;
  const ColourConverter& converter;
  std::vector<std::uint8_t>& cmyk_row;

  unsigned sample(const std::uint8_t* row, std::size_t index) const {
    if (layout.sample_bytes == 1) return row[index];
    std::uint16_t v;
    std::memcpy(&v, row + 2 * index, 2);  // libtiff gives native byte order
    return reduce16(v);
  }

  void operator()(const std::uint8_t* in, std::uint8_t* out) const {
    const std::size_t width = layout.width;
    const std::size_t n = layout.samples;
    const std::size_t out_pixel = layout.grey() ? 1 : 3;
    if (layout.cmyk()) {
      const std::size_t colour_bytes = 4 * std::size_t{layout.sample_bytes};
      for (std::size_t x = 0; x < width; ++x)
        std::memcpy(&cmyk_row[x * colour_bytes], in + x * n * layout.sample_bytes, colour_bytes);
      converter.convert(cmyk_row.data(), out, width);
    } else {
      for (std::size_t x = 0; x < width; ++x) {
        for (std::size_t c = 0; c < out_pixel; ++c) {
          // Blue first in the picture, red first in the file.
          const unsigned v = sample(in, x * n + (layout.grey() ? 0 : 2 - c));
          out[x * out_pixel + c] = static_cast<std::uint8_t>(layout.min_is_white ? 255 - v : v);
        }
      }
    }
    if (layout.alpha == Layout::Alpha::kNone) return;
    for (std::size_t x = 0; x < width; ++x) {
      const unsigned a = sample(in, x * n + layout.colours);
      for (std::size_t c = 0; c < out_pixel; ++c) {
        std::uint8_t& v = out[x * out_pixel + c];
        v = layout.alpha == Layout::Alpha::kStraight ? over_white(v, a)
                                                     : static_cast<std::uint8_t>(std::min(255u, v + 255u - a));
      }
    }
  }
};

std::uint64_t compression_ratio(unsigned compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return kPackBitsRatio;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return kDeflateRatio;
    case COMPRESSION_LZW: return kLzwRatio;
    case COMPRESSION_JPEG: return kJpegRatio;
    default: return 0;  // unbounded
  }
}

// Whether the page's strips or tiles hold coded bytes enough for the rows it declares.
bool enough_data(TIFF* tif, const Layout& layout, std::uint16_t compression, std::uint64_t file_size) {
  const std::uint64_t ratio = compression_ratio(compression);
  if (ratio == 0) return true;
  const std::uint32_t chunks = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  std::uint64_t coded = 0;
  for (std::uint32_t i = 0; i < chunks && coded < file_size; ++i)
    coded += std::min(TIFFGetStrileByteCount(tif, i), file_size);
  // No count can make the file hold more than it has.
  return std::min(coded, file_size) * ratio >= std::uint64_t{layout.height} * layout.row_bytes();
}

}  // namespace

FileStatus read_tiff(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  auto file = std::make_unique<MemoryFile>();
  file->bytes = bytes;
  std::string error;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return FileStatus::kOutOfMemory;
  const std::uint64_t largest =
      std::max(kMinLargestAllocation, std::min(limits.max_pixels, UINT64_MAX / 16) * kBytesPerPixelAtMost);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(std::min<std::uint64_t>(largest, INT64_MAX / 2)));
  TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, &error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, nullptr);
  const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("TIFF", "r", file.get(), read_memory, write_nothing,
                                                                 seek_memory, close_nothing, memory_size, map_memory,
                                                                 unmap_nothing, options));
  TIFFOpenOptionsFree(options);
  auto corrupt = [&]() {
    message = std::string(status_message(FileStatus::kTiffCorrupt)) + (error.empty() ? "" : ": " + error);
    return FileStatus::kTiffCorrupt;
  };
  if (tiff == nullptr) return corrupt();
  TIFF* const tif = tiff.get();

  Layout layout;
  std::uint16_t samples = 1, bits = 1, sample_format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  std::uint16_t photometric = 0, compression = COMPRESSION_NONE, ink_set = INKSET_CMYK, orientation = 1;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) ||
      !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
    return corrupt();
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sample_format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &ink_set);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  if (const FileStatus size = check_picture_size(layout.width, layout.height, limits, message); size != FileStatus::kOk)
    return size;

  auto unsupported = [&](const std::string& what) {
    message = "TIFF pictures of " + what + " are not read (8- or 16-bit grey, RGB or CMYK only)";
    return FileStatus::kPhotoLayout;
  };
  if (sample_format != SAMPLEFORMAT_UINT && sample_format != SAMPLEFORMAT_VOID)
    return unsupported(sample_format == SAMPLEFORMAT_IEEEFP ? "floating-point samples" : "signed samples");
  if (bits != 8 && bits != 16) return unsupported(std::to_string(bits) + "-bit samples");
  layout.samples = samples;
  layout.sample_bytes = bits / 8u;
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE: layout.min_is_white = true; [[fallthrough]];
    case PHOTOMETRIC_MINISBLACK: layout.colours = 1; break;
    case PHOTOMETRIC_RGB: layout.colours = 3; break;
    case PHOTOMETRIC_YCBCR:
      // libtiff's JPEG codec gives RGB; other YCbCr files are rare and not read.
      if (compression != COMPRESSION_JPEG || bits != 8) return unsupported("YCbCr samples outside JPEG");
      TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      layout.colours = 3;
      break;
    case PHOTOMETRIC_SEPARATED:
      if (ink_set != INKSET_CMYK) return unsupported("inks other than CMYK");
      layout.colours = 4;
      break;
    default: return unsupported("photometric interpretation " + std::to_string(photometric));
  }
  if (samples < layout.colours) return corrupt();
  std::uint16_t extra_count = 0;
  std::uint16_t* extra_types = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_types);
  unsigned left_out = samples - layout.colours;
  if (left_out > 0 && extra_count > 0 && extra_types != nullptr &&
      (extra_types[0] == EXTRASAMPLE_ASSOCALPHA || extra_types[0] == EXTRASAMPLE_UNASSALPHA)) {
    layout.alpha = extra_types[0] == EXTRASAMPLE_ASSOCALPHA ? Layout::Alpha::kPremultiplied : Layout::Alpha::kStraight;
    --left_out;
  }
  if (!enough_data(tif, layout, compression, bytes.size())) {
    message = "the TIFF file holds too little data for the " + std::to_string(layout.width) + "x" +
              std::to_string(layout.height) + " picture it declares";
    return FileStatus::kTiffCorrupt;
  }

  LoadedPicture result;
  PhotoFacts& facts = result.facts;
  facts.orientation = orientation_from(orientation);
  std::uint32_t length = 0;
  void* data = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &data) && data != nullptr)
    facts.colour.icc_profile.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + length);
  facts.xmp = TIFFGetField(tif, TIFFTAG_XMLPACKET, &length, &data) != 0;
  facts.iptc = TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &length, &data) != 0;
  if (!facts.iptc && TIFFGetField(tif, TIFFTAG_PHOTOSHOP, &length, &data) && data != nullptr)
    facts.iptc = photoshop_has_iptc({static_cast<const std::uint8_t*>(data), length});
  toff_t exif_offset = 0;
  facts.exif = TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif_offset) != 0;
  using TextTag = std::pair<std::uint32_t, std::string*>;
  for (const auto& [tag, text] : {TextTag{TIFFTAG_MAKE, &facts.camera.make}, TextTag{TIFFTAG_MODEL, &facts.camera.model},
                                   TextTag{TIFFTAG_DATETIME, &facts.camera.date_taken}}) {
    char* value = nullptr;
    if (TIFFGetField(tif, tag, &value) && value != nullptr)
      *text = clean_exif_text({reinterpret_cast<const std::uint8_t*>(value), std::strlen(value)}, kMaxExifTextBytes);
  }

  ColourConverter converter;
  std::vector<std::uint8_t> cmyk_row;
  if (layout.cmyk()) {
    std::string source;
    std::string why;
    const SampleLayout from = layout.sample_bytes == 2 ? SampleLayout::kCmyk16 : SampleLayout::kCmyk;
    if (converter.prepare(facts.colour, from, source, why) != ColourConverter::Outcome::kReady) {
      if (!facts.colour.icc_profile.empty())
        message = std::string(status_message(FileStatus::kCmykWithoutProfile)) + "; " +
                  notices::colour_unusable(source, why);
      return FileStatus::kCmykWithoutProfile;
    }
    facts.colour.applied = true;
    cmyk_row.resize(std::size_t{layout.width} * 4 * layout.sample_bytes);
    result.notices.push_back(notices::cmyk_converted(source));
  }
  if (bits == 16) result.notices.push_back(notices::samples_reduced(16));
  if (layout.alpha != Layout::Alpha::kNone) result.notices.push_back(notices::transparency_blended());
  if (left_out > 0) result.notices.push_back(notices::extra_samples_left_out(left_out));

  PictureBuffer& picture = result.picture;
  if (const FileStatus made = new_picture(layout.width, layout.height, layout.grey(), true, picture);
      made != FileStatus::kOk)
    return made;
  const std::size_t stride = picture.geometry().stride;
  auto picture_row = [&](std::size_t y) { return picture.pixels.data() + (layout.height - 1 - y) * stride; };
  const RowConverter convert{layout, converter, cmyk_row};

  if (!TIFFIsTiled(tif) && planar == PLANARCONFIG_CONTIG) {
    if (TIFFScanlineSize64(tif) != layout.row_bytes()) return corrupt();
    std::vector<std::uint8_t> row(layout.row_bytes());
    for (std::uint32_t y = 0; y < layout.height; ++y) {
      if (TIFFReadScanline(tif, row.data(), y, 0) < 0) return corrupt();
      convert(row.data(), picture_row(y));
    }
  } else {
    // Chunks (tiles, or strips of one sample each) gathered into bands of interleaved rows.
    const bool tiled = TIFFIsTiled(tif) != 0;
    std::uint32_t chunk_width = layout.width;
    std::uint32_t chunk_height = layout.height;
    if (tiled) {
      TIFFGetField(tif, TIFFTAG_TILEWIDTH, &chunk_width);
      TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunk_height);
    } else {
      TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &chunk_height);
    }
    chunk_height = std::min(chunk_height, layout.height);
    const bool separate = planar == PLANARCONFIG_SEPARATE;
    const unsigned planes = separate ? layout.samples : 1;
    const std::size_t chunk_pixel = (separate ? 1 : layout.samples) * std::size_t{layout.sample_bytes};
    const std::uint64_t chunk_bytes = tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    if (chunk_width == 0 || chunk_height == 0 ||
        chunk_bytes < std::uint64_t{chunk_width} * chunk_pixel * chunk_height || chunk_bytes > largest)
      return corrupt();
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(chunk_bytes));
    std::vector<std::uint8_t> band(layout.row_bytes() * chunk_height);
    const std::size_t pixel = std::size_t{layout.samples} * layout.sample_bytes;
    for (std::uint32_t top = 0; top < layout.height; top += chunk_height) {
      const std::uint32_t rows = std::min(chunk_height, layout.height - top);
      for (unsigned plane = 0; plane < planes; ++plane) {
        for (std::uint32_t left = 0; left < layout.width; left += chunk_width) {
          const tmsize_t got =
              tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, static_cast<std::uint16_t>(plane)),
                                          chunk.data(), static_cast<tmsize_t>(chunk.size()))
                    : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, top, static_cast<std::uint16_t>(plane)),
                                           chunk.data(), static_cast<tmsize_t>(chunk.size()));
          if (got < 0) return corrupt();
          const std::uint32_t columns = std::min(chunk_width, layout.width - left);
          for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint8_t* from = chunk.data() + std::size_t{r} * chunk_width * chunk_pixel;
            std::uint8_t* to = band.data() + (std::size_t{r} * layout.width + left) * pixel;
            if (!separate) {
              std::memcpy(to, from, std::size_t{columns} * pixel);
              continue;
            }
            for (std::uint32_t c = 0; c < columns; ++c)
              std::memcpy(to + c * pixel + plane * layout.sample_bytes, from + c * chunk_pixel, layout.sample_bytes);
          }
        }
      }
      for (std::uint32_t r = 0; r < rows; ++r) convert(band.data() + r * layout.row_bytes(), picture_row(top + r));
    }
  }

  // Pages after the first, leaving out reduced-resolution copies (thumbnails) of a page.
  unsigned pages = 1;
  for (unsigned directories = 1; directories < kMaxPagesCounted && TIFFReadDirectory(tif); ++directories) {
    std::uint32_t kind = 0;
    if (!TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind) || (kind & FILETYPE_REDUCEDIMAGE) == 0) ++pages;
  }
  if (pages > 1) result.notices.push_back(notices::pages_left_out(pages));
  if (facts.exif && TIFFReadEXIFDirectory(tif, exif_offset)) {
    char* taken = nullptr;
    if (TIFFGetField(tif, EXIFTAG_DATETIMEORIGINAL, &taken) && taken != nullptr)
      facts.camera.date_taken = clean_exif_text({reinterpret_cast<const std::uint8_t*>(taken), std::strlen(taken)},
                                               kMaxExifTextBytes);
    // EXIF rationals come as float or double depending on how libtiff stores the tag.
    auto rational = [tif](ttag_t tag) {
      const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
      if (field == nullptr) return 0.0;
      if (TIFFFieldSetGetSize(field) == 8) {
        double v = 0;
        return TIFFGetField(tif, tag, &v) ? v : 0.0;
      }
      float v = 0;
      return TIFFGetField(tif, tag, &v) ? double{v} : 0.0;
    };
    facts.camera.exposure_seconds = rational(EXIFTAG_EXPOSURETIME);
    facts.camera.f_number = rational(EXIFTAG_FNUMBER);
    facts.camera.focal_length_mm = rational(EXIFTAG_FOCALLENGTH);
    std::uint16_t count = 0;
    std::uint16_t* iso = nullptr;
    if (TIFFGetField(tif, EXIFTAG_ISOSPEEDRATINGS, &count, &iso) && count > 0 && iso != nullptr) facts.camera.iso = iso[0];
  }
  out = std::move(result);
  return FileStatus::kOk;
}

}  // namespace varnic::imagefile::formats
