// SPDX-License-Identifier: BSD-2-Clause
// The C interface over the C++ interface: versions, errors, settings handles, encode, decode and
// header facts. Picture files are in c_files.cpp.
#include "api/c_interface.h"

#include <cstdlib>
#include <cstring>
#include <span>

namespace varnic::c_interface {
namespace {

// The C header spells the library's ranges for C programs; they must be the library's.
static_assert(VARNIC_MIN_QUALITY == kMinQuality && VARNIC_MAX_QUALITY == kMaxQuality &&
              VARNIC_DEFAULT_QUALITY == kDefaultQuality);
static_assert(VARNIC_MIN_LEVELS == kMinLevels && VARNIC_MAX_LEVELS == kMaxLevels &&
              VARNIC_DEFAULT_LEVELS == kDefaultLevels);
static_assert(VARNIC_MAX_QUANT_STEP == kMaxQuantStep && VARNIC_MAX_THRESHOLD == kMaxThreshold);
static_assert(VARNIC_MAX_OPTIMIZE == kMaxOptimize && VARNIC_MAX_COMMENT_BYTES == kMaxCommentBytes);
static_assert(VARNIC_DEFAULT_MAX_PIXELS == kDefaultMaxPixels && VARNIC_MAX_THREADS == kMaxThreads);

// Kept per thread so that a caller on another thread never sees this one's message, and valid
// until this thread's next failure.
thread_local std::string t_error;

varnic_stage to_c(Progress::Stage stage) {
  switch (stage) {
    case Progress::Stage::kEncodePlane: return VARNIC_STAGE_ENCODE_PLANE;
    case Progress::Stage::kDecodePlane: return VARNIC_STAGE_DECODE_PLANE;
    case Progress::Stage::kSynthesisLevel: return VARNIC_STAGE_SYNTHESIS_LEVEL;
  }
  return VARNIC_STAGE_ENCODE_PLANE;
}

template <class Handle>
ProgressCallback progress_of(const Handle& handle) {
  return [&handle](const Progress& progress) {
    if (handle.cancel.load(std::memory_order_relaxed)) return false;
    return handle.progress == nullptr ||
           handle.progress(handle.user, to_c(progress.stage), progress.done, progress.total) == 0;
  };
}

// Why encode would refuse these settings for every picture, in the library's words; empty when
// it would not.
std::string settings_problem(const EncodeOptions& options) {
  const OptionProblem problem = check_encode_options(options);
  return problem ? describe(problem) : std::string();
}

// Applies `change` to a copy of the encoder's options and keeps it only if encode accepts it.
template <class Change>
varnic_status change_settings(varnic_encoder* encoder, const Change& change) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(encoder, "encoder", status)) return status;
    EncodeOptions candidate = encoder->options;
    change(candidate);
    if (std::string problem = settings_problem(candidate); !problem.empty())
      return fail(VARNIC_ERROR_INVALID_ARGUMENT, std::move(problem));
    encoder->options = std::move(candidate);
    return VARNIC_OK;
  });
}

std::optional<std::vector<int>>& quant_steps(EncodeOptions& options, varnic_channel channel) {
  return channel == VARNIC_CHANNEL_Y ? options.quant_y : channel == VARNIC_CHANNEL_I ? options.quant_i : options.quant_q;
}

std::string describe(std::uint32_t width, std::uint32_t height, PixelFormat format) {
  const char* name = format == PixelFormat::kGrey8 ? "grey" : format == PixelFormat::kRgb24 ? "RGB" : "BGR";
  return std::to_string(width) + "x" + std::to_string(height) + " " + name;
}

bool cancelled(const std::atomic<bool>* flag) {
  if (flag == nullptr || !flag->load(std::memory_order_relaxed)) return false;
  fail(VARNIC_ERROR_CANCELLED, std::string(message(Status::kCancelled)));
  return true;
}

