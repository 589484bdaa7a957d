// SPDX-License-Identifier: BSD-2-Clause
// The batch runner that compress and decompress share: output names planned and checked before
// any work, N files at once on as many threads as the system gives, whole lines under one lock
// with each file's [n/N] position, a tally, and the exit status of the worst failure. Also the
// input and output ends every command uses: "-" as standard input or output, the tool's words for
// file faults, and the small formatting helpers of its summaries.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace varnic::cli {

using std::chrono::steady_clock;

// File names are UTF-8 strings. std::filesystem reads narrow strings in the system's code page on
// Windows, so names cross over as UTF-8 explicitly (elsewhere this changes nothing).
[[nodiscard]] std::filesystem::path as_path(const std::string& utf8);

[[nodiscard]] double seconds(steady_clock::duration duration);
// printf-style formatting of one number ("%.2f").
[[nodiscard]] std::string format(const char* pattern, double value);
[[nodiscard]] std::string ms(double seconds);  // "12.3 ms"
[[nodiscard]] std::string describe_size(std::uint32_t width, std::uint32_t height, bool grey);  // "256x192 colour"
[[nodiscard]] std::string ratio_text(double ratio);  // "29.90:1"

// The words of the program's file messages for the failures the tool reports with a reason.
inline constexpr const char* kCannotOpen = "Cannot Open File";
inline constexpr const char* kCannotWrite = "Cannot Write File";
inline constexpr const char* kFileTooLarge = "The file is too large to open";

// Serialises whole lines from worker threads so that batch output never interleaves. In a batch
// every line about a file carries its position, as progress does, and a tally closes the batch.
class Reporter {
 public:
  Reporter(Console console, Verbosity verbosity, std::size_t total, bool summaries_to_err = false)
      : console_(console), verbosity_(verbosity), total_(total), summaries_to_err_(summaries_to_err) {}

  void error(std::size_t index, const std::string& path, const std::string& text);
  void notice(std::size_t index, const std::string& path, const std::string& text);
  // One summary per file: on stdout, unless stdout carries the output file.
  void summary(std::size_t index, const std::string& text);
  void detail(const std::string& text);
  void skipped() { ++skipped_; }
  // "18 written, 2 failed" after a batch.
  void tally(std::size_t failed);

 private:
  std::string position(std::size_t index) const;

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
// file.
[[nodiscard]] BatchResult run_batch(std::size_t count, int jobs, const std::function<int(std::size_t)>& job);

// Resolves every input's output path. Refuses, before anything runs, a batch in which two inputs
// would write one file (the second would silently replace the first), an output that is one of
// the inputs, a missing -d folder, and binary data for a terminal. Returns an exit status.
[[nodiscard]] int plan_outputs(const BatchOptions& batch, std::string_view extension, std::vector<std::string>& outputs,
                               Console console);

// The file's bytes; "-" is standard input. Files larger than any picture within the limit could
// be are refused before they are read.
[[nodiscard]] Result<std::vector<std::uint8_t>> read_input(const std::string& path, const Limits& limits);

// A picture file to compress or compare; a .cod file only when `compressed_too`.
[[nodiscard]] Result<PictureFile> read_input_picture(std::span<const std::uint8_t> bytes, const std::string& path,
                                                     const Limits& limits, bool compressed_too);

// Before any work: an output left alone by --skip-existing (true, counted), or refused without -f.
[[nodiscard]] bool existing_output(const BatchOptions& batch, const std::string& output, std::size_t index,
                                   Reporter& reporter, int& code);

// Writes through a temporary file that replaces the output only when complete; without -f an
// existing output is never replaced, even one that another process made meanwhile. "-" is
// standard output. Returns an exit status, the failure reported.
[[nodiscard]] int write_output(const std::string& path, std::span<const std::uint8_t> bytes, bool force,
                               std::size_t index, Reporter& reporter);
// The report of a failed write to `path` with the system's error number.
[[nodiscard]] int report_write_failure(const std::string& path, bool force, int error, std::size_t index,
                                       Reporter& reporter);

}  // namespace varnic::cli
