// SPDX-License-Identifier: BSD-2-Clause
// varnic-cli: argument parsing only; the commands live in commands.cpp.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <thread>

#include "commands.h"
#include "system.h"
#include "varnic/standard_streams.h"

namespace {

using namespace varnic::cli;
using varnic::EncodeOptions;

constexpr const char* kExitCodes =
    "Exit status: 0 success, 1 usage error, 2 unreadable or invalid input, 3 output could not be\n"
    "written (or exists without -f), 4 a limit was exceeded (pixels, memory, unreachable target).\n"
    "A batch processes every input and exits with the highest status seen. SIGINT, SIGTERM and the\n"
    "other signals that end a process remove unfinished outputs and exit with 128 + the signal's number.";

constexpr const char* kUsage =
    "usage: varnic-cli {compress|decompress|info|compare} ... (--help for details)\n"
    "example: varnic-cli compress photo.bmp -q 60 && varnic-cli decompress photo.cod -o back.png\n";

// One rule for every whole-number option: decimal digits only (no sign, no 0x; a leading 0 is not
// octal), at most what 64 bits hold. The option's own range is checked after this.
const CLI::Validator kDecimal(
    [](std::string& text) -> std::string {
      std::uint64_t value = 0;
      const char* end = text.data() + text.size();
      const auto [stop, error] = std::from_chars(text.data(), end, value);
      if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "takes a whole number in decimal digits";
      if (error == std::errc::result_out_of_range || stop != end) return "the number is out of range";
      text = std::to_string(value);
      return {};
    },
    "", "DECIMAL");

// Real-number options: a finite decimal number (no nan, no infinity, no hexadecimal).
const CLI::Validator kFiniteDecimal(
    [](const std::string& text) -> std::string {
      double value = 0;
      const char* end = text.data() + text.size();
      const auto [stop, error] = std::from_chars(text.data(), end, value);
      if (error == std::errc::result_out_of_range) return "the number is out of range";
      if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
        return "takes a finite number in decimal digits";
      return {};
    },
    "", "DECIMAL");

// Files at once, or one picture's threads: as many as the library takes.
constexpr int kMaxJobs = varnic::kMaxThreads;

// "-j N": 1..256, or 0 / "all" for one per core.
std::string parse_jobs(const std::string& text, int& jobs) {
  const std::optional<std::vector<int>> numbers = varnic::parse_number_list(text);
  if (text != "all" && (!numbers || numbers->size() != 1 || (*numbers)[0] > kMaxJobs))
    return "-j takes 1.." + std::to_string(kMaxJobs) + ", or 0 or 'all' for one per core";
  jobs = text != "all" && (*numbers)[0] > 0
             ? (*numbers)[0]
             : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxJobs);
  return {};
}

void add_batch_options(CLI::App& command, BatchOptions& batch, std::string& jobs, std::uint64_t& max_pixels,
                       bool& quiet, bool& verbose, const char* what) {
  auto* inputs = command.add_option("inputs", batch.inputs, what + std::string(" ('-': standard input)"));
  auto* list = command.add_option("--files-from", batch.files_from,
                                  "Inputs listed in FILE, one a line ('-': standard input)");
  command.add_flag("-0,--null", batch.null_separated, "--files-from's names end with NUL bytes, not newlines")
      ->needs(list);
  // Inputs come from the command line or a list, or both: one of them is needed.
  command.callback([inputs, list] {
    if (inputs->count() == 0 && list->count() == 0) throw CLI::RequiredError("inputs or --files-from");
  });
  command.add_flag("-r,--recursive", batch.recursive,
                   "Folders stand for the pictures under them; with -d their paths are kept there");
  auto* output = command.add_option("-o,--output", batch.output, "Output file (one input only; '-': standard output)");
  command.add_option("-d,--directory", batch.directory,
                     "Directory for the outputs, named after the inputs (with -r: under their paths, folders made "
                     "as needed)")
      ->excludes(output);
  auto* json = command.add_flag("--json", batch.json, "One JSON object per file and line on stdout");
  command.add_option("--json-file", batch.json_file, "Those JSON lines into FILE instead")->needs(json);
  command.add_option("-j,--jobs", jobs,
                     "Files processed at once (0 or 'all': one per core); with one input, threads for that "
                     "picture. Outputs never depend on it")
      ->capture_default_str();
  auto* force = command.add_flag("-f,--force", batch.force, "Replace existing outputs (they are never replaced otherwise)");
  command.add_flag("--skip-existing", batch.skip_existing, "Leave existing outputs alone and count them as done")
      ->excludes(force);
  auto* v = command.add_flag("-v,--verbose", verbose, "Per-stage timings on stderr");
  command.add_flag("--quiet", quiet, "Print errors only")->excludes(v);
  command.add_option("--max-pixels", max_pixels, "Refuse pictures with more pixels than this")
      ->transform(kDecimal)
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
}

