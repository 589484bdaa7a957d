// Status codes of the codec and the decoder, with the exact message text of
// each. Libraries never print: callers turn a status into text with message().
#pragma once

#include <cstdint>

namespace varnic::codec {

// Values are stable; new ones are appended before kStatusCount (the table in
// status.cpp follows this order).
enum class [[nodiscard]] Status : std::int32_t {
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

// Exact text for a status; never null. kOk gives an empty string.
const char* message(Status status);

inline bool ok(Status status) { return status == Status::kOk; }

}  // namespace varnic::codec

// Propagates the first failure to the caller.
#define VARNIC_RETURN_IF_ERROR(expr)                                  \
  do {                                                                \
    const ::varnic::codec::Status varnic_status_ = (expr);            \
    if (varnic_status_ != ::varnic::codec::Status::kOk) {             \
      return varnic_status_;                                          \
    }                                                                 \
  } while (false)
