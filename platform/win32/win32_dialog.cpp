// SPDX-License-Identifier: BSD-2-Clause
// Modal dialogs made from their DIALOG resources.
#include <algorithm>

#include "imagefile/utf16.h"
#include "platform/win32/win32_window.h"
#include "varnic/rules.h"

namespace varnic::platform {

namespace {

std::string window_text(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), length + 1)));
  return imagefile::narrow(text);
}

// Multi-line edits keep Return for new lines; Ctrl+Return presses the dialog's default button,
// as from every other control (the edit would otherwise take it as a line feed).
LRESULT CALLBACK multi_line_procedure(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
  const bool control = GetKeyState(VK_CONTROL) < 0;
  if (control && message == WM_KEYDOWN && wparam == VK_RETURN) {
    HWND dialog = GetParent(edit);
    const LRESULT default_id = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    if (HIWORD(default_id) == DC_HASDEFID) {
      const int id = LOWORD(default_id);
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    return 0;
  }
  if (control && message == WM_CHAR && (wparam == L'\n' || wparam == L'\r')) return 0;
  return CallWindowProcW(subclassed_procedure(edit), edit, message, wparam, lparam);
}

// Where a scroll bar's focus mark goes: a ring just outside the bar, in the dialog's client
// coordinates, which the bar's own drawing never touches.
constexpr int kFocusRingGap = 2;
RECT focus_ring(HWND bar) {
  RECT r{};
  GetWindowRect(bar, &r);
  MapWindowPoints(nullptr, GetParent(bar), reinterpret_cast<POINT*>(&r), 2);
  InflateRect(&r, kFocusRingGap + 1, kFocusRingGap + 1);
  return r;
}

bool is_scroll_bar(HWND control) {
  wchar_t name[16] = {};
  GetClassNameW(control, name, 16);
  return lstrcmpiW(name, L"ScrollBar") == 0;
}

// A focused scroll bar gets a dotted frame around it: the system's own sign, a blinking thumb, is
// absent on some systems and easy to miss on the others.
LRESULT CALLBACK scroll_bar_procedure(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
    const RECT ring = focus_ring(bar);
    InvalidateRect(GetParent(bar), &ring, TRUE);
  }
  return CallWindowProcW(subclassed_procedure(bar), bar, message, wparam, lparam);
}

}  // namespace


Win32Dialog::Win32Dialog(Win32Platform& platform, const DialogTemplate& dialog, DialogController& controller)
    : platform_(platform), template_(dialog), controller_(controller) {}

Win32Dialog::~Win32Dialog() {
  if (!modal_ && hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void Win32Dialog::run_modal(HWND owner) {
  modal_ = true;
  const INT_PTR r = DialogBoxParamW(platform_.instance(), to_wide_text(template_.name).c_str(), owner, procedure,
                                    reinterpret_cast<LPARAM>(this));
  if (r == -1 && !ended_) {
    ended_ = true;  // no such resource
    result_ = -1;
  }
  hwnd_ = nullptr;
}

bool Win32Dialog::create_modeless(HWND owner) {
  modal_ = false;
  return CreateDialogParamW(platform_.instance(), to_wide_text(template_.name).c_str(), owner, procedure,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CALLBACK Win32Dialog::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<Win32Dialog*>(lparam);
    dialog->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
  }
  auto* dialog = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return dialog == nullptr ? FALSE : dialog->handle(message, wparam, lparam);
}

INT_PTR Win32Dialog::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
        if (lstrcmpiW(name, L"Edit") == 0 && (style & ES_MULTILINE) != 0) subclass(child, multi_line_procedure);
        if (is_scroll_bar(child)) subclass(child, scroll_bar_procedure);
      }
      controller_.on_init(*this);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const UINT code = HIWORD(wparam);
      if (ended_) return TRUE;
      if (code == EN_CHANGE) {
        if (!setting_text_) controller_.on_text_changed(*this, id);
      } else if (code == BN_CLICKED) {
        // Buttons, and Enter and Escape, which the dialog manager turns into the default
        // button's command and IDCANCEL.
        controller_.on_command(*this, id);
      }
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd_, &paint);
      HWND focus = GetFocus();
      if (focus != nullptr && GetParent(focus) == hwnd_ && is_scroll_bar(focus)) {
        const RECT ring = focus_ring(focus);
        HPEN pen = CreatePen(PS_DOT, 1, RGB(0, 0, 0));
        HGDIOBJ old_pen = SelectObject(dc, pen);
        HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, ring.left, ring.top, ring.right, ring.bottom);
        SelectObject(dc, old_brush);
        SelectObject(dc, old_pen);
        DeleteObject(pen);
      }
      EndPaint(hwnd_, &paint);
      return TRUE;
    }
    case WM_HSCROLL:
      if (!ended_ && lparam != 0) scroll(reinterpret_cast<HWND>(lparam), LOWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      if (!ended_) controller_.on_command(*this, IDCANCEL);
      return TRUE;
    default: return FALSE;
  }
}

