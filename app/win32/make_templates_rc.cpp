// SPDX-License-Identifier: BSD-2-Clause
// Build-time host program: writes the menu of the command table and the dialog templates as a
// resource script (MENU and DIALOG statements, positions in dialog units), so that the Windows program's
// real resources and the other backends' layouts come from one source.
//
// usage: make_templates_rc OUTPUT.rc
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "app/command_table.h"
#include "resources/resources.h"

namespace {

using varnic::platform::ControlKind;
using varnic::platform::ControlTemplate;
using varnic::platform::DialogTemplate;
using varnic::platform::MenuItemTemplate;

// A resource-script string: quotes doubled, backslashes escaped; UTF-8 as it stands (the script
// declares code page 65001).
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') {
      out += "\"\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void write_items(std::ostream& out, const std::vector<MenuItemTemplate>& items, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out << indent << "BEGIN\n";
  for (const auto& item : items) {
    if (!item.children.empty() || item.command < 0) {
      out << indent << "  POPUP " << quoted(item.text) << "\n";
      write_items(out, item.children, depth + 1);
      continue;
    }
    out << indent << "  MENUITEM " << quoted(item.text) << ", " << item.command;
    if (item.greyed) out << ", GRAYED";
    if (item.checked) out << ", CHECKED";
    out << "\n";
  }
  out << indent << "END\n";
}

std::string control_line(const ControlTemplate& c) {
  std::ostringstream line;
  const std::string place =
      std::to_string(c.x) + ", " + std::to_string(c.y) + ", " + std::to_string(c.width) + ", " + std::to_string(c.height);
  const std::string hidden = c.visible ? "" : " | NOT WS_VISIBLE";
  const std::string id = std::to_string(c.id);
  switch (c.kind) {
    case ControlKind::kLabel: line << "LTEXT " << quoted(c.text) << ", " << id << ", " << place; break;
    case ControlKind::kRightLabel: line << "RTEXT " << quoted(c.text) << ", " << id << ", " << place; break;
    case ControlKind::kEdit:
      line << "EDITTEXT " << id << ", " << place << ", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP";
      break;
    case ControlKind::kMultiLineEdit:
      line << "EDITTEXT " << id << ", " << place
           << ", ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_BORDER | WS_TABSTOP";
      break;
    case ControlKind::kPushButton: line << "PUSHBUTTON " << quoted(c.text) << ", " << id << ", " << place; break;
    case ControlKind::kDefaultPushButton:
      line << "DEFPUSHBUTTON " << quoted(c.text) << ", " << id << ", " << place;
      break;
    case ControlKind::kScrollBar: line << "SCROLLBAR " << id << ", " << place << ", SBS_HORZ | WS_TABSTOP"; break;
    case ControlKind::kComboBox:
      line << "COMBOBOX " << id << ", " << place << ", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP";
      break;
  }
  std::string text = line.str();
  // Statements without a style of their own take the hidden flag as one.
  if (!c.visible) {
    const bool styled = c.kind == ControlKind::kEdit || c.kind == ControlKind::kMultiLineEdit ||
                        c.kind == ControlKind::kScrollBar || c.kind == ControlKind::kComboBox;
    text += styled ? hidden : ", WS_CHILD | WS_GROUP" + hidden;
  }
  return text;
}

void write_dialog(std::ostream& out, const DialogTemplate& d) {
  out << d.name << " DIALOG " << d.x << ", " << d.y << ", " << d.width << ", " << d.height << "\n";
  out << "STYLE DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION" << (d.system_menu ? " | WS_SYSMENU" : "") << "\n";
  out << "CAPTION " << quoted(d.title) << "\n";
  // The templates' 8-point font: its base units make 1 unit 1.5 px across and 1.625 px down.
  out << "FONT 8, \"MS Sans Serif\"\n";
  out << "BEGIN\n";
  for (const auto& c : d.controls) out << "  " << control_line(c) << "\n";
  out << "END\n\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_templates_rc OUTPUT.rc\n";
    return 1;
  }
  std::ostringstream out;
  out << "// Generated at build time from app/command_table.cpp and resources/dialogs.cpp.\n";
  out << "#pragma code_page(65001)\n\n";
  const auto& menu = varnic::app::main_menu();
  out << menu.name << " MENU\n";
  write_items(out, menu.popups, 0);
  out << "\n";
  for (const varnic::resources::DialogId id : varnic::resources::kAllDialogs) {
    write_dialog(out, varnic::resources::dialog(id));
  }
  std::ofstream file(argv[1], std::ios::binary);
  file << out.str();
  return file.good() ? 0 : 1;
}
