// SPDX-License-Identifier: BSD-2-Clause
// The codec as the web page's worker sees it. One Session per worker holds the opened picture (the
// page keeps the .cod files it is given); every call returns a plain JavaScript object ({ok: false, message}
// on failure, with `field` when a setting is wrong). Pictures leave as strips of RGBA rows (the
// layout of canvas ImageData) handed to a `paint(top, rows, rgba, width, height)` callback as they
// are made, so
// that no whole second copy of a picture is ever held on either side.
//
// Files are read through the library's own readers (bitmap, Targa, PNM, .cod) and the page's PNG
// reader (png_reader.h), so that the page encodes exactly the pixels `varnic-cli compress` does;
// JPEG and WebP pixels come from the browser.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "codec/settings.h"
#include "format/format.h"
#include "imagefile/registry.h"
#include "metrics.h"
#include "imagefile/notices.h"
#include "imagefile/photo.h"
#include "photo_facts.h"
#include "png_reader.h"
#include "search.h"
#include "ssim.h"
#include "varnic/rules.h"
#include "varnic/varnic.h"

namespace varnic::web {
namespace {

using emscripten::val;
using Clock = std::chrono::steady_clock;

// wasm32 addresses 4 GiB. The opened picture takes 3 bytes a pixel and the decode that checks an
// encode about as much again, beside the input file while it is read; the canvases hold their
// copies outside. 2^26 pixels (8192 x 8192) keep that near 1 GiB at its worst, well inside what
// a browser lets a worker grow to.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;
// Rows handed to the page at once: strips of about this many bytes of RGBA.
constexpr std::size_t kStripBytes = std::size_t{4} << 20;
// Typed numbers are clamped to this before they become ints: far above every bound the encoder's
// validator checks, so it still refuses them, and no wrap.
constexpr std::int64_t kTooLarge = 1 << 20;

// --- conversions ---------------------------------------------------------------------------------

std::span<const std::uint8_t> as_span(const std::vector<std::uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

val failure(const std::string& message, const char* field = nullptr) {
  val out = val::object();
  out.set("ok", false);
  out.set("message", message);
  if (field != nullptr) out.set("field", std::string(field));
  return out;
}

val success() {
  val out = val::object();
  out.set("ok", true);
  return out;
}

// A Uint8Array that owns a copy, so that it outlives the next growth of the wasm memory.
val copy_bytes(const std::uint8_t* data, std::size_t size) {
  return val::global("Uint8Array").new_(emscripten::typed_memory_view(size, data)).call<val>("slice");
}

// A view of wasm memory, valid until the next call that may allocate.
val view_of(std::vector<std::uint8_t>& bytes) { return val(emscripten::typed_memory_view(bytes.size(), bytes.data())); }

val js_array(const auto& values, std::size_t count) {
  val out = val::array();
  for (std::size_t i = 0; i < count; ++i) out.call<void>("push", static_cast<int>(values[i]));
  return out;
}

val strings(const std::vector<std::string>& texts) {
  val out = val::array();
  for (const std::string& t : texts) out.call<void>("push", t);
  return out;
}

bool given(const val& v) { return !v.isUndefined() && !v.isNull(); }

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Runs `body`, turning a failed allocation of the glue's own into a message: nothing may escape
// to the page as an exception.
template <class Body>
val guarded(const char* what, const Body& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return failure(std::string("not enough memory ") + what);
  }
}

// --- strips of RGBA --------------------------------------------------------------------------------

// RGBA rows gathered into strips for the page, in whatever order the rows come: a strip is
// handed over once all its rows are in, and rows come strip after strip.
class Strips {
 public:
  Strips(std::uint32_t width, std::uint32_t height, val paint)
      : width_(width), height_(height),
        rows_(static_cast<std::uint32_t>(std::clamp<std::size_t>(kStripBytes / (std::size_t{width} * 4), 1, height))),
        paint_(std::move(paint)), rgba_(std::size_t{width} * 4 * rows_), filled_((height + rows_ - 1) / rows_) {}

  void put(std::uint32_t y, const std::uint8_t* pixels, PixelFormat format) {
    std::uint8_t* out = &rgba_[std::size_t{y % rows_} * width_ * 4];
    for (std::uint32_t x = 0; x < width_; ++x, out += 4) {
      switch (format) {
        case PixelFormat::kGrey8: out[0] = out[1] = out[2] = pixels[x]; break;
        case PixelFormat::kRgb24: out[0] = pixels[3 * x], out[1] = pixels[3 * x + 1], out[2] = pixels[3 * x + 2]; break;
        case PixelFormat::kBgr24: out[0] = pixels[3 * x + 2], out[1] = pixels[3 * x + 1], out[2] = pixels[3 * x]; break;
      }
      out[3] = 255;
    }
    const std::uint32_t top = y / rows_ * rows_;
    const std::uint32_t count = std::min(rows_, height_ - top);
    if (++filled_[y / rows_] == count)
      paint_(top, count, val(emscripten::typed_memory_view(std::size_t{count} * width_ * 4, rgba_.data())), width_,
             height_);
  }

