// SPDX-License-Identifier: BSD-2-Clause
#include "win32_automation.h"

#include "platform/win32/win32_window.h"

#include <optional>

#include "imagefile/utf16.h"

namespace varnic::testing {

using platform::ControlKind;
using platform::DialogStep;

namespace {

// What a menu popup covers of the client area below the menu bar, from its top-left corner.
constexpr int kPopupWidth = 150;
constexpr int kPopupHeight = 120;

int scroll_request(platform::ScrollCode code) {
  switch (code) {
    case platform::ScrollCode::kLineLeft: return SB_LINELEFT;
    case platform::ScrollCode::kLineRight: return SB_LINERIGHT;
    case platform::ScrollCode::kPageLeft: return SB_PAGELEFT;
    case platform::ScrollCode::kPageRight: return SB_PAGERIGHT;
    case platform::ScrollCode::kLeftEnd: return SB_LEFT;
    case platform::ScrollCode::kRightEnd: return SB_RIGHT;
    case platform::ScrollCode::kThumbPosition: return SB_THUMBPOSITION;
    case platform::ScrollCode::kThumbTrack: return SB_THUMBTRACK;
    default: return SB_ENDSCROLL;
  }
}

std::wstring class_of(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::string text_of(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return imagefile::narrow(text);
}

// The message box on screen while a driver answers it. The box is read when it becomes active,
// then closed with OK.
struct BoxWatch {
  HWND owner = nullptr;
  std::optional<platform::MessageRecord> seen;
  bool owned_right = false;
};

// Whether a box is as wide as its caption's text in the caption font.
bool caption_fits(HWND box, const std::string& caption) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  const std::wstring text = platform::to_wide_text(caption);
  HDC dc = GetDC(box);
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(box, dc);
  RECT frame{};
  GetWindowRect(box, &frame);
  return frame.right - frame.left >= size.cx;
}
thread_local BoxWatch* g_box_watch = nullptr;

BOOL CALLBACK find_text(HWND child, LPARAM found) {
  if (class_of(child) == L"Static" && GetWindowTextLengthW(child) > 0) {
    *reinterpret_cast<std::string*>(found) = text_of(child);
    return FALSE;
  }
  return TRUE;
}

LRESULT CALLBACK watch_message_box(int code, WPARAM wparam, LPARAM lparam) {
  HWND box = reinterpret_cast<HWND>(wparam);
  if (code == HCBT_ACTIVATE && g_box_watch != nullptr && !g_box_watch->seen && class_of(box) == L"#32770") {
    platform::MessageRecord r;
    r.caption = text_of(box);
    EnumChildWindows(box, find_text, reinterpret_cast<LPARAM>(&r.text));
    g_box_watch->owned_right = GetWindow(box, GW_OWNER) == g_box_watch->owner;
    r.caption_fits = caption_fits(box, r.caption);
    g_box_watch->seen = std::move(r);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

platform::DialogState state_of(const platform::Win32Dialog& dialog) {
  platform::DialogState state;
  for (const auto& c : dialog.dialog_template().controls) {
    if (c.id < 0) continue;
    HWND item = GetDlgItem(dialog.hwnd(), c.id);
    switch (c.kind) {
      case ControlKind::kEdit:
      case ControlKind::kMultiLineEdit:
      case ControlKind::kLabel:
      case ControlKind::kRightLabel: state.texts[c.id] = dialog.text(c.id, std::string::npos); break;
      case ControlKind::kScrollBar: state.scroll_positions[c.id] = dialog.scroll_position(c.id); break;
      case ControlKind::kComboBox: {
        auto& entries = state.combo_entries[c.id];
        const auto count = static_cast<int>(SendMessageW(item, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
          std::wstring entry(static_cast<std::size_t>(SendMessageW(item, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0)) + 1, L'\0');
          entry.resize(static_cast<std::size_t>(
              SendMessageW(item, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry.data()))));
          entries.push_back(imagefile::narrow(entry));
        }
        state.combo_selections[c.id] = dialog.combo_selection(c.id);
        break;
      }
      default: break;
    }
  }
  return state;
}

}  // namespace

platform::Image read_pixels(HDC source, int x, int y, int width, int height) {
  platform::Image out{width, height, {}};
  if (width <= 0 || height <= 0) return out;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(source);
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, section);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const std::uint8_t*>(bits);
  out.rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (std::size_t i = 0, n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height); i < n; ++i) {
    out.rgb.insert(out.rgb.end(), {p[4 * i + 2], p[4 * i + 1], p[4 * i]});
  }
  SelectObject(memory, old);
  DeleteObject(section);
  DeleteDC(memory);
  return out;
}

ScriptedWin32Platform::ScriptedWin32Platform() : Win32Platform(GetModuleHandleW(nullptr)) {}

void ScriptedWin32Platform::show_help(std::string_view title, std::string_view text) {
  Win32Platform::show_help(title, text);
  // Read back from the help window the user would see.
  HWND edit = GetWindow(help_hwnd(), GW_CHILD);
  std::wstring shown(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  shown.resize(static_cast<std::size_t>(GetWindowTextW(edit, shown.data(), static_cast<int>(shown.size()))));
  std::string text_shown = imagefile::narrow(shown);
  std::erase(text_shown, '\r');
  std::wstring caption(256, L'\0');
  caption.resize(static_cast<std::size_t>(GetWindowTextW(help_hwnd(), caption.data(), 256)));
  record_help(platform::HelpRecord{imagefile::narrow(caption), text_shown});
}

void ScriptedWin32Platform::note_frame(const platform::Window& window, bool immediate) {
  record_frame([&] { return platform::Frame{window.title(), immediate, client_image(window)}; });
}

platform::Image ScriptedWin32Platform::client_image(const platform::Window& window) const {
  HWND hwnd = window_handle(window);
  RECT r{};
  GetClientRect(hwnd, &r);
  HDC dc = GetDC(hwnd);
  platform::Image image = read_pixels(dc, 0, 0, r.right, r.bottom);
  ReleaseDC(hwnd, dc);
  return image;
}

platform::Rect ScriptedWin32Platform::work_area() const {
  RECT r{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
  return platform::Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

platform::Rect ScriptedWin32Platform::frame_on_screen(const platform::Window& window) const {
  RECT r{};
  GetWindowRect(window_handle(window), &r);
  return platform::Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void ScriptedWin32Platform::user_resize_client(platform::Window& window, int client_width, int client_height) {
  HWND hwnd = window_handle(window);
  // The user drags until the client area has the size wanted, whatever the menu bar does.
  for (int attempt = 0; attempt < 8; ++attempt) {
    RECT outer{};
    RECT client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    if (client.right == client_width && client.bottom == client_height) break;
    SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left - client.right + client_width,
                 outer.bottom - outer.top - client.bottom + client_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  process_paints();
}

void ScriptedWin32Platform::user_click(platform::Window& window) {
  HWND hwnd = window_handle(window);
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
  process_paints();
}

void ScriptedWin32Platform::user_close(platform::Window& window) {
  SendMessageW(window_handle(window), WM_SYSCOMMAND, SC_CLOSE, 0);
  process_paints();
}

void ScriptedWin32Platform::user_choose(platform::Window& window, int command) {
  HWND hwnd = window_handle(window);
  // The closed popup leaves its pixels behind and the area to be painted again, as on screen.
  RECT covered{0, 0, kPopupWidth, kPopupHeight};
  HDC dc = GetDC(hwnd);
  FillRect(dc, &covered, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  ReleaseDC(hwnd, dc);
  InvalidateRect(hwnd, &covered, TRUE);
  // The command as the menu sends it.
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(command, 0), 0);
  process_paints();
}

platform::Cursor ScriptedWin32Platform::cursor() const {
  return GetCursor() == LoadCursorW(nullptr, IDC_WAIT) ? platform::Cursor::kWait : platform::Cursor::kArrow;
}

void ScriptedWin32Platform::exec_message_box(HWND owner, const std::string& owner_name, std::string_view text,
                                             std::string_view caption) {
  // The real box, as the backend shows it, read back from the screen.
  BoxWatch watch{owner, std::nullopt, false};
  g_box_watch = &watch;
  HHOOK hook = SetWindowsHookExW(WH_CBT, watch_message_box, nullptr, GetCurrentThreadId());
  if (hook != nullptr) Win32Platform::exec_message_box(owner, owner_name, text, caption);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  g_box_watch = nullptr;
  // A box that was not shown, or not owned by the window the program named, records owner "?".
  platform::MessageRecord record = watch.seen.value_or(platform::MessageRecord{});
  if (watch.owned_right) {
    record.owner = owner_name;
  } else {
    record.owner.assign(1, '?');
  }
  record_message(std::move(record));
}

std::optional<std::string> ScriptedWin32Platform::exec_file_dialog(const platform::FileChooserSpec& request, bool save) {
  (void)save;
  // The closed dialog leaves its pixels behind and the area to be painted again, as on screen.
  if (HWND main = main_hwnd(); main != nullptr && IsWindowVisible(main)) {
    RECT covered{0, 0, kChooserCovers.width, kChooserCovers.height};
    HDC dc = GetDC(main);
    FillRect(dc, &covered, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(main, dc);
    InvalidateRect(main, &covered, TRUE);
  }
  return take_file_answer(request);
}

platform::Cursor ScriptedWin32Platform::set_cursor(platform::Cursor cursor) {
  const platform::Cursor previous = Win32Platform::set_cursor(cursor);
  if (cursor == platform::Cursor::kWait && previous != platform::Cursor::kWait) {
    for (const auto& window : windows()) {
      if (!window->is_visible()) continue;
      record_frame([&] { return platform::Frame{window->title(), false, client_image(*window), true}; });
    }
  }
  return previous;
}

namespace {

// The user's hands on a dialog made from its resource: the messages typing, scrolling and
// clicking send.
class Win32Hands final : public platform::ScriptedDialog {
 public:
  explicit Win32Hands(platform::Win32Dialog& dialog) : dialog_(dialog) {}
  bool ended() const override { return dialog_.ended(); }
  platform::DialogState state() const override { return state_of(dialog_); }
  int result() const override { return dialog_.result_code(); }
  // The Escape key reaches the dialog as IDCANCEL.
  void escape() override { SendMessageW(dialog_.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }
  void force_end() override { dialog_.end(-1); }
  bool take(const DialogStep& step) override {
    HWND item = GetDlgItem(dialog_.hwnd(), step.control);
    if (item == nullptr) {
      if (step.action != DialogStep::Action::kPress || step.control != IDCANCEL) return false;
      escape();
      return true;
    }
    switch (step.action) {
      case DialogStep::Action::kSetText:
        // The edit control itself tells the dialog of the change (EN_CHANGE), as typing does.
        SetWindowTextW(item, platform::to_wide_text(step.text).c_str());
        break;
      case DialogStep::Action::kSelect: SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(step.index), 0); break;
      case DialogStep::Action::kScroll:
        dialog_.set_scripted_pointer(std::make_pair(step.scroll.pointer_x, step.scroll.client_width));
        SendMessageW(dialog_.hwnd(), WM_HSCROLL, MAKEWPARAM(scroll_request(step.scroll.code), 0),
                     reinterpret_cast<LPARAM>(item));
        dialog_.set_scripted_pointer(std::nullopt);
        break;
      case DialogStep::Action::kPress:
        if (class_of(item) == L"Button") {
          SendMessageW(item, BM_CLICK, 0, 0);
        } else {
          SendMessageW(dialog_.hwnd(), WM_COMMAND, MAKEWPARAM(step.control, BN_CLICKED), 0);
        }
        break;
      case DialogStep::Action::kSnapshot: break;
    }
    return true;
  }

 private:
  platform::Win32Dialog& dialog_;
};

}  // namespace

void ScriptedWin32Platform::exec_dialog(platform::Win32Dialog& dialog, HWND owner) {
  const std::string name = dialog.dialog_template().name;
  if (!dialog.create_modeless(owner)) {
    platform::DialogRun run;
    run.dialog = name;
    run.mismatches.push_back("no dialog resource " + name);
    record_dialog_run(std::move(run));
    return;
  }
  // Shown as DialogBoxParamW would show it: buttons only click while visible.
  ShowWindow(dialog.hwnd(), SW_SHOW);
  Win32Hands hands(dialog);
  play_dialog(name, hands);
  DestroyWindow(dialog.hwnd());
}

}  // namespace varnic::testing
