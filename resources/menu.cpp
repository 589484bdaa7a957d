#include "resources/resources.h"

namespace varnic::resources {

namespace {

platform::MenuItemTemplate item(const char* text, int command, bool greyed = false, bool checked = false) {
  return platform::MenuItemTemplate{text, command, greyed, checked, {}};
}

platform::MenuItemTemplate popup(const char* text, std::vector<platform::MenuItemTemplate> children) {
  return platform::MenuItemTemplate{text, -1, false, false, std::move(children)};
}

platform::MenuTemplate build_menu() {
  platform::MenuTemplate menu;
  menu.name = "ARITHMETIC";
  menu.popups = {
      popup("&File",
            {
                popup("&Open",
                      {
                          item("Open &Coded File(*.cod)", kCmdOpenCoded),
                          item("Open a &Bitmap Image (*.bmp) ", kCmdOpenBitmap),
                          item("Open a &Targa Image(*.tga)", kCmdOpenTarga),
                      }),
                item("&Save", kCmdSave, true),
                popup("Save &As",
                      {
                          item("Save Image as &Bitmap", kCmdSaveBitmap, true),
                          item("Save as &Targe(*.tga)", kCmdSaveTarga, true),
                      }),
                item("&Properties", kCmdProperties),
                item("&Compress", kCmdCompress, true),
                item("&Exit", kCmdExit),
            }),
      popup("&Display",
            {
                item("&Stretch_up(10%)", kCmdStretchUp, true),
                item("&Stretch_down(10%)", kCmdStretchDown, true),
                item("&Normal", kCmdNormal),
                item("&Resize", kCmdResize, true),
                item("&Double Size", kCmdDoubleSize, true),
                item("&Half Size", kCmdHalfSize, true),
            }),
      popup("&Options",
            {
                item("&Easy Setup", kCmdEasySetup, true),
                item("Master Setup", kCmdMasterSetup),
                item("8-bit Image", kCmdEightBit, true),
                item("&FS_Dithering", kCmdDithering, false, true),
                item("&Edit Comments", kCmdComments),
                item("&Incremently Display", kCmdIncremental, false, true),
            }),
      popup("&Help",
            {
                item("About VARNIC", kCmdAbout),
                item("Contents", kCmdHelpContents),
            }),
  };
  return menu;
}

}  // namespace

const platform::MenuTemplate& main_menu() {
  static const platform::MenuTemplate menu = build_menu();
  return menu;
}

}  // namespace varnic::resources