varnic_status decode_into_unguarded(const varnic_decoder* decoder, std::span<const std::uint8_t> file,
                                    const varnic_picture& out) {
  const std::optional<PixelFormat> format = pixel_format(out.format);
  if (!format) return VARNIC_ERROR_INVALID_ARGUMENT;
  const std::size_t row_bytes = std::size_t{out.width} * static_cast<std::size_t>(bytes_per_pixel(*format));
  const std::size_t stride = out.stride == 0 ? row_bytes : out.stride;
  if (stride < row_bytes) return fail(VARNIC_ERROR_INVALID_ARGUMENT, "the picture's stride is shorter than a row");
  if (cancelled(decoder == nullptr ? nullptr : &decoder->cancel)) return VARNIC_ERROR_CANCELLED;
  const DecodeOptions options = decode_options(decoder);
  std::string mismatch;
  RowReceiver receiver;
  receiver.begin = [&](const Info&, const RowShape& shape) {
    if (shape.width == out.width && shape.height == out.height && shape.format == *format) return true;
    mismatch = "the file decodes to " + describe(shape.width, shape.height, shape.format) + ", the buffer holds " +
               describe(out.width, out.height, *format);
    return false;
  };
  receiver.rows = [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
    if (decoder != nullptr && decoder->cancel.load(std::memory_order_relaxed)) return false;
    const std::uint32_t at = out.bottom_up ? out.height - 1 - row : row;
    std::memcpy(out.pixels + stride * at, pixels.data(), row_bytes);
    return true;
  };
  Result<Info> decoded = decode_rows(file, options, receiver);
  if (!mismatch.empty()) return fail(VARNIC_ERROR_INVALID_ARGUMENT, mismatch);
  return decoded ? VARNIC_OK : fail(decoded);
}

}  // namespace

varnic_status to_c(Status status) {
  switch (status) {
    case Status::kOk: return VARNIC_OK;
    case Status::kInvalidArgument: return VARNIC_ERROR_INVALID_ARGUMENT;
    case Status::kPictureTooSmall: return VARNIC_ERROR_PICTURE_TOO_SMALL;
    case Status::kNotCompressedFile: return VARNIC_ERROR_NOT_COMPRESSED_FILE;
    case Status::kVersionTooLow: return VARNIC_ERROR_VERSION_TOO_LOW;
    case Status::kVersionTooHigh: return VARNIC_ERROR_VERSION_TOO_HIGH;
    case Status::kInvalidFile: return VARNIC_ERROR_INVALID_FILE;
    case Status::kLimitExceeded: return VARNIC_ERROR_LIMIT_EXCEEDED;
    case Status::kOutOfMemory: return VARNIC_ERROR_OUT_OF_MEMORY;
    case Status::kCancelled: return VARNIC_ERROR_CANCELLED;
    case Status::kInternalError: return VARNIC_ERROR_INTERNAL;
    case Status::kFileError: return VARNIC_ERROR_FILE;
  }
  return VARNIC_ERROR_INTERNAL;
}

varnic_status fail(varnic_status status, std::string message) {
  t_error = std::move(message);
  return status;
}

std::optional<PixelFormat> pixel_format(varnic_pixel_format format) {
  switch (format) {
    case VARNIC_GREY8: return PixelFormat::kGrey8;
    case VARNIC_RGB24: return PixelFormat::kRgb24;
    case VARNIC_BGR24: return PixelFormat::kBgr24;
  }
  fail(VARNIC_ERROR_INVALID_ARGUMENT, "pixel format " + std::to_string(static_cast<int>(format)) +
                                          " is none of VARNIC_GREY8, VARNIC_RGB24, VARNIC_BGR24");
  return std::nullopt;
}

varnic_pixel_format to_c(PixelFormat format) {
  switch (format) {
    case PixelFormat::kGrey8: return VARNIC_GREY8;
    case PixelFormat::kRgb24: return VARNIC_RGB24;
    case PixelFormat::kBgr24: return VARNIC_BGR24;
  }
  return VARNIC_GREY8;
}

std::optional<PictureView> view_of(const varnic_picture& picture) {
  const std::optional<PixelFormat> format = pixel_format(picture.format);
  if (!format) return std::nullopt;
  return PictureView{picture.pixels, picture.width, picture.height, picture.stride, *format, picture.bottom_up != 0};
}

EncodeOptions encode_options(const varnic_encoder* encoder) {
  if (encoder == nullptr) return {};
  EncodeOptions options = encoder->options;
  options.progress = progress_of(*encoder);
  return options;
}

DecodeOptions decode_options(const varnic_decoder* decoder) {
  if (decoder == nullptr) return {};
  DecodeOptions options = decoder->options;
  // Without a function to report to, the cancel flag is watched row by row instead: a progress
  // callback makes the decoder hold the whole picture.
  if (decoder->progress != nullptr) options.progress = progress_of(*decoder);
  return options;
}

