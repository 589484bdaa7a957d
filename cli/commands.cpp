#include "commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "imagefile/imagefile.h"
#include "metrics.h"
#include "search.h"

namespace varnic::cli {
namespace {

// File names are UTF-8 strings. std::filesystem reads narrow strings in the system's code page on
// Windows, so names cross over as UTF-8 explicitly (elsewhere this changes nothing).
std::filesystem::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string as_string(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string format(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string ms(double seconds) { return format("%.1f ms", seconds * 1000.0); }

// Serialises whole lines from worker threads so that batch output never interleaves.
class Reporter {
 public:
  Reporter(Console console, Verbosity verbosity, std::size_t total)
      : console_(console), verbosity_(verbosity), total_(total) {}

  void error(const std::string& path, const std::string& text) {
    std::lock_guard lock(mutex_);
    console_.err << "varnic-cli: " << path << ": " << text << '\n' << std::flush;
  }
  void notice(const std::string& path, const std::string& text) {
    if (verbosity_ == Verbosity::kQuiet) return;
    std::lock_guard lock(mutex_);
    console_.err << "varnic-cli: " << path << ": " << text << '\n' << std::flush;
  }
  // One summary per file; in a batch prefixed with its position, as progress.
  void summary(std::size_t index, const std::string& text) {
    if (verbosity_ == Verbosity::kQuiet) return;
    std::lock_guard lock(mutex_);
    if (total_ > 1) console_.out << '[' << index + 1 << '/' << total_ << "] ";
    console_.out << text << '\n' << std::flush;
  }
  void detail(const std::string& text) {
    if (verbosity_ != Verbosity::kVerbose) return;
    std::lock_guard lock(mutex_);
    console_.err << "  " << text << '\n' << std::flush;
  }

 private:
  Console console_;
  Verbosity verbosity_;
  std::size_t total_;
  std::mutex mutex_;
};

// Runs `job(i)` for every input on up to `jobs` threads and returns the highest exit status.
// Only allocation can throw inside a job: that file fails for lack of memory and the batch goes
// on with the others.
template <class Job>
int run_batch(std::size_t count, int jobs, const Job& job) {
  std::atomic<std::size_t> next{0};
  std::atomic<int> worst{kExitOk};
  auto worker = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      const int code = job(i);
      int seen = worst.load();
      while (code > seen && !worst.compare_exchange_weak(seen, code)) {
      }
    }
  };
  const std::size_t threads = std::min<std::size_t>(count, static_cast<std::size_t>(std::max(jobs, 1)));
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  return worst.load();
}

// Input files can be no larger than a picture within the pixel limit could be; ASCII PNM
// takes up to about 12 bytes a pixel, so the cap is generous.
std::uint64_t max_input_bytes(const Limits& limits) {
  constexpr std::uint64_t kBytesPerPixel = 16;
  constexpr std::uint64_t kSlack = std::uint64_t{1} << 20;
  if (limits.max_pixels > (UINT64_MAX - kSlack) / kBytesPerPixel) return UINT64_MAX;
  return limits.max_pixels * kBytesPerPixel + kSlack;
}

int exit_code_for_file_status(imagefile::FileStatus status) {
  switch (status) {
    case imagefile::FileStatus::kOk: return kExitOk;
    case imagefile::FileStatus::kPictureTooLarge:
    case imagefile::FileStatus::kFileTooLarge:
    case imagefile::FileStatus::kOutOfMemory: return kExitLimit;
    case imagefile::FileStatus::kCannotWrite: return kExitCannotWrite;
    default: return kExitBadInput;
  }
}

Result<std::vector<std::uint8_t>> read_input(const std::string& path, const Limits& limits) {
  std::vector<std::uint8_t> bytes;
  const imagefile::FileStatus status = imagefile::read_whole_file(path, bytes, max_input_bytes(limits));
  if (status == imagefile::FileStatus::kOk) return bytes;
  const Status mapped = exit_code_for_file_status(status) == kExitLimit ? Status::kLimitExceeded : Status::kInvalidFile;
  return {mapped, imagefile::status_message(status)};
}

bool output_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(as_path(path), ec));
}

