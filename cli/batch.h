// SPDX-License-Identifier: BSD-2-Clause
// The batch runner that compress and decompress share: the inputs gathered (names, --files-from
// lists, folders walked with -r), output names planned and checked before any work, N files at
// once on as many threads as the system gives, and each file's outcome reported in one piece when
// it is done: its lines (with its [n/N] position) and its JSON line, then a tally and the exit
// status of the worst failure. A file that runs out of memory while other files are in work is
// tried again later with fewer at once, down to one, before it counts as failed.
//
// Also the input and output ends every command uses: "-" as standard input or output, the tool's
// words for file faults, and the small formatting helpers of its summaries.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace varnic::cli {


// File names are UTF-8 strings. std::filesystem reads narrow strings in the system's code page on
// Windows, so names cross over as UTF-8 explicitly (elsewhere this changes nothing).
[[nodiscard]] std::filesystem::path as_path(const std::string& utf8);

[[nodiscard]] double seconds(std::chrono::steady_clock::duration duration);
// printf-style formatting of one number ("%.2f").
[[nodiscard]] std::string format(const char* pattern, double value);
[[nodiscard]] std::string ms(double seconds);  // "12.3 ms"
[[nodiscard]] std::string describe_size(std::uint32_t width, std::uint32_t height, bool grey);  // "256x192 colour"
[[nodiscard]] std::string ratio_text(double ratio);  // "29.90:1"

// The words of the program's file messages for the failures the tool reports with a reason.
inline constexpr const char* kCannotOpen = "Cannot Open File";
inline constexpr const char* kCannotWrite = "Cannot Write File";
inline constexpr const char* kFileTooLarge = "The file is too large to open";

// One input of a batch and where its output goes.
struct BatchFile {
  std::string input;
  std::string output;
};

// What became of one file, filled in by the command's job and reported by the runner once the
// file is done, so that a retried file says nothing until its last attempt.
struct FileRecord {
  std::size_t index = 0;
  const BatchFile* file = nullptr;
  int code = kExitOk;
  bool skipped = false;        // --skip-existing found the output
  bool out_of_memory = false;  // failed for lack of memory: worth another try with fewer files at once
  std::string error_path;      // the file the error is about: the input or the output
  std::string message;
  std::vector<std::pair<std::string, std::string>> notices;  // path, text
  std::string summary;
  std::vector<std::string> details;  // -v
  std::uint64_t input_bytes = 0;
  std::uint64_t output_bytes = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  // Records a failure of `code` about `path` and gives the code back.
  int fail(const std::string& path, std::string text, int failure_code);
  // A library refusal: its exit status, and whether memory ran out.
  template <class T>
  int fail(const std::string& path, const Result<T>& refused) {
    out_of_memory = refused.status() == Status::kOutOfMemory;
    return fail(path, refused.message(), exit_code_for(refused.status()));
  }
  void notice(const std::string& path, std::string text) { notices.emplace_back(path, std::move(text)); }
};

// The job a command runs for one file: fills the record and returns the exit status. Only
// allocation can throw inside a job: the file then fails for lack of memory.
using BatchJob = std::function<int(FileRecord& record, int library_threads)>;

// Gathers the inputs (with -r the files under each folder, chosen by `wanted` on their names),
// plans their outputs with `extension` and refuses, before anything runs, a batch in which two
// inputs would write one file, an output that is one of the inputs, a missing -d folder (made
// with -r), binary data for a terminal and a JSON destination that cannot be opened. Then runs
// `job` for every file on up to batch.jobs threads (library threads for a single file), reports
// each outcome and the tally, and returns the highest exit status.
[[nodiscard]] int run_batch(const BatchOptions& batch, std::string_view extension,
                            bool (*wanted)(const std::string& name), const BatchJob& job, Console console);

// `input` with its extension replaced, placed under `directory` when that is not empty: by its
// file name, or with `mirror` by its whole path (an absolute one, or one that climbs above the
// current folder, made absolute and taken from below the root), so that no two inputs meet.
[[nodiscard]] std::string output_path_for(const std::string& input, const std::string& directory,
                                          std::string_view extension, bool mirror = false);

// The file's bytes; "-" is standard input. Files larger than any picture within the limit could
// be are refused before they are read.
[[nodiscard]] Result<std::vector<std::uint8_t>> read_input(const std::string& path, const Limits& limits);
// The header facts of a .cod input; a file is not read whole (standard input is, within the limit).
[[nodiscard]] Result<Info> probe_input(const std::string& path, const Limits& limits);

// A picture file to compress or compare; a .cod file only when `compressed_too`. `read` says what
// is done with a photograph's orientation and colour profile.
[[nodiscard]] Result<PictureFile> read_input_picture(std::span<const std::uint8_t> bytes, const std::string& path,
                                                     const Limits& limits, bool compressed_too,
                                                     const ReadOptions& read = {});

// Before any work: an output left alone by --skip-existing (true, recorded as skipped), or
// refused without -f (true, failed). Also makes the output's folder when -r mirrors into -d.
[[nodiscard]] bool existing_output(const BatchOptions& batch, const std::string& output, FileRecord& record);

// Writes through a temporary file that replaces the output only when complete; without -f an
// existing output is never replaced, even one that another process made meanwhile. "-" is
// standard output. Returns an exit status, a failure recorded.
[[nodiscard]] int write_output(const std::string& path, std::span<const std::uint8_t> bytes, bool force,
                               FileRecord& record);
// The failure of a write to `path` with the system's error number, recorded.
int record_write_failure(const std::string& path, bool force, int error, FileRecord& record);

}  // namespace varnic::cli
