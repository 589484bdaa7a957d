// SPDX-License-Identifier: BSD-2-Clause
// The desktop program's resources as data: the dialog templates (positions in dialog units), the
// window titles and the help text. The menu comes from the command table (app/command_table.h).
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace varnic::resources {

// The program's dialogs; their resource names are the templates' `name`.
enum class DialogId { kResize, kComments, kAbout, kEasySetup, kMasterSetup, kInformation };
inline constexpr DialogId kAllDialogs[] = {DialogId::kResize,     DialogId::kComments,     DialogId::kAbout,
                                          DialogId::kEasySetup,  DialogId::kMasterSetup, DialogId::kInformation};

// Control ids of the dialogs, as the dialog procedures address them (several dialogs reuse a
// number for different controls).
namespace control {
enum Id : int {
  kOk = 1,
  kCancel = 2,
  // "RESIZE"
  kResizeWidth = 1007,
  kResizeHeight = 1008,
  // "COMMENTS"
  kCommentText = 9100,
  // "EASYSET"
  kQualityBar = 1002,
  kQualityEdit = 107,
  kColourBar = 1001,
  kColourEdit = 113,
  kImageType = 1010,
  kEasyOk = 1014,
  kEasyTest = 3,
  kEasyReset = 4,
  // "IMAGESETUP"
  kSetupImageWidth = 101,
  kSetupImageHeight = 102,
  kSetupALevels = 103,
  kSetupBLevels = 104,
  kSetupCLevels = 105,
  kSetupTotalLevels = 106,
  kSetupVectorA = 871,
  kSetupMaskY = 872,
  kSetupVectorB = 873,
  kSetupMaskI = 874,
  kSetupVectorC = 875,
  kSetupMaskQ = 876,
  kSetupThresholds = 108,
  kSetupMaskThresholds = 109,
  kSetupUsingMask = 110,
  kSetupStretchWidth = 111,
  kSetupStretchHeight = 112,
  kSetupHelp = 9,
  // "INFOR"
  kInfoFileName = 101,
  kInfoOriginal = 1004,
  kInfoDisplay = 103,
  kInfoCompressed = 1007,
  kInfoDecompressed = 1006,
  kInfoRatio = 113,
  kInfoTotalTime = 106,
  kInfoEntropyTime = 114,
  kInfoWaveletTime = 115,
  kInfoColourTime = 110,
};
}  // namespace control

inline constexpr std::string_view kProgramTitle = "Varnholt Image Compressor V2.5";
inline constexpr std::string_view kSourceWindowTitle = "Orignal Image";

const platform::DialogTemplate& dialog(DialogId id);

// The program's own help, plain text.
std::string_view help_title();
std::string_view help_text();

}  // namespace varnic::resources