 private:
  std::uint32_t width_, height_, rows_;
  val paint_;
  std::vector<std::uint8_t> rgba_;
  std::vector<std::uint32_t> filled_;  // rows in of each strip
};

// --- settings --------------------------------------------------------------------------------------

struct Problem {
  const char* field;  // the page's name of the field at fault
  std::string message;
};

// The page's words for a refused setting, with the labels its fields carry.
Problem worded(const OptionProblem& p) {
  struct Field {
    const char* key;
    const char* label;
  };
  auto field = [&]() -> Field {
    switch (p.option) {
      case EncodeOption::kNone: break;
      case EncodeOption::kQuality: return {"quality", "Quality"};
      case EncodeOption::kType: return {"type", "Image type"};
      case EncodeOption::kLevels: return {"levels", "Levels"};
      case EncodeOption::kQuantY: return {"quantY", "Y quantization vector"};
      case EncodeOption::kQuantI: return {"quantI", "I quantization vector"};
      case EncodeOption::kQuantQ: return {"quantQ", "Q quantization vector"};
      case EncodeOption::kThresholds: return {"thresholds", "Thresholds"};
      case EncodeOption::kDropped: return {"dropped", "Dropped levels"};
      case EncodeOption::kComment: return {"comment", "Comment"};
      case EncodeOption::kOptimize: return {"optimizer", "Optimizer"};
      case EncodeOption::kThreads: return {"threads", "Threads"};
      case EncodeOption::kTune: return {"optimizer", "Tuning"};
      case EncodeOption::kTargetSize: return {"targetSize", "Largest file size"};
      case EncodeOption::kTargetPsnr: return {"targetPsnr", "Lowest PSNR"};
    }
    return {"quality", "Settings"};
  }();
  static constexpr const char* kPlanes[3] = {"Y", "I", "Q"};
  std::string subject = field.label;
  if (p.option == EncodeOption::kDropped && p.entry >= 0 && p.entry < 3) subject += std::string(" of ") + kPlanes[p.entry];
  else if (p.entry >= 0) subject += ", number " + std::to_string(p.entry + 1);
  const std::string value = std::to_string(p.value) + (p.option == EncodeOption::kComment ? " bytes" : "");
  using K = OptionProblem::Kind;
  switch (p.kind) {
    case K::kNone: break;
    case K::kBelowMinimum: return {field.key, subject + ": " + value + " is below the smallest allowed, " + std::to_string(p.bound)};
    case K::kAboveMaximum: return {field.key, subject + ": " + value + " is above the largest allowed, " + std::to_string(p.bound)};
    case K::kWrongCount:
      return {field.key, subject + ": " + std::to_string(p.bound) + " numbers are needed (" +
                             (p.option == EncodeOption::kThresholds ? "levels + 1" : "3 × levels + 1") + "), not " +
                             std::to_string(p.value)};
    case K::kOptimizerChooses:
      return {field.key, subject + ": the optimizer chooses it; derive the advanced settings again or set the optimizer to 0"};
    case K::kNeedsOptimizer: return {field.key, subject + ": only the optimizer has it; set the optimizer to 1..3"};
    case K::kConflict: return {field.key, subject + ": give a largest file size or a lowest PSNR, not both"};
  }
  return {field.key, subject};
}

Problem problem(const char* field, const char* label, const std::string& reason) {
  return {field, std::string(label) + ": " + reason};
}

std::optional<Problem> number_list(const val& settings, const char* key, const char* label,
                                   std::optional<std::vector<int>>& out) {
  const val text = settings[key];
  if (!given(text)) return std::nullopt;
  out = parse_number_list(text.as<std::string>());
  if (!out) return problem(key, label, "whole numbers separated by blanks or commas, nothing else");
  return std::nullopt;
}

// A whole number typed in a field; nullopt when it is not one.
std::optional<int> whole(const val& v) {
  const double d = v.as<double>();
  if (!(d >= -kTooLarge && d <= kTooLarge) || d != std::floor(d)) return std::nullopt;
  return static_cast<int>(d);
}

// What a side is to be encoded with, as the page's form gives it:
//   {quality, type, optimizer, threads, comment?, levels?, quantY?, quantI?, quantQ?, thresholds?
//    (texts), dropped? [y, i, q], targetSize? (bytes), targetPsnr? (dB)}.
// What is missing derives from quality, type and levels, as in varnic-cli. The library's
// validator judges every value; the page words its answer.
struct Request {
  EncodeOptions options;
  std::optional<std::uint64_t> target_size;
  std::optional<double> target_psnr;
};

std::optional<Problem> read_request(const val& s, Request& out) {
  EncodeOptions& o = out.options;
  o.quality = s["quality"].as<int>();
  o.type = static_cast<ImageType>(std::clamp(s["type"].as<int>(), 0, 255));
  if (given(s["optimizer"])) o.optimize = s["optimizer"].as<int>();
  if (given(s["threads"])) o.threads = s["threads"].as<int>();
  if (given(s["comment"])) o.comment = s["comment"].as<std::string>();
  if (given(s["levels"])) {
    o.levels = whole(s["levels"]);
    if (!o.levels) return problem("levels", "Levels", "a whole number");
  }
  if (auto p = number_list(s, "quantY", "Y quantization vector", o.quant_y)) return p;
  if (auto p = number_list(s, "quantI", "I quantization vector", o.quant_i)) return p;
  if (auto p = number_list(s, "quantQ", "Q quantization vector", o.quant_q)) return p;
  if (auto p = number_list(s, "thresholds", "Thresholds", o.thresholds)) return p;
  if (given(s["dropped"])) {
    std::array<int, 3> dropped{};
    for (std::size_t c = 0; c < 3; ++c) {
      const std::optional<int> d = whole(s["dropped"][static_cast<unsigned>(c)]);
      if (!d) return problem("dropped", "Dropped levels", "a whole number for each of Y, I and Q");
      dropped[c] = *d;
    }
    o.dropped = dropped;
  }
  if (const OptionProblem checked = check_encode_options(o); checked.kind != OptionProblem::Kind::kNone)
    return worded(checked);
  if (given(s["targetSize"])) {
    const double bytes = s["targetSize"].as<double>();
    if (!(bytes >= 1 && bytes <= 1e15)) return problem("targetSize", "Largest file size", "at least 1 byte");
    out.target_size = static_cast<std::uint64_t>(bytes);
  }
  if (given(s["targetPsnr"])) {
    const double db = s["targetPsnr"].as<double>();
    if (!(db > 0 && db < 1000)) return problem("targetPsnr", "Lowest PSNR", "a number of decibels above 0");
    out.target_psnr = db;
  }
  const bool full = o.quant_y || o.quant_i || o.quant_q || o.thresholds || o.dropped;
  if ((out.target_size || out.target_psnr) && full)
    return problem(out.target_size ? "targetSize" : "targetPsnr", out.target_size ? "Largest file size" : "Lowest PSNR",
                   "a target chooses the quality, which the advanced settings replace; derive them again first");
  return std::nullopt;
}

// --- the session -----------------------------------------------------------------------------------

class Session {
 public:
  // A buffer of `size` bytes for the page to copy a file into, for open_file, png_begin,
  // paint_file or bitmap_file.
  val input(double size) {
    return guarded("to read the file", [&] {
      input_.assign(static_cast<std::size_t>(size), 0);
      return view_of(input_);
    });
  }

