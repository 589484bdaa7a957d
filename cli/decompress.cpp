// SPDX-License-Identifier: BSD-2-Clause
// decompress: .cod files into bitmap, Targa, PNG or PNM pictures, written row by row as the
// decoder finishes the rows.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "batch.h"
#include "system.h"

namespace varnic::cli {
namespace {

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
  if (!written && written.status() == Status::kFileError)
    return report_write_failure(output, batch.force || output == kStandardStream, error, index, reporter);
  if (!written) {
    reporter.error(index, input, written.message());
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

}  // namespace

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

}  // namespace varnic::cli
