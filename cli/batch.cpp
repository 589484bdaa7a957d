// SPDX-License-Identifier: BSD-2-Clause
#include "batch.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <ostream>
#include <set>
#include <system_error>
#include <thread>

#include "system.h"

namespace varnic::cli {
namespace {

std::string as_string(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

// Input files can be no larger than a picture within the pixel limit could be; ASCII PNM
// takes up to about 12 bytes a pixel, so the cap is generous.
std::uint64_t max_input_bytes(const Limits& limits) {
  constexpr std::uint64_t kBytesPerPixel = 16;
  constexpr std::uint64_t kSlack = std::uint64_t{1} << 20;
  if (limits.max_pixels > (UINT64_MAX - kSlack) / kBytesPerPixel) return UINT64_MAX;
  return limits.max_pixels * kBytesPerPixel + kSlack;
}

bool output_exists(const std::string& path) {
  std::error_code ec;
  return path != kStandardStream && std::filesystem::exists(std::filesystem::symlink_status(as_path(path), ec));
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

}  // namespace

std::filesystem::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

double seconds(steady_clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::string format(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string ms(double seconds) { return format("%.1f ms", seconds * 1000.0); }

std::string describe_size(std::uint32_t width, std::uint32_t height, bool grey) {
  return std::to_string(width) + "x" + std::to_string(height) + (grey ? " grey" : " colour");
}

std::string ratio_text(double ratio) { return ratio > 0 ? format("%.2f:1", ratio) : std::string("-"); }

void Reporter::error(std::size_t index, const std::string& path, const std::string& text) {
  std::lock_guard lock(mutex_);
  console_.err << "varnic-cli: " << position(index) << path << ": " << text << '\n' << std::flush;
}

void Reporter::notice(std::size_t index, const std::string& path, const std::string& text) {
  if (verbosity_ == Verbosity::kQuiet) return;
  std::lock_guard lock(mutex_);
  console_.err << "varnic-cli: " << position(index) << path << ": " << text << '\n' << std::flush;
}

void Reporter::summary(std::size_t index, const std::string& text) {
  if (verbosity_ == Verbosity::kQuiet) return;
  std::lock_guard lock(mutex_);
  (summaries_to_err_ ? console_.err : console_.out) << position(index) << text << '\n' << std::flush;
}

void Reporter::detail(const std::string& text) {
  if (verbosity_ != Verbosity::kVerbose) return;
  std::lock_guard lock(mutex_);
  console_.err << "  " << text << '\n' << std::flush;
}

void Reporter::tally(std::size_t failed) {
  if (verbosity_ == Verbosity::kQuiet || total_ <= 1) return;
  const std::size_t skipped = skipped_.load();
  console_.err << "varnic-cli: " << total_ - failed - skipped << " written";
  if (skipped > 0) console_.err << ", " << skipped << " skipped (output exists)";
  console_.err << ", " << failed << " failed\n" << std::flush;
}

std::string Reporter::position(std::size_t index) const {
  return total_ > 1 ? '[' + std::to_string(index + 1) + '/' + std::to_string(total_) + "] " : std::string();
}

BatchResult run_batch(std::size_t count, int jobs, const std::function<int(std::size_t)>& job) {
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

Result<PictureFile> read_input_picture(std::span<const std::uint8_t> bytes, const std::string& path,
                                       const Limits& limits, bool compressed_too) {
  const FileKind kind = sniff_kind(bytes, path);
  if (kind == FileKind::kCod && !compressed_too)
    return {Status::kInvalidFile, "a compressed file is not a picture (use decompress)"};
  if (kind == FileKind::kUnknown) return {Status::kInvalidFile, "not a BMP, Targa (.tga), PNG or PNM picture"};
  return read_picture(bytes, path, limits);
}


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

int report_write_failure(const std::string& path, bool force, int error, std::size_t index, Reporter& reporter) {
  if (!force && error == EEXIST) {
    reporter.error(index, path, "output exists (use -f to replace it)");
  } else {
    // The output messages of the picture files read "Cannot Write File"; the system says why.
    reporter.error(index, path, std::string(kCannotWrite) + " (" + system_reason(error) + ")");
  }
  return kExitCannotWrite;
}

int write_output(const std::string& path, std::span<const std::uint8_t> bytes, bool force, std::size_t index,
                 Reporter& reporter) {
  int error = 0;
  if (path == kStandardStream) {
    if (write_standard_output(bytes, error)) return kExitOk;
    return report_write_failure(path, true, error, index, reporter);
  }
  if (write_file(path, bytes, force ? Overwrite::kReplace : Overwrite::kRefuse, &error)) return kExitOk;
  return report_write_failure(path, force, error, index, reporter);
}

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


}  // namespace varnic::cli
