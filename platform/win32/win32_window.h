// SPDX-License-Identifier: BSD-2-Clause
// The Win32 backend's windows inside the backend: the two window classes and the window object
// behind each HWND.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/win32_platform.h"

namespace varnic::platform {

inline constexpr wchar_t kMainClass[] = L"ARITHMETIC";
inline constexpr wchar_t kSourceClass[] = L"ORIGNAL";

// Line ends as edit controls want them.
std::wstring with_crlf(std::wstring_view text);

// Puts `procedure` in front of a control of the system's classes; it passes on what it leaves to
// the class's own procedure, subclassed_procedure(control).
void subclass(HWND control, WNDPROC procedure);
WNDPROC subclassed_procedure(HWND control);

class Win32Menu;

class Win32Platform::Win32Window final : public Window {
 public:
  Win32Window(Win32Platform& platform, const WindowSpec& request, WindowHandler& handler);
  ~Win32Window() override;

  void set_title(std::string_view title) override {
    title_ = std::string(title);
    if (!destroyed_) SetWindowTextW(hwnd_, to_wide_text(title).c_str());
  }
  std::string title() const override { return title_; }
  // A window kept larger or smaller than asked (see keep_on_screen and move) reports the size
  // asked for, with the frame it has.
  Rect outer_rect() const override {
    RECT r{};
    if (!destroyed_) GetWindowRect(hwnd_, &r);
    const Size shown = shown_client_size();
    const Size client = client_size();
    return Rect{r.left, r.top, r.right - r.left - (shown.width - client.width),
                r.bottom - r.top - (shown.height - client.height)};
  }
  Size client_size() const override { return asked_ ? *asked_ : shown_client_size(); }
  void move(int x, int y, int width, int height, bool repaint) override;
  void show() override {
    if (destroyed_) return;
    ShowWindow(hwnd_, SW_SHOW);
    report_size();
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  void hide() override {
    if (!destroyed_) ShowWindow(hwnd_, SW_HIDE);
  }
  bool is_visible() const override { return !destroyed_ && IsWindowVisible(hwnd_); }
  void invalidate(bool erase) override {
    if (!destroyed_) InvalidateRect(hwnd_, nullptr, erase ? TRUE : FALSE);
  }
  void draw_now(const std::function<void(Surface&)>& draw) override;
  void set_capture() override {
    if (!destroyed_) SetCapture(hwnd_);
  }
  Menu* menu() override;
  void destroy() override {
    if (destroyed_) return;
    destroyed_ = true;
    if (GetCapture() == hwnd_) ReleaseCapture();
    DestroyWindow(hwnd_);
  }
  bool is_destroyed() const override { return destroyed_; }

  HWND hwnd() const { return hwnd_; }
  bool has_menu() const { return menu_ != nullptr; }
  const std::string& current_title() const { return title_; }
  // Selects the colour table's palette into `dc` and realises it; the palette is kept for
  // WM_QUERYNEWPALETTE.
  void realise(HDC dc, std::span<const std::uint8_t> colour_table);

  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void paint();
  void report_size();
  Size shown_client_size() const {
    RECT r{};
    if (!destroyed_) GetClientRect(hwnd_, &r);
    return Size{r.right, r.bottom};
  }
  void keep_on_screen();
  bool realise_again(bool background);

  Win32Platform& platform_;
  WindowHandler& handler_;
  std::string title_;
  HWND hwnd_ = nullptr;
  std::unique_ptr<Win32Menu> menu_;
  HPALETTE palette_ = nullptr;
  bool created_ = false;  // size changes during creation are not reported
  bool destroyed_ = false;
  std::optional<Size> reported_;
  // The client size the program asked for, while the screen shows another: none at all, or the
  // part of it within the work area.
  std::optional<Size> asked_;
  bool moving_ = false;        // size changes are the program's own
};

}  // namespace varnic::platform
