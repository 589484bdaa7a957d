// SPDX-License-Identifier: BSD-2-Clause
// PNG through libpng's classic interface, from and to memory. Rows are decoded straight into the
// picture buffer (bottom row last in the file, first in the buffer; blue first), grey kept grey.
// libpng reports errors by longjmp, so every object that must survive one lives in a heap record
// reached through a pointer that is set before setjmp and never changed afterwards.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imagefile/formats.h"
#include "imagefile/notices.h"
#include "imagefile/png_chunks.h"
#include "utils/memory.h"
#include "varnic/rules.h"

#if defined(VARNIC_HAVE_ISAL)
#include <isa-l/igzip_lib.h>
#endif

namespace varnic::imagefile::formats {
namespace {

constexpr png_alloc_size_t kPngChunkMallocFloor = png_alloc_size_t{8} << 20;

struct PngReadState {
  std::span<const std::uint8_t> input;
  std::size_t position = 0;
  std::string error;
  std::vector<std::uint8_t> decoded;  // rows as libpng gives them, when they need converting
  std::vector<png_bytep> rows;
  LoadedPicture result;
};

void read_from_memory(png_structp png, png_bytep out, png_size_t count) {
  auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
  if (count > state->input.size() - state->position) png_error(png, "the file ends inside the picture data");
  std::memcpy(out, state->input.data() + state->position, count);
  state->position += count;
}

void report_error(png_structp png, png_const_charp text) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  if (error != nullptr && error->empty()) *error = text;
  png_longjmp(png, 1);
}

void ignore_warning(png_structp, png_const_charp) {}

// One row of libpng's output (1 to 4 channels, alpha last) into grey or blue-green-red pixels.
void convert_row(const std::uint8_t* in, std::size_t in_channels, std::uint8_t* out, std::size_t out_channels,
                 std::size_t width) {
  const bool alpha = in_channels == 2 || in_channels == 4;
  const std::size_t colours = in_channels - (alpha ? 1 : 0);
  for (std::size_t x = 0; x < width; ++x, in += in_channels) {
    for (std::size_t c = 0; c < out_channels; ++c) {
      const std::uint8_t v = in[colours == 1 ? 0 : c];  // a grey palette's blue is its level
      *out++ = alpha ? blend_over_white(v, in[in_channels - 1]) : v;
    }
  }
}

}  // namespace

bool sniff_png(Bytes bytes) { return bytes.size() >= kPngSignatureBytes && png_sig_cmp(bytes.data(), 0, 4) == 0; }

