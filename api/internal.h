// SPDX-License-Identifier: BSD-2-Clause
// Shared pieces of the library's implementation (not installed).
#pragma once

#include <exception>
#include <new>
#include <string>

#include "codec/colour_transform.h"
#include "format/status.h"
#include "format/format.h"
#include "imagefile/registry.h"
#include "varnic/varnic.h"

namespace varnic::detail {

// The public class of a codec or decoder status.
Status public_status(format::StatusCode status);

template <class T>
Result<T> failure(format::StatusCode status) {
  return Result<T>(public_status(status), format::message(status));
}

// Runs `body`, turning any exception into a failed Result: nothing may escape the API.
template <class T, class Body>
Result<T> guarded(const Body& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Result<T>(Status::kOutOfMemory, format::message(format::StatusCode::kOutOfMemory));
  } catch (const std::exception& e) {
    return Result<T>(Status::kInternalError, std::string("internal error: ") + e.what());
  } catch (...) {
    return Result<T>(Status::kInternalError, "internal error");
  }
}

// The checks encode makes before any work (the picture description, the limits, every option)
// and the settings they give.
Result<format::CodecParams> prepare_encode(const PictureView& picture, const EncodeOptions& options,
                                          bool rows_from_source = false);
// The options checked (check_encode_options) and turned into the codec's parameters (settings.cpp).
Result<format::CodecParams> encode_settings(const EncodeOptions& options);
// One of the three formats PixelFormat names: a value cast from any other number is refused.
bool valid_format(PixelFormat format);
// A refusal of the decoder for `file`; one for a picture above the pixel limit gives its size.
template <class T>
Result<T> file_failure(format::StatusCode status, std::span<const std::uint8_t> file, const Limits& limits) {
  if (status == format::StatusCode::kFilePictureTooLarge) {
    format::FileHeader header;
    if (format::parse_header(file, UINT64_MAX, header) == format::StatusCode::kOk)
      return Result<T>(Status::kLimitExceeded, imagefile::pixel_limit_message(header.params.image_width,
                                                                              header.params.image_height,
                                                                              limits.max_pixels));
  }
  return failure<T>(status);
}
// The encoder's view of a caller's rows (stride 0 read as packed).
codec::PictureRows rows_of(const PictureView& picture);
// The optimizer's tuning of the public one.
optimize::Tune tune_of(Tune tune);

// Picture files (files.cpp), shared with the path functions (file_io.cpp).
Status public_status(imagefile::FileStatus status);
imagefile::ReadLimits read_limits(const Limits& limits);
imagefile::PhotoOptions photo_options(const ReadOptions& options);
// The public picture of a read (palettes expanded, rows left where the reader put them), or its
// refusal with `message`.
Result<PictureFile> to_public(imagefile::FileStatus status, imagefile::LoadedPicture& loaded, const std::string& message);
// The file bytes of `picture` as `kind`; for .cod the checks and settings of encode.
// decode_rows with the decoder told whether the caller keeps the rows it is given (the codes are
// then held within what the bound leaves them) and whether they go top row first, and the
// timings when asked.
Result<Info> decode_rows_holding(std::span<const std::uint8_t> file, const DecodeOptions& options,
                                 const RowReceiver& receiver, bool held, bool top_down, Timings* timings);
// A decode by rows into a writer of `kind` by rows (write_picture_by_rows or its file form), which
// `write_rows` runs with the producer it is given, in the writer's row order and byte order. The
// decoder's refusals give their status, the writer's kFileError; a kind not written by rows, or a
// PNG level out of range, kInvalidArgument.
using RowProducer = std::function<bool(const imagefile::RowFileSink& sink)>;
Result<WrittenPicture> decode_by_rows(
    std::span<const std::uint8_t> file, const DecodeOptions& options,
    const std::function<imagefile::FileStatus(const RowProducer& produce, std::string& message)>& write_rows);
// What the writers by rows take from the decode options: the PNG level.
imagefile::WriteSettings row_write_settings(const DecodeOptions& options);
Result<std::vector<std::uint8_t>> write_picture_bytes(const PictureView& picture, FileKind kind,
                                                      const EncodeOptions& options);

// encode with a target size or PSNR: the quality search (target.cpp).
Result<Encoded> encode_to_target(const PictureView& picture, const EncodeOptions& options);

// The public header facts of a parsed header.
Info info_from_header(const format::FileHeader& header, std::uint64_t file_bytes);

}  // namespace varnic::detail
