// SPDX-License-Identifier: BSD-2-Clause
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <ostream>
#include <set>
#include <system_error>
#include <thread>

#include "system.h"
#include "text.h"

namespace varnic::cli {

using std::chrono::steady_clock;
namespace {

namespace fs = std::filesystem;

std::string as_string(const fs::path& path) {
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
  return path != kStandardStream && fs::exists(fs::symlink_status(as_path(path), ec));
}

std::uint64_t size_of(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = path == kStandardStream ? 0 : fs::file_size(as_path(path), ec);
  return ec ? 0 : size;
}

// The file a path will name once written: directories and symbolic links resolved, so that two
// spellings of one file compare equal.
std::string resolved_name(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(as_path(path), ec);
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return as_string(ec ? absolute.lexically_normal() : resolved);
}

// An input that failed before it could be worked on (a folder -r could not read).
struct Unreadable {
  std::string path;
  int error = 0;
};

// The names of --files-from: one a line (a line's final carriage return dropped, for lists made
// on Windows) or, with -0, each ended by a NUL byte; empty names are skipped.
bool read_list(const BatchOptions& batch, std::vector<std::string>& names, Console console) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (batch.files_from != kStandardStream) {
    file.open(as_path(batch.files_from), std::ios::binary);
    if (!file) {
      console.err << "varnic-cli: " << printable(batch.files_from) << ": " << kCannotOpen << " ("
                  << system_reason(errno) << ")\n";
      return false;
    }
    in = &file;
  }
  const char end = batch.null_separated ? '\0' : '\n';
  for (std::string name; std::getline(*in, name, end);) {
    if (!batch.null_separated && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(std::move(name));
  }
  if (in->bad()) {
    console.err << "varnic-cli: " << printable(batch.files_from) << ": " << kCannotOpen << " (" << system_reason(EIO)
                << ")\n";
    return false;
  }
  return true;
}

// The files under `folder` that `wanted` takes, in name order; symbolic links to folders are not
// followed, so a loop cannot hold the walk. A folder that cannot be read is reported by the batch.
void walk(const std::string& folder, bool (*wanted)(const std::string& name), std::vector<std::string>& files,
          std::vector<Unreadable>& unreadable) {
  std::error_code ec;
  const std::size_t first = files.size();
  fs::recursive_directory_iterator it(as_path(folder), ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code status_error;
    if (!it->is_regular_file(status_error)) continue;
    std::string name = as_string(it->path());
    if (wanted(name)) files.push_back(std::move(name));
  }
  if (ec) unreadable.push_back({folder, ec.value()});
  std::sort(files.begin() + static_cast<std::ptrdiff_t>(first), files.end());
}

bool is_folder(const std::string& path) {
  std::error_code ec;
  return path != kStandardStream && fs::is_directory(as_path(path), ec);
}

// The inputs of the batch in order: the names given, then those of --files-from, each folder
// replaced by its files with -r.
bool gather_inputs(const BatchOptions& batch, bool (*wanted)(const std::string& name), std::vector<std::string>& inputs,
                   std::vector<Unreadable>& unreadable, Console console) {
  std::vector<std::string> names = batch.inputs;
  if (!batch.files_from.empty() && !read_list(batch, names, console)) return false;
  for (std::string& name : names) {
    if (batch.recursive && is_folder(name)) {
      walk(name, wanted, inputs, unreadable);
    } else {
      inputs.push_back(std::move(name));
    }
  }
  return true;
}

// Checks the batch before any work and plans every output. Returns an exit status.
// The library's refusal of a file that is not a compressed file, judged by its first bytes.
std::optional<std::string> not_compressed(const std::string& path) {
  std::ifstream in(as_path(path), std::ios::binary);
  char first[kJudgedStdinBytes] = {};
  in.read(first, sizeof first);
  const Result<Info> info = probe(std::span(reinterpret_cast<const std::uint8_t*>(first),
                                            static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0))));
  if (info.status() == Status::kNotCompressedFile) return info.message();
  return std::nullopt;
}