  // Opens the .cod, bitmap, Targa or PNM file in the input buffer. Gives {ok, width, height, grey,
  // notices, info?} (info for .cod files) and paints the picture.
  val open_file(const std::string& name, const val& paint) {
    return guarded("to open the picture", [&] {
      std::vector<std::uint8_t> bytes = std::move(input_);
      if (bytes.empty()) return failure("the file is empty");
      const Limits limits{kMaxPixels};
      const FileKind kind = sniff_kind(as_span(bytes), name);
      if (kind == FileKind::kUnknown) return failure(kNotAPicture);
      if (kind == FileKind::kCod) return open_cod(bytes, limits, paint);
      Result<PictureFile> picture = read_picture(as_span(bytes), name, limits);
      if (!picture) return failure(picture.message());
      std::vector<std::uint8_t>().swap(bytes);
      return opened(std::move(picture.value().picture), picture.value().notices, paint);
    });
  }

  // A PNG file in the input buffer, read in three steps: its chunks (begin: {ok, width, height,
  // grey, data: [[offset, length], ...], colourTagged}), the inflated data fed through png_buffer and
  // png_feed, then png_finish, which opens and paints it as open_file does.
  val png_begin() {
    return guarded("to read the PNG picture", [&] {
      png_ = PngReader();
      std::string message;
      const bool ok = png_.begin(as_span(input_), kMaxPixels, message);
      std::vector<std::uint8_t>().swap(input_);
      if (!ok) return failure(message);
      val out = success();
      out.set("width", png_.width());
      out.set("height", png_.height());
      out.set("colourTagged", png_.colour_tagged());
      out.set("grey", png_.grey());
      val data = val::array();
      for (const auto& [offset, length] : png_.data()) {
        val range = val::array();
        range.call<void>("push", static_cast<double>(offset));
        range.call<void>("push", static_cast<double>(length));
        data.call<void>("push", range);
      }
      out.set("data", data);
      // A picture whose colours need converting is read by the browser instead.
      if (!png_.colour_tagged() && !png_.allocate(message)) return failure(message);
      return out;
    });
  }
  val png_buffer(double size) {
    return guarded("to read the PNG picture", [&] {
      staging_.resize(static_cast<std::size_t>(size));
      return view_of(staging_);
    });
  }
  val png_feed(double size) {
    std::string message;
    return png_.feed({staging_.data(), static_cast<std::size_t>(size)}, message) ? success() : failure(message);
  }
  val png_finish(const val& paint) {
    return guarded("to open the picture", [&] {
      std::string message;
      if (!png_.finish(message)) return failure(message);
      const std::vector<std::string> notices = png_.notices();
      imagefile::PictureBuffer picture = png_.take_picture();
      png_ = PngReader();
      return opened(std::move(picture), notices, paint);
    });
  }