// Refuses an existing output without -f; otherwise writes through a temporary file and a rename.
int write_output(const std::string& path, std::span<const std::uint8_t> bytes, bool force, Reporter& reporter) {
  if (!force && output_exists(path)) {
    reporter.error(path, "output exists (use -f to replace it)");
    return kExitCannotWrite;
  }
  const imagefile::FileStatus status = imagefile::write_file_atomically(path, bytes);
  if (status != imagefile::FileStatus::kOk) {
    // The output messages of the picture files read "Cannot Write File"; a failure to create the
    // temporary file ("Cannot Open File": missing folder, no permission) says so in brackets.
    std::string text = imagefile::status_message(imagefile::FileStatus::kCannotWrite);
    if (status != imagefile::FileStatus::kCannotWrite) text += std::string(" (") + imagefile::status_message(status) + ")";
    reporter.error(path, text);
    return kExitCannotWrite;
  }
  return kExitOk;
}

std::uint64_t bitmap_file_bytes(std::uint32_t width, std::uint32_t height, bool grey) {
  const std::uint64_t row = (std::uint64_t{width} * (grey ? 1 : 3) + 3) / 4 * 4;
  return 54 + (grey ? 1024 : 0) + row * height;
}

std::string describe_size(std::uint32_t width, std::uint32_t height, bool grey) {
  return std::to_string(width) + "x" + std::to_string(height) + (grey ? " grey" : " colour");
}

std::string ratio_text(double numerator, double denominator) {
  return denominator > 0 ? format("%.2f:1", numerator / denominator) : std::string("-");
}

// Resolves every input's output path and refuses a batch in which two inputs would write the same
// file (the second would silently replace the first).
bool plan_outputs(const BatchOptions& batch, std::string_view extension, std::vector<std::string>& outputs,
                  Console console) {
  if (!batch.output.empty() && batch.inputs.size() != 1) {
    console.err << "varnic-cli: -o names one output; use -d DIR for several inputs\n";
    return false;
  }
  std::set<std::string> seen;
  for (const std::string& input : batch.inputs) {
    std::string out = batch.output.empty() ? output_path_for(input, batch.directory, extension) : batch.output;
    const std::string key = as_string(as_path(out).lexically_normal());
    if (!seen.insert(key).second) {
      console.err << "varnic-cli: " << input << ": another input also writes " << out << "\n";
      return false;
    }
    outputs.push_back(std::move(out));
  }
  return true;
}

// --- compress -------------------------------------------------------------------------------

struct Trial {
  int quality = 0;
  Encoded encoded;
  double psnr = 0;
};

// `reference` (top-down) is given when the trial's PSNR is wanted.
Result<Trial> encode_at(const PictureView& picture, EncodeOptions options, int quality, const Picture* reference) {
  options.quality = quality;
  Result<Encoded> encoded = encode(picture, options);
  if (!encoded) return {encoded.status(), encoded.message()};
  Trial trial;
  trial.quality = quality;
  trial.encoded = std::move(encoded).value();
  if (reference != nullptr) {
    DecodeOptions decode_options;
    decode_options.limits = options.limits;
    decode_options.threads = options.threads;
    Result<Decoded> decoded = decode(trial.encoded.bytes, decode_options);
    if (!decoded) return {decoded.status(), "decoding the trial file failed: " + decoded.message()};
    Result<Comparison> comparison = compare_pictures(*reference, decoded.value().picture);
    if (!comparison) return {comparison.status(), comparison.message()};
    trial.psnr = comparison.value().psnr_rgb;
  }
  return trial;
}