int plan_outputs(const BatchOptions& batch, std::string_view extension, const std::vector<std::string>& inputs,
                 std::vector<BatchFile>& files, Console console) {
  if (!batch.output.empty() && inputs.size() != 1) {
    console.err << "varnic-cli: -o names one output; use -d DIR for several inputs\n";
    return kExitUsage;
  }
  const bool from_stdin = std::find(inputs.begin(), inputs.end(), kStandardStream) != inputs.end();
  if (from_stdin && batch.files_from == kStandardStream) {
    console.err << "varnic-cli: standard input (-) cannot hold both the list of --files-from and a picture\n";
    return kExitUsage;
  }
  if (from_stdin && batch.output.empty()) {
    console.err << "varnic-cli: standard input (-) needs an output name: -o FILE, or -o - for standard output\n";
    return kExitUsage;
  }
  if (batch.output == kStandardStream && batch.json && batch.json_file.empty()) {
    console.err << "varnic-cli: standard output cannot carry both the picture and --json: use --json-file FILE\n";
    return kExitUsage;
  }
  if (batch.output == kStandardStream && standard_output_is_terminal()) {
    console.err << "varnic-cli: will not write binary data to a terminal: redirect standard output or use -o FILE\n";
    return kExitUsage;
  }
  if (!batch.directory.empty()) {
    std::error_code ec;
    // -r mirrors a tree into the folder, which is made as needed; otherwise it must be there.
    if (batch.recursive) fs::create_directories(as_path(batch.directory), ec);
    if (!fs::is_directory(as_path(batch.directory), ec)) {
      const int error = ec ? ec.value() : fs::exists(as_path(batch.directory)) ? ENOTDIR : ENOENT;
      console.err << "varnic-cli: " << printable(batch.directory) << ": " << kCannotWrite << " ("
                  << system_reason(error) << ")\n";
      return kExitCannotWrite;
    }
  }
  std::vector<FileIdentity> identities;
  for (const std::string& input : inputs)
    if (const std::optional<FileIdentity> id = file_identity(input)) identities.push_back(*id);
  std::sort(identities.begin(), identities.end(), [](const FileIdentity& a, const FileIdentity& b) {
    return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
  });
  const bool mirror = batch.recursive && !batch.directory.empty();
  std::set<std::string> seen;
  files.reserve(inputs.size());
  for (const std::string& input : inputs) {
    std::string out =
        batch.output.empty() ? output_path_for(input, batch.directory, extension, mirror) : batch.output;
    if (out != kStandardStream) {
      if (!seen.insert(resolved_name(out)).second) {
        console.err << "varnic-cli: " << printable(input) << ": another input also writes " << printable(out)
                    << (mirror ? "\n" : " (-r with -d keeps the inputs' folders apart)\n");
        return kExitUsage;
      }
      const std::optional<FileIdentity> id = file_identity(out);
      if (id && std::binary_search(identities.begin(), identities.end(), *id,
                                   [](const FileIdentity& a, const FileIdentity& b) {
                                     return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
                                   })) {
        // A picture given to decompress, whose output takes its own name: what is wrong is the
        // input, as for any other input that is not a compressed file.
        if (extension != ".cod") {
          if (std::optional<std::string> why = not_compressed(input)) {
            console.err << "varnic-cli: " << printable(input) << ": " << *why << '\n';
            return kExitBadInput;
          }
        }
        console.err << "varnic-cli: " << printable(out) << ": the output is an input file; nothing written\n";
        return kExitUsage;
      }
    }
    files.push_back({input, std::move(out)});
  }
  return kExitOk;
}

// Reports each file's outcome in one piece under one lock, so that lines never interleave and a
// file's lines stay together, and counts the outcomes for the tally.
class Reporter {
 public:
  Reporter(const BatchOptions& batch, std::size_t total, Console console, std::ostream* json)
      : batch_(batch), total_(total), console_(console), json_(json) {}

