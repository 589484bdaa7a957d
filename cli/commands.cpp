// SPDX-License-Identifier: BSD-2-Clause
#include "commands.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "metrics.h"
#include "search.h"
#include "system.h"

namespace varnic::cli {
namespace {

// File names are UTF-8 strings. std::filesystem reads narrow strings in the system's code page on
// Windows, so names cross over as UTF-8 explicitly (elsewhere this changes nothing).
std::filesystem::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string as_string(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

using std::chrono::steady_clock;

double seconds(steady_clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::string format(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string ms(double seconds) { return format("%.1f ms", seconds * 1000.0); }

// Serialises whole lines from worker threads so that batch output never interleaves. In a batch
// every line about a file carries its position, as progress does, and a tally closes the batch.
class Reporter {
 public:
  Reporter(Console console, Verbosity verbosity, std::size_t total, bool summaries_to_err = false)
      : console_(console), verbosity_(verbosity), total_(total), summaries_to_err_(summaries_to_err) {}

  void error(std::size_t index, const std::string& path, const std::string& text) {
    std::lock_guard lock(mutex_);
    console_.err << "varnic-cli: " << position(index) << path << ": " << text << '\n' << std::flush;
  }
  void notice(std::size_t index, const std::string& path, const std::string& text) {
    if (verbosity_ == Verbosity::kQuiet) return;
    std::lock_guard lock(mutex_);
    console_.err << "varnic-cli: " << position(index) << path << ": " << text << '\n' << std::flush;
  }
  // One summary per file: on stdout, unless stdout carries the output file.
  void summary(std::size_t index, const std::string& text) {
    if (verbosity_ == Verbosity::kQuiet) return;
    std::lock_guard lock(mutex_);
    (summaries_to_err_ ? console_.err : console_.out) << position(index) << text << '\n' << std::flush;
  }
  void detail(const std::string& text) {
    if (verbosity_ != Verbosity::kVerbose) return;
    std::lock_guard lock(mutex_);
    console_.err << "  " << text << '\n' << std::flush;
  }
  void skipped() { ++skipped_; }
  // "18 written, 2 failed" after a batch.
  void tally(std::size_t failed) {
    if (verbosity_ == Verbosity::kQuiet || total_ <= 1) return;
    const std::size_t skipped = skipped_.load();
    console_.err << "varnic-cli: " << total_ - failed - skipped << " written";
    if (skipped > 0) console_.err << ", " << skipped << " skipped (output exists)";
    console_.err << ", " << failed << " failed\n" << std::flush;
  }

 private:
  std::string position(std::size_t index) const {
    return total_ > 1 ? '[' + std::to_string(index + 1) + '/' + std::to_string(total_) + "] " : std::string();
  }

  Console console_;
  Verbosity verbosity_;
  std::size_t total_;
  bool summaries_to_err_;
  std::atomic<std::size_t> skipped_{0};
  std::mutex mutex_;
};

struct BatchResult {
  int worst = kExitOk;
  std::size_t failed = 0;
};

// Runs `job(i)` for every input on up to `jobs` threads and returns the highest exit status.
// Threads the system refuses to start are done without: at worst the calling thread does every
// file. Only allocation can throw inside a job: that file fails for lack of memory and the batch
// goes on with the others.
template <class Job>
BatchResult run_batch(std::size_t count, int jobs, const Job& job) {
  std::atomic<std::size_t> next{0};
  std::atomic<int> worst{kExitOk};
  std::atomic<std::size_t> failed{0};
  auto worker = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      const int code = job(i);
      failed += code != kExitOk;
      int seen = worst.load();
      while (code > seen && !worst.compare_exchange_weak(seen, code)) {
      }
    }
  };
  const std::size_t threads = std::min<std::size_t>(count, static_cast<std::size_t>(std::max(jobs, 1)));
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(worker);
    } catch (const std::system_error&) {
      break;  // no more threads to be had (thread or memory limits)
    }
  }
  worker();
  for (std::thread& t : pool) t.join();
  return {worst.load(), failed.load()};
}

// Input files can be no larger than a picture within the pixel limit could be; ASCII PNM
// takes up to about 12 bytes a pixel, so the cap is generous.
std::uint64_t max_input_bytes(const Limits& limits) {
  constexpr std::uint64_t kBytesPerPixel = 16;
  constexpr std::uint64_t kSlack = std::uint64_t{1} << 20;
  if (limits.max_pixels > (UINT64_MAX - kSlack) / kBytesPerPixel) return UINT64_MAX;
  return limits.max_pixels * kBytesPerPixel + kSlack;
}

// The words of the program's file messages for the failures the tool reports with a reason.
constexpr const char* kCannotOpen = "Cannot Open File";
constexpr const char* kCannotWrite = "Cannot Write File";
constexpr const char* kFileTooLarge = "The file is too large to open";

// The file's bytes; "-" is standard input.
Result<std::vector<std::uint8_t>> read_input(const std::string& path, const Limits& limits) {
  std::vector<std::uint8_t> bytes;
  int error = 0;
  if (path == kStandardStream) {
    if (read_standard_input(bytes, max_input_bytes(limits), error)) return bytes;
    if (error == EFBIG) return {Status::kLimitExceeded, kFileTooLarge};
    return {Status::kInvalidFile, std::string(kCannotOpen) + " (" + system_reason(error) + ")"};
  }
  Result<std::vector<std::uint8_t>> file = read_file(path, max_input_bytes(limits), &error);
  if (file) return file;
  if (file.status() == Status::kFileError)
    return {Status::kInvalidFile, file.message() + " (" + system_reason(error) + ")"};
  // A size or memory refusal keeps its own exit status; anything else is a bad input.
  if (exit_code_for(file.status()) == kExitLimit) return {Status::kLimitExceeded, file.message()};
  return {Status::kInvalidFile, file.message()};
}

bool output_exists(const std::string& path) {
  std::error_code ec;
  return path != kStandardStream && std::filesystem::exists(std::filesystem::symlink_status(as_path(path), ec));
}

// Writes through a temporary file that replaces the output only when complete; without -f an
// existing output is never replaced, even one that another process made meanwhile. "-" is
// standard output.
int write_output(const std::string& path, std::span<const std::uint8_t> bytes, bool force, std::size_t index,
                 Reporter& reporter) {
  int error = 0;
  if (path == kStandardStream) {
    if (write_standard_output(bytes, error)) return kExitOk;
    reporter.error(index, path, std::string("Cannot Write File (") + system_reason(error) + ")");
    return kExitCannotWrite;
  }
  if (write_file(path, bytes, force ? Overwrite::kReplace : Overwrite::kRefuse, &error)) return kExitOk;
  if (!force && error == EEXIST) {
    reporter.error(index, path, "output exists (use -f to replace it)");
  } else {
    // The output messages of the picture files read "Cannot Write File"; the system says why.
    reporter.error(index, path, std::string(kCannotWrite) + " (" + system_reason(error) + ")");
  }
  return kExitCannotWrite;
}

std::string describe_size(std::uint32_t width, std::uint32_t height, bool grey) {
  return std::to_string(width) + "x" + std::to_string(height) + (grey ? " grey" : " colour");
}

std::string ratio_text(double numerator, double denominator) {
  return denominator > 0 ? format("%.2f:1", numerator / denominator) : std::string("-");
}

// The file a path will name once written: directories and symbolic links resolved, so that two
// spellings of one file compare equal.
std::string resolved_name(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path absolute = fs::absolute(as_path(path), ec);
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return as_string(ec ? absolute.lexically_normal() : resolved);
}

// Resolves every input's output path. Refuses, before anything runs, a batch in which two inputs
// would write one file (the second would silently replace the first), an output that is one of
// the inputs, a missing -d folder, and binary data for a terminal. Returns an exit status.
int plan_outputs(const BatchOptions& batch, std::string_view extension, std::vector<std::string>& outputs,
                 Console console) {
  if (!batch.output.empty() && batch.inputs.size() != 1) {
    console.err << "varnic-cli: -o names one output; use -d DIR for several inputs\n";
    return kExitUsage;
  }
  const bool from_stdin = std::find(batch.inputs.begin(), batch.inputs.end(), kStandardStream) != batch.inputs.end();
  if (from_stdin && batch.output.empty()) {
    console.err << "varnic-cli: standard input (-) needs an output name: -o FILE, or -o - for standard output\n";
    return kExitUsage;
  }
  if (batch.output == kStandardStream && standard_output_is_terminal()) {
    console.err << "varnic-cli: will not write binary data to a terminal: redirect standard output or use -o FILE\n";
    return kExitUsage;
  }
  if (!batch.directory.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(batch.directory, ec)) {
      const int error = ec ? ec.value() : std::filesystem::exists(batch.directory) ? ENOTDIR : ENOENT;
      console.err << "varnic-cli: " << batch.directory << ": " << kCannotWrite << " (" << system_reason(error)
                  << ")\n";
      return kExitCannotWrite;
    }
  }
  std::vector<FileIdentity> inputs;
  for (const std::string& input : batch.inputs)
    if (const std::optional<FileIdentity> id = file_identity(input)) inputs.push_back(*id);
  std::set<std::string> seen;
  for (const std::string& input : batch.inputs) {
    std::string out = batch.output.empty() ? output_path_for(input, batch.directory, extension) : batch.output;
    if (out != kStandardStream) {
      if (!seen.insert(resolved_name(out)).second) {
        console.err << "varnic-cli: " << input << ": another input also writes " << out << "\n";
        return kExitUsage;
      }
      const std::optional<FileIdentity> id = file_identity(out);
      if (id && std::find(inputs.begin(), inputs.end(), *id) != inputs.end()) {
        console.err << "varnic-cli: " << out << ": the output is an input file; nothing written\n";
        return kExitUsage;
      }
    }
    outputs.push_back(std::move(out));
  }
  return kExitOk;
}