void Win32Dialog::scroll(HWND bar, int code) {
  ScrollEvent e;
  e.control = GetDlgCtrlID(bar);
  switch (code) {
    case SB_LINELEFT: e.code = ScrollCode::kLineLeft; break;
    case SB_LINERIGHT: e.code = ScrollCode::kLineRight; break;
    case SB_PAGELEFT: e.code = ScrollCode::kPageLeft; break;
    case SB_PAGERIGHT: e.code = ScrollCode::kPageRight; break;
    case SB_LEFT: e.code = ScrollCode::kLeftEnd; break;
    case SB_RIGHT: e.code = ScrollCode::kRightEnd; break;
    case SB_THUMBPOSITION: e.code = ScrollCode::kThumbPosition; break;
    case SB_THUMBTRACK: e.code = ScrollCode::kThumbTrack; break;
    default: e.code = ScrollCode::kOther; break;
  }
  if (e.code == ScrollCode::kThumbPosition || e.code == ScrollCode::kThumbTrack) {
    // The program places the thumb from the pointer's position across the bar.
    RECT r{};
    GetClientRect(bar, &r);
    if (scripted_pointer_) {
      e.pointer_x = scripted_pointer_->first;
      e.client_width = std::max(scripted_pointer_->second, 1);
    } else {
      POINT p{};
      GetCursorPos(&p);
      ScreenToClient(bar, &p);
      e.client_width = std::max<int>(r.right, 1);
      e.pointer_x = std::clamp<int>(p.x, 0, r.right);
    }
  }
  controller_.on_scroll(*this, e);
}

void Win32Dialog::set_text(int control, std::string_view text) {
  setting_text_ = true;
  SetDlgItemTextW(hwnd_, control, with_crlf(to_wide_text(text)).c_str());
  setting_text_ = false;
}

std::string Win32Dialog::text(int control, std::size_t max_bytes) const {
  HWND item = GetDlgItem(hwnd_, control);
  if (item == nullptr) return {};
  std::string text = window_text(item);
  // Multi-line edits hold CR LF line ends; the program's text has plain LF.
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return std::string(varnic::cut_utf8(text, max_bytes));
}

void Win32Dialog::set_scroll_range(int control, int minimum, int maximum) {
  SetScrollRange(GetDlgItem(hwnd_, control), SB_CTL, minimum, maximum, TRUE);
}

void Win32Dialog::set_scroll_position(int control, int position) {
  SetScrollPos(GetDlgItem(hwnd_, control), SB_CTL, position, TRUE);
}

int Win32Dialog::scroll_position(int control) const { return GetScrollPos(GetDlgItem(hwnd_, control), SB_CTL); }

void Win32Dialog::combo_insert(int control, int index, std::string_view text) {
  const std::wstring wide = to_wide_text(text);
  SendDlgItemMessageW(hwnd_, control, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide.c_str()));
}

void Win32Dialog::combo_select(int control, int index) {
  SendDlgItemMessageW(hwnd_, control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Dialog::combo_selection(int control) const {
  const LRESULT r = SendDlgItemMessageW(hwnd_, control, CB_GETCURSEL, 0, 0);
  return r == CB_ERR ? -1 : static_cast<int>(r);
}

void Win32Dialog::message_box(std::string_view text, std::string_view caption) {
  platform_.exec_message_box(hwnd_, template_.name, text, caption);
}

void Win32Dialog::end(int result) {
  ended_ = true;
  result_ = result;
  if (modal_) EndDialog(hwnd_, result);
}

}  // namespace varnic::platform