  // Pixels the browser decoded (JPEG, WebP, a PNG whose colours need converting), turned and
  // converted to sRGB by the browser as far as it does, given in strips through rgba_buffer and
  // rgba_put, then finished, opened and painted by rgba_finish. The file is in the input buffer
  // for its facts (kind "jpeg", "webp" or "png"), a PNG's inflated colour profile in the profile
  // buffer. `grey` keeps one channel, as the tool does for grey pictures.
  val rgba_begin(int width, int height, bool grey, const std::string& kind) {
    return guarded("to open the picture", [&] {
      const std::vector<std::uint8_t> file = std::move(input_);
      if (width <= 0 || height <= 0) return failure("the browser could not decode the picture");
      if (std::uint64_t(width) * std::uint64_t(height) > kMaxPixels)
        return failure(imagefile::pixel_limit_message(std::uint64_t(width), std::uint64_t(height), kMaxPixels));
      scan_ = kind == "jpeg" ? scan_jpeg(file) : kind == "webp" ? scan_webp(file) : scan_png(file);
      if (kind == "png" && !profile_.empty()) {
        const PhotoScan profiled = scan_profile(profile_);
        scan_.profile = profiled.profile;
        scan_.profile_name = profiled.profile_name;
      }
      std::vector<std::uint8_t>().swap(profile_);
      // The browser turns JPEG and PNG pictures as their EXIF says, not WebP ones.
      scan_.facts.turned = kind != "webp";
      incoming_ = imagefile::PictureBuffer{};
      if (imagefile::new_picture(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), grey, true,
                                 incoming_) != imagefile::FileStatus::kOk)
        return failure("not enough memory to open the picture");
      transparent_ = false;
      return success();
    });
  }
  // A buffer for a PNG's inflated colour profile, before rgba_begin.
  val profile(double size) {
    return guarded("to read the colour profile", [&] {
      profile_.assign(static_cast<std::size_t>(size), 0);
      return view_of(profile_);
    });
  }
  val rgba_buffer(int rows) {
    return guarded("to open the picture", [&] {
      staging_.resize(static_cast<std::size_t>(incoming_.width) * 4 * static_cast<std::size_t>(std::max(rows, 0)));
      return view_of(staging_);
    });
  }
  val rgba_put(int top, int rows) {
    const auto width = static_cast<std::size_t>(incoming_.width);
    const auto height = static_cast<std::size_t>(incoming_.height);
    if (top < 0 || rows < 0 || static_cast<std::size_t>(top) + static_cast<std::size_t>(rows) > height ||
        static_cast<std::size_t>(rows) * width * 4 > staging_.size())
      return failure("the decoded picture is inconsistent");
    const bool grey = incoming_.bits_per_pixel == 8;
    const std::size_t stride = incoming_.geometry().stride;
    for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) {
      // Into the tool's layout: rows bottom-up, blue first.
      std::uint8_t* out = incoming_.pixels.data() + (height - 1 - (static_cast<std::size_t>(top) + r)) * stride;
      const std::uint8_t* in = &staging_[r * width * 4];
      for (std::size_t x = 0; x < width; ++x, in += 4) {
        transparent_ = transparent_ || in[3] != 255;
        if (grey) {
          *out++ = blend_over_white(in[0], in[3]);
        } else {
          *out++ = blend_over_white(in[2], in[3]);
          *out++ = blend_over_white(in[1], in[3]);
          *out++ = blend_over_white(in[0], in[3]);
        }
      }
    }
    return success();
  }
  val rgba_finish(const val& paint) {
    return guarded("to open the picture", [&] {
      std::vector<std::string> notices;
      if (transparent_) notices.push_back(imagefile::notices::transparency_blended());
      // The browser has converted the colours; the notice is the tool's.
      const bool grey = incoming_.bits_per_pixel == 8;
      if (scan_.profile) {
        notices.push_back(imagefile::notices::colour_converted(grey, imagefile::notices::profile_source(scan_.profile_name)));
      } else if (!imagefile::says_srgb(scan_.facts.colour) && scan_.facts.colour.icc_profile.empty() &&
                 !scan_.facts.colour.profile_unreadable) {
        notices.push_back(imagefile::notices::colour_converted(
            grey, imagefile::notices::png_source(scan_.facts.colour.gamma, scan_.facts.colour.chromaticities.has_value())));
      }
      scan_.facts.colour.applied = true;
      imagefile::finish_photo(incoming_, scan_.facts, {}, notices);
      std::vector<std::uint8_t>().swap(staging_);
      return opened(std::move(incoming_), notices, paint);
    });
  }

