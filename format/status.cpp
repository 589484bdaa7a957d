// SPDX-License-Identifier: BSD-2-Clause
#include "format/status.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "varnic/limits.h"

namespace varnic::format {
namespace {

struct Entry {
  StatusCode status;
  const char* text;
};

// The quoted setup and encoder texts are kept letter for letter (including the
// two blanks in the A_levels text); the newer refusals follow their layout. A limit in braces is
// filled in from varnic/limits.h, where each number is written once.
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
    {StatusCode::kQuantVectorATooLarge, "Quantization Vector A entries must not be above {max_quant_step}!!!"},
    {StatusCode::kQuantVectorBTooLarge, "Quantization Vector B entries must not be above {max_quant_step}!!!"},
    {StatusCode::kQuantVectorCTooLarge, "Quantization Vector C entries must not be above {max_quant_step}!!!"},
    {StatusCode::kThresholdVectorTooLarge, "Threshold Vector entries must not be above {max_threshold}!!!"},
    {StatusCode::kQuantVectorANotNumbers,
     "Quantization Vector A must hold only numbers separated by blanks or commas!!!"},
    {StatusCode::kQuantVectorBNotNumbers,
     "Quantization Vector B must hold only numbers separated by blanks or commas!!!"},
    {StatusCode::kQuantVectorCNotNumbers,
     "Quantization Vector C must hold only numbers separated by blanks or commas!!!"},
    {StatusCode::kThresholdVectorNotNumbers,
     "Threshold Vector must hold only numbers separated by blanks or commas!!!"},
    {StatusCode::kEncodeFailed, "Encountered an error in encoding the image"},
    {StatusCode::kReconstructFailed, "Encountered an error in reconstructing the image"},
    {StatusCode::kColourQuantFailed, "Encountered an error in color quantization"},
    {StatusCode::kPictureTooSmall,
     "Picture is too small to compress: both sides need at least {min_side} pixels!!!"},
    {StatusCode::kPictureSideTooLarge,
     "Picture is too large to compress: sides must be at most {max_side} pixels!!!"},
    {StatusCode::kBadPictureBuffer, "Picture buffer does not match the picture size!!!"},
    {StatusCode::kCommentTooLong, "Comment is longer than {max_comment} bytes!!!"},
    {StatusCode::kNotCompressedFile, "It is not a compressed file"},
    {StatusCode::kVersionTooLow, "Incompatible Version(too low)"},
    {StatusCode::kVersionTooHigh, "Incompatible Version(too high)"},
    {StatusCode::kFileTruncated, "Bad compressed file: the header is cut short"},
    {StatusCode::kFileBadTotalLevels, "Bad compressed file: Total Levels is not 1..{max_file_levels}"},
    {StatusCode::kFileBadImageMode, "Bad compressed file: Image Mode is neither 61 nor 62"},
    {StatusCode::kFileBadDroppedLevels,
     "Bad compressed file: dropped levels of a plane are not below Total Levels"},
    {StatusCode::kFileCommentTooLong, "Bad compressed file: the comment is longer than {max_comment} bytes"},
    {StatusCode::kFileBadOffset, "Bad compressed file: a plane offset lies outside the file"},
    {StatusCode::kFileZeroSymbols, "Bad compressed file: a plane's symbol count is 0"},
    {StatusCode::kFileBadWidth, "Bad compressed file: the width is not 1..{max_side}"},
    {StatusCode::kFileBadHeight, "Bad compressed file: the height is not 1..{max_side}"},
    {StatusCode::kFilePaddedTooSmall,
     "Bad compressed file: the picture is too small for its Total Levels"},
    {StatusCode::kFilePictureTooLarge, "The picture is larger than the pixel limit"},
    {StatusCode::kOutOfMemory, "Out of memory"},
    {StatusCode::kCancelled, "Cancelled"},
};

constexpr bool table_follows_enum_order() {
  for (std::size_t i = 0; i < std::size(kMessages); ++i) {
    if (static_cast<std::size_t>(kMessages[i].status) != i) return false;
  }
  return true;
}
static_assert(table_follows_enum_order(), "kMessages must list every StatusCode in declaration order");
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
  static const std::array<std::string, std::size(kMessages)> texts = [] {
    const std::pair<std::string_view, std::string> limits[] = {
        {"{max_quant_step}", std::to_string(varnic::kMaxQuantStep)},
        {"{max_threshold}", std::to_string(varnic::kMaxThreshold)},
        {"{min_side}", std::to_string(varnic::kMinSide)},
        {"{max_side}", std::to_string(varnic::kMaxSide)},
        {"{max_comment}", std::to_string(varnic::kMaxCommentBytes)},
        {"{max_file_levels}", std::to_string(varnic::kMaxFileLevels)},
    };
    std::array<std::string, std::size(kMessages)> out;
    for (std::size_t i = 0; i < out.size(); ++i) {
      std::string text = kMessages[i].text;
      for (const auto& [name, value] : limits)
        if (const std::size_t at = text.find(name); at != std::string::npos) text.replace(at, name.size(), value);
      out[i] = std::move(text);
    }
    return out;
  }();
  const auto index = static_cast<std::size_t>(status);
  if (index >= texts.size()) return "Unknown error";
  return texts[index].c_str();
}

}  // namespace varnic::format
