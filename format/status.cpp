// SPDX-License-Identifier: BSD-2-Clause
#include "format/status.h"

#include <array>
#include <cstddef>

namespace varnic::format {
namespace {

struct Entry {
  StatusCode status;
  const char* text;
};

// The quoted setup and encoder texts are kept letter for letter (including the
// two blanks in the A_levels text); the newer refusals follow their layout.
constexpr Entry kMessages[] = {
    {StatusCode::kOk, ""},
    {StatusCode::kQualityOutOfRange, "Quality factor is out of range!"},
    {StatusCode::kImageTypeWrong, "Image type wrong!!!"},
    {StatusCode::kTotalLevelsOutOfRange, "Total Levels is out of range!!!"},
    {StatusCode::kALevelsInvalid, "A_levels must be  zero and less than Total Levels!!!"},
    {StatusCode::kBLevelsInvalid, "B_levels must be greater than zero and less than Total Levels!!!"},
    {StatusCode::kCLevelsInvalid, "C_levels must be greater than zero and less than Total Levels!!!"},
    {StatusCode::kQuantVectorACount,
     "Quantization Vector A must hold 3 x Total Levels + 1 numbers!!!"},
    {StatusCode::kQuantVectorBCount,
     "Quantization Vector B must hold 3 x Total Levels + 1 numbers!!!"},
    {StatusCode::kQuantVectorCCount,
     "Quantization Vector C must hold 3 x Total Levels + 1 numbers!!!"},
    {StatusCode::kThresholdVectorCount, "Threshold Vector must hold Total Levels + 1 numbers!!!"},
    {StatusCode::kQuantVectorATooLarge, "Quantization Vector A entries must not be above 125!!!"},
    {StatusCode::kQuantVectorBTooLarge, "Quantization Vector B entries must not be above 125!!!"},
    {StatusCode::kQuantVectorCTooLarge, "Quantization Vector C entries must not be above 125!!!"},
    {StatusCode::kThresholdVectorTooLarge, "Threshold Vector entries must not be above 65535!!!"},
    {StatusCode::kQuantVectorANotNumbers,
     "Quantization Vector A must hold only digits separated by blanks!!!"},
    {StatusCode::kQuantVectorBNotNumbers,
     "Quantization Vector B must hold only digits separated by blanks!!!"},
    {StatusCode::kQuantVectorCNotNumbers,
     "Quantization Vector C must hold only digits separated by blanks!!!"},
    {StatusCode::kThresholdVectorNotNumbers,
     "Threshold Vector must hold only digits separated by blanks!!!"},
    {StatusCode::kEncodeFailed, "Encountered an error in encoding the image"},
    {StatusCode::kReconstructFailed, "Encountered an error in reconstructing the image"},
    {StatusCode::kColourQuantFailed, "Encountered an error in color quantization"},
    {StatusCode::kPictureTooSmall,
     "Picture is too small to compress: both sides need at least 3 pixels!!!"},
    {StatusCode::kPictureSideTooLarge,
     "Picture is too large to compress: sides must be at most 32767 pixels!!!"},
    {StatusCode::kBadPictureBuffer, "Picture buffer does not match the picture size!!!"},
    {StatusCode::kCommentTooLong, "Comment is longer than 2047 bytes!!!"},
    {StatusCode::kNotCompressedFile, "It is not a compressed file"},
    {StatusCode::kVersionTooLow, "Incompatible Version(too low)"},
    {StatusCode::kVersionTooHigh, "Incompatible Version(too high)"},
    {StatusCode::kFileTruncated, "Bad compressed file: the header is cut short"},
    {StatusCode::kFileBadTotalLevels, "Bad compressed file: Total Levels is not 1..10"},
    {StatusCode::kFileBadImageMode, "Bad compressed file: Image Mode is neither 61 nor 62"},
    {StatusCode::kFileBadDroppedLevels,
     "Bad compressed file: dropped levels of a plane are not below Total Levels"},
    {StatusCode::kFileCommentTooLong, "Bad compressed file: the comment is longer than 2047 bytes"},
    {StatusCode::kFileBadOffset, "Bad compressed file: a plane offset lies outside the file"},
    {StatusCode::kFileZeroSymbols, "Bad compressed file: a plane's symbol count is 0"},
    {StatusCode::kFileBadWidth, "Bad compressed file: the width is not 1..32767"},
    {StatusCode::kFileBadHeight, "Bad compressed file: the height is not 1..32767"},
    {StatusCode::kFilePaddedTooSmall,
     "Bad compressed file: the picture is too small for its Total Levels"},
    {StatusCode::kFilePictureTooLarge, "The picture is larger than the pixel limit"},
    {StatusCode::kOutOfMemory, "Out of memory"},
    {StatusCode::kCancelled, "Cancelled"},
};

constexpr bool TableFollowsEnumOrder() {
  for (std::size_t i = 0; i < std::size(kMessages); ++i) {
    if (static_cast<std::size_t>(kMessages[i].status) != i) return false;
  }
  return true;
}
static_assert(TableFollowsEnumOrder(), "kMessages must list every StatusCode in declaration order");
static_assert(static_cast<std::size_t>(StatusCode::kStatusCount) == std::size(kMessages),
              "every StatusCode needs a message");

}  // namespace

StatusClass status_class(StatusCode status) {
  using S = StatusCode;
  switch (status) {
    case S::kOk: return StatusClass::kOk;
    case S::kQualityOutOfRange:
    case S::kImageTypeWrong:
    case S::kTotalLevelsOutOfRange:
    case S::kALevelsInvalid:
    case S::kBLevelsInvalid:
    case S::kCLevelsInvalid:
    case S::kQuantVectorACount:
    case S::kQuantVectorBCount:
    case S::kQuantVectorCCount:
    case S::kThresholdVectorCount:
    case S::kQuantVectorATooLarge:
    case S::kQuantVectorBTooLarge:
    case S::kQuantVectorCTooLarge:
    case S::kThresholdVectorTooLarge:
    case S::kQuantVectorANotNumbers:
    case S::kQuantVectorBNotNumbers:
    case S::kQuantVectorCNotNumbers:
    case S::kThresholdVectorNotNumbers:
    case S::kBadPictureBuffer:
    case S::kCommentTooLong: return StatusClass::kSettings;
    case S::kPictureTooSmall: return StatusClass::kPictureTooSmall;
    case S::kPictureSideTooLarge:
    case S::kFilePictureTooLarge: return StatusClass::kPictureTooLarge;
    case S::kNotCompressedFile: return StatusClass::kNotCompressed;
    case S::kVersionTooLow: return StatusClass::kVersionTooLow;
    case S::kVersionTooHigh: return StatusClass::kVersionTooHigh;
    case S::kFileTruncated:
    case S::kFileBadTotalLevels:
    case S::kFileBadImageMode:
    case S::kFileBadDroppedLevels:
    case S::kFileCommentTooLong:
    case S::kFileBadOffset:
    case S::kFileZeroSymbols:
    case S::kFileBadWidth:
    case S::kFileBadHeight:
    case S::kFilePaddedTooSmall: return StatusClass::kDamagedFile;
    case S::kOutOfMemory: return StatusClass::kOutOfMemory;
    case S::kCancelled: return StatusClass::kCancelled;
    case S::kEncodeFailed:
    case S::kReconstructFailed:
    case S::kColourQuantFailed:
    case S::kStatusCount: return StatusClass::kInternal;
  }
  return StatusClass::kInternal;
}

const char* message(StatusCode status) {
  const auto index = static_cast<std::size_t>(status);
  if (index >= std::size(kMessages)) return "Unknown error";
  return kMessages[index].text;
}

}  // namespace varnic::format
