// The desktop program's resources as data: the menu "ARITHMETIC" with its command numbers, the
// dialog templates (positions in dialog units) and the help text.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace varnic::resources {

// Command numbers of the main window: the menu items, plus 42 which the window sends itself after
// a compressed file has been opened.
enum Command : int {
  kCmdExit = 0,
  kCmdOpenCoded = 10,
  kCmdSave = 11,
  kCmdDecode = 42,
  kCmdStretchUp = 63,
  kCmdStretchDown = 64,
  kCmdDoubleSize = 65,
  kCmdEightBit = 66,
  kCmdNormal = 67,
  kCmdMasterSetup = 80,
  kCmdProperties = 100,
  kCmdOpenBitmap = 102,
  kCmdOpenTarga = 103,
  kCmdAbout = 104,
  kCmdHelpContents = 105,
  kCmdCompress = 106,
  kCmdResize = 113,
  kCmdHalfSize = 115,
  kCmdDithering = 116,
  kCmdComments = 117,
  kCmdIncremental = 118,
  kCmdSaveBitmap = 122,
  kCmdSaveTarga = 123,
  kCmdEasySetup = 2007,
};

// Control ids of the dialogs, as the dialog procedures address them.
namespace control {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
// "RESIZE"
inline constexpr int kResizeWidth = 1007;
inline constexpr int kResizeHeight = 1008;
// "COMMENTS"
inline constexpr int kCommentText = 9100;
// "EASYSET"
inline constexpr int kQualityBar = 1002;
inline constexpr int kQualityEdit = 107;
inline constexpr int kColourBar = 1001;
inline constexpr int kColourEdit = 113;
inline constexpr int kImageType = 1010;
inline constexpr int kEasyOk = 1014;
inline constexpr int kEasyTest = 3;
inline constexpr int kEasyReset = 4;
// "IMAGESETUP"
inline constexpr int kSetupImageWidth = 101;
inline constexpr int kSetupImageHeight = 102;
inline constexpr int kSetupALevels = 103;
inline constexpr int kSetupBLevels = 104;
inline constexpr int kSetupCLevels = 105;
inline constexpr int kSetupTotalLevels = 106;
inline constexpr int kSetupVectorA = 871;
inline constexpr int kSetupMaskY = 872;
inline constexpr int kSetupVectorB = 873;
inline constexpr int kSetupMaskI = 874;
inline constexpr int kSetupVectorC = 875;
inline constexpr int kSetupMaskQ = 876;
inline constexpr int kSetupThresholds = 108;
inline constexpr int kSetupMaskThresholds = 109;
inline constexpr int kSetupUsingMask = 110;
inline constexpr int kSetupStretchWidth = 111;
inline constexpr int kSetupStretchHeight = 112;
inline constexpr int kSetupHelp = 9;
// "INFOR"
inline constexpr int kInfoFileName = 101;
inline constexpr int kInfoOriginal = 1004;
inline constexpr int kInfoDisplay = 103;
inline constexpr int kInfoCompressed = 1007;
inline constexpr int kInfoDecompressed = 1006;
inline constexpr int kInfoRatio = 113;
inline constexpr int kInfoTotalTime = 106;
inline constexpr int kInfoEntropyTime = 114;
inline constexpr int kInfoWaveletTime = 115;
inline constexpr int kInfoColourTime = 110;
}  // namespace control

inline constexpr std::string_view kProgramTitle = "Varnholt Image Compressor V2.5";
inline constexpr std::string_view kSourceWindowTitle = "Orignal Image";

const platform::MenuTemplate& main_menu();

// Looks a dialog template up by resource name, ignoring case ("ImageSetup" finds "IMAGESETUP");
// null for an unknown name.
const platform::DialogTemplate* find_dialog(std::string_view name);

// The program's own help, plain text.
std::string_view help_title();
std::string_view help_text();

}  // namespace varnic::resources