FileStatus read_png(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  if (bytes.size() < kPngSignatureBytes || png_sig_cmp(bytes.data(), 0, kPngSignatureBytes) != 0)
    return FileStatus::kNotPng;

  auto state = std::make_unique<PngReadState>();
  state->input = bytes;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state->error, report_error, ignore_warning);
  if (png == nullptr) {
    message = "cannot start the PNG reader";
    return FileStatus::kOutOfMemory;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    message = "cannot start the PNG reader";
    return FileStatus::kOutOfMemory;
  }
  PngReadState* const s = state.get();
  LoadedPicture* const result = &s->result;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (!s->error.empty()) message = std::string(status_message(FileStatus::kPngCorrupt)) + ": " + s->error;
    return FileStatus::kPngCorrupt;
  }
  png_set_read_fn(png, s, read_from_memory);
  // libpng keeps ancillary chunks, some (eXIf) allocated at their declared length before a byte of
  // them is read. It gives us sBIT and the inflated iCCP (tRNS is always handled; the other
  // chunks we use are read in place by scan_png_chunks): skip the rest, and cap any other chunk
  // buffer near the file's size.
  static constexpr png_byte kUsedAncillary[] = {'s', 'B', 'I', 'T', '\0', 'i', 'C', 'C', 'P', '\0'};
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsedAncillary, 2);
  png_set_chunk_malloc_max(png, std::max<png_alloc_size_t>(bytes.size(), kPngChunkMallocFloor));
  png_read_info(png, info);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colour_type = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour_type, nullptr, nullptr, nullptr);
  auto refuse = [&png, &info](FileStatus status) {
    png_destroy_read_struct(&png, &info, nullptr);
    return status;
  };
  const PngChunks chunks = scan_png_chunks(bytes);
  if (const FileStatus s_size =
          check_png_size(width, height, png_get_channels(png, info) * static_cast<unsigned>(depth), chunks, limits, message);
      s_size != FileStatus::kOk)
    return refuse(s_size);

  bool grey_palette = false;
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    int count = 0;
    grey_palette = png_get_PLTE(png, info, &palette, &count) != 0 && count > 0;
    for (int i = 0; grey_palette && i < count; ++i)
      grey_palette = palette[i].red == palette[i].green && palette[i].green == palette[i].blue;
  }
  const bool has_alpha = (colour_type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool colour = (colour_type & PNG_COLOR_MASK_COLOR) != 0 && !grey_palette;

  if (depth == 16) {
    png_set_scale_16(png);  // rounds to nearest: 0x00C0 gives 1, not 0
    png_color_8p significant = nullptr;
    int bits = 16;
    if (png_get_sBIT(png, info, &significant) != 0) {
      bits = std::max({significant->red, significant->green, significant->blue, significant->gray});
      if (bits <= 8 || bits > 16) bits = 16;
    }
    result->notices.push_back(notices::samples_reduced(bits));
  }
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_palette_to_rgb(png);
    if (!grey_palette) result->notices.push_back(notices::palette_expanded());
  }
  if (colour_type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (has_alpha) result->notices.push_back(notices::transparency_blended());
  add_png_facts(chunks, result->facts);
  png_charp profile_name = nullptr;
  int profile_compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profile_length = 0;
  if (png_get_iCCP(png, info, &profile_name, &profile_compression, &profile, &profile_length) != 0 &&
      profile != nullptr) {
    result->facts.colour.icc_profile.assign(profile, profile + profile_length);
    result->facts.colour.profile_unreadable = false;
  }
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t in_channels = png_get_channels(png, info);
  const std::size_t out_channels = colour ? 3 : 1;
  if (png_get_rowbytes(png, info) != std::size_t{width} * in_channels) png_error(png, "unexpected row layout");

  // Rows libpng gives in the picture's own layout go straight into it, the top row last; others
  // (alpha, a grey palette) through one row, or through the whole picture when it is interlaced.
  PictureBuffer& picture = result->picture;
  const bool direct = in_channels == out_channels;
  FileStatus made = new_picture(width, height, !colour, true, picture);
  try {
    if (made == FileStatus::kOk) {
      s->rows.resize(direct || passes > 1 ? height : 1);
      if (!direct) utils::resize_large(s->decoded, std::size_t{width} * in_channels * s->rows.size());
    }
  } catch (const std::bad_alloc&) {
    made = FileStatus::kOutOfMemory;
  }
  if (made != FileStatus::kOk) {
    message = "out of memory reading the PNG picture";
    return refuse(made);
  }
  const std::size_t stride = picture.geometry().stride;
  auto picture_row = [&](std::size_t y) { return picture.pixels.data() + (height - 1 - y) * stride; };
  for (std::size_t y = 0; y < s->rows.size(); ++y)
    s->rows[y] = direct ? picture_row(y) : s->decoded.data() + y * width * in_channels;
  if (direct || passes > 1) {
    png_read_image(png, s->rows.data());
    for (std::size_t y = 0; !direct && y < height; ++y)
      convert_row(s->rows[y], in_channels, picture_row(y), out_channels, width);
  } else {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, s->rows[0], nullptr);
      convert_row(s->rows[0], in_channels, picture_row(y), out_channels, width);
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  out = std::move(*result);
  return FileStatus::kOk;
}

namespace {

// The row filter and zlib strategy of the levels libpng compresses (bench/results/png_output.md).
// Stored rows gain nothing from a filter. The fast levels take the up filter: the cheapest, and on
// photographs as small as Paeth's at these levels. The others take libpng's own choice per row and
// strategy, so that level 6 writes the bytes earlier versions wrote.
struct PngCompression {
  int filters;
  int strategy;
};
PngCompression png_compression(int level) {
  if (level == 0) return {PNG_FILTER_NONE, Z_DEFAULT_STRATEGY};
  if (level <= 3) return {PNG_FILTER_UP, Z_DEFAULT_STRATEGY};
  return {PNG_ALL_FILTERS, Z_FILTERED};
}

#if defined(VARNIC_HAVE_ISAL)
// Where ISA-L is built for the machine, the fast levels deflate with its levels of the same
// numbers: at level 1 about four times zlib's speed for as small a file. Rows take the up filter as
// above; libpng still writes the signature and header, and frames the stream as IDAT chunks.
bool deflated_here(int level) { return level >= 1 && level <= ISAL_DEF_MAX_LEVEL; }

class IdatDeflater {
 public:
  void begin(int level, std::size_t row_bytes) {
    isal_deflate_init(&stream_);
    stream_.level = static_cast<std::uint32_t>(level);
    stream_.gzip_flag = IGZIP_ZLIB;
    const std::size_t level_bytes = level == 1   ? ISAL_DEF_LVL1_DEFAULT
                                    : level == 2 ? ISAL_DEF_LVL2_DEFAULT
                                                 : ISAL_DEF_LVL3_DEFAULT;
    level_buffer_.resize(level_bytes);
    out_.resize(kChunkBytes);
    filtered_.resize(row_bytes + 1);
    previous_.assign(row_bytes, 0);  // the row above the first
    stream_.level_buf = level_buffer_.data();
    stream_.level_buf_size = static_cast<std::uint32_t>(level_bytes);
    stream_.next_out = out_.data();
    stream_.avail_out = kChunkBytes;
  }

