// SPDX-License-Identifier: BSD-2-Clause
// The menu and dialog resources compiled into the program are the templates of resources/: item
// by item, and control by control at the template's place in dialog units.
#include <gtest/gtest.h>
#include <windows.h>

#include "imagefile/utf16.h"
#include "app/command_table.h"
#include "resources/resources.h"

namespace varnic::testing {
namespace {

using platform::ControlKind;
using platform::MenuItemTemplate;

INT_PTR CALLBACK no_handler(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::string text_of(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return imagefile::narrow(text);
}

void expect_items(HMENU menu, const std::vector<MenuItemTemplate>& items) {
  ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(items.size()));
  for (UINT i = 0; i < items.size(); ++i) {
    const MenuItemTemplate& item = items[i];
    SCOPED_TRACE(item.text);
    wchar_t text[128] = {};
    GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
    EXPECT_EQ(imagefile::narrow(text), item.text);
    if (!item.children.empty()) {
      expect_items(GetSubMenu(menu, static_cast<int>(i)), item.children);
      continue;
    }
    const UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(i)), static_cast<UINT>(item.command));
    EXPECT_EQ((state & MF_GRAYED) != 0, item.greyed);
    EXPECT_EQ((state & MF_CHECKED) != 0, item.checked);
  }
}

TEST(Win32Resources, TheMenuResourceIsTheMenuTemplate) {
  const platform::MenuTemplate& menu = app::main_menu();
  HMENU loaded = LoadMenuW(GetModuleHandleW(nullptr), imagefile::widen(menu.name).c_str());
  ASSERT_NE(loaded, nullptr);
  expect_items(loaded, menu.popups);
  DestroyMenu(loaded);
}

TEST(Win32Resources, EveryDialogResourcePlacesTheTemplateControls) {
  for (const resources::DialogId id : resources::kAllDialogs) {
    const platform::DialogTemplate* t = &resources::dialog(id);
    SCOPED_TRACE(t->name);
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), imagefile::widen(t->name).c_str(), nullptr, no_handler, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(text_of(dialog), t->title);
    RECT size{0, 0, t->width, t->height};
    MapDialogRect(dialog, &size);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    for (const auto& c : t->controls) {
      if (c.id < 0) continue;
      SCOPED_TRACE(c.id);
      HWND item = GetDlgItem(dialog, c.id);
      ASSERT_NE(item, nullptr);
      // Place and size convert separately, as the dialog manager converts them.
      RECT want{c.x, c.y, c.width, c.height};
      MapDialogRect(dialog, &want);
      want.right += want.left;
      want.bottom += want.top;
      RECT got{};
      GetWindowRect(item, &got);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
      EXPECT_EQ(got.left, want.left);
      EXPECT_EQ(got.top, want.top);
      EXPECT_EQ(got.right, want.right);
      // A closed combo box is one line high; its template height holds the dropped-down list.
      if (c.kind != ControlKind::kComboBox) {
        EXPECT_EQ(got.bottom, want.bottom);
      }
      EXPECT_EQ((GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0, c.visible);
      if (c.kind == ControlKind::kPushButton || c.kind == ControlKind::kDefaultPushButton) {
        EXPECT_EQ(text_of(item), c.text);
        EXPECT_EQ((GetWindowLongW(item, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON, c.kind == ControlKind::kDefaultPushButton);
      }
    }
    DestroyWindow(dialog);
  }
}

}  // namespace
}  // namespace varnic::testing
