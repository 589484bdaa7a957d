// SPDX-License-Identifier: BSD-2-Clause
#include <vector>

#include "resources/resources.h"

namespace varnic::resources {

namespace {

using platform::ControlKind;
using platform::ControlTemplate;
using platform::DialogTemplate;

ControlTemplate c(ControlKind kind, int id, const char* text, int x, int y, int w, int h, bool visible = true) {
  return ControlTemplate{kind, id, text, x, y, w, h, visible};
}

// The edits are wide enough for the largest size they store, 65535.
DialogTemplate resize_dialog() {
  return DialogTemplate{"RESIZE", "Image Setup", 12, 25, 211, 118, true,
                        {
                            c(ControlKind::kDefaultPushButton, 1, "OK", 120, 20, 50, 14),
                            c(ControlKind::kPushButton, 2, "Cancel", 120, 38, 50, 14),
                            c(ControlKind::kLabel, -1, "IMAGEWIDTH", 17, 21, 44, 8),
                            c(ControlKind::kEdit, control::kResizeWidth, "", 65, 20, 36, 12),
                            c(ControlKind::kLabel, -1, "IMAGEHEIGHT", 15, 43, 47, 8),
                            c(ControlKind::kEdit, control::kResizeHeight, "", 65, 41, 36, 12),
                        }};
}

DialogTemplate comments_dialog() {
  return DialogTemplate{"COMMENTS", "Comments", 12, 25, 211, 118, true,
                        {
                            c(ControlKind::kMultiLineEdit, control::kCommentText, "", 9, 5, 106, 93),
                            c(ControlKind::kDefaultPushButton, 1, "OK", 142, 60, 50, 14),
                            c(ControlKind::kPushButton, 2, "Cancel", 142, 81, 50, 14),
                        }};
}

DialogTemplate about_dialog() {
  static const char* const kLines[8] = {
      "Wavelet image compressor, format 2.5",
      "Reads 2.3, 2.4 and 2.5 compressed files",
      "YIQ colour, 5/3 wavelet, zerotrees",
      "Adaptive arithmetic coding",
      "Bitmap and Targa pictures in and out",
      "8-bit display: median cut, dithering",
      "Settings live for one run only",
      "Help > Contents tells more",
  };
  DialogTemplate d{"DIALABOUT", "About VARNIC V2.5", 0, 0, 190, 128, true,
                   {c(ControlKind::kLabel, -1, "Varnholt Image Compressor V2.5", 28, 11, 143, 11)}};
  for (int i = 0; i < 8; ++i) d.controls.push_back(c(ControlKind::kLabel, -1, kLines[i], 28, 22 + 10 * i, 143, 10));
  // The default button, so that Return closes the dialog as OK does.
  d.controls.push_back(c(ControlKind::kDefaultPushButton, 1, "OK", 74, 108, 35, 13));
  return d;
}

// Quality slider with its number beside it, the image type below, the four buttons in a row.
// The colour slider and its number exist but stay hidden.
DialogTemplate easy_setup_dialog() {
  return DialogTemplate{"EASYSET", "Image Setup", 20, 20, 222, 112, true,
                        {
                            c(ControlKind::kLabel, -1, "Quality Factor", 10, 8, 80, 8),
                            c(ControlKind::kScrollBar, control::kQualityBar, "", 10, 20, 150, 10),
                            c(ControlKind::kEdit, control::kQualityEdit, "", 168, 19, 28, 12),
                            c(ControlKind::kLabel, -1, "Color Quality", 10, 36, 80, 8, false),
                            c(ControlKind::kScrollBar, control::kColourBar, "", 10, 46, 150, 10, false),
                            c(ControlKind::kEdit, control::kColourEdit, "", 168, 45, 28, 12, false),
                            c(ControlKind::kLabel, -1, "Image Type", 10, 42, 80, 8),
                            c(ControlKind::kComboBox, control::kImageType, "", 10, 54, 90, 48),
                            c(ControlKind::kPushButton, control::kEasyOk, "&OK", 10, 86, 45, 14),
                            c(ControlKind::kDefaultPushButton, control::kCancel, "&Cancel", 62, 86, 45, 14),
                            c(ControlKind::kPushButton, control::kEasyTest, "&Test", 114, 86, 45, 14),
                            c(ControlKind::kPushButton, control::kEasyReset, "&Reset", 166, 86, 45, 14),
                        }};
}

// Level counts in one row, then one full-width line per quantization vector, the thresholds and
// the two buttons at the bottom. The mask factor fields lie hidden under their vectors; the size,
// mask and stretch fields and the Help button are hidden too.
DialogTemplate master_setup_dialog() {
  return DialogTemplate{"IMAGESETUP", "Image Setup", 20, 20, 300, 176, true,
                        {
                            c(ControlKind::kLabel, -1, "Total Levels", 8, 12, 46, 8),
                            c(ControlKind::kEdit, control::kSetupTotalLevels, "", 56, 10, 22, 12),
                            c(ControlKind::kLabel, -1, "A_Levels", 90, 12, 34, 8),
                            c(ControlKind::kEdit, control::kSetupALevels, "", 126, 10, 22, 12),
                            c(ControlKind::kLabel, -1, "B_Levels", 160, 12, 34, 8),
                            c(ControlKind::kEdit, control::kSetupBLevels, "", 196, 10, 22, 12),
                            c(ControlKind::kLabel, -1, "C_Levels", 230, 12, 34, 8),
                            c(ControlKind::kEdit, control::kSetupCLevels, "", 266, 10, 22, 12),
                            c(ControlKind::kLabel, -1, "Quantization Vector A", 8, 30, 120, 8),
                            c(ControlKind::kEdit, control::kSetupVectorA, "", 8, 40, 284, 12),
                            c(ControlKind::kEdit, control::kSetupMaskY, "", 8, 40, 284, 12, false),
                            c(ControlKind::kLabel, -1, "Quantization Vector B", 8, 58, 120, 8),
                            c(ControlKind::kEdit, control::kSetupVectorB, "", 8, 68, 284, 12),
                            c(ControlKind::kEdit, control::kSetupMaskI, "", 8, 68, 284, 12, false),
                            c(ControlKind::kLabel, -1, "Quantization Vector C", 8, 86, 120, 8),
                            c(ControlKind::kEdit, control::kSetupVectorC, "", 8, 96, 284, 12),
                            c(ControlKind::kEdit, control::kSetupMaskQ, "", 8, 96, 284, 12, false),
                            c(ControlKind::kLabel, -1, "Threshold Vector", 8, 114, 120, 8),
                            c(ControlKind::kMultiLineEdit, control::kSetupThresholds, "", 8, 124, 200, 24),
                            c(ControlKind::kDefaultPushButton, control::kOk, "OK", 236, 124, 56, 14),
                            c(ControlKind::kPushButton, control::kCancel, "Cancel", 236, 142, 56, 14),
                            c(ControlKind::kLabel, -1, "imagewidth", 8, 156, 40, 8, false),
                            c(ControlKind::kEdit, control::kSetupImageWidth, "", 50, 154, 30, 12, false),
                            c(ControlKind::kLabel, -1, "Imageheight", 84, 156, 40, 8, false),
                            c(ControlKind::kEdit, control::kSetupImageHeight, "", 126, 154, 30, 12, false),
                            c(ControlKind::kLabel, -1, "Threshold of mask", 8, 156, 70, 8, false),
                            c(ControlKind::kEdit, control::kSetupMaskThresholds, "", 80, 154, 120, 12, false),
                            c(ControlKind::kLabel, -1, "Using Mask (0-not using)", 8, 156, 90, 8, false),
                            c(ControlKind::kEdit, control::kSetupUsingMask, "", 100, 154, 20, 12, false),
                            c(ControlKind::kLabel, -1, "Stretchwidth", 8, 156, 50, 8, false),
                            c(ControlKind::kEdit, control::kSetupStretchWidth, "", 60, 154, 30, 12, false),
                            c(ControlKind::kLabel, -1, "Stretchheight", 96, 156, 50, 8, false),
                            c(ControlKind::kEdit, control::kSetupStretchHeight, "", 148, 154, 30, 12, false),
                            c(ControlKind::kPushButton, control::kSetupHelp, "Help", 236, 160, 56, 14, false),
                        }};
}

// Right-aligned labels against left-aligned values, one row every 11 units, Exit centred below.
DialogTemplate information_dialog() {
  struct Row {
    const char* label;
    int id;
  };
  static const Row kRows[10] = {
      {"File  Name:", control::kInfoFileName},
      {"Original Dimensions:", control::kInfoOriginal},
      {"Display Dimensions:", control::kInfoDisplay},
      {"Compressed Data Size:", control::kInfoCompressed},
      {"Decompressed Data Size:", control::kInfoDecompressed},
      {"Compression    Ratio:", control::kInfoRatio},
      {"Total Decompression Time:", control::kInfoTotalTime},
      {"Entropy Decoding:", control::kInfoEntropyTime},
      {"Wavelet Trans.:", control::kInfoWaveletTime},
      {"Color Quant.:", control::kInfoColourTime},
  };
  DialogTemplate d{"INFOR", "Image Information", 60, 20, 185, 140, false, {}};
  for (int i = 0; i < 10; ++i) {
    const int y = 8 + 11 * i;
    d.controls.push_back(c(ControlKind::kRightLabel, -1, kRows[i].label, 4, y, 94, 8));
    d.controls.push_back(c(ControlKind::kLabel, kRows[i].id, "", 102, y, 78, 8));
  }
  d.controls.push_back(c(ControlKind::kDefaultPushButton, control::kOk, "Exit", 67, 120, 50, 14));
  return d;
}

}  // namespace

const platform::DialogTemplate& dialog(DialogId id) {
  static const DialogTemplate kResize = resize_dialog(), kComments = comments_dialog(), kAbout = about_dialog(),
                              kEasySetup = easy_setup_dialog(), kMasterSetup = master_setup_dialog(),
                              kInformation = information_dialog();
  switch (id) {
    case DialogId::kResize: return kResize;
    case DialogId::kComments: return kComments;
    case DialogId::kAbout: return kAbout;
    case DialogId::kEasySetup: return kEasySetup;
    case DialogId::kMasterSetup: return kMasterSetup;
    case DialogId::kInformation: return kInformation;
  }
  return kAbout;  // unreachable: every id has its template
}

}  // namespace varnic::resources
