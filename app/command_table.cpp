// SPDX-License-Identifier: BSD-2-Clause
#include "app/command_table.h"

#include <string>

namespace varnic::app {
namespace {

bool with_picture(const MenuState& s) { return s.opened == Opened::kPicture; }
// A picture or a decoded compressed file: something to show and save, not a palette picture.
bool with_true_picture(const MenuState& s) {
  return s.opened == Opened::kPicture || s.opened == Opened::kCompressedFile;
}
bool eight_bit_shown(const MenuState& s) { return s.eight_bit_display; }
bool dithering_on(const MenuState& s) { return s.fs_dithering; }
bool incremental_on(const MenuState& s) { return s.incremental_display; }

using C = Commands;
constexpr const char* kFile = "&File";
constexpr const char* kOpen = "&Open";
constexpr const char* kSaveAs = "Save &As";
constexpr const char* kDisplay = "&Display";
constexpr const char* kOptions = "&Options";
constexpr const char* kHelp = "&Help";

constexpr CommandRow kTable[] = {
    {kCmdOpenCoded, kFile, kOpen, "Open &Coded File(*.cod)", &C::open_coded, nullptr, nullptr},
    {kCmdOpenBitmap, kFile, kOpen, "Open a &Bitmap Image (*.bmp) ", &C::open_bitmap, nullptr, nullptr},
    {kCmdOpenTarga, kFile, kOpen, "Open a &Targa Image(*.tga)", &C::open_targa, nullptr, nullptr},
    {kCmdSave, kFile, nullptr, "&Save", &C::save, with_picture, nullptr},
    {kCmdSaveBitmap, kFile, kSaveAs, "Save Image as &Bitmap", &C::save_bitmap, with_true_picture, nullptr},
    {kCmdSaveTarga, kFile, kSaveAs, "Save as &Targe(*.tga)", &C::save_targa, with_true_picture, nullptr},
    {kCmdProperties, kFile, nullptr, "&Properties", &C::properties, nullptr, nullptr},
    {kCmdCompress, kFile, nullptr, "&Compress", &C::compress_command, with_picture, nullptr},
    {kCmdExit, kFile, nullptr, "&Exit", &C::exit, nullptr, nullptr},
    {kCmdStretchUp, kDisplay, nullptr, "&Stretch_up(10%)", &C::stretch_up, with_true_picture, nullptr},
    {kCmdStretchDown, kDisplay, nullptr, "&Stretch_down(10%)", &C::stretch_down, with_true_picture, nullptr},
    {kCmdNormal, kDisplay, nullptr, "&Normal", &C::normal, nullptr, nullptr},
    {kCmdResize, kDisplay, nullptr, "&Resize", &C::resize, with_true_picture, nullptr},
    {kCmdDoubleSize, kDisplay, nullptr, "&Double Size", &C::double_size, with_true_picture, nullptr},
    {kCmdHalfSize, kDisplay, nullptr, "&Half Size", &C::half_size, with_true_picture, nullptr},
    {kCmdEasySetup, kOptions, nullptr, "&Easy Setup", &C::easy_setup, with_picture, nullptr},
    {kCmdMasterSetup, kOptions, nullptr, "Master Setup", &C::master_setup, nullptr, nullptr},
    {kCmdEightBit, kOptions, nullptr, "8-bit Image", &C::eight_bit, with_true_picture, eight_bit_shown},
    {kCmdDithering, kOptions, nullptr, "&FS_Dithering", &C::dithering, nullptr, dithering_on},
    {kCmdComments, kOptions, nullptr, "&Edit Comments", &C::comments, nullptr, nullptr},
    {kCmdIncremental, kOptions, nullptr, "&Incremently Display", &C::incremental, nullptr, incremental_on},
    {kCmdAbout, kHelp, nullptr, "About VARNIC", &C::about, nullptr, nullptr},
    {kCmdHelpContents, kHelp, nullptr, "Contents", &C::help_contents, nullptr, nullptr},
    {kCmdDecode, nullptr, nullptr, nullptr, &C::decode, nullptr, nullptr},
};

// The popup called `text` among `items`, added at the end when there is none yet.
platform::MenuItemTemplate& popup(std::vector<platform::MenuItemTemplate>& items, const char* text) {
  for (platform::MenuItemTemplate& item : items) {
    if (item.command < 0 && item.text == text) return item;
  }
  return items.emplace_back(platform::MenuItemTemplate{text, -1, false, false, {}});
}

platform::MenuTemplate build_menu() {
  const MenuState start;
  platform::MenuTemplate menu;
  menu.name = "ARITHMETIC";
  for (const CommandRow& row : kTable) {
    if (row.menu == nullptr) continue;
    std::vector<platform::MenuItemTemplate>* items = &popup(menu.popups, row.menu).children;
    if (row.submenu != nullptr) items = &popup(*items, row.submenu).children;
    items->push_back(platform::MenuItemTemplate{row.text, row.number, row.enabled && !row.enabled(start),
                                                row.checked && row.checked(start), {}});
  }
  return menu;
}

}  // namespace

std::span<const CommandRow> command_table() { return kTable; }

const CommandRow* find_command(int number) {
  for (const CommandRow& row : kTable) {
    if (row.number == number) return &row;
  }
  return nullptr;
}

const platform::MenuTemplate& main_menu() {
  static const platform::MenuTemplate menu = build_menu();
  return menu;
}

void update_menu(platform::Menu& menu, const MenuState& state) {
  for (const CommandRow& row : kTable) {
    if (row.menu == nullptr) continue;
    menu.set_enabled(row.number, !row.enabled || row.enabled(state));
    menu.set_checked(row.number, row.checked && row.checked(state));
  }
}

}  // namespace varnic::app