  // Checks a side's settings without encoding: {ok} or {ok: false, field, message}.
  static val check(const val& settings) {
    Request request;
    if (auto p = read_request(settings, request)) return failure(p->message, p->field);
    return success();
  }

  // Encodes the opened picture, searching the quality when a target is set, then decodes the
  // file, compares it with the original and paints it. `progress(stage, done, total)`: stages
  // "encode", "search" (total 0: unknown), "decode".
  val encode(const val& settings, const val& progress, const val& paint) {
    return guarded("to compress the picture", [&] {
      if (source_.pixels.empty()) return failure("no picture is open");
      Request request;
      if (auto p = read_request(settings, request)) return failure(p->message, p->field);
      EncodeOptions& options = request.options;
      options.limits.max_pixels = kMaxPixels;
      const bool searching = request.target_size || request.target_psnr;
      options.progress = [&](const Progress& p) {
        if (!searching) progress(std::string("encode"), p.done, p.total);
        return true;
      };

      const Clock::time_point start = Clock::now();
      std::string note;
      Result<Encoded> encoded = searching ? search(request, progress, note) : varnic::encode(source_.view(), options);
      if (!encoded) return failure(encoded.message());
      const double encode_seconds = seconds_since(start);

      const std::vector<std::uint8_t>& cod = encoded.value().bytes;
      const Clock::time_point decode_start = Clock::now();
      Strips strips(source_.width, source_.height, paint);
      SsimRows ssim(source_.width);
      Result<cli::Comparison> comparison = compare(cod, options.threads, progress, &strips, &ssim);
      if (!comparison) return failure("the new file does not decode: " + comparison.message());

      Result<Info> info = probe(cod);
      if (!info) return failure(info.message());
      val out = success();
      out.set("cod", copy_bytes(cod.data(), cod.size()));
      out.set("quality", options.quality);
      out.set("note", note);
      out.set("levels", encoded.value().levels);
      out.set("dropped", js_array(encoded.value().dropped, 3));
      out.set("bitmapBytes", static_cast<double>(info.value().bitmap_bytes));
      out.set("psnrRgb", comparison.value().psnr_rgb);
      out.set("psnrY", comparison.value().psnr_y);
      out.set("ssim", ssim.result());
      out.set("encodeSeconds", encode_seconds);
      out.set("decodeSeconds", seconds_since(decode_start));
      return out;
    });
  }

  // Paints the opened picture again, for a PNG download.
  val paint_source(const val& paint) {
    return guarded("to draw the picture", [&] {
      Strips strips(source_.width, source_.height, paint);
      for (std::uint32_t y = 0; y < source_.height; ++y) strips.put(y, source_.row(y), source_.format);
      return success();
    });
  }

