// SPDX-License-Identifier: BSD-2-Clause
// compress: pictures into .cod files, read row by row where the file allows, with the quality
// search of --target-size and --target-psnr.
#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "batch.h"
#include "metrics.h"
#include "search.h"
#include "text.h"

namespace varnic::cli {

using std::chrono::steady_clock;
namespace {

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
    Result<std::optional<int>> q = highest_passing(kMinQuality, kMaxQuality, [&](int quality) -> Result<bool> {
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
    Result<std::optional<int>> q = lowest_passing(kMinQuality, kMaxQuality, [&](int quality) -> Result<bool> {
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


int compress_one(const CompressOptions& options, FileRecord& record, int library_threads) {
  const BatchOptions& batch = options.batch;
  const std::string& input = record.file->input;
  const std::string& output = record.file->output;
  if (existing_output(batch, output, record)) return record.code;
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
  std::optional<Result<PictureFile>> loaded;
  const steady_clock::time_point parse_start = steady_clock::now();
  if (rows) {
    std::error_code error;
    record.input_bytes = std::filesystem::file_size(as_path(input), error);
  } else {
    Result<std::vector<std::uint8_t>> bytes = read_input(input, batch.limits);
    if (!bytes) return record.fail(input, bytes);
    record.input_bytes = bytes.value().size();
    // Bitmap and Targa rows stay as the file has them: the encoder reads them in place.
    loaded = read_input_picture(bytes.value(), input, batch.limits, false, options.read);
    if (!loaded->ok()) return record.fail(input, *loaded);
    std::vector<std::uint8_t>().swap(bytes.value());  // the file is not needed once decoded
    for (const std::string& notice : loaded->value().notices) record.notice(input, notice);
  }
  if (options.comment_from_exif) {
    const std::string summary = loaded ? loaded->value().exif_summary : std::string();
    if (summary.empty()) record.notice(input, "no EXIF summary for the comment: none stored");
    encode_options.comment = summary;
  }
  record.width = rows ? rows->value().width : loaded->value().picture.width;
  record.height = rows ? rows->value().height : loaded->value().picture.height;
  const bool grey = (rows ? rows->value().format : loaded->value().picture.format) == PixelFormat::kGrey8;

  const steady_clock::time_point encode_start = steady_clock::now();
  CompressOptions search_options = options;
  search_options.encode = encode_options;
  std::string note;
  Result<Trial> trial = rows ? encode_rows(rows->value(), encode_options)
                        : options.target_size || options.target_psnr
                            ? search_quality(loaded->value().picture, search_options, note)
                            : encode_at(loaded->value().picture.view(), encode_options, encode_options.quality, nullptr);
  if (!trial) return record.fail(input, trial);
  const Encoded& encoded = trial.value().encoded;

  const steady_clock::time_point write_start = steady_clock::now();
  if (const int code = write_output(output, encoded.bytes, batch.force, record); code != kExitOk) return code;
  const steady_clock::time_point end = steady_clock::now();
  record.output_bytes = encoded.bytes.size();

  record.summary = printable(input) + " -> " + printable(output) + ": " +
                   describe_size(record.width, record.height, grey) + ", " + std::to_string(record.input_bytes) +
                   " -> " + std::to_string(encoded.bytes.size()) + " bytes (" +
                   ratio_text(compression_ratio(record.width, record.height, grey, encoded.bytes.size())) +
                   "), quality " + std::to_string(trial.value().quality) + ", " +
                   format("%.3f s", seconds(end - start));
  if (!note.empty()) record.summary += " [" + note + "]";
  const std::string stages = note.empty() ? "transform " + ms(encoded.timings.transform) + ", entropy coding " +
                                                  ms(encoded.timings.entropy)
                                            : "quality search, the chosen file took " + ms(encoded.timings.total);
  record.details.push_back("read " + ms(seconds(parse_start - start)) + ", picture decoding " +
                           ms(seconds(encode_start - parse_start)) + ", encode " +
                           ms(seconds(write_start - encode_start)) + " (" + stages + "), write " +
                           ms(seconds(end - write_start)) + ", total " + ms(seconds(end - start)) + "; levels " +
                           std::to_string(encoded.levels) + ", dropped " + std::to_string(encoded.dropped[0]) + "," +
                           std::to_string(encoded.dropped[1]) + "," + std::to_string(encoded.dropped[2]));
  if (encoded.distortion_scale > 0) {
    record.details.push_back("optimized: distortion scale " + format("%.3f", encoded.distortion_scale) +
                             ", mean shift Y " + format("%+.2f", encoded.offsets[0]) +
                             (grey ? std::string() : ", I " + format("%+.2f", encoded.offsets[1]) + ", Q " +
                                                         format("%+.2f", encoded.offsets[2])));
  }
  return kExitOk;
}

// The pictures -r takes from a folder: every file whose name says a kind the tool reads.
bool is_picture_name(const std::string& name) {
  const FileKind kind = kind_from_extension(name);
  return kind != FileKind::kUnknown && kind != FileKind::kCod;
}

}  // namespace

int run_compress(const CompressOptions& options, Console console) {
  const BatchOptions& batch = options.batch;
  if (!batch.output.empty() && batch.output != kStandardStream && kind_from_extension(batch.output) != FileKind::kCod) {
    console.err << "varnic-cli: " << printable(batch.output) << ": compress writes .cod files; name the output NAME.cod\n";
    return kExitUsage;
  }
  return run_batch(batch, ".cod", is_picture_name,
                   [&](FileRecord& record, int threads) { return compress_one(options, record, threads); }, console);
}

}  // namespace varnic::cli
