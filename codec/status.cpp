#include "codec/status.h"

#include <array>
#include <cstddef>

namespace varnic::codec {
namespace {

struct Entry {
  Status status;
  const char* text;
};

// The quoted setup and encoder texts are kept letter for letter (including the
// two blanks in the A_levels text); the newer refusals follow their layout.
constexpr Entry kMessages[] = {
    {Status::kOk, ""},
    {Status::kQualityOutOfRange, "Quality factor is out of range!"},
    {Status::kImageTypeWrong, "Image type wrong!!!"},
    {Status::kTotalLevelsOutOfRange, "Total Levels is out of range!!!"},
    {Status::kALevelsInvalid, "A_levels must be  zero and less than Total Levels!!!"},
    {Status::kBLevelsInvalid, "B_levels must be greater than zero and less than Total Levels!!!"},
    {Status::kCLevelsInvalid, "C_levels must be greater than zero and less than Total Levels!!!"},
    {Status::kQuantVectorACount,
     "Quantization Vector A must hold 3 x Total Levels + 1 numbers!!!"},
    {Status::kQuantVectorBCount,
     "Quantization Vector B must hold 3 x Total Levels + 1 numbers!!!"},
    {Status::kQuantVectorCCount,
     "Quantization Vector C must hold 3 x Total Levels + 1 numbers!!!"},
    {Status::kThresholdVectorCount, "Threshold Vector must hold Total Levels + 1 numbers!!!"},
    {Status::kQuantVectorATooLarge, "Quantization Vector A entries must not be above 125!!!"},
    {Status::kQuantVectorBTooLarge, "Quantization Vector B entries must not be above 125!!!"},
    {Status::kQuantVectorCTooLarge, "Quantization Vector C entries must not be above 125!!!"},
    {Status::kThresholdVectorTooLarge, "Threshold Vector entries must not be above 65535!!!"},
    {Status::kQuantVectorANotNumbers,
     "Quantization Vector A must hold only digits separated by blanks!!!"},
    {Status::kQuantVectorBNotNumbers,
     "Quantization Vector B must hold only digits separated by blanks!!!"},
    {Status::kQuantVectorCNotNumbers,
     "Quantization Vector C must hold only digits separated by blanks!!!"},
    {Status::kThresholdVectorNotNumbers,
     "Threshold Vector must hold only digits separated by blanks!!!"},
    {Status::kEncodeFailed, "Encountered an error in encoding the image"},
    {Status::kReconstructFailed, "Encountered an error in reconstructing the image"},
    {Status::kColourQuantFailed, "Encountered an error in color quantization"},
    {Status::kPictureTooSmall,
     "Picture is too small to compress: both sides need at least 3 pixels!!!"},
    {Status::kPictureSideTooLarge,
     "Picture is too large to compress: sides must be at most 32767 pixels!!!"},
    {Status::kBadPictureBuffer, "Picture buffer does not match the picture size!!!"},
    {Status::kCommentTooLong, "Comment is longer than 2047 bytes!!!"},
    {Status::kNotCompressedFile, "It is not a compressed file"},
    {Status::kVersionTooLow, "Incompatible Version(too low)"},
    {Status::kVersionTooHigh, "Incompatible Version(too high)"},
    {Status::kFileTruncated, "Bad compressed file: the header is cut short"},
    {Status::kFileBadTotalLevels, "Bad compressed file: Total Levels is not 1..10"},
    {Status::kFileBadImageMode, "Bad compressed file: Image Mode is neither 61 nor 62"},
    {Status::kFileBadDroppedLevels,
     "Bad compressed file: dropped levels of a plane are not below Total Levels"},
    {Status::kFileCommentTooLong, "Bad compressed file: the comment is longer than 2047 bytes"},
    {Status::kFileBadOffset, "Bad compressed file: a plane offset lies outside the file"},
    {Status::kFileZeroSymbols, "Bad compressed file: a plane's symbol count is 0"},
    {Status::kFileBadWidth, "Bad compressed file: the width is not 1..32767"},
    {Status::kFileBadHeight, "Bad compressed file: the height is not 1..32767"},
    {Status::kFilePaddedTooSmall,
     "Bad compressed file: the picture is too small for its Total Levels"},
    {Status::kFilePictureTooLarge, "The picture is larger than the pixel limit"},
    {Status::kOutOfMemory, "Out of memory"},
    {Status::kCancelled, "Cancelled"},
};

constexpr bool TableFollowsEnumOrder() {
  for (std::size_t i = 0; i < std::size(kMessages); ++i) {
    if (static_cast<std::size_t>(kMessages[i].status) != i) return false;
  }
  return true;
}
static_assert(TableFollowsEnumOrder(), "kMessages must list every Status in declaration order");
static_assert(static_cast<std::size_t>(Status::kStatusCount) == std::size(kMessages),
              "every Status needs a message");

}  // namespace

const char* message(Status status) {
  const auto index = static_cast<std::size_t>(status);
  if (index >= std::size(kMessages)) return "Unknown error";
  return kMessages[index].text;
}

}  // namespace varnic::codec