  void finish(const FileRecord& r, double elapsed) {
    const std::lock_guard lock(mutex_);
    const bool quiet = batch_.verbosity == Verbosity::kQuiet;
    const std::string at = position(r.index);
    if (!quiet)
      for (const auto& [path, text] : r.notices) console_.err << "varnic-cli: " << at << printable(path) << ": " << text << '\n';
    if (r.code != kExitOk) {
      console_.err << "varnic-cli: " << at << printable(r.error_path) << ": " << r.message << '\n';
      ++failed_;
    } else if (r.skipped) {
      ++skipped_;
    } else {
      ++written_;
    }
    // The summary goes where the picture does not: standard error when standard output carries
    // the picture, nowhere when it carries the JSON lines.
    const bool json_on_stdout = json_ == &console_.out;
    if (!quiet && !r.summary.empty() && !json_on_stdout)
      (batch_.output == kStandardStream ? console_.err : console_.out) << at << r.summary << '\n';
    if (batch_.verbosity == Verbosity::kVerbose)
      for (const std::string& d : r.details) console_.err << "  " << d << '\n';
    console_.out.flush();
    console_.err.flush();
    if (json_ != nullptr) {
      *json_ << "{\"index\":" << r.index + 1 << ",\"input\":" << json_string(r.file->input)
             << ",\"output\":" << json_string(r.file->output) << ",\"status\":\""
             << (r.code != kExitOk ? "failed" : r.skipped ? "skipped" : "written") << "\",\"exit\":" << r.code
             << ",\"message\":" << json_string(r.code != kExitOk ? r.message : std::string())
             << ",\"input_bytes\":" << r.input_bytes << ",\"output_bytes\":" << r.output_bytes
             << ",\"width\":" << r.width << ",\"height\":" << r.height << ",\"seconds\":" << format("%.6f", elapsed)
             << "}\n"
             << std::flush;
    }
  }
  void retried(std::size_t files) { retried_ += files; }
  void unreadable(const Unreadable& u) {
    const std::lock_guard lock(mutex_);
    console_.err << "varnic-cli: " << printable(u.path) << ": " << kCannotOpen << " (" << system_reason(u.error) << ")\n";
    ++failed_;
    ++unreadable_;
  }
  // "18 written, 2 failed" after a batch.
  void tally() {
    if (batch_.verbosity == Verbosity::kQuiet || total_ + unreadable_ <= 1) return;
    console_.err << "varnic-cli: " << written_ << " written";
    if (skipped_ > 0) console_.err << ", " << skipped_ << " skipped (output exists)";
    console_.err << ", " << failed_ << " failed";
    if (retried_ > 0) console_.err << "; " << retried_ << " out of memory tried again with fewer files at once";
    console_.err << '\n' << std::flush;
  }

 private:
  std::string position(std::size_t index) const {
    return total_ > 1 ? '[' + std::to_string(index + 1) + '/' + std::to_string(total_) + "] " : std::string();
  }

  const BatchOptions& batch_;
  std::size_t total_;
  Console console_;
  std::ostream* json_;
  std::mutex mutex_;
  std::size_t written_ = 0;
  std::size_t skipped_ = 0;
  std::size_t failed_ = 0;
  std::size_t retried_ = 0;
  std::size_t unreadable_ = 0;
};

// One pass over `indices` with up to `workers` threads. A file that runs out of memory while
// other threads work is handed back in `deferred` instead of being reported.
void run_pass(const std::vector<std::size_t>& indices, int workers, int library_threads,
              const std::vector<BatchFile>& files, const BatchJob& job, Reporter& reporter, std::atomic<int>& worst,
              std::vector<std::size_t>& deferred) {
  std::atomic<std::size_t> next{0};
  std::mutex deferred_mutex;
  std::size_t started = 1;
  auto worker = [&] {
    for (std::size_t k = next++; k < indices.size(); k = next++) {
      FileRecord record;
      record.index = indices[k];
      record.file = &files[indices[k]];
      const steady_clock::time_point start = steady_clock::now();
      int code = kExitOk;
      try {
        code = job(record, library_threads);
      } catch (const std::bad_alloc&) {
        FileRecord fresh;  // what the job had recorded before memory ran out no longer holds
        fresh.index = record.index;
        fresh.file = record.file;
        record = std::move(fresh);
        code = record.fail(record.file->input, "out of memory", kExitLimit);
        record.out_of_memory = true;
      }
      record.code = code;
      if (code != kExitOk && record.out_of_memory && started > 1) {
        const std::lock_guard lock(deferred_mutex);
        deferred.push_back(record.index);
        continue;
      }
      reporter.finish(record, seconds(steady_clock::now() - start));
      int seen = worst.load();
      while (code > seen && !worst.compare_exchange_weak(seen, code)) {
      }
    }
  };
  const std::size_t threads = std::min<std::size_t>(indices.size(), static_cast<std::size_t>(std::max(workers, 1)));
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(worker);
      ++started;
    } catch (const std::system_error&) {
      break;  // no more threads to be had (thread or memory limits)
    }
  }
  worker();
  for (std::thread& t : pool) t.join();
  std::sort(deferred.begin(), deferred.end());
}

}  // namespace