// Finds the file to write for --target-size / --target-psnr, or explains why there is none.
Result<Trial> search_quality(const EncodablePicture& picture, const CompressOptions& options, std::string& note) {
  std::optional<Trial> best;
  if (options.target_size) {
    const std::uint64_t target = *options.target_size;
    std::uint64_t smallest = UINT64_MAX;
    int smallest_quality = 0;
    Result<std::optional<int>> q = highest_passing(0, 99, [&](int quality) -> Result<bool> {
      Result<Trial> t = encode_at(picture.view(), options.encode, quality, nullptr);
      if (!t) return {t.status(), t.message()};
      const std::uint64_t size = t.value().encoded.bytes.size();
      if (size < smallest) smallest = size, smallest_quality = quality;
      const bool fits = size <= target;
      if (fits && (!best || quality > best->quality)) best = std::move(t).value();
      return fits;
    });
    if (!q) return {q.status(), q.message()};
    if (!best)
      return {Status::kLimitExceeded, "cannot reach " + std::to_string(target) + " bytes: the smallest file, at quality " +
                                          std::to_string(smallest_quality) + ", has " + std::to_string(smallest) +
                                          " bytes; nothing written"};
    note = "target " + std::to_string(target) + " bytes: picked quality " + std::to_string(best->quality);
  } else {
    const double target = *options.target_psnr;
    double highest = -1;
    const Picture reference = picture.to_picture();
    Result<std::optional<int>> q = lowest_passing(0, 99, [&](int quality) -> Result<bool> {
      Result<Trial> t = encode_at(picture.view(), options.encode, quality, &reference);
      if (!t) return {t.status(), t.message()};
      highest = std::max(highest, t.value().psnr);
      const bool meets = t.value().psnr >= target;
      if (meets && (!best || quality < best->quality)) best = std::move(t).value();
      return meets;
    });
    if (!q) return {q.status(), q.message()};
    if (!best)
      return {Status::kLimitExceeded, "cannot reach " + format("%.2f", target) + " dB: the best PSNR reached is " +
                                          format("%.2f", highest) + " dB; nothing written"};
    note = "target " + format("%.2f", target) + " dB: picked quality " + std::to_string(best->quality) + " (" +
           format("%.2f", best->psnr) + " dB)";
  }
  return std::move(*best);
}

int compress_one(const CompressOptions& options, const std::string& input, const std::string& output,
                 std::size_t index, int library_threads, Reporter& reporter) {
  const BatchOptions& batch = options.batch;
  if (!batch.force && output_exists(output)) {
    reporter.error(output, "output exists (use -f to replace it)");
    return kExitCannotWrite;
  }
  const Clock::time_point start = Clock::now();
  Result<std::vector<std::uint8_t>> bytes = read_input(input, batch.limits);
  if (!bytes) {
    reporter.error(input, bytes.message());
    return exit_code_for(bytes.status());
  }
  Result<EncodablePicture> loaded = read_picture_for_encoding(bytes.value(), input, batch.limits);
  if (!loaded) {
    reporter.error(input, loaded.message());
    return exit_code_for(loaded.status());
  }
  std::vector<std::uint8_t>().swap(bytes.value());  // the file is not needed once decoded
  for (const std::string& notice : loaded.value().notices) reporter.notice(input, notice);
  const EncodablePicture& picture = loaded.value();
  const double read_time = seconds_since(start);

  const Clock::time_point encode_start = Clock::now();
  EncodeOptions encode_options = options.encode;
  encode_options.threads = library_threads;
  encode_options.limits = batch.limits;
  CompressOptions search_options = options;
  search_options.encode = encode_options;
  std::string note;
  Result<Trial> trial = options.target_size || options.target_psnr
                            ? search_quality(picture, search_options, note)
                            : encode_at(picture.view(), encode_options, encode_options.quality, nullptr);
  if (!trial) {
    reporter.error(input, trial.message());
    return exit_code_for(trial.status());
  }
  const double encode_time = seconds_since(encode_start);
  const Encoded& encoded = trial.value().encoded;

  const Clock::time_point write_start = Clock::now();
  if (const int code = write_output(output, encoded.bytes, batch.force, reporter); code != kExitOk) return code;
  const double write_time = seconds_since(write_start);

  const bool grey = picture.format == PixelFormat::kGrey8;
  const std::uint64_t original = bitmap_file_bytes(picture.width, picture.height, grey);
  std::string line = input + " -> " + output + ": " + describe_size(picture.width, picture.height, grey) + ", " +
                     std::to_string(original) + " -> " + std::to_string(encoded.bytes.size()) + " bytes (" +
                     ratio_text(static_cast<double>(original), static_cast<double>(encoded.bytes.size())) +
                     "), quality " + std::to_string(trial.value().quality) + ", " +
                     format("%.3f s", seconds_since(start));
  if (!note.empty()) line += " [" + note + "]";
  reporter.summary(index, line);
  const std::string stages = note.empty() ? "transform " + ms(encoded.timings.transform) + ", entropy coding " +
                                                  ms(encoded.timings.entropy)
                                            : "quality search, the chosen file took " + ms(encoded.timings.total);
  reporter.detail("read " + ms(read_time) + ", encode " + ms(encode_time) + " (" + stages + "), write " +
                  ms(write_time) + "; levels " + std::to_string(encoded.levels) + ", dropped " +
                  std::to_string(encoded.dropped[0]) + "," + std::to_string(encoded.dropped[1]) + "," +
                  std::to_string(encoded.dropped[2]));
  return kExitOk;
}