  // Paints the .cod file in the input buffer (a result the page keeps), for a PNG download.
  val paint_file(const val& paint) {
    return guarded("to draw the picture", [&] {
      const std::vector<std::uint8_t> cod = std::move(input_);
      std::optional<Strips> strips;
      PixelFormat format = PixelFormat::kRgb24;
      RowReceiver receiver;
      receiver.begin = [&](const Info&, const RowShape& shape) {
        strips.emplace(shape.width, shape.height, paint);
        format = shape.format;
        return true;
      };
      receiver.rows = [&](std::uint32_t y, std::span<const std::uint8_t> pixels) {
        strips->put(y, pixels.data(), format);
        return true;
      };
      DecodeOptions options;
      options.limits.max_pixels = kMaxPixels;
      Result<Info> decoded = decode_rows(as_span(cod), options, receiver);
      return decoded ? success() : failure(decoded.message());
    });
  }

  // The opened picture as a bitmap file, or (bitmap_file) the .cod file in the input buffer
  // decoded into one, handed to `write(bytes)` piece by piece.
  val bitmap_source(const val& write) {
    return guarded("to write the bitmap", [&] {
      Result<std::vector<std::uint8_t>> bytes = write_picture(source_.view(), FileKind::kBmp);
      if (!bytes) return failure(bytes.message());
      write(copy_bytes(bytes.value().data(), bytes.value().size()));
      return success();
    });
  }
  val bitmap_file(const val& write) {
    return guarded("to write the bitmap", [&] {
      const std::vector<std::uint8_t> cod = std::move(input_);
      const ByteSink sink = [&write](std::span<const std::uint8_t> piece) {
        write(copy_bytes(piece.data(), piece.size()));
        return true;
      };
      DecodeOptions options;
      options.limits.max_pixels = kMaxPixels;
      Result<WrittenPicture> written = decode_to_stream(as_span(cod), FileKind::kBmp, sink, options);
      return written ? success() : failure(written.message());
    });
  }

  // The settings quality and type derive for `levels` levels: what the advanced fields start
  // from; `typeMatters` is false where every image type derives the same.
  static val derive(int quality, int type, int levels) {
    if (levels < kMinLevels || levels > kMaxLevels || type < 0 || type >= kImageTypeCount || quality < kMinQuality ||
        quality > kMaxQuality)
      return failure("out of range");
    format::CodecParams by_type[kImageTypeCount];
    for (int t = 0; t < kImageTypeCount; ++t) {
      format::CodecParams& params = by_type[t];
      params = codec::default_codec_params();
      params.quality_factor = static_cast<std::int16_t>(quality);
      params.image_type = static_cast<std::int16_t>(t);
      params.total_levels = static_cast<std::uint16_t>(levels);
      if (const format::StatusCode s = codec::derive_params_from_quality(params); !format::ok(s))
        return failure(format::message(s));
    }
    const format::CodecParams& params = by_type[type];
    val out = success();
    const auto subbands = static_cast<std::size_t>(format::subband_count(levels));
    const char* keys[] = {"quantY", "quantI", "quantQ"};
    val dropped = val::array();
    bool matters = false;
    for (std::size_t c = 0; c < 3; ++c) {
      out.set(keys[c], js_array(params.channels[c].quant_vector, subbands));
      // The encoder lowers a derived count that reaches the levels; show what it will write.
      dropped.call<void>("push", std::min(params.channels[c].dropped_levels, levels - 1));
      for (const format::CodecParams& other : by_type)
        matters = matters || !std::equal(other.channels[c].quant_vector.begin(),
                                         other.channels[c].quant_vector.begin() + static_cast<std::ptrdiff_t>(subbands),
                                         params.channels[c].quant_vector.begin());
    }
    out.set("thresholds", js_array(params.threshold_vector, static_cast<std::size_t>(levels) + 1));
    out.set("dropped", dropped);
    out.set("typeMatters", matters);
    return out;
  }

  // The words for a picture over the page's limit, before the page decodes it.
  static std::string limit_message(double width, double height) {
    return imagefile::pixel_limit_message(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                                          kMaxPixels);
  }

  // The ranges the page's fields take.
  static val about() {
    val out = success();
    out.set("version", std::string(version()));
    out.set("maxPixels", static_cast<double>(kMaxPixels));
    out.set("minQuality", kMinQuality);
    out.set("maxQuality", kMaxQuality);
    out.set("defaultQuality", kDefaultQuality);
    out.set("minLevels", kMinLevels);
    out.set("maxLevels", kMaxLevels);
    out.set("defaultLevels", kDefaultLevels);
    out.set("maxStep", kMaxQuantStep);
    out.set("maxCommentBytes", static_cast<double>(kMaxCommentBytes));
    out.set("maxOptimizer", kMaxOptimize);
    return out;
  }