  // libpng's errors jump out of these: no local here has a destructor.
  bool row(png_structp png, std::span<const std::uint8_t> pixels) {
    filtered_[0] = PNG_FILTER_VALUE_UP;
    for (std::size_t x = 0; x < pixels.size(); ++x) {
      filtered_[x + 1] = static_cast<std::uint8_t>(pixels[x] - previous_[x]);
    }
    std::copy(pixels.begin(), pixels.end(), previous_.begin());
    return deflate(png, false);
  }
  bool finish(png_structp png) { return deflate(png, true); }

 private:
  static constexpr std::uint32_t kChunkBytes = 256 << 10;

  bool deflate(png_structp png, bool last) {
    stream_.next_in = last ? nullptr : filtered_.data();
    stream_.avail_in = last ? 0 : static_cast<std::uint32_t>(filtered_.size());
    stream_.end_of_stream = last ? 1 : 0;
    for (;;) {
      if (isal_deflate(&stream_) != COMP_OK) return false;
      const bool ended = stream_.internal_state.state == ZSTATE_END;
      if (stream_.avail_out == 0 || (ended && stream_.avail_out < kChunkBytes)) {
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), out_.data(), kChunkBytes - stream_.avail_out);
        stream_.next_out = out_.data();
        stream_.avail_out = kChunkBytes;
      }
      if (last ? ended : stream_.avail_in == 0) return true;
    }
  }

  isal_zstream stream_{};
  std::vector<std::uint8_t> level_buffer_, out_, filtered_, previous_;
};
#else
bool deflated_here(int) { return false; }

struct IdatDeflater {
  void begin(int, std::size_t) {}
  bool row(png_structp, std::span<const std::uint8_t>) { return false; }
  bool finish(png_structp) { return false; }
};
#endif

// Top row first, red first, through libpng's row interface: zlib's output goes to the writer as it
// comes. libpng reports its errors by a jump back into the call that met them, so every call into
// it sits behind its own setjmp.
class PngRowWriter final : public RowFileWriter {
 public:
  PngRowWriter(ByteWriter write, int level) : write_(std::move(write)), level_(level) {}
  ~PngRowWriter() override {
    if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
  }
  PngRowWriter(const PngRowWriter&) = delete;
  PngRowWriter& operator=(const PngRowWriter&) = delete;

  bool top_down() const override { return true; }
  bool rgb() const override { return true; }
  FileStatus begin(std::uint32_t width, std::uint32_t height, bool grey, std::string& message) override {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error_, report_error, ignore_warning);
    if (png_ == nullptr) return FileStatus::kOutOfMemory;
    info_ = png_create_info_struct(png_);
    if (info_ == nullptr) return FileStatus::kOutOfMemory;
    if (setjmp(png_jmpbuf(png_))) {
      message = "PNG writer failed: " + error_;
      return FileStatus::kCannotWrite;
    }
    png_set_write_fn(png_, this, write_piece, flush_nothing);
    if (deflated_here(level_)) deflater_.begin(level_, std::size_t{width} * (grey ? 1u : 3u));
    const PngCompression how = png_compression(level_);
    png_set_compression_level(png_, level_);
    png_set_compression_strategy(png_, how.strategy);
    png_set_filter(png_, PNG_FILTER_TYPE_BASE, how.filters);
    png_set_IHDR(png_, info_, width, height, 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_, info_);
    return written_ ? FileStatus::kOk : FileStatus::kCannotWrite;
  }
  bool row(std::span<const std::uint8_t> pixels) override {
    if (setjmp(png_jmpbuf(png_))) return false;
    if (deflated_here(level_)) return deflater_.row(png_, pixels) && written_;
    png_write_row(png_, pixels.data());
    return written_;
  }
  bool finish() override {
    if (setjmp(png_jmpbuf(png_))) return false;
    if (deflated_here(level_)) {
      if (!deflater_.finish(png_)) return false;
      png_write_chunk(png_, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
      return written_;
    }
    png_write_end(png_, nullptr);
    return written_;
  }

 private:
  static void write_piece(png_structp png, png_bytep data, png_size_t count) {
    auto* self = static_cast<PngRowWriter*>(png_get_io_ptr(png));
    // A writer that failed once takes nothing more; the caller hears it after the call.
    if (self->written_) self->written_ = self->write_(std::span<const std::uint8_t>(data, count));
  }
  static void flush_nothing(png_structp) {}

  ByteWriter write_;
  int level_;
  IdatDeflater deflater_;
  std::string error_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  bool written_ = true;
};

}  // namespace

std::unique_ptr<RowFileWriter> png_row_writer(const ByteWriter& write, const WriteSettings& settings) {
  return std::make_unique<PngRowWriter>(write, settings.png_level);
}

}  // namespace varnic::imagefile::formats