fs::path as_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

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

int FileRecord::fail(const std::string& path, std::string text, int failure_code) {
  error_path = path;
  message = std::move(text);
  code = failure_code;
  return failure_code;
}

int run_batch(const BatchOptions& batch, std::string_view extension, bool (*wanted)(const std::string& name),
              const BatchJob& job, Console console) {
  std::vector<std::string> inputs;
  std::vector<Unreadable> unreadable;
  if (!gather_inputs(batch, wanted, inputs, unreadable, console)) return kExitBadInput;
  std::vector<BatchFile> files;
  if (const int code = plan_outputs(batch, extension, inputs, files, console); code != kExitOk) return code;
  std::vector<std::string>().swap(inputs);

  std::ofstream json_file;
  std::ostream* json = nullptr;
  if (batch.json) {
    json = &console.out;
    if (!batch.json_file.empty()) {
      json_file.open(as_path(batch.json_file), std::ios::binary | std::ios::trunc);
      if (!json_file) {
        console.err << "varnic-cli: " << printable(batch.json_file) << ": " << kCannotWrite << " ("
                    << system_reason(errno) << ")\n";
        return kExitCannotWrite;
      }
      json = &json_file;
    }
  }

  Reporter reporter(batch, files.size(), console, json);
  std::atomic<int> worst{kExitOk};
  for (const Unreadable& u : unreadable) reporter.unreadable(u);
  if (!unreadable.empty()) worst = kExitBadInput;
  // One file takes the threads inside the library; several take one thread each.
  const int library_threads = files.size() == 1 ? batch.jobs : 1;
  std::vector<std::size_t> pending(files.size());
  for (std::size_t i = 0; i < pending.size(); ++i) pending[i] = i;
  // Files that ran out of memory beside others are tried again with half as many at once, down to
  // one; only then does their failure count.
  for (int workers = std::max(batch.jobs, 1); !pending.empty(); workers = std::max(1, workers / 2)) {
    std::vector<std::size_t> deferred;
    run_pass(pending, workers, library_threads, files, job, reporter, worst, deferred);
    reporter.retried(deferred.size());
    pending = std::move(deferred);
  }
  reporter.tally();
  if (json_file.is_open()) {
    json_file.close();
    if (!json_file) {
      console.err << "varnic-cli: " << printable(batch.json_file) << ": " << kCannotWrite << '\n';
      worst = std::max(worst.load(), static_cast<int>(kExitCannotWrite));
    }
  }
  return worst.load();
}

std::string output_path_for(const std::string& input, const std::string& directory, std::string_view extension,
                            bool mirror) {
  fs::path path = as_path(input);
  path.replace_extension(as_path(std::string(extension)));
  if (directory.empty()) return as_string(path);
  if (!mirror) return as_string(as_path(directory) / path.filename());
  fs::path relative = path.lexically_normal();
  if (relative.is_absolute() || relative.has_root_name() || (!relative.empty() && *relative.begin() == "..")) {
    std::error_code ec;
    relative = fs::absolute(path, ec).lexically_normal();
  }
  return as_string(as_path(directory) / relative.relative_path());
}

