// SPDX-License-Identifier: BSD-2-Clause
// The four commands of varnic-cli (compress.cpp, decompress.cpp, info.cpp, compare.cpp, over the
// batch runner of batch.h), separated from argument parsing so that every path through them can
// run in-process. Each returns the process exit status.
//
// Exit statuses (documented in --help and the man page): 0 success, 1 usage error, 2 unreadable
// or invalid input, 3 output could not be written (or exists without -f), 4 a limit was
// exceeded (pixel limit, memory, unreachable --target-size or --target-psnr). A batch processes
// every input and exits with the highest status seen.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "varnic/varnic.h"

namespace varnic::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitBadInput = 2,
  kExitCannotWrite = 3,
  kExitLimit = 4,
};

[[nodiscard]] int exit_code_for(Status status);

enum class Verbosity : std::uint8_t { kQuiet, kNormal, kVerbose };

// "-" as an input is standard input, as an output standard output.
inline constexpr std::string_view kStandardStream = "-";

struct BatchOptions {
  std::vector<std::string> inputs;
  std::string files_from;  // --files-from: a list of inputs, "-" for standard input
  bool null_separated = false;  // -0: the list's names end with NUL bytes instead of newlines
  bool recursive = false;  // -r: folders stand for the files under them; -d mirrors their paths
  std::string output;     // -o: one input only
  std::string directory;  // -d: outputs go here under the input's name (its path with -r)
  bool force = false;     // -f: replace existing outputs
  bool skip_existing = false;  // --skip-existing: leave existing outputs alone, a success
  int jobs = 1;           // files at once with several inputs; library threads with one
  Verbosity verbosity = Verbosity::kNormal;
  bool json = false;       // --json: one JSON object per file and line
  std::string json_file;   // --json-file: those lines go here instead of standard output
  Limits limits;
};

struct CompressOptions {
  BatchOptions batch;
  EncodeOptions encode;
  ReadOptions read;                // --keep-orientation, --no-colour-conversion
  bool comment_from_exif = false;  // the picture's EXIF summary as the comment
  std::optional<std::uint64_t> target_size;  // bytes
  std::optional<double> target_psnr;         // dB over RGB (grey for grey pictures)
};

struct DecompressOptions {
  BatchOptions batch;
  std::optional<FileKind> format;  // else from -o's extension, else bitmap
  int reduce = 0;
  int png_level = kDefaultPngLevel;  // --png-level
};

struct Console {
  std::ostream& out;
  std::ostream& err;
};

[[nodiscard]] int run_compress(const CompressOptions& options, Console console);
[[nodiscard]] int run_decompress(const DecompressOptions& options, Console console);
[[nodiscard]] int run_info(const std::vector<std::string>& inputs, bool json, const Limits& limits, Console console);
[[nodiscard]] int run_compare(const std::string& first, const std::string& second, const Limits& limits,
                              Console console);

}  // namespace varnic::cli