// The refusal of a picture above the pixel limit, with its size: the words the picture readers use.
std::string pixel_limit_message(std::uint64_t width, std::uint64_t height, std::uint64_t limit) {
  // Sides up to 2^32 each: the product fits in 64 bits.
  return "the picture is " + std::to_string(width) + "x" + std::to_string(height) + " = " +
         std::to_string(width * height) + " pixels, more than the limit of " + std::to_string(limit);
}

// A picture file to compress or compare; a .cod file only when `compressed_too`.
Result<PictureFile> read_input_picture(std::span<const std::uint8_t> bytes, const std::string& path,
                                       const Limits& limits, bool compressed_too) {
  const FileKind kind = sniff_kind(bytes, path);
  if (kind == FileKind::kCod && !compressed_too)
    return {Status::kInvalidFile, "a compressed file is not a picture (use decompress)"};
  if (kind == FileKind::kUnknown) return {Status::kInvalidFile, "not a BMP, Targa (.tga), PNG or PNM picture"};
  return read_picture(bytes, path, limits);
}

// A limit refusal of the decoder, told with the picture's size.
std::string decode_limit_message(std::span<const std::uint8_t> file, const Limits& limits, const std::string& fallback) {
  Limits none;
  none.max_pixels = UINT64_MAX;
  Result<Info> info = probe(file, none);
  return info ? pixel_limit_message(info.value().width, info.value().height, limits.max_pixels) : fallback;
}