 private:
  static constexpr const char* kNotAPicture =
      "not a picture this page opens: .cod, BMP, Targa (.tga), PNM, PNG, JPEG or WebP";

  val open_cod(const std::vector<std::uint8_t>& bytes, const Limits& limits, const val& paint) {
    // Decoded row by row into the picture that compressing it again reads.
    Picture picture;
    Info info;
    std::optional<Strips> strips;
    RowReceiver receiver;
    receiver.begin = [&](const Info& header, const RowShape& shape) {
      info = header;
      picture.width = shape.width;
      picture.height = shape.height;
      picture.format = shape.format;
      picture.pixels.resize(std::size_t{shape.width} * shape.height * static_cast<std::size_t>(bytes_per_pixel(shape.format)));
      strips.emplace(shape.width, shape.height, paint);
      return true;
    };
    receiver.rows = [&](std::uint32_t y, std::span<const std::uint8_t> pixels) {
      std::copy(pixels.begin(), pixels.end(), picture.pixels.begin() + static_cast<std::ptrdiff_t>(y * pixels.size()));
      strips->put(y, pixels.data(), picture.format);
      return true;
    };
    DecodeOptions options;
    options.limits = limits;
    Result<Info> decoded = decode_rows(as_span(bytes), options, receiver);
    if (!decoded) return failure(decoded.message());
    val out = opened(std::move(picture), {}, val::null());
    val about = val::object();
    about.set("version", std::to_string(info.version_major) + "." + std::to_string(info.version_minor));
    about.set("levels", info.levels);
    about.set("comment", info.comment);
    about.set("bitmapBytes", static_cast<double>(info.bitmap_bytes));
    out.set("info", about);
    return out;
  }

  // A picture in the tool's layout (rows bottom-up, blue first, padded) made the opened one.
  val opened(imagefile::PictureBuffer buffer, const std::vector<std::string>& notices, const val& paint) {
    Picture picture;
    picture.width = static_cast<std::uint32_t>(buffer.width);
    picture.height = static_cast<std::uint32_t>(buffer.height);
    picture.format = buffer.bits_per_pixel == 8 ? PixelFormat::kGrey8 : PixelFormat::kBgr24;
    picture.row_stride = buffer.geometry().stride;
    picture.bottom_up = true;
    picture.pixels = std::move(buffer.pixels);
    return opened(std::move(picture), notices, paint);
  }

  // Makes `picture` the opened one; paints it unless `paint` is null (already painted).
  val opened(Picture picture, const std::vector<std::string>& notices, const val& paint) {
    source_ = std::move(picture);
    if (!paint.isNull()) {
      Strips strips(source_.width, source_.height, paint);
      for (std::uint32_t y = 0; y < source_.height; ++y) strips.put(y, source_.row(y), source_.format);
    }
    val out = success();
    out.set("width", source_.width);
    out.set("height", source_.height);
    out.set("grey", source_.format == PixelFormat::kGrey8);
    out.set("notices", strings(notices));
    return out;
  }

  // Decodes `cod` row by row against the opened picture: the comparison, and the rows to
  // `strips` and `ssim` when given.
  Result<cli::Comparison> compare(const std::vector<std::uint8_t>& cod, int threads, const val& progress,
                                  Strips* strips, SsimRows* ssim) {
    cli::RowComparison comparison;
    const std::size_t source_row = std::size_t{source_.width} * static_cast<std::size_t>(bytes_per_pixel(source_.format));
    std::uint32_t done = 0;
    PixelFormat format = PixelFormat::kRgb24;
    RowReceiver receiver;
    receiver.begin = [&](const Info&, const RowShape& shape) {
      format = shape.format;
      return shape.width == source_.width && shape.height == source_.height;
    };
    receiver.rows = [&](std::uint32_t y, std::span<const std::uint8_t> pixels) {
      const std::span<const std::uint8_t> original(source_.row(y), source_row);
      comparison.add(original, source_.format, pixels, format, source_.width);
      if (ssim != nullptr) ssim->add(original, source_.format, pixels, format);
      if (strips != nullptr) strips->put(y, pixels.data(), format);
      if (++done % 256 == 0 && strips != nullptr) progress(std::string("decode"), done, source_.height);
      return true;
    };
    DecodeOptions options;
    options.threads = threads;
    options.limits.max_pixels = kMaxPixels;
    Result<Info> decoded = decode_rows(cod, options, receiver);
    if (!decoded) return {decoded.status(), decoded.message()};
    return comparison.result();
  }

