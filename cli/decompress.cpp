// SPDX-License-Identifier: BSD-2-Clause
// decompress: .cod files into bitmap, Targa, PNG or PNM pictures, written row by row as the
// decoder finishes the rows.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "batch.h"
#include "system.h"
#include "text.h"

namespace varnic::cli {

using std::chrono::steady_clock;
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
                       const DecodeOptions& decode_options, FileKind kind, FileRecord& record,
                       steady_clock::time_point start) {
  const BatchOptions& batch = options.batch;
  const std::string& output = record.file->output;
  int error = 0;
  Result<WrittenPicture> written =
      output == kStandardStream
          ? decode_to_stream(
                file, kind, [&error](std::span<const std::uint8_t> piece) { return write_standard_output(piece, error); },
                decode_options)
          : decode_to_file(file, output, kind, batch.force ? Overwrite::kReplace : Overwrite::kRefuse, decode_options,
                           &error);
  if (!written && written.status() == Status::kFileError)
    return record_write_failure(output, batch.force || output == kStandardStream, error, record);
  if (!written) return record.fail(record.file->input, written);
  const WrittenPicture& picture = written.value();
  const steady_clock::time_point end = steady_clock::now();
  record.width = picture.width;
  record.height = picture.height;
  record.output_bytes = picture.bytes;
  record.summary = printable(record.file->input) + " -> " + printable(output) + ": " +
                   describe_size(picture.width, picture.height, picture.info.grey) + ", " +
                   std::to_string(file.size()) + " -> " + std::to_string(picture.bytes) + " bytes";
  if (options.reduce > 0) record.summary += ", reduced 1/" + std::to_string(1 << options.reduce);
  record.summary += ", " + format("%.3f s", seconds(end - start));
  record.details.push_back("decode and write row by row " + ms(seconds(end - start)));
  return kExitOk;
}

int decompress_one(const DecompressOptions& options, FileKind kind, FileRecord& record, int library_threads) {
  const BatchOptions& batch = options.batch;
  const std::string& input = record.file->input;
  const std::string& output = record.file->output;
  if (existing_output(batch, output, record)) return record.code;
  const steady_clock::time_point start = steady_clock::now();
  Result<std::vector<std::uint8_t>> bytes = read_input(input, batch.limits);
  if (!bytes) return record.fail(input, bytes);
  record.input_bytes = bytes.value().size();
  DecodeOptions decode_options;
  decode_options.reduce = options.reduce;
  decode_options.threads = library_threads;
  decode_options.limits = batch.limits;
  decode_options.png_level = options.png_level;
  if (kind == FileKind::kPnm && !options.format) {
    // A header the decoder refuses is reported by the decode itself.
    if (const Result<Info> info = probe(bytes.value(), batch.limits); info) {
      if (const std::string mismatch = pnm_name_mismatch(output, info.value().grey); !mismatch.empty())
        return record.fail(output, mismatch, kExitUsage);
    }
  }
  return decompress_by_rows(options, bytes.value(), decode_options, kind, record, start);
}

bool is_cod_name(const std::string& name) { return kind_from_extension(name) == FileKind::kCod; }

}  // namespace

int run_decompress(const DecompressOptions& options, Console console) {
  const BatchOptions& batch = options.batch;
  FileKind kind = FileKind::kBmp;
  if (options.format) {
    kind = *options.format;
  } else if (!batch.output.empty() && batch.output != kStandardStream) {
    kind = kind_from_extension(batch.output);
    // Photographs are read only: writing one would compress the picture a second time.
    if (kind == FileKind::kUnknown || kind == FileKind::kCod || kind == FileKind::kJpeg || kind == FileKind::kTiff ||
        kind == FileKind::kWebp) {
      console.err << "varnic-cli: " << printable(batch.output)
                  << ": the name does not say a picture format: use .bmp, .tga, .png, .pnm, .ppm or .pgm, or "
                     "--format\n";
      return kExitUsage;
    }
  }
  return run_batch(
      batch, extension_of(kind), is_cod_name,
      [&](FileRecord& record, int threads) { return decompress_one(options, kind, record, threads); }, console);
}

}  // namespace varnic::cli
