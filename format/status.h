// SPDX-License-Identifier: BSD-2-Clause
// Status codes of the format layer, the encoder, the decoder and the reconstruction, with the
// exact message text of each. Libraries never print: callers turn a status into text with
// message(). Picture files have their own status (imagefile::FileStatus) and the public library
// its own (varnic::Status); each is converted at its layer's edge.
#pragma once

#include <cstdint>

namespace varnic::format {

// Values are stable; new ones are appended before kStatusCount (the table in
// status.cpp follows this order).
enum class [[nodiscard]] StatusCode : std::int32_t {
  kOk = 0,

  // Settings (derivation and the full-settings validator).
  kQualityOutOfRange,
  kImageTypeWrong,
  kTotalLevelsOutOfRange,
  kALevelsInvalid,
  kBLevelsInvalid,
  kCLevelsInvalid,
  kQuantVectorACount,
  kQuantVectorBCount,
  kQuantVectorCCount,
  kThresholdVectorCount,
  kQuantVectorATooLarge,
  kQuantVectorBTooLarge,
  kQuantVectorCTooLarge,
  kThresholdVectorTooLarge,
  kQuantVectorANotNumbers,
  kQuantVectorBNotNumbers,
  kQuantVectorCNotNumbers,
  kThresholdVectorNotNumbers,

  // Encoder.
  kEncodeFailed,
  kReconstructFailed,
  kColourQuantFailed,
  kPictureTooSmall,
  kPictureSideTooLarge,
  kBadPictureBuffer,
  kCommentTooLong,

  // Compressed files.
  kNotCompressedFile,
  kVersionTooLow,
  kVersionTooHigh,
  kFileTruncated,
  kFileBadTotalLevels,
  kFileBadImageMode,
  kFileBadDroppedLevels,
  kFileCommentTooLong,
  kFileBadOffset,
  kFileZeroSymbols,
  kFileBadWidth,
  kFileBadHeight,
  kFilePaddedTooSmall,
  kFilePictureTooLarge,

  // Resources and control.
  kOutOfMemory,
  kCancelled,

  // New values go right above this line, with their text in status.cpp.
  kStatusCount
};

// What kind of failure a status is: the layers above, whose statuses are fewer, convert from this.
enum class StatusClass {
  kOk,
  kSettings,          // a setting or the caller's picture description is out of range
  kPictureTooSmall,
  kPictureTooLarge,   // a side or the pixel count above the limit
  kNotCompressed,
  kVersionTooLow,
  kVersionTooHigh,
  kDamagedFile,       // the header or the coded data break the format's rules
  kOutOfMemory,
  kCancelled,
  kInternal,
};
StatusClass status_class(StatusCode status);

// Exact text for a status; never null. kOk gives an empty string.
const char* message(StatusCode status);

inline bool ok(StatusCode status) { return status == StatusCode::kOk; }

}  // namespace varnic::format

// Propagates the first failure to the caller. Each expansion names its local
// uniquely, since `expr` may hold another expansion (in a lambda).
#define VARNIC_RETURN_IF_ERROR(expr) VARNIC_RETURN_IF_ERROR_NAMED_(expr, VARNIC_STATUS_NAME_(__COUNTER__))
#define VARNIC_STATUS_NAME_(counter) VARNIC_STATUS_CONCAT_(varnic_status_, counter)
#define VARNIC_STATUS_CONCAT_(a, b) a##b
#define VARNIC_RETURN_IF_ERROR_NAMED_(expr, name)            \
  do {                                                        \
    const ::varnic::format::StatusCode name = (expr);         \
    if (name != ::varnic::format::StatusCode::kOk) {          \
      return name;                                            \
    }                                                         \
  } while (false)