  // The quality `varnic-cli compress --target-size / --target-psnr` picks, by the same search.
  Result<Encoded> search(const Request& request, const val& progress, std::string& note) {
    std::optional<Encoded> best;
    int best_quality = 0;
    double best_psnr = 0;
    int trials = 0;
    auto trial = [&](int quality) -> Result<Encoded> {
      progress(std::string("search"), ++trials, 0);
      EncodeOptions options = request.options;
      options.quality = quality;
      return varnic::encode(source_.view(), options);
    };
    Result<std::optional<int>> found{std::optional<int>()};
    if (request.target_size) {
      std::uint64_t smallest = UINT64_MAX;
      int smallest_quality = 0;
      found = cli::highest_passing(kMinQuality, kMaxQuality, [&](int quality) -> Result<bool> {
        Result<Encoded> t = trial(quality);
        if (!t) return {t.status(), t.message()};
        const std::uint64_t size = t.value().bytes.size();
        if (size < smallest) smallest = size, smallest_quality = quality;
        const bool fits = size <= *request.target_size;
        if (fits && (!best || quality > best_quality)) best = std::move(t).value(), best_quality = quality;
        return fits;
      });
      if (found && !best)
        return {Status::kLimitExceeded, "no quality gives a file of at most " + std::to_string(*request.target_size) +
                                            " bytes: the smallest, at quality " + std::to_string(smallest_quality) +
                                            ", has " + std::to_string(smallest) + " bytes"};
      note = "quality " + std::to_string(best_quality) + " for at most " + std::to_string(*request.target_size) + " bytes";
    } else {
      double highest = -1;
      found = cli::lowest_passing(kMinQuality, kMaxQuality, [&](int quality) -> Result<bool> {
        Result<Encoded> t = trial(quality);
        if (!t) return {t.status(), t.message()};
        Result<cli::Comparison> c = compare(t.value().bytes, request.options.threads, progress, nullptr, nullptr);
        if (!c) return {c.status(), c.message()};
        const double psnr = c.value().psnr_rgb;
        highest = std::max(highest, psnr);
        const bool meets = psnr >= *request.target_psnr;
        if (meets && (!best || quality < best_quality)) best = std::move(t).value(), best_quality = quality, best_psnr = psnr;
        return meets;
      });
      char text[96];
      if (found && !best) {
        std::snprintf(text, sizeof text, "no quality reaches %.2f dB: the best reached is %.2f dB", *request.target_psnr,
                      highest);
        return {Status::kLimitExceeded, text};
      }
      std::snprintf(text, sizeof text, "quality %d for at least %.2f dB (%.2f dB)", best_quality, *request.target_psnr,
                    best_psnr);
      note = text;
    }
    if (!found) return {found.status(), found.message()};
    return std::move(*best);
  }

  Picture source_;  // as its reader gives it: a bitmap's rows bottom-up, blue first
  std::vector<std::uint8_t> input_;    // a file being opened, or a .cod file to draw
  std::vector<std::uint8_t> staging_;  // pieces of pixels or inflated data on their way in
  PngReader png_;
  imagefile::PictureBuffer incoming_;  // pixels the browser decoded, on their way in
  PhotoScan scan_;                     // and the facts of their file
  std::vector<std::uint8_t> profile_;  // a PNG's inflated colour profile
  bool transparent_ = false;
};

}  // namespace
}  // namespace varnic::web

EMSCRIPTEN_BINDINGS(varnic_web) {
  using varnic::web::Session;
  emscripten::class_<Session>("Session")
      .constructor<>()
      .function("input", &Session::input)
      .function("openFile", &Session::open_file)
      .function("pngBegin", &Session::png_begin)
      .function("pngBuffer", &Session::png_buffer)
      .function("pngFeed", &Session::png_feed)
      .function("pngFinish", &Session::png_finish)
      .function("rgbaBegin", &Session::rgba_begin)
      .function("profile", &Session::profile)
      .function("rgbaBuffer", &Session::rgba_buffer)
      .function("rgbaPut", &Session::rgba_put)
      .function("rgbaFinish", &Session::rgba_finish)
      .function("encode", &Session::encode)
      .function("paintSource", &Session::paint_source)
      .function("paintFile", &Session::paint_file)
      .function("bitmapSource", &Session::bitmap_source)
      .function("bitmapFile", &Session::bitmap_file)
      .class_function("check", &Session::check)
      .class_function("derive", &Session::derive)
      .class_function("limitMessage", &Session::limit_message)
      .class_function("about", &Session::about);
}