std::uint8_t* library_copy(std::span<const std::uint8_t> bytes) {
  auto* copy = static_cast<std::uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
  if (copy == nullptr) throw std::bad_alloc();
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  return copy;
}

varnic_info info_to_c(const Info& in) {
  varnic_info out{};
  out.width = in.width;
  out.height = in.height;
  out.grey = in.grey ? 1 : 0;
  out.version_major = in.version_major;
  out.version_minor = in.version_minor;
  out.coded = in.coded ? 1 : 0;
  out.levels = in.levels;
  for (std::size_t c = 0; c < 3; ++c) {
    out.dropped[c] = in.dropped[c];
    out.plane_bytes[c] = in.plane_bytes[c];
  }
  out.file_bytes = in.file_bytes;
  out.header_bytes = in.header_bytes;
  // The format holds at most VARNIC_MAX_COMMENT_BYTES; the header parser refuses longer ones.
  out.comment_length = std::min(in.comment.size(), std::size_t{VARNIC_MAX_COMMENT_BYTES});
  std::memcpy(out.comment, in.comment.data(), out.comment_length);
  return out;
}

}  // namespace varnic::c_interface

using namespace varnic;
using namespace varnic::c_interface;

extern "C" {

int varnic_abi_version(void) { return VARNIC_ABI_VERSION; }

const char* varnic_version(void) {
  // version() views a literal, which ends in a NUL.
  return version().data();
}

const char* varnic_status_name(varnic_status status) {
  switch (status) {
    case VARNIC_OK: return "ok";
    case VARNIC_ERROR_INVALID_ARGUMENT: return "invalid-argument";
    case VARNIC_ERROR_PICTURE_TOO_SMALL: return "picture-too-small";
    case VARNIC_ERROR_NOT_COMPRESSED_FILE: return "not-compressed-file";
    case VARNIC_ERROR_VERSION_TOO_LOW: return "version-too-low";
    case VARNIC_ERROR_VERSION_TOO_HIGH: return "version-too-high";
    case VARNIC_ERROR_INVALID_FILE: return "invalid-file";
    case VARNIC_ERROR_LIMIT_EXCEEDED: return "limit-exceeded";
    case VARNIC_ERROR_OUT_OF_MEMORY: return "out-of-memory";
    case VARNIC_ERROR_CANCELLED: return "cancelled";
    case VARNIC_ERROR_INTERNAL: return "internal-error";
    case VARNIC_ERROR_FILE: return "file-error";
  }
  return "unknown";
}

const char* varnic_error_message(void) { return t_error.c_str(); }

void varnic_free(void* memory) { std::free(memory); }

// --- Encoder settings -----------------------------------------------------------------------

varnic_status varnic_encoder_create(varnic_encoder** encoder) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(encoder, "encoder", status)) return status;
    *encoder = new varnic_encoder;
    return VARNIC_OK;
  });
}

void varnic_encoder_destroy(varnic_encoder* encoder) { delete encoder; }

varnic_status varnic_encoder_set_quality(varnic_encoder* encoder, int quality) {
  return change_settings(encoder, [&](EncodeOptions& o) { o.quality = quality; });
}

varnic_status varnic_encoder_set_image_type(varnic_encoder* encoder, varnic_image_type type) {
  return change_settings(encoder, [&](EncodeOptions& o) { o.type = static_cast<ImageType>(type); });
}

varnic_status varnic_encoder_set_levels(varnic_encoder* encoder, int levels) {
  return change_settings(encoder, [&](EncodeOptions& o) {
    o.levels = levels == 0 ? std::nullopt : std::optional<int>(levels);
  });
}

varnic_status varnic_encoder_set_quant_steps(varnic_encoder* encoder, varnic_channel channel, const int* steps,
                                             size_t count) {
  if (channel != VARNIC_CHANNEL_Y && channel != VARNIC_CHANNEL_I && channel != VARNIC_CHANNEL_Q)
    return fail(VARNIC_ERROR_INVALID_ARGUMENT,
                "channel " + std::to_string(static_cast<int>(channel)) + " is none of Y, I, Q (0, 1, 2)");
  if (count != 0 && steps == nullptr) return fail(VARNIC_ERROR_INVALID_ARGUMENT, "steps must not be NULL");
  return change_settings(encoder, [&](EncodeOptions& o) {
    quant_steps(o, channel) = count == 0 ? std::nullopt : std::optional(std::vector<int>(steps, steps + count));
  });
}

