// SPDX-License-Identifier: BSD-2-Clause
// The codec as the web page's worker sees it: one Session per worker holds the opened picture and
// the last result, and every call returns a plain JavaScript object ({ok: false, message} on
// failure). Pixels cross the boundary as RGBA, top row first, the layout of canvas ImageData.
//
// Picture files are read through the library's own readers (bitmap, Targa, PNM), so that the page
// encodes exactly the pixels `varnic-cli compress` does.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/settings.h"
#include "optimize/optimize.h"
#include "metrics.h"
#include "ssim.h"
#include "varnic/varnic.h"

namespace varnic::web {
namespace {

using emscripten::val;

// Typed numbers are clamped to this before they become ints: far above every limit the encoder's
// validator checks (125 for steps, 65535 for thresholds), so it still refuses them, and no wrap.
constexpr std::int64_t kTooLarge = 1 << 20;

// --- picture files -------------------------------------------------------------------------------

std::span<const std::uint8_t> as_span(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// Top row first, packed, as the comparison figures read pictures.
Picture top_down(const Picture& picture) {
  if (picture.pixels.empty()) return {};
  const PixelFormat format = picture.format == PixelFormat::kGrey8 ? PixelFormat::kGrey8 : PixelFormat::kRgb24;
  Result<Picture> out = convert_picture(picture.view(), format);
  return out ? std::move(out).value() : Picture{};
}

// --- conversions ---------------------------------------------------------------------------------

val failure(const std::string& message) {
  val out = val::object();
  out.set("ok", false);
  out.set("message", message);
  return out;
}

// A Uint8Array that owns a copy, so the result survives the next call growing the wasm memory.
val copy_bytes(const std::uint8_t* data, std::size_t size) {
  return val::global("Uint8Array").new_(emscripten::typed_memory_view(size, data)).call<val>("slice");
}

val to_rgba(const Picture& picture) {
  const std::size_t pixels = std::size_t{picture.width} * picture.height;
  std::vector<std::uint8_t> rgba(pixels * 4);
  Result<Picture> converted = convert_picture(picture.view(), PixelFormat::kRgb24);
  if (!converted) return val::null();
  const Picture& rgb = converted.value();
  for (std::size_t i = 0; i < pixels; ++i) {
    rgba[4 * i] = rgb.pixels[3 * i];
    rgba[4 * i + 1] = rgb.pixels[3 * i + 1];
    rgba[4 * i + 2] = rgb.pixels[3 * i + 2];
    rgba[4 * i + 3] = 255;
  }
  return copy_bytes(rgba.data(), rgba.size());
}

// The same blend over white as the command-line tool's PNG reader, so a transparent picture
// decoded by the browser gives the pixels the tool would compress.
std::uint8_t over_white(unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

std::vector<int> int_list(const val& array) {
  std::vector<int> out;
  const int n = array["length"].as<int>();
  for (int i = 0; i < n; ++i) out.push_back(array[i].as<int>());
  return out;
}

val js_array(const auto& values, std::size_t count) {
  val out = val::array();
  for (std::size_t i = 0; i < count; ++i) out.call<void>("push", static_cast<int>(values[i]));
  return out;
}

// Typed lists are parsed with the codec's own parser so that the page shows the messages the
// desktop program's setup dialog shows.
std::optional<std::string> parse_list(const val& settings, const char* key, codec::NumberListField field,
                                      std::optional<std::vector<int>>& out) {
  const val text = settings[key];
  if (text.isUndefined() || text.isNull()) return std::nullopt;
  std::vector<std::int64_t> numbers;
  if (const format::StatusCode s = codec::parse_number_list(text.as<std::string>(), field, numbers); !format::ok(s))
    return std::string(format::message(s));
  std::vector<int> values;
  for (const std::int64_t n : numbers) values.push_back(static_cast<int>(std::min<std::int64_t>(n, kTooLarge)));
  out = std::move(values);
  return std::nullopt;
}

// settings: {quality, type, optimiser? (0..3), full?: {levels, quantY?, quantI?, quantQ?, thresholds? (texts),
// dropped?: [y,i,q]}}. What is missing derives from quality, type and levels, as in varnic-cli.
std::optional<std::string> encode_options(const val& settings, EncodeOptions& options) {
  options.quality = settings["quality"].as<int>();
  const int type = settings["type"].as<int>();
  if (type < 0 || type > 2) return std::string("image type must be 0, 1 or 2");
  options.type = static_cast<ImageType>(type);
  const val optimiser = settings["optimiser"];
  if (!optimiser.isUndefined() && !optimiser.isNull()) options.optimize = optimiser.as<int>();
  const val full = settings["full"];
  if (full.isUndefined() || full.isNull()) return std::nullopt;
  options.levels = full["levels"].as<int>();
  using Field = codec::NumberListField;
  if (auto e = parse_list(full, "quantY", Field::kQuantVectorA, options.quant_y)) return e;
  if (auto e = parse_list(full, "quantI", Field::kQuantVectorB, options.quant_i)) return e;
  if (auto e = parse_list(full, "quantQ", Field::kQuantVectorC, options.quant_q)) return e;
  if (auto e = parse_list(full, "thresholds", Field::kThresholdVector, options.thresholds)) return e;
  if (full["dropped"].isUndefined()) return std::nullopt;
  const std::vector<int> dropped = int_list(full["dropped"]);
  if (dropped.size() != 3) return std::string("three dropped-level counts are needed (Y, I, Q)");
  options.dropped = std::array<int, 3>{dropped[0], dropped[1], dropped[2]};
  return std::nullopt;
}

val info_object(const Info& info) {
  val out = val::object();
  out.set("version", std::to_string(info.version_major) + "." + std::to_string(info.version_minor));
  out.set("coded", info.coded);
  out.set("levels", info.levels);
  out.set("dropped", js_array(info.dropped, 3));
  out.set("comment", info.comment);
  out.set("fileBytes", static_cast<double>(info.file_bytes));
  out.set("bitmapBytes", static_cast<double>(info.bitmap_bytes));
  out.set("ratio", info.ratio);
  return out;
}

// --- the session ---------------------------------------------------------------------------------

class Session {
 public:
  // Opens a .cod, bitmap, Targa or PNM file. Returns {ok, width, height, grey, rgba, notices, info?}
  // where info is present for .cod files.
  val open_file(const std::string& bytes, const std::string& name, double max_pixels) {
    Limits limits{static_cast<std::uint64_t>(max_pixels)};
    if (sniff_kind(as_span(bytes), name) == FileKind::kCod) {
      DecodeOptions options;
      options.limits = limits;
      Result<Decoded> decoded = decode(as_span(bytes), options);
      if (!decoded) return failure(decoded.message());
      source_ = std::move(decoded.value().picture);
      val out = opened(val::array());
      out.set("info", info_object(decoded.value().info));
      return out;
    }
    // Bitmap and Targa rows stay as the file has them: the encoder reads them in place.
    Result<PictureFile> picture = read_picture(as_span(bytes), name, limits);
    if (!picture) return failure(picture.message());
    source_ = std::move(picture.value().picture);
    val notices = val::array();
    for (const std::string& n : picture.value().notices) notices.call<void>("push", n);
    return opened(notices);
  }

  // Takes pixels the browser decoded (PNG, JPEG, WebP). `grey` keeps one channel, as the tool does
  // for grey PNG files.
  val open_rgba(const std::string& rgba, int width, int height, bool grey, double max_pixels) {
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const std::uint64_t pixels = std::uint64_t{w} * h;
    if (width <= 0 || height <= 0 || rgba.size() != pixels * 4) return failure("the decoded picture is inconsistent");
    if (pixels > static_cast<std::uint64_t>(max_pixels))
      return failure("the picture has " + std::to_string(pixels) + " pixels, more than the limit of " +
                     std::to_string(static_cast<std::uint64_t>(max_pixels)));
    const int channels = grey ? 1 : 3;
    Picture picture;
    picture.pixels.resize(static_cast<std::size_t>(pixels) * static_cast<std::size_t>(channels));
    bool transparent = false;
    for (std::size_t i = 0; i < pixels; ++i) {
      const auto* px = reinterpret_cast<const std::uint8_t*>(rgba.data()) + 4 * i;
      transparent = transparent || px[3] != 255;
      for (int c = 0; c < channels; ++c)
        picture.pixels[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = over_white(px[c], px[3]);
    }
    picture.width = w;
    picture.height = h;
    picture.format = grey ? PixelFormat::kGrey8 : PixelFormat::kRgb24;
    source_ = std::move(picture);
    val notices = val::array();
    if (transparent) notices.call<void>("push", std::string("transparency removed by blending over white"));
    return opened(notices);
  }

  // The settings quality and type derive for `levels` levels: what the advanced panel starts from.
  static val derive(int quality, int type, int levels) {
    format::CodecParams params = codec::default_codec_params();
    params.quality_factor = static_cast<std::int16_t>(quality);
    params.image_type = static_cast<std::int16_t>(type);
    params.total_levels = static_cast<std::uint16_t>(levels);
    if (levels < codec::kMinLevels || levels > codec::kMaxLevels || type < 0 || type > 2)
      return failure("levels must be 1..6 and the image type 0..2");
    if (const format::StatusCode s = codec::derive_params_from_quality(params); !format::ok(s))
      return failure(format::message(s));
    val out = val::object();
    out.set("ok", true);
    out.set("levels", levels);
    const auto subbands = static_cast<std::size_t>(format::subband_count(levels));
    const char* keys[] = {"quantY", "quantI", "quantQ"};
    val dropped = val::array();
    for (std::size_t c = 0; c < 3; ++c) {
      out.set(keys[c], js_array(params.channels[c].quant_vector, subbands));
      // The encoder lowers a derived count that reaches the levels; show what it will write.
      dropped.call<void>("push", std::min(params.channels[c].dropped_levels, levels - 1));
    }
    out.set("thresholds", js_array(params.threshold_vector, static_cast<std::size_t>(levels) + 1));
    out.set("dropped", dropped);
    return out;
  }

  // Compresses the opened picture, decodes the result and compares it with the original.
  // `progress(stage, done, total)` is called between steps; stage names "encode", "decode".
  val encode(const val& settings, const val& progress) {
    if (source_.pixels.empty()) return failure("no picture is open");
    EncodeOptions options;
    if (auto error = encode_options(settings, options)) return failure(*error);
    options.progress = [&progress](const Progress& p) {
      progress(std::string("encode"), p.done, p.total);
      return true;
    };
    Result<Encoded> encoded = varnic::encode(source_.view(), options);
    if (!encoded) return failure(encoded.message());
    DecodeOptions decode_options;
    decode_options.progress = [&progress](const Progress& p) {
      progress(std::string("decode"), p.done, p.total);
      return true;
    };
    Result<Decoded> decoded = decode(encoded.value().bytes, decode_options);
    if (!decoded) return failure("the new file does not decode: " + decoded.message());
    progress(std::string("compare"), 0, 1);
    const Picture original = top_down(source_);
    result_ = std::move(decoded).value().picture;
    Result<cli::Comparison> comparison = cli::compare_pictures(original, result_);
    if (!comparison) return failure(comparison.message());
    const std::vector<std::uint8_t>& cod = encoded.value().bytes;
    Result<Info> info = probe(cod);
    if (!info) return failure(info.message());

    val out = val::object();
    out.set("ok", true);
    out.set("cod", copy_bytes(cod.data(), cod.size()));
    out.set("width", result_.width);
    out.set("height", result_.height);
    out.set("rgba", to_rgba(result_));
    out.set("levels", encoded.value().levels);
    out.set("dropped", js_array(encoded.value().dropped, 3));
    out.set("bitmapBytes", static_cast<double>(info.value().bitmap_bytes));
    out.set("ratio", info.value().ratio);
    out.set("psnrRgb", comparison.value().psnr_rgb);
    out.set("psnrY", comparison.value().psnr_y);
    out.set("ssim", ssim(original, result_));
    return out;
  }

  // The last result as a bitmap file, or the opened picture when nothing was compressed yet.
  val bitmap(bool result) {
    const Picture& picture = result && !result_.pixels.empty() ? result_ : source_;
    if (picture.pixels.empty()) return failure("no picture is open");
    Result<std::vector<std::uint8_t>> bytes = write_picture(picture.view(), FileKind::kBmp);
    if (!bytes) return failure(bytes.message());
    val out = val::object();
    out.set("ok", true);
    out.set("bytes", copy_bytes(bytes.value().data(), bytes.value().size()));
    return out;
  }

  // The highest optimiser level the encoder offers (0 would keep the page's control hidden).
  static int optimiser_levels() { return optimize::kMaxOptimizeLevel; }

 private:
  val opened(const val& notices) {
    result_ = {};
    val out = val::object();
    out.set("ok", true);
    out.set("width", source_.width);
    out.set("height", source_.height);
    out.set("grey", source_.format == PixelFormat::kGrey8);
    out.set("rgba", to_rgba(source_));
    out.set("notices", notices);
    return out;
  }

  Picture source_;
  Picture result_;
};

}  // namespace
}  // namespace varnic::web

EMSCRIPTEN_BINDINGS(varnic_web) {
  using varnic::web::Session;
  emscripten::class_<Session>("Session")
      .constructor<>()
      .function("openFile", &Session::open_file)
      .function("openRgba", &Session::open_rgba)
      .function("encode", &Session::encode)
      .function("bitmap", &Session::bitmap)
      .class_function("derive", &Session::derive)
      .class_function("optimiserLevels", &Session::optimiser_levels);
  emscripten::function("version", emscripten::optional_override([] { return std::string(varnic::version()); }));
}