// The options that carry each encode setting.
const char* option_name(varnic::EncodeOption option) {
  switch (option) {
    case varnic::EncodeOption::kNone: return "";
    case varnic::EncodeOption::kQuality: return "-q";
    case varnic::EncodeOption::kType: return "--type";
    case varnic::EncodeOption::kLevels: return "--levels";
    case varnic::EncodeOption::kQuantY: return "--quant-y";
    case varnic::EncodeOption::kQuantI: return "--quant-i";
    case varnic::EncodeOption::kQuantQ: return "--quant-q";
    case varnic::EncodeOption::kThresholds: return "--thresholds";
    case varnic::EncodeOption::kDropped: return "--dropped";
    case varnic::EncodeOption::kComment: return "--comment";
    case varnic::EncodeOption::kOptimize: return "-O";
    case varnic::EncodeOption::kThreads: return "-j";
    case varnic::EncodeOption::kTargetSize: return "--target-size";
    case varnic::EncodeOption::kTargetPsnr: return "--target-psnr";
    case varnic::EncodeOption::kTune: return "--tune";
  }
  return "";
}

// The library's check of the encode settings, worded for the options that carry them.
std::string check_settings(const EncodeOptions& e) {
  using Kind = varnic::OptionProblem::Kind;
  const varnic::OptionProblem p = varnic::check_encode_options(e);
  std::string subject = option_name(p.option);
  if (p.entry >= 0) {
    static constexpr const char* kPlanes[3] = {"Y", "I", "Q"};
    subject += p.option == varnic::EncodeOption::kDropped && p.entry < 3 ? std::string(" ") + kPlanes[p.entry]
                                                                        : ", entry " + std::to_string(p.entry + 1);
  }
  const std::string value = std::to_string(p.value) + (p.option == varnic::EncodeOption::kComment ? " bytes" : "");
  switch (p.kind) {
    case Kind::kNone: return {};
    case Kind::kBelowMinimum: return subject + ": " + value + " is below the minimum " + std::to_string(p.bound);
    case Kind::kAboveMaximum: return subject + ": " + value + " is above the maximum " + std::to_string(p.bound);
    case Kind::kWrongCount:
      return subject + ": needs " + std::to_string(p.bound) + " numbers (" +
             (p.option == varnic::EncodeOption::kThresholds ? "levels + 1" : "3 x levels + 1") + "), got " +
             std::to_string(p.value);
    case Kind::kOptimizerChooses: return subject + ": the optimizer chooses it; with -O give only --levels";
    case Kind::kConflict: return subject + ": give --target-size or --target-psnr, not both";
    case Kind::kNeedsOptimizer: return subject + ": only the optimizing encoder has it; add -O 1..3";
  }
  return subject;
}

Verbosity verbosity_of(bool quiet, bool verbose) {
  return quiet ? Verbosity::kQuiet : verbose ? Verbosity::kVerbose : Verbosity::kNormal;
}