// --- decompress -----------------------------------------------------------------------------

int decompress_one(const DecompressOptions& options, FileKind kind, const std::string& input,
                   const std::string& output, std::size_t index, int library_threads, Reporter& reporter) {
  const BatchOptions& batch = options.batch;
  if (!batch.force && output_exists(output)) {
    reporter.error(output, "output exists (use -f to replace it)");
    return kExitCannotWrite;
  }
  const Clock::time_point start = Clock::now();
  Result<std::vector<std::uint8_t>> bytes = read_input(input, batch.limits);
  if (!bytes) {
    reporter.error(input, bytes.message());
    return exit_code_for(bytes.status());
  }
  const double read_time = seconds_since(start);
  DecodeOptions decode_options;
  decode_options.reduce = options.reduce;
  // Bitmap and Targa files store blue first: rows then copy without a swap.
  if (kind == FileKind::kBmp || kind == FileKind::kTga) decode_options.colour_format = PixelFormat::kBgr24;
  decode_options.threads = library_threads;
  decode_options.limits = batch.limits;
  const Clock::time_point decode_start = Clock::now();
  Result<Decoded> decoded = decode(bytes.value(), decode_options);
  if (!decoded) {
    reporter.error(input, decoded.message());
    return exit_code_for(decoded.status());
  }
  const double decode_time = seconds_since(decode_start);
  const Picture& picture = decoded.value().picture;
  Result<std::vector<std::uint8_t>> file = write_picture(picture, kind);
  if (!file) {
    reporter.error(output, file.message());
    return kExitCannotWrite;
  }
  const Clock::time_point write_start = Clock::now();
  if (const int code = write_output(output, file.value(), batch.force, reporter); code != kExitOk) return code;
  const double write_time = seconds_since(write_start);

  std::string line = input + " -> " + output + ": " +
                     describe_size(picture.width, picture.height, picture.format == PixelFormat::kGrey8) + ", " +
                     std::to_string(bytes.value().size()) + " -> " + std::to_string(file.value().size()) + " bytes";
  if (options.reduce > 0) line += ", reduced 1/" + std::to_string(1 << options.reduce);
  line += ", " + format("%.3f s", seconds_since(start));
  reporter.summary(index, line);
  const Timings& t = decoded.value().timings;
  reporter.detail("read " + ms(read_time) + ", decode " + ms(decode_time) + " (entropy decoding " + ms(t.entropy) +
                  ", wavelet and colour " + ms(t.transform) + "), write " + ms(write_time));
  return kExitOk;
}

// --- info -----------------------------------------------------------------------------------