namespace {

// A file that could not be read, worded for the tally: a size or memory refusal keeps its own exit
// status; anything else is a bad input.
template <typename T>
Result<T> input_failure(Status status, const std::string& message, int error) {
  if (status == Status::kFileError) return {Status::kInvalidFile, message + " (" + system_reason(error) + ")"};
  if (status == Status::kOutOfMemory) return {status, message};
  if (exit_code_for(status) == kExitLimit) return {Status::kLimitExceeded, message};
  return {Status::kInvalidFile, message};
}

}  // namespace

Result<std::vector<std::uint8_t>> read_input(const std::string& path, const Limits& limits) {
  std::vector<std::uint8_t> bytes;
  int error = 0;
  if (path == kStandardStream) {
    const FirstBytesCheck known = [](std::span<const std::uint8_t> first) {
      return sniff_kind(first, kStandardStream) != FileKind::kUnknown;
    };
    if (read_standard_input(bytes, max_input_bytes(limits), error, known)) return bytes;
    if (error == 0) return {Status::kInvalidFile, "neither a compressed file nor a picture this tool reads"};
    if (error == EFBIG) return {Status::kLimitExceeded, kFileTooLarge};
    return {Status::kInvalidFile, std::string(kCannotOpen) + " (" + system_reason(error) + ")"};
  }
  Result<std::vector<std::uint8_t>> file = read_file(path, max_input_bytes(limits), &error);
  if (file) return file;
  return input_failure<std::vector<std::uint8_t>>(file.status(), file.message(), error);
}

Result<Info> probe_input(const std::string& path, const Limits& limits) {
  if (path == kStandardStream) {
    Result<std::vector<std::uint8_t>> bytes = read_input(path, limits);
    return bytes ? probe(bytes.value(), limits) : Result<Info>(bytes.status(), bytes.message());
  }
  int error = 0;
  Result<Info> info = probe_file(path, limits, &error);
  if (info || info.status() != Status::kFileError) return info;
  return input_failure<Info>(info.status(), info.message(), error);
}

Result<PictureFile> read_input_picture(std::span<const std::uint8_t> bytes, const std::string& path,
                                       const Limits& limits, bool compressed_too, const ReadOptions& read) {
  const FileKind kind = sniff_kind(bytes, path);
  if (kind == FileKind::kCod && !compressed_too)
    return {Status::kInvalidFile, "a compressed file is not a picture (use decompress)"};
  if (kind == FileKind::kUnknown)
    return {Status::kInvalidFile, "not a BMP, Targa (.tga), PNG, PNM, JPEG, TIFF or WebP picture"};
  return read_picture(bytes, path, limits, read);
}

bool existing_output(const BatchOptions& batch, const std::string& output, FileRecord& record) {
  if (batch.recursive && !batch.directory.empty() && output != kStandardStream) {
    std::error_code ec;
    fs::create_directories(as_path(output).parent_path(), ec);
    if (ec) {
      record.fail(output, std::string(kCannotWrite) + " (" + system_reason(ec.value()) + ")", kExitCannotWrite);
      return true;
    }
  }
  if (batch.force || !output_exists(output)) return false;
  if (batch.skip_existing) {
    record.skipped = true;
    record.notice(output, "exists, skipped");
    record.input_bytes = size_of(record.file->input);
    record.output_bytes = size_of(output);
  } else {
    record.fail(output, "output exists (use -f to replace it)", kExitCannotWrite);
  }
  return true;
}

int record_write_failure(const std::string& path, bool force, int error, FileRecord& record) {
  if (!force && error == EEXIST) return record.fail(path, "output exists (use -f to replace it)", kExitCannotWrite);
  // The output messages of the picture files read "Cannot Write File"; the system says why.
  return record.fail(path, std::string(kCannotWrite) + " (" + system_reason(error) + ")", kExitCannotWrite);
}

int write_output(const std::string& path, std::span<const std::uint8_t> bytes, bool force, FileRecord& record) {
  int error = 0;
  if (path == kStandardStream) {
    if (write_standard_output(bytes, error)) return kExitOk;
    return record_write_failure(path, true, error, record);
  }
  if (write_file(path, bytes, force ? Overwrite::kReplace : Overwrite::kRefuse, &error)) return kExitOk;
  return record_write_failure(path, force, error, record);
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

}  // namespace varnic::cli
