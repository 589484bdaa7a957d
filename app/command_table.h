// SPDX-License-Identifier: BSD-2-Clause
// The desktop program's commands as one table: for each, the command number the main window
// receives, its place and text in the menu, the Commands function that runs it, and the rules
// that derive its menu states from the program's state. The menu template, the dispatch and the
// menu's enabled and check marks all come from this table; adding a command is one row and its
// function. Kept free of the program's other headers, so that a build tool can lay the menu out.
#pragma once

#include <cstdint>
#include <span>

#include "platform/platform.h"

namespace varnic::app {

// Command numbers: the menu items, and 42, which the main window sends itself once a compressed
// file has been opened.
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

// The command number is the low 16 bits of what the window system delivers.
inline constexpr int kCommandNumberMask = 0xFFFF;

// What was opened last: it decides which commands make sense.
enum class Opened : std::uint8_t {
  kNothing,         // start-up
  kPicture,         // a grey or 24-bit colour bitmap or Targa picture
  kCompressedFile,  // a .cod file: no stream to save, nothing to compress
  kPalettePicture,  // an 8-bit picture with a colour palette: shown, saved as it is, never compressed
};

// The part of the program's state the menu reflects.
struct MenuState {
  Opened opened = Opened::kNothing;
  bool eight_bit_display = false;
  bool fs_dithering = true;
  bool incremental_display = true;
};

// The functions the commands run, one each; the program implements them.
class Commands {
 public:
  virtual ~Commands() = default;
  virtual void exit() = 0;
  virtual void open_coded() = 0;
  virtual void open_bitmap() = 0;
  virtual void open_targa() = 0;
  virtual void save() = 0;
  virtual void save_bitmap() = 0;
  virtual void save_targa() = 0;
  virtual void properties() = 0;
  virtual void compress_command() = 0;
  virtual void decode() = 0;
  virtual void stretch_up() = 0;
  virtual void stretch_down() = 0;
  virtual void normal() = 0;
  virtual void resize() = 0;
  virtual void double_size() = 0;
  virtual void half_size() = 0;
  virtual void easy_setup() = 0;
  virtual void master_setup() = 0;
  virtual void eight_bit() = 0;
  virtual void dithering() = 0;
  virtual void comments() = 0;
  virtual void incremental() = 0;
  virtual void about() = 0;
  virtual void help_contents() = 0;
};

struct CommandRow {
  Command number;
  const char* menu;     // the menu bar's popup; null for commands the window sends itself
  const char* submenu;  // a popup inside it, or null
  const char* text;     // '&' marks the access key; shown exactly as given
  void (Commands::*run)();
  bool (*enabled)(const MenuState&);  // null: always enabled
  bool (*checked)(const MenuState&);  // null: never checked
};

// Every command, in menu order.
std::span<const CommandRow> command_table();
// The row of a command number, null for numbers that are no command.
const CommandRow* find_command(int number);

// The menu "ARITHMETIC" laid out from the table, with the states of start-up.
const platform::MenuTemplate& main_menu();
// Sets every item's enabled state and check mark from the state.
void update_menu(platform::Menu& menu, const MenuState& state);

}  // namespace varnic::app