int run(int argc, char** argv) {
  if (argc <= 1) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  CLI::App app{"varnic-cli: wavelet image compression to and from .cod files"};
  app.set_version_flag("--version", std::string(varnic::version_text()));
  app.require_subcommand(1);
  // "/name" is a path on every system, never an option (Windows builds would take it for one).
  app.allow_windows_style_options(false);
  app.footer(kExitCodes);

  // --- compress
  CompressOptions compress;
  std::uint64_t compress_max_pixels = varnic::kDefaultMaxPixels;
  bool compress_quiet = false;
  bool compress_verbose = false;
  std::string compress_jobs = "1";
  std::string type = "other";
  std::string tune = "psnr";
  std::string quant[3];
  std::string thresholds;
  std::string dropped;
  std::uint64_t target_size = 0;
  double target_psnr = 0;
  int levels = 0;
  using std::to_string;
  CLI::App* c = app.add_subcommand("compress", "Compress BMP, Targa, PNG, PNM, JPEG, TIFF or WebP pictures into .cod files");
  add_batch_options(*c, compress.batch, compress_jobs, compress_max_pixels, compress_quiet, compress_verbose,
                    "Pictures to compress");
  // Ranges are the library's to check (check_encode_options), so that every front end refuses
  // the same settings; the help gives them from the same constants.
  auto* quality = c->add_option("-q,--quality", compress.encode.quality,
                                "Quality factor " + to_string(varnic::kMinQuality) + ".." +
                                    to_string(varnic::kMaxQuality) + ", higher is better")
                      ->transform(kDecimal)
                      ->capture_default_str();
  c->add_option("--type", type, "Image type: other, landscape or faces")
      ->check(CLI::IsMember({"other", "landscape", "faces"}))
      ->capture_default_str();
  auto* levels_option = c->add_option("--levels", levels,
                "Wavelet levels " + to_string(varnic::kMinLevels) + ".." + to_string(varnic::kMaxLevels) +
                    " (default " + to_string(varnic::kDefaultLevels) + ")")
      ->transform(kDecimal);
  const std::string vector_rule =
      ": 3 x levels + 1 numbers 0.." + to_string(varnic::kMaxQuantStep) + ", finest subband first";
  static constexpr const char* kPlanes[3] = {"y", "i", "q"};
  for (int k = 0; k < 3; ++k) {
    const std::string plane = kPlanes[k];
    c->add_option("--quant-" + plane, quant[k], "Quantization vector of " + std::string(1, char(std::toupper(plane[0]))) +
                                                     (k == 0 ? vector_rule : ""));
    // The earlier name, kept for scripts and not shown.
    c->add_option("--qvec-" + plane, quant[k])->group("");
  }
  c->add_option("--thresholds", thresholds,
                "Dead-zone thresholds: levels + 1 numbers 0.." + to_string(varnic::kMaxThreshold) +
                    ", finest level first");
  c->add_option("--dropped", dropped, "Dropped levels Y,I,Q: finest levels not coded, each 0..levels-1");
  c->add_option("-O,--optimize", compress.encode.optimize,
                "Optimizing encoder " + to_string(varnic::kMinOptimize) + ".." + to_string(varnic::kMaxOptimize) +
                    ": 0 classic, 1 chosen steps and colour correction, 2 rate-distortion choices, 3 tries level "
                    "counts too")
      ->transform(kDecimal)
      ->capture_default_str();
  c->add_option("--tune", tune, "What -O 1..3 optimize for: psnr (squared error) or ssim (structural similarity)")
      ->check(CLI::IsMember({"psnr", "ssim"}))
      ->capture_default_str();
  auto* comment = c->add_option("--comment", compress.encode.comment,
                                "Comment stored in the file (at most " + to_string(varnic::kMaxCommentBytes) + " bytes)");
  c->add_flag("--comment-from-exif", compress.comment_from_exif,
              "Store the picture's EXIF summary (date taken, camera, exposure) as the comment")
      ->excludes(comment);
  c->add_flag("--keep-orientation", compress.read.keep_orientation,
              "Encode the stored rows as they are, not turned as the EXIF orientation says");
  c->add_flag("--no-colour-conversion", compress.read.keep_colours,
              "Keep the sample values as stored, not converted to sRGB from the colour profile");
  auto* size_option = c->add_option("--target-size", target_size,
                                    "Search the quality for the best file of at most BYTES bytes")
                          ->transform(kDecimal)
                          ->check(CLI::PositiveNumber);
  auto* psnr_option = c->add_option("--target-psnr", target_psnr,
                                    "Search the quality for the smallest file of at least DB dB PSNR")
                          ->check(kFiniteDecimal)
                          ->check(CLI::Range(0.0, 200.0));
  size_option->excludes(psnr_option);
  size_option->excludes(quality);
  psnr_option->excludes(quality);

  // --- decompress
  DecompressOptions decompress;
  std::uint64_t decompress_max_pixels = varnic::kDefaultMaxPixels;
  bool decompress_quiet = false;
  bool decompress_verbose = false;
  std::string decompress_jobs = "1";
  std::string format_name;
  CLI::App* d = app.add_subcommand("decompress", "Decode .cod files into BMP, Targa, PNG or PNM pictures");
  add_batch_options(*d, decompress.batch, decompress_jobs, decompress_max_pixels, decompress_quiet,
                    decompress_verbose, ".cod files to decode");
  d->add_option("--format", format_name,
                "Output format: bmp, tga, png or pnm (default: from -o's extension, else bmp); any -o name then")
      ->check(CLI::IsMember({"bmp", "tga", "png", "pnm"}));
  d->add_option("--reduce", decompress.reduce,
                "Decode at 1/2^K of the size by stopping the synthesis K levels early (K below the levels)")
      ->transform(kDecimal)
      ->check(CLI::Range(0, 9))
      ->capture_default_str();
  d->add_option("--png-level", decompress.png_level,
                "compression level of PNG outputs " + to_string(varnic::kMinPngLevel) + ".." +
                    to_string(varnic::kMaxPngLevel) + ": 0 stores, higher levels give smaller files more slowly "
                    "(the Windows build's PNG encoder has no level and ignores it)")
      ->transform(kDecimal)
      ->check(CLI::Range(varnic::kMinPngLevel, varnic::kMaxPngLevel))
      ->capture_default_str();

  // --- info
  std::vector<std::string> info_inputs;
  bool json = false;
  // info allocates nothing for the picture, so it reports any size unless asked not to.
  std::uint64_t info_max_pixels = UINT64_MAX;
  CLI::App* i = app.add_subcommand("info", "Show the header facts of .cod files");
  i->add_option("inputs", info_inputs, ".cod files ('-': standard input)")->required();
  i->add_flag("--json", json, "One JSON object per file and line");
  i->add_option("--max-pixels", info_max_pixels, "Refuse pictures with more pixels than this (default: no limit)")
      ->transform(kDecimal)
      ->check(CLI::PositiveNumber);

  // --- compare
  std::string first;
  std::string second;
  std::uint64_t compare_max_pixels = varnic::kDefaultMaxPixels;
  CLI::App* m = app.add_subcommand("compare", "PSNR over RGB and over Y, and the largest difference, of two pictures");
  m->add_option("a", first, "Picture or .cod file ('-': standard input)")->required();
  m->add_option("b", second, "Picture or .cod file")->required();
  m->add_option("--max-pixels", compare_max_pixels, "Refuse pictures with more pixels than this")
      ->transform(kDecimal)
      ->check(CLI::PositiveNumber);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  const Console console{std::cout, std::cerr};
  auto limits = [](std::uint64_t max_pixels) {
    varnic::Limits l;
    l.max_pixels = max_pixels;
    return l;
  };
  if (c->parsed() || d->parsed()) {
    const std::string error = c->parsed() ? parse_jobs(compress_jobs, compress.batch.jobs)
                                          : parse_jobs(decompress_jobs, decompress.batch.jobs);
    if (!error.empty()) {
      std::cerr << "varnic-cli: " << error << '\n';
      return kExitUsage;
    }
  }
  if (c->parsed()) {
    compress.batch.verbosity = verbosity_of(compress_quiet, compress_verbose);
    compress.batch.limits = limits(compress_max_pixels);
    compress.encode.type = type == "landscape" ? varnic::ImageType::kLandscape
                           : type == "faces"   ? varnic::ImageType::kFaces
                                               : varnic::ImageType::kOther;
    compress.encode.tune = tune == "ssim" ? varnic::Tune::kSsim : varnic::Tune::kPsnr;
    if (levels_option->count() > 0) compress.encode.levels = levels;
    static const char* const kVectorNames[3] = {"--quant-y", "--quant-i", "--quant-q"};
    std::optional<std::vector<int>>* vectors[3] = {&compress.encode.quant_y, &compress.encode.quant_i,
                                                   &compress.encode.quant_q};
    auto numbers_of = [](const char* name, const std::string& text, std::optional<std::vector<int>>& out) {
      if (text.empty()) return true;
      out = varnic::parse_number_list(text);
      if (!out) std::cerr << "varnic-cli: " << name << ": expected numbers separated by commas or blanks\n";
      return out.has_value();
    };
    for (int k = 0; k < 3; ++k)
      if (!numbers_of(kVectorNames[k], quant[k], *vectors[k])) return kExitUsage;
    if (!numbers_of("--thresholds", thresholds, compress.encode.thresholds)) return kExitUsage;
    if (!dropped.empty()) {
      const std::optional<std::vector<int>> numbers = varnic::parse_number_list(dropped);
      if (!numbers || numbers->size() != 3) {
        std::cerr << "varnic-cli: --dropped: expected three numbers Y,I,Q\n";
        return kExitUsage;
      }
      compress.encode.dropped = std::array<int, 3>{(*numbers)[0], (*numbers)[1], (*numbers)[2]};
    }
    if (size_option->count() > 0) compress.target_size = target_size;
    if (psnr_option->count() > 0) compress.target_psnr = target_psnr;
    if (const std::string error = check_settings(compress.encode); !error.empty()) {
      std::cerr << "varnic-cli: " << error << '\n';
      return kExitUsage;
    }
    return run_compress(compress, console);
  }
  if (d->parsed()) {
    decompress.batch.verbosity = verbosity_of(decompress_quiet, decompress_verbose);
    decompress.batch.limits = limits(decompress_max_pixels);
    if (!format_name.empty()) {
      std::string name = "x.";
      name += format_name;
      decompress.format = varnic::kind_from_extension(name);
    }
    return run_decompress(decompress, console);
  }
  if (i->parsed()) return run_info(info_inputs, json, limits(info_max_pixels), console);
  return run_compare(first, second, limits(compare_max_pixels), console);
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing can be said when even the null device cannot be opened.
  if (!varnic::open_closed_standard_streams()) return kExitCannotWrite;
  install_signal_handlers();
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {  // out of memory in the tool itself, mostly
    std::cerr << "varnic-cli: " << e.what() << '\n';
    return kExitLimit;
  }
}