std::string info_text(const std::string& path, const Info& info) {
  std::ostringstream s;
  s << path << '\n';
  s << "  version      " << info.version_major << '.' << info.version_minor
    << (info.coded ? "" : " (coefficients not coded: decodes flat)") << '\n';
  s << "  size         " << info.width << " x " << info.height << ", " << (info.grey ? "grey (8-bit)" : "colour (24-bit)")
    << '\n';
  s << "  levels       " << info.levels << '\n';
  s << "  dropped      Y " << info.dropped[0];
  if (!info.grey) s << ", I " << info.dropped[1] << ", Q " << info.dropped[2];
  s << '\n';
  s << "  comment      " << (info.comment.empty() ? std::string("(none)") : json_string(info.comment)) << '\n';
  s << "  file         " << info.file_bytes << " bytes: header " << info.header_bytes << ", Y " << info.plane_bytes[0];
  if (!info.grey) s << ", I " << info.plane_bytes[1] << ", Q " << info.plane_bytes[2];
  s << '\n';
  s << "  ratio        " << ratio_text(static_cast<double>(info.bitmap_bytes), static_cast<double>(info.file_bytes))
    << " (against a " << info.bitmap_bytes << "-byte bitmap)\n";
  return s.str();
}

std::string info_json(const std::string& path, const Info& info) {
  std::ostringstream s;
  s << "{\"file\":" << json_string(path) << ",\"version\":\"" << info.version_major << '.' << info.version_minor
    << "\",\"coded\":" << (info.coded ? "true" : "false") << ",\"width\":" << info.width
    << ",\"height\":" << info.height << ",\"mode\":\"" << (info.grey ? "grey" : "colour")
    << "\",\"levels\":" << info.levels << ",\"dropped\":{\"y\":" << info.dropped[0] << ",\"i\":" << info.dropped[1]
    << ",\"q\":" << info.dropped[2] << "},\"comment\":" << json_string(info.comment)
    << ",\"file_bytes\":" << info.file_bytes << ",\"header_bytes\":" << info.header_bytes
    << ",\"stream_bytes\":{\"y\":" << info.plane_bytes[0] << ",\"i\":" << info.plane_bytes[1]
    << ",\"q\":" << info.plane_bytes[2] << "},\"bitmap_bytes\":" << info.bitmap_bytes
    << ",\"ratio\":" << format("%.4f", info.ratio) << "}";
  return s.str();
}

}  // namespace

int exit_code_for(Status status) {
  switch (status) {
    case Status::kOk: return kExitOk;
    case Status::kInvalidArgument: return kExitUsage;
    case Status::kLimitExceeded:
    case Status::kOutOfMemory: return kExitLimit;
    default: return kExitBadInput;
  }
}

std::string output_path_for(const std::string& input, const std::string& directory, std::string_view extension) {
  std::filesystem::path path = as_path(input);
  path.replace_extension(as_path(std::string(extension)));
  if (!directory.empty()) path = as_path(directory) / path.filename();
  return as_string(path);
}

std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  std::size_t i = 0;
  auto continuation = [&](std::size_t at) { return at < bytes.size() && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80; };
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) length = 3;
    else if (c >= 0xF0 && c <= 0xF4) length = 4;
    bool valid = length > 0;
    for (std::size_t k = 1; valid && k < length; ++k) valid = continuation(i + k);
    if (valid && length == 3) {  // no overlong forms, no surrogates
      const unsigned char d = static_cast<unsigned char>(bytes[i + 1]);
      valid = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
    }
    if (valid && length == 4) {
      const unsigned char d = static_cast<unsigned char>(bytes[i + 1]);
      valid = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
    }
    if (valid) {
      out.append(bytes.substr(i, length));
      i += length;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {  // a stray byte: its Latin-1 character in UTF-8
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
    ++i;
  }
  out += '"';
  return out;
}

