// SPDX-License-Identifier: BSD-2-Clause
#include "platform/win32/win32_platform.h"

#include <commdlg.h>

#include <algorithm>

#include "imagefile/utf16.h"
#include "platform/win32/win32_window.h"

namespace varnic::platform {

namespace {

constexpr wchar_t kHelpClass[] = L"VARNICHELP";
constexpr int kIconResource = 1;
// The help window's first size, pixels.
constexpr int kHelpWidth = 520;
constexpr int kHelpHeight = 440;
// Common file dialogs take the path in a buffer of the caller's: room for the longest path.
constexpr std::size_t kPathBuffer = 32768;
// 100-nanosecond ticks between 1601-01-01 (FILETIME's origin) and 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

std::string title_of(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

LRESULT CALLBACK help_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (HWND edit = GetWindow(hwnd, GW_CHILD)) MoveWindow(edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      return 0;
    case WM_SETFOCUS:
      // The text takes the keys: it scrolls by Page Up/Down and Ctrl+Home/End itself.
      if (HWND edit = GetWindow(hwnd, GW_CHILD)) SetFocus(edit);
      return 0;
    case WM_CLOSE:
      // Kept for the next time help is asked for.
      ShowWindow(hwnd, SW_HIDE);
      return 0;
    default: return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

// The help text's keys beyond an edit control's own: Escape closes the window, as in a dialog.
LRESULT CALLBACK help_text_procedure(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
  if ((message == WM_KEYDOWN || message == WM_CHAR) && wparam == VK_ESCAPE) {
    if (message == WM_KEYDOWN) ShowWindow(GetParent(edit), SW_HIDE);
    return 0;
  }
  return CallWindowProcW(subclassed_procedure(edit), edit, message, wparam, lparam);
}

// Widens a message box to the width its caption needs: the file messages give the reason in the
// caption and only the path in the text, and a box as narrow as a short path cuts the reason.
void fit_caption(HWND box) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return;
  wchar_t caption[512] = {};
  const int length = GetWindowTextW(box, caption, 512);
  HDC dc = GetDC(box);
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE text{};
  GetTextExtentPoint32W(dc, caption, length, &text);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(box, dc);
  // Beside the text: the close button, room on both sides of it, and the frame.
  const int needed = text.cx + 2 * metrics.iCaptionWidth + 4 * GetSystemMetrics(SM_CXFIXEDFRAME);
  RECT frame{};
  GetWindowRect(box, &frame);
  const int grow = needed - (frame.right - frame.left);
  if (grow <= 0) return;
  SetWindowPos(box, nullptr, frame.left - grow / 2, frame.top, needed, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  // The buttons stay in the middle.
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"Button") != 0) continue;
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(child, nullptr, r.left + grow / 2, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT CALLBACK widen_message_box(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    wchar_t name[16] = {};
    GetClassNameW(box, name, 16);
    if (lstrcmpW(name, L"#32770") == 0) fit_caption(box);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

void subclass(HWND control, WNDPROC procedure) {
  // The control's class procedure stays reachable through the control's user data, which the
  // system's control classes leave to the program.
  SetWindowLongPtrW(control, GWLP_USERDATA, GetWindowLongPtrW(control, GWLP_WNDPROC));
  SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
}

WNDPROC subclassed_procedure(HWND control) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_USERDATA));
}

// Line ends as edit controls want them.
std::wstring with_crlf(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

std::wstring to_wide_text(std::string_view bytes) {
  std::wstring wide = imagefile::widen(bytes);
  if (wide.empty() && !bytes.empty()) {
    for (char c : bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  return wide;
}

std::wstring file_filter(const FileChooserSpec& request) {
  std::wstring filter = to_wide_text(request.label);
  filter += L'\0';
  filter += to_wide_text(request.pattern);
  filter += L'\0';
  filter += L'\0';
  return filter;
}

// ---------------------------------------------------------------------------------------------
// The platform.

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = Win32Window::procedure;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  for (const wchar_t* name : {kMainClass, kSourceClass}) {
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
  }
  wc.lpfnWndProc = help_procedure;
  wc.lpszClassName = kHelpClass;
  RegisterClassExW(&wc);
}

Win32Platform::~Win32Platform() {
  if (GetCapture() != nullptr) ReleaseCapture();
  windows_.clear();
  if (help_ != nullptr) DestroyWindow(help_);
  for (const wchar_t* name : {kMainClass, kSourceClass, kHelpClass}) UnregisterClassW(name, instance_);
}

int Win32Platform::screen_depth() const {
  HDC screen = GetDC(nullptr);
  const int depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  return depth;
}

Window& Win32Platform::create_window(const WindowSpec& request, WindowHandler& handler) {
  windows_.push_back(std::make_unique<Win32Window>(*this, request, handler));
  return *windows_.back();
}

HWND Win32Platform::main_hwnd() const {
  for (const auto& w : windows_) {
    if (w->has_menu() && !w->is_destroyed()) return w->hwnd();
  }
  return nullptr;
}

HWND Win32Platform::window_handle(const Window& window) { return static_cast<const Win32Window&>(window).hwnd(); }

int Win32Platform::run_dialog(const DialogTemplate& dialog, DialogController& controller) {
  Win32Dialog box(*this, dialog, controller);
  exec_dialog(box, main_hwnd());
  return box.result_code();
}

void Win32Platform::exec_dialog(Win32Dialog& dialog, HWND owner) { dialog.run_modal(owner); }

void Win32Platform::exec_message_box(HWND owner, const std::string& owner_name, std::string_view text,
                                     std::string_view caption) {
  (void)owner_name;
  // The box is made as wide as its caption once it exists, before it shows.
  HHOOK hook = SetWindowsHookExW(WH_CBT, widen_message_box, nullptr, GetCurrentThreadId());
  MessageBoxW(owner, to_wide_text(text).c_str(), to_wide_text(caption).c_str(), MB_OK);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
}

void Win32Platform::message_box(std::string_view text, std::string_view caption) {
  exec_message_box(main_hwnd(), "", text, caption);
}

std::optional<std::string> Win32Platform::exec_file_dialog(const FileChooserSpec& request, bool save) {
  const std::wstring filter = file_filter(request);
  std::wstring path = to_wide_text(request.pattern);
  path.resize(kPathBuffer, L'\0');
  const std::wstring extension = to_wide_text(request.default_extension);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = main_hwnd();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (request.must_exist) ofn.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (request.confirm_overwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
  const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!chosen) return std::nullopt;
  return imagefile::narrow(path.c_str());
}

std::optional<FileChoice> Win32Platform::choose_file(const FileChooserSpec& request, bool save) {
  std::string path;
  if (std::optional<std::string> preset = take_preset_answer()) {
    path = std::move(*preset);
    // Names from the command line may be relative: the program keeps full paths.
    const std::wstring wide = imagefile::widen(path);
    std::wstring full(kPathBuffer, L'\0');
    const DWORD n = wide.empty() ? 0 : GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n > 0 && n < full.size()) path = imagefile::narrow(std::wstring_view(full.data(), n));
  } else {
    std::optional<std::string> chosen = exec_file_dialog(request, save);
    if (!chosen || chosen->empty()) return std::nullopt;
    path = std::move(*chosen);
  }
  return FileChoice{path, title_of(path)};
}

std::optional<FileChoice> Win32Platform::choose_open_file(const FileChooserSpec& request) { return choose_file(request, false); }
std::optional<FileChoice> Win32Platform::choose_save_file(const FileChooserSpec& request) { return choose_file(request, true); }

Cursor Win32Platform::set_cursor(Cursor cursor) {
  const Cursor previous = cursor_;
  cursor_ = cursor;
  SetCursor(LoadCursorW(nullptr, cursor == Cursor::kWait ? IDC_WAIT : IDC_ARROW));
  return previous;
}

void Win32Platform::release_capture() { ReleaseCapture(); }

utils::ClockReading Win32Platform::now() const {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const std::uint64_t ticks = (std::uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime) - kUnixEpochTicks;
  const std::uint64_t ms = ticks / 10000;
  return utils::ClockReading{static_cast<std::uint32_t>(ms / 1000), static_cast<std::uint16_t>(ms % 1000)};
}

void Win32Platform::show_help(std::string_view title, std::string_view text) {
  if (help_ == nullptr) {
    help_ = CreateWindowExW(0, kHelpClass, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, kHelpWidth,
                            kHelpHeight, nullptr, nullptr, instance_, nullptr);
    if (help_ == nullptr) return;
    HWND edit = CreateWindowExW(0, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0,
                                0, 0, help_, nullptr, instance_, nullptr);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    subclass(edit, help_text_procedure);
    RECT r{};
    GetClientRect(help_, &r);
    MoveWindow(edit, 0, 0, r.right, r.bottom, FALSE);
  }
  SetWindowTextW(help_, to_wide_text(title).c_str());
  SetWindowTextW(GetWindow(help_, GW_CHILD), with_crlf(to_wide_text(text)).c_str());
  ShowWindow(help_, SW_SHOW);
  SetForegroundWindow(help_);
  SetFocus(GetWindow(help_, GW_CHILD));
}

void Win32Platform::process_paints() {
  for (auto& window : windows_) {
    if (!window->is_destroyed()) UpdateWindow(window->hwnd());
  }
  GdiFlush();
}

int Win32Platform::run() {
  if (quit_code()) return *quit_code();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return quit_code().value_or(static_cast<int>(msg.wParam));
}

void Win32Platform::end_event_loop(int code) { PostQuitMessage(code); }

}  // namespace varnic::platform