varnic_status varnic_encoder_set_thresholds(varnic_encoder* encoder, const int* thresholds, size_t count) {
  if (count != 0 && thresholds == nullptr) return fail(VARNIC_ERROR_INVALID_ARGUMENT, "thresholds must not be NULL");
  return change_settings(encoder, [&](EncodeOptions& o) {
    o.thresholds = count == 0 ? std::nullopt : std::optional(std::vector<int>(thresholds, thresholds + count));
  });
}

varnic_status varnic_encoder_set_dropped_levels(varnic_encoder* encoder, int y, int i, int q) {
  return change_settings(encoder, [&](EncodeOptions& o) {
    o.dropped = y == -1 && i == -1 && q == -1 ? std::nullopt : std::optional(std::array<int, 3>{y, i, q});
  });
}

varnic_status varnic_encoder_set_optimize(varnic_encoder* encoder, int level) {
  return change_settings(encoder, [&](EncodeOptions& o) { o.optimize = level; });
}

varnic_status varnic_encoder_set_comment(varnic_encoder* encoder, const char* comment, size_t length) {
  if (length != 0 && comment == nullptr) return fail(VARNIC_ERROR_INVALID_ARGUMENT, "comment must not be NULL");
  return change_settings(encoder, [&](EncodeOptions& o) { o.comment.assign(comment == nullptr ? "" : comment, length); });
}

varnic_status varnic_encoder_set_threads(varnic_encoder* encoder, int threads) {
  return change_settings(encoder, [&](EncodeOptions& o) { o.threads = threads; });
}

varnic_status varnic_encoder_set_target_size(varnic_encoder* encoder, uint64_t bytes) {
  return change_settings(encoder, [&](EncodeOptions& o) {
    o.target_size = bytes == 0 ? std::nullopt : std::optional<std::uint64_t>(bytes);
  });
}

varnic_status varnic_encoder_set_target_psnr(varnic_encoder* encoder, double db) {
  return change_settings(encoder, [&](EncodeOptions& o) {
    o.target_psnr = db == 0 ? std::nullopt : std::optional<double>(db);
  });
}

varnic_status varnic_encoder_set_max_pixels(varnic_encoder* encoder, uint64_t pixels) {
  return change_settings(encoder, [&](EncodeOptions& o) {
    o.limits.max_pixels = pixels == 0 ? Limits::kDefaultMaxPixels : pixels;
  });
}

varnic_status varnic_encoder_set_progress(varnic_encoder* encoder, varnic_progress_fn progress, void* user) {
  varnic_status status = VARNIC_OK;
  if (missing(encoder, "encoder", status)) return status;
  encoder->progress = progress;
  encoder->user = user;
  return VARNIC_OK;
}

void varnic_encoder_set_cancel(varnic_encoder* encoder, int cancel) {
  if (encoder != nullptr) encoder->cancel.store(cancel != 0, std::memory_order_relaxed);
}

varnic_status varnic_encode(const varnic_encoder* encoder, const varnic_picture* picture, uint8_t** data,
                            size_t* size) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(picture, "picture", status) || missing(data, "data", status) || missing(size, "size", status))
      return status;
    const std::optional<PictureView> view = view_of(*picture);
    if (!view) return VARNIC_ERROR_INVALID_ARGUMENT;
    if (cancelled(encoder == nullptr ? nullptr : &encoder->cancel)) return VARNIC_ERROR_CANCELLED;
    Result<Encoded> encoded = encode(*view, encode_options(encoder));
    if (!encoded) return fail(encoded);
    *data = library_copy(encoded.value().bytes);
    *size = encoded.value().bytes.size();
    return VARNIC_OK;
  });
}

// --- Decoder settings -----------------------------------------------------------------------

varnic_status varnic_decoder_create(varnic_decoder** decoder) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if (missing(decoder, "decoder", status)) return status;
    *decoder = new varnic_decoder;
    return VARNIC_OK;
  });
}

void varnic_decoder_destroy(varnic_decoder* decoder) { delete decoder; }