int run_compress(const CompressOptions& options, Console console) {
  std::vector<std::string> outputs;
  if (!plan_outputs(options.batch, ".cod", outputs, console)) return kExitUsage;
  const std::size_t count = options.batch.inputs.size();
  Reporter reporter(console, options.batch.verbosity, count);
  const int library_threads = count == 1 ? options.batch.jobs : 1;
  return run_batch(count, options.batch.jobs, [&](std::size_t i) {
    try {
      return compress_one(options, options.batch.inputs[i], outputs[i], i, library_threads, reporter);
    } catch (const std::exception& e) {
      reporter.error(options.batch.inputs[i], std::string("out of memory: ") + e.what());
      return static_cast<int>(kExitLimit);
    }
  });
}

int run_decompress(const DecompressOptions& options, Console console) {
  FileKind kind = FileKind::kBmp;
  if (options.format) {
    kind = *options.format;
  } else if (!options.batch.output.empty()) {
    const FileKind named = kind_from_extension(options.batch.output);
    if (named != FileKind::kUnknown && named != FileKind::kCod) kind = named;
  }
  std::vector<std::string> outputs;
  if (!plan_outputs(options.batch, extension_of(kind), outputs, console)) return kExitUsage;
  const std::size_t count = options.batch.inputs.size();
  Reporter reporter(console, options.batch.verbosity, count);
  const int library_threads = count == 1 ? options.batch.jobs : 1;
  return run_batch(count, options.batch.jobs, [&](std::size_t i) {
    try {
      return decompress_one(options, kind, options.batch.inputs[i], outputs[i], i, library_threads, reporter);
    } catch (const std::exception& e) {
      reporter.error(options.batch.inputs[i], std::string("out of memory: ") + e.what());
      return static_cast<int>(kExitLimit);
    }
  });
}

int run_info(const std::vector<std::string>& inputs, bool json, const Limits& limits, Console console) {
  int worst = kExitOk;
  for (const std::string& input : inputs) {
    Result<std::vector<std::uint8_t>> bytes = read_input(input, limits);
    Result<Info> info = bytes ? probe(bytes.value(), limits) : Result<Info>(bytes.status(), bytes.message());
    if (!info) {
      console.err << "varnic-cli: " << input << ": " << info.message() << '\n';
      worst = std::max(worst, exit_code_for(info.status()));
      continue;
    }
    if (json) {
      console.out << info_json(input, info.value()) << '\n';
    } else {
      console.out << info_text(input, info.value());
    }
  }
  return worst;
}

int run_compare(const std::string& first, const std::string& second, const Limits& limits, Console console) {
  Picture pictures[2];
  const std::string* paths[2] = {&first, &second};
  for (int k = 0; k < 2; ++k) {
    const std::string& path = *paths[k];
    Result<std::vector<std::uint8_t>> bytes = read_input(path, limits);
    if (!bytes) {
      console.err << "varnic-cli: " << path << ": " << bytes.message() << '\n';
      return exit_code_for(bytes.status());
    }
    if (sniff_kind(bytes.value(), path) == FileKind::kCod) {
      DecodeOptions options;
      options.limits = limits;
      Result<Decoded> decoded = decode(bytes.value(), options);
      if (!decoded) {
        console.err << "varnic-cli: " << path << ": " << decoded.message() << '\n';
        return exit_code_for(decoded.status());
      }
      pictures[k] = std::move(decoded).value().picture;
    } else {
      Result<LoadedPicture> loaded = read_picture(bytes.value(), path, limits);
      if (!loaded) {
        console.err << "varnic-cli: " << path << ": " << loaded.message() << '\n';
        return exit_code_for(loaded.status());
      }
      pictures[k] = std::move(loaded).value().picture;
    }
  }
  Result<Comparison> comparison = compare_pictures(pictures[0], pictures[1]);
  if (!comparison) {
    console.err << "varnic-cli: " << first << ", " << second << ": " << comparison.message() << '\n';
    return kExitBadInput;
  }
  const Comparison& c = comparison.value();
  auto db = [](double v) { return std::isinf(v) ? std::string("inf") : format("%.2f", v); };
  console.out << "PSNR RGB " << db(c.psnr_rgb) << " dB, PSNR Y " << db(c.psnr_y) << " dB, max difference "
              << c.max_difference << '\n';
  return kExitOk;
}

}  // namespace varnic::cli