// --- compress -------------------------------------------------------------------------------

struct Trial {
  int quality = 0;
  Encoded encoded;
  double psnr = 0;
};

// `reference` is given when the trial's PSNR is wanted.
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

Result<Trial> encode_rows(const PictureSource& picture, const EncodeOptions& options) {
  Result<Encoded> encoded = encode(picture, options);
  if (!encoded) return {encoded.status(), encoded.message()};
  Trial trial;
  trial.quality = options.quality;
  trial.encoded = std::move(encoded).value();
  return trial;
}

// Finds the file to write for --target-size / --target-psnr, or explains why there is none.
Result<Trial> search_quality(const Picture& picture, const CompressOptions& options, std::string& note) {
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
    Result<std::optional<int>> q = lowest_passing(0, 99, [&](int quality) -> Result<bool> {
      Result<Trial> t = encode_at(picture.view(), options.encode, quality, &picture);
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

// Before any work: an output left alone by --skip-existing (true, counted), or refused without -f.
bool existing_output(const BatchOptions& batch, const std::string& output, std::size_t index, Reporter& reporter,
                     int& code) {
  if (batch.force || !output_exists(output)) return false;
  if (batch.skip_existing) {
    reporter.skipped();
    reporter.notice(index, output, "exists, skipped");
    code = kExitOk;
  } else {
    reporter.error(index, output, "output exists (use -f to replace it)");
    code = kExitCannotWrite;
  }
  return true;
}

int compress_one(const CompressOptions& options, const std::string& input, const std::string& output,
                 std::size_t index, int library_threads, Reporter& reporter) {
  const BatchOptions& batch = options.batch;
  if (int code = kExitOk; existing_output(batch, output, index, reporter, code)) return code;
  const steady_clock::time_point start = steady_clock::now();
  EncodeOptions encode_options = options.encode;
  encode_options.threads = library_threads;
  encode_options.limits = batch.limits;
  // A plain bitmap coded once by the classic encoder is read row by row where it lies, so that it
  // is never whole in memory; any other file is read whole, which also reports what is wrong with it.
  std::optional<Result<PictureSource>> rows;
  if (input != kStandardStream && encode_options.optimize == 0 && !options.target_size && !options.target_psnr) {
    rows = open_picture_rows(input, batch.limits);
    if (!rows->ok()) rows.reset();
  }
  std::uint64_t input_bytes = 0;
  std::optional<Result<PictureFile>> loaded;
  const steady_clock::time_point parse_start = steady_clock::now();
  if (rows) {
    std::error_code error;
    input_bytes = std::filesystem::file_size(as_path(input), error);
  } else {
    Result<std::vector<std::uint8_t>> bytes = read_input(input, batch.limits);
    if (!bytes) {
      reporter.error(index, input, bytes.message());
      return exit_code_for(bytes.status());
    }
    input_bytes = bytes.value().size();
    // Bitmap and Targa rows stay as the file has them: the encoder reads them in place.
    loaded = read_input_picture(bytes.value(), input, batch.limits, false);
    if (!loaded->ok()) {
      reporter.error(index, input, loaded->message());
      return exit_code_for(loaded->status());
    }
    std::vector<std::uint8_t>().swap(bytes.value());  // the file is not needed once decoded
    for (const std::string& notice : loaded->value().notices) reporter.notice(index, input, notice);
  }
  const std::uint32_t width = rows ? rows->value().width : loaded->value().picture.width;
  const std::uint32_t height = rows ? rows->value().height : loaded->value().picture.height;
  const bool grey = (rows ? rows->value().format : loaded->value().picture.format) == PixelFormat::kGrey8;

  const steady_clock::time_point encode_start = steady_clock::now();
  CompressOptions search_options = options;
  search_options.encode = encode_options;
  std::string note;
  Result<Trial> trial = rows ? encode_rows(rows->value(), encode_options)
                        : options.target_size || options.target_psnr
                            ? search_quality(loaded->value().picture, search_options, note)
                            : encode_at(loaded->value().picture.view(), encode_options, encode_options.quality, nullptr);
  if (!trial) {
    reporter.error(index, input, trial.message());
    return exit_code_for(trial.status());
  }
  const Encoded& encoded = trial.value().encoded;

  const steady_clock::time_point write_start = steady_clock::now();
  if (const int code = write_output(output, encoded.bytes, batch.force, index, reporter); code != kExitOk) return code;
  const steady_clock::time_point end = steady_clock::now();

  std::string line = input + " -> " + output + ": " + describe_size(width, height, grey) + ", " +
                     std::to_string(input_bytes) + " -> " + std::to_string(encoded.bytes.size()) + " bytes (" +
                     ratio_text(static_cast<double>(input_bytes), static_cast<double>(encoded.bytes.size())) +
                     "), quality " + std::to_string(trial.value().quality) + ", " +
                     format("%.3f s", seconds(end - start));
  if (!note.empty()) line += " [" + note + "]";
  reporter.summary(index, line);
  const std::string stages = note.empty() ? "transform " + ms(encoded.timings.transform) + ", entropy coding " +
                                                  ms(encoded.timings.entropy)
                                            : "quality search, the chosen file took " + ms(encoded.timings.total);
  reporter.detail("read " + ms(seconds(parse_start - start)) + ", picture decoding " +
                  ms(seconds(encode_start - parse_start)) + ", encode " + ms(seconds(write_start - encode_start)) +
                  " (" + stages + "), write " + ms(seconds(end - write_start)) + ", total " +
                  ms(seconds(end - start)) + "; levels " + std::to_string(encoded.levels) + ", dropped " +
                  std::to_string(encoded.dropped[0]) + "," + std::to_string(encoded.dropped[1]) + "," +
                  std::to_string(encoded.dropped[2]));
  if (encoded.distortion_scale > 0) {
    reporter.detail("optimised: distortion scale " + format("%.3f", encoded.distortion_scale) +
                    ", mean shift Y " + format("%+.2f", encoded.offsets[0]) +
                    (grey ? std::string() : ", I " + format("%+.2f", encoded.offsets[1]) + ", Q " +
                                                format("%+.2f", encoded.offsets[2])));
  }
  return kExitOk;
}

// --- decompress -----------------------------------------------------------------------------

// A .pgm holds grey and a .ppm colour; .pnm either. Empty when the name fits the picture.
std::string pnm_name_mismatch(const std::string& output, bool grey) {
  std::string ext = std::filesystem::path(output).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".pgm" && !grey) return "a colour picture cannot be written as .pgm: use .ppm or .pnm, or --format";
  if (ext == ".ppm" && grey) return "a grey picture cannot be written as .ppm: use .pgm or .pnm, or --format";
  return {};
}

// A picture is written as the rows are decoded: neither the picture nor the file is whole in memory.
// Every check of the file's header is over before the first byte goes out, so standard output gets
// no part of a picture the decoder refuses.
int decompress_by_rows(const DecompressOptions& options, std::span<const std::uint8_t> file,
                       const DecodeOptions& decode_options, FileKind kind, const std::string& input,
                       const std::string& output, std::size_t index, Reporter& reporter, steady_clock::time_point start) {
  const BatchOptions& batch = options.batch;
  int error = 0;
  Result<WrittenPicture> written =
      output == kStandardStream
          ? decode_to_stream(
                file, kind, [&error](std::span<const std::uint8_t> piece) { return write_standard_output(piece, error); },
                decode_options)
          : decode_to_file(file, output, kind, batch.force ? Overwrite::kReplace : Overwrite::kRefuse, decode_options,
                           &error);
  if (!written && written.status() == Status::kFileError) {
    if (!batch.force && error == EEXIST) {
      reporter.error(index, output, "output exists (use -f to replace it)");
    } else {
      reporter.error(index, output, std::string(kCannotWrite) + " (" + system_reason(error) + ")");
    }
    return kExitCannotWrite;
  }
  if (!written) {
    const bool limit = written.status() == Status::kLimitExceeded;
    reporter.error(index, input, limit ? decode_limit_message(file, batch.limits, written.message()) : written.message());
    return exit_code_for(written.status());
  }
  const WrittenPicture& picture = written.value();
  const steady_clock::time_point end = steady_clock::now();
  std::string line = input + " -> " + output + ": " + describe_size(picture.width, picture.height, picture.info.grey) +
                     ", " + std::to_string(file.size()) + " -> " + std::to_string(picture.bytes) + " bytes";
  if (options.reduce > 0) line += ", reduced 1/" + std::to_string(1 << options.reduce);
  line += ", " + format("%.3f s", seconds(end - start));
  reporter.summary(index, line);
  reporter.detail("decode and write row by row " + ms(seconds(end - start)));
  return kExitOk;
}

int decompress_one(const DecompressOptions& options, FileKind kind, const std::string& input,
                   const std::string& output, std::size_t index, int library_threads, Reporter& reporter) {
  const BatchOptions& batch = options.batch;
  if (int code = kExitOk; existing_output(batch, output, index, reporter, code)) return code;
  const steady_clock::time_point start = steady_clock::now();
  Result<std::vector<std::uint8_t>> bytes = read_input(input, batch.limits);
  if (!bytes) {
    reporter.error(index, input, bytes.message());
    return exit_code_for(bytes.status());
  }
  DecodeOptions decode_options;
  decode_options.reduce = options.reduce;
  decode_options.threads = library_threads;
  decode_options.limits = batch.limits;
  if (kind == FileKind::kPnm && !options.format) {
    // A header the decoder refuses is reported by the decode itself.
    if (const Result<Info> info = probe(bytes.value(), batch.limits); info) {
      if (const std::string mismatch = pnm_name_mismatch(output, info.value().grey); !mismatch.empty()) {
        reporter.error(index, output, mismatch);
        return kExitUsage;
      }
    }
  }
  return decompress_by_rows(options, bytes.value(), decode_options, kind, input, output, index, reporter, start);
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
  const char* names[3] = {"Y", "I", "Q"};
  for (int c = 0; c < (info.grey ? 1 : 3); ++c) {
    s << "  steps " << names[c] << "      ";
    for (std::size_t k = 0; k < info.steps[static_cast<std::size_t>(c)].size(); ++k)
      s << (k == 0 ? "" : " ") << format("%.4g", info.steps[static_cast<std::size_t>(c)][k]);
    s << '\n';
  }
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
    case Status::kPictureTooSmall:
    case Status::kNotCompressedFile:
    case Status::kVersionTooLow:
    case Status::kVersionTooHigh:
    case Status::kInvalidFile:
    case Status::kCancelled:
    case Status::kInternalError:
    case Status::kFileError: return kExitBadInput;
  }
  return kExitBadInput;
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
  const BatchOptions& batch = options.batch;
  if (!batch.output.empty() && batch.output != kStandardStream && kind_from_extension(batch.output) != FileKind::kCod) {
    console.err << "varnic-cli: " << batch.output << ": compress writes .cod files; name the output NAME.cod\n";
    return kExitUsage;
  }
  std::vector<std::string> outputs;
  if (const int code = plan_outputs(batch, ".cod", outputs, console); code != kExitOk) return code;
  const std::size_t count = batch.inputs.size();
  Reporter reporter(console, batch.verbosity, count, batch.output == kStandardStream);
  const int library_threads = count == 1 ? batch.jobs : 1;
  const BatchResult result = run_batch(count, batch.jobs, [&](std::size_t i) {
    try {
      return compress_one(options, batch.inputs[i], outputs[i], i, library_threads, reporter);
    } catch (const std::exception& e) {
      reporter.error(i, batch.inputs[i], std::string("out of memory: ") + e.what());
      return static_cast<int>(kExitLimit);
    }
  });
  reporter.tally(result.failed);
  return result.worst;
}

int run_decompress(const DecompressOptions& options, Console console) {
  const BatchOptions& batch = options.batch;
  FileKind kind = FileKind::kBmp;
  if (options.format) {
    kind = *options.format;
  } else if (!batch.output.empty() && batch.output != kStandardStream) {
    kind = kind_from_extension(batch.output);
    if (kind == FileKind::kUnknown || kind == FileKind::kCod) {
      console.err << "varnic-cli: " << batch.output
                  << ": the name does not say a picture format: use .bmp, .tga, .png, .pnm, .ppm or .pgm, or "
                     "--format\n";
      return kExitUsage;
    }
  }
  std::vector<std::string> outputs;
  if (const int code = plan_outputs(batch, extension_of(kind), outputs, console); code != kExitOk) return code;
  const std::size_t count = batch.inputs.size();
  Reporter reporter(console, batch.verbosity, count, batch.output == kStandardStream);
  const int library_threads = count == 1 ? batch.jobs : 1;
  const BatchResult result = run_batch(count, batch.jobs, [&](std::size_t i) {
    try {
      return decompress_one(options, kind, batch.inputs[i], outputs[i], i, library_threads, reporter);
    } catch (const std::exception& e) {
      reporter.error(i, batch.inputs[i], std::string("out of memory: ") + e.what());
      return static_cast<int>(kExitLimit);
    }
  });
  reporter.tally(result.failed);
  return result.worst;
}

int run_info(const std::vector<std::string>& inputs, bool json, const Limits& limits, Console console) {
  int worst = kExitOk;
  for (const std::string& input : inputs) {
    Result<std::vector<std::uint8_t>> bytes = read_input(input, limits);
    Result<Info> info = bytes ? probe(bytes.value(), limits) : Result<Info>(bytes.status(), bytes.message());
    if (!info) {
      const bool limit = bytes && info.status() == Status::kLimitExceeded;
      console.err << "varnic-cli: " << input << ": "
                  << (limit ? decode_limit_message(bytes.value(), limits, info.message()) : info.message()) << '\n';
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
  if (first == kStandardStream && second == kStandardStream) {
    console.err << "varnic-cli: standard input (-) can be only one of the two pictures\n";
    return kExitUsage;
  }
  for (int k = 0; k < 2; ++k) {
    const std::string& path = *paths[k];
    Result<std::vector<std::uint8_t>> bytes = read_input(path, limits);
    if (!bytes) {
      console.err << "varnic-cli: " << path << ": " << bytes.message() << '\n';
      return exit_code_for(bytes.status());
    }
    Result<PictureFile> loaded = read_input_picture(bytes.value(), path, limits, true);
    if (!loaded) {
      console.err << "varnic-cli: " << path << ": " << loaded.message() << '\n';
      return exit_code_for(loaded.status());
    }
    pictures[k] = std::move(loaded).value().picture;
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