varnic_status varnic_decoder_set_reduce(varnic_decoder* decoder, int reduce) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  if (reduce < 0) return fail(VARNIC_ERROR_INVALID_ARGUMENT, "reduce " + std::to_string(reduce) + " must be 0 or more");
  decoder->options.reduce = reduce;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_colour_format(varnic_decoder* decoder, varnic_pixel_format format) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  if (format != VARNIC_RGB24 && format != VARNIC_BGR24)
    return fail(VARNIC_ERROR_INVALID_ARGUMENT, "the colour format must be VARNIC_RGB24 or VARNIC_BGR24");
  decoder->options.colour_format = format == VARNIC_RGB24 ? PixelFormat::kRgb24 : PixelFormat::kBgr24;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_threads(varnic_decoder* decoder, int threads) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  EncodeOptions check;  // the encoder's rule for threads is the decoder's
  check.threads = threads;
  if (std::string problem = settings_problem(check); !problem.empty())
    return fail(VARNIC_ERROR_INVALID_ARGUMENT, std::move(problem));
  decoder->options.threads = threads;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_png_level(varnic_decoder* decoder, int level) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  if (level < kMinPngLevel || level > kMaxPngLevel) {
    const bool low = level < kMinPngLevel;
    return fail(VARNIC_ERROR_INVALID_ARGUMENT, "PNG level " + std::to_string(level) +
                                                   (low ? " is below the minimum " : " is above the maximum ") +
                                                   std::to_string(low ? kMinPngLevel : kMaxPngLevel));
  }
  decoder->options.png_level = level;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_keep_orientation(varnic_decoder* decoder, int keep) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  decoder->read.keep_orientation = keep != 0;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_keep_colours(varnic_decoder* decoder, int keep) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  decoder->read.keep_colours = keep != 0;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_max_pixels(varnic_decoder* decoder, uint64_t pixels) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  decoder->options.limits.max_pixels = pixels == 0 ? Limits::kDefaultMaxPixels : pixels;
  return VARNIC_OK;
}

varnic_status varnic_decoder_set_progress(varnic_decoder* decoder, varnic_progress_fn progress, void* user) {
  varnic_status status = VARNIC_OK;
  if (missing(decoder, "decoder", status)) return status;
  decoder->progress = progress;
  decoder->user = user;
  return VARNIC_OK;
}

void varnic_decoder_set_cancel(varnic_decoder* decoder, int cancel) {
  if (decoder != nullptr) decoder->cancel.store(cancel != 0, std::memory_order_relaxed);
}

// --- Decoding -------------------------------------------------------------------------------

varnic_status varnic_read_info(const varnic_decoder* decoder, const uint8_t* data, size_t size, varnic_info* info) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if ((size != 0 && missing(data, "data", status)) || missing(info, "info", status)) return status;
    Result<Info> probed = probe(std::span(data, size), decode_options(decoder).limits);
    if (!probed) return fail(probed);
    *info = info_to_c(probed.value());
    return VARNIC_OK;
  });
}

varnic_status varnic_decode_layout(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                   varnic_picture* layout) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if ((size != 0 && missing(data, "data", status)) || missing(layout, "layout", status)) return status;
    const DecodeOptions options = decode_options(decoder);
    Result<RowShape> shape = decoded_shape(std::span(data, size), options);
    if (!shape) return fail(shape);
    *layout = varnic_picture{nullptr, shape.value().width, shape.value().height, 0, to_c(shape.value().format), 0};
    return VARNIC_OK;
  });
}

varnic_status varnic_decode(const varnic_decoder* decoder, const uint8_t* data, size_t size, varnic_picture* picture) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if ((size != 0 && missing(data, "data", status)) || missing(picture, "picture", status)) return status;
    varnic_picture out{};
    if (status = varnic_decode_layout(decoder, data, size, &out); status != VARNIC_OK) return status;
    const std::size_t bytes = std::size_t{out.width} * out.height * (out.format == VARNIC_GREY8 ? 1u : 3u);
    out.pixels = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (out.pixels == nullptr) return fail(VARNIC_ERROR_OUT_OF_MEMORY, "out of memory for the decoded picture");
    if (status = decode_into_unguarded(decoder, std::span(data, size), out); status != VARNIC_OK) {
      std::free(out.pixels);
      return status;
    }
    *picture = out;
    return VARNIC_OK;
  });
}

varnic_status varnic_decode_into(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                 const varnic_picture* picture) {
  return guarded([&]() -> varnic_status {
    varnic_status status = VARNIC_OK;
    if ((size != 0 && missing(data, "data", status)) || missing(picture, "picture", status) ||
        missing(picture->pixels, "picture->pixels", status))
      return status;
    return decode_into_unguarded(decoder, std::span(data, size), *picture);
  });
}

}  // extern "C"
