// SPDX-License-Identifier: BSD-2-Clause
// Windows and their drawing surfaces.
#include "platform/win32/win32_window.h"

#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "imagefile/utf16.h"

namespace varnic::platform {

namespace {

// Largest window side: a 65535-pixel client (the program's sizes are 16-bit) and its frame.
constexpr LONG kMaxWindowSide = 65535 + 1024;
// A window too small for its client area grows a menu row at a time: the menu bar wraps onto at
// most one row per top-level item.
constexpr int kGrowAttempts = 16;

// A bitmap header followed by 256 colour-table entries, as SetDIBitsToDevice takes it.
struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

DibHeader dib_header(const BitmapView& bitmap) {
  DibHeader h{};
  h.header.biSize = sizeof(BITMAPINFOHEADER);
  h.header.biWidth = bitmap.width;
  h.header.biHeight = bitmap.height;  // positive: bottom-up, as the program stores its pictures
  h.header.biPlanes = 1;
  h.header.biBitCount = static_cast<WORD>(bitmap.bits_per_pixel);
  h.header.biCompression = BI_RGB;
  if (bitmap.bits_per_pixel == 8) {
    h.header.biClrUsed = 256;
    std::copy_n(bitmap.colour_table.data(), sizeof h.colours, reinterpret_cast<std::uint8_t*>(h.colours));
  }
  return h;
}

// A logical palette of the 256 entries of a colour table (blue, green, red, reserved).
HPALETTE make_palette(std::span<const std::uint8_t> colour_table) {
  struct {
    WORD version;
    WORD count;
    PALETTEENTRY entries[256];
  } logical{0x300, 256, {}};
  for (std::size_t i = 0; i < 256 && 4 * i + 2 < colour_table.size(); ++i) {
    logical.entries[i] = PALETTEENTRY{colour_table[4 * i + 2], colour_table[4 * i + 1], colour_table[4 * i], 0};
  }
  return CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
}

}  // namespace

class Win32Menu final : public Menu {
 public:
  Win32Menu(HWND owner, HMENU menu) : owner_(owner), menu_(menu) {}
  void set_enabled(int command, bool enabled) override {
    EnableMenuItem(menu_, static_cast<UINT>(command), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(owner_);
  }
  bool is_enabled(int command) const override {
    const UINT state = GetMenuState(menu_, static_cast<UINT>(command), MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
  }
  void set_checked(int command, bool checked) override {
    CheckMenuItem(menu_, static_cast<UINT>(command), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
  }
  bool is_checked(int command) const override {
    const UINT state = GetMenuState(menu_, static_cast<UINT>(command), MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
  }

 private:
  HWND owner_;
  HMENU menu_;
};

namespace {

class Win32Surface final : public Surface {
 public:
  Win32Surface(Win32Platform& platform, Win32Platform::Win32Window& window, HDC dc, bool immediate)
      : platform_(platform), window_(window), dc_(dc), immediate_(immediate) {}

  void draw_bitmap(const BitmapView& bitmap, int x, int y) override {
    if (!bitmap_is_complete(bitmap)) return;
    const DibHeader h = dib_header(bitmap);
    SetDIBitsToDevice(dc_, x, y, static_cast<DWORD>(bitmap.width), static_cast<DWORD>(bitmap.height), 0, 0, 0,
                      static_cast<UINT>(bitmap.height), bitmap.bits.data(), reinterpret_cast<const BITMAPINFO*>(&h),
                      DIB_RGB_COLORS);
    record(DrawRecord::Operation::kBitmap, bitmap, x, y, bitmap.width, bitmap.height);
  }
  void stretch_bitmap(const BitmapView& bitmap, int width, int height) override {
    if (!bitmap_is_complete(bitmap)) return;
    const DibHeader h = dib_header(bitmap);
    // Colour-on-colour deletes or repeats rows and columns: nearest neighbour, never blending.
    const int previous = SetStretchBltMode(dc_, COLORONCOLOR);
    StretchDIBits(dc_, 0, 0, width, height, 0, 0, bitmap.width, bitmap.height, bitmap.bits.data(),
                  reinterpret_cast<const BITMAPINFO*>(&h), DIB_RGB_COLORS, SRCCOPY);
    SetStretchBltMode(dc_, previous);
    record(DrawRecord::Operation::kStretch, bitmap, 0, 0, width, height);
  }
  void draw_text(int x, int y, std::string_view text) override {
    const std::wstring wide = to_wide_text(text);
    SetTextColor(dc_, RGB(0, 0, 0));
    SetBkColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, OPAQUE);
    TextOutW(dc_, x, y, wide.c_str(), static_cast<int>(wide.size()));
    platform_.note_draw(base(DrawRecord::Operation::kText).text_at(x, y, text));
  }
  void realise_palette(std::span<const std::uint8_t> colour_table) override {
    window_.realise(dc_, colour_table);
    platform_.note_draw(base(DrawRecord::Operation::kPalette).colours(colour_table));
  }

 private:
  DrawRecord base(DrawRecord::Operation operation) const { return DrawRecord::of(operation, window_.current_title(), immediate_); }
  void record(DrawRecord::Operation operation, const BitmapView& bitmap, int x, int y, int width, int height) {
    platform_.note_draw(base(operation).place(bitmap, x, y, width, height));
  }

  Win32Platform& platform_;
  Win32Platform::Win32Window& window_;
  HDC dc_;
  bool immediate_;
};

}  // namespace

Win32Platform::Win32Window::Win32Window(Win32Platform& platform, const WindowSpec& request, WindowHandler& handler)
    : platform_(platform), handler_(handler), title_(request.title) {
  HMENU menu = request.menu != nullptr ? LoadMenuW(platform.instance(), to_wide_text(request.menu->name).c_str()) : nullptr;
  hwnd_ = CreateWindowExW(0, menu != nullptr ? kMainClass : kSourceClass, to_wide_text(request.title).c_str(),
                          WS_OVERLAPPEDWINDOW, request.x, request.y, std::max(request.width, 0),
                          std::max(request.height, 0), nullptr, menu, platform.instance(), this);
  if (hwnd_ == nullptr) {
    if (menu != nullptr) DestroyMenu(menu);
    destroyed_ = true;
    return;
  }
  if (menu != nullptr) {
    menu_ = std::make_unique<Win32Menu>(hwnd_, menu);
    DragAcceptFiles(hwnd_, TRUE);
  }
  created_ = true;
  if (request.visible) show();
}

Win32Platform::Win32Window::~Win32Window() {
  if (!destroyed_) {
    destroyed_ = true;
    DestroyWindow(hwnd_);
  }
  if (palette_ != nullptr) DeleteObject(palette_);
}

Menu* Win32Platform::Win32Window::menu() { return menu_.get(); }

void Win32Platform::Win32Window::report_size() {
  if (!created_ || destroyed_ || IsIconic(hwnd_)) return;
  const Size now = client_size();
  if (reported_ && *reported_ == now) return;
  reported_ = now;
  handler_.on_size(now.width, now.height);
}

void Win32Platform::Win32Window::move(int x, int y, int width, int height, bool repaint) {
  if (destroyed_) return;
  asked_.reset();
  // The frame stays within the work area of its screen from its corner on: the window system
  // would otherwise make it (and the memory behind it) as large as asked, out of sight. The
  // program keeps the client size it asked for and draws its top-left part.
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  RECT work{};
  if (GetMonitorInfoW(MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTONEAREST), &screen)) {
    work = screen.rcWork;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  }
  const int room_width = std::max<int>(work.right - std::max<LONG>(x, work.left), 1);
  const int room_height = std::max<int>(work.bottom - std::max<LONG>(y, work.top), 1);
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width > room_width || height > room_height) {
    RECT frame{};
    GetWindowRect(hwnd_, &frame);
    const Size shown = shown_client_size();
    asked_ = Size{std::max<int>(width - (frame.right - frame.left - shown.width), 0),
                  std::max<int>(height - (frame.bottom - frame.top - shown.height), 0)};
    width = std::min(width, room_width);
    height = std::min(height, room_height);
  }
  moving_ = true;
  // The resulting WM_SIZE reaches the handler before MoveWindow returns.
  MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE);
  keep_on_screen();
  moving_ = false;
}

void Win32Platform::Win32Window::keep_on_screen() {
  // With no client area left the window would vanish: it grows until a pixel shows, a menu row
  // at a time where its menu bar wraps, while the program keeps the size it asked for.
  Size shown = shown_client_size();
  if (shown.width >= 1 && shown.height >= 1) return;
  if (!asked_) asked_ = shown;
  RECT least{0, 0, 1, 1};
  AdjustWindowRectEx(&least, WS_OVERLAPPEDWINDOW, has_menu() ? TRUE : FALSE, 0);
  for (int attempt = 0; attempt < kGrowAttempts && (shown.width < 1 || shown.height < 1); ++attempt) {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    if (shown.width < 1) width = std::max<int>(width + 1, least.right - least.left);
    if (shown.height < 1) height = std::max<int>(height + GetSystemMetrics(SM_CYMENU), least.bottom - least.top);
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    shown = shown_client_size();
  }
}

void Win32Platform::Win32Window::realise(HDC dc, std::span<const std::uint8_t> colour_table) {
  HPALETTE fresh = make_palette(colour_table);
  if (fresh == nullptr) return;
  SelectPalette(dc, fresh, FALSE);
  RealizePalette(dc);
  // Device contexts of this window are released after each paint or immediate drawing, so the
  // old palette is selected nowhere now.
  if (palette_ != nullptr) DeleteObject(palette_);
  palette_ = fresh;
}

bool Win32Platform::Win32Window::realise_again(bool background) {
  if (palette_ == nullptr || destroyed_) return false;
  HDC dc = GetDC(hwnd_);
  HPALETTE old = SelectPalette(dc, palette_, background ? TRUE : FALSE);
  const UINT changed = RealizePalette(dc);
  SelectPalette(dc, old, TRUE);
  ReleaseDC(hwnd_, dc);
  if (changed > 0) InvalidateRect(hwnd_, nullptr, TRUE);
  return changed > 0;
}

void Win32Platform::Win32Window::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  if (dc != nullptr) {
    const Size size = client_size();
    if (size.width > 0 && size.height > 0) {
      Win32Surface surface(platform_, *this, dc, false);
      handler_.on_paint(surface);
    }
    // Palettes are deleted while not selected anywhere.
    SelectPalette(dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), TRUE);
  }
  EndPaint(hwnd_, &ps);
  platform_.note_frame(*this, false);
}

void Win32Platform::Win32Window::draw_now(const std::function<void(Surface&)>& draw) {
  if (destroyed_) return;
  HDC dc = GetDC(hwnd_);
  if (dc == nullptr) return;
  {
    Win32Surface surface(platform_, *this, dc, true);
    draw(surface);
  }
  SelectPalette(dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), TRUE);
  ReleaseDC(hwnd_, dc);
  GdiFlush();
  platform_.note_frame(*this, true);
}

LRESULT CALLBACK Win32Platform::Win32Window::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* window = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    window->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  return window->handle(message, wparam, lparam);
}

LRESULT Win32Platform::Win32Window::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: paint(); return 0;
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED) return 0;
      if (!moving_) asked_.reset();  // the user's size is the one on screen
      report_size();
      return 0;
    case WM_COMMAND:
      // Menu commands only: notifications of child controls carry a window in lparam.
      if (lparam == 0 && HIWORD(wparam) == 0 && !destroyed_) handler_.on_command(LOWORD(wparam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      if (!destroyed_) handler_.on_mouse_button();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE && !destroyed_) handler_.on_focus();
      return 0;
    case WM_CLOSE:
      // The program decides: the window goes only when the handler destroys it.
      if (!destroyed_) handler_.on_close();
      return 0;
    case WM_SETCURSOR:
      if (platform_.wait_cursor_shown() && LOWORD(lparam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_DROPFILES: {
      auto* drop = reinterpret_cast<HDROP>(wparam);
      std::vector<std::string> paths;
      const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
      for (UINT i = 0; i < count; ++i) {
        std::wstring name(static_cast<std::size_t>(DragQueryFileW(drop, i, nullptr, 0)) + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
        paths.push_back(imagefile::narrow(name));
      }
      DragFinish(drop);
      for (const std::string& path : paths) platform_.request_open(path);
      return 0;
    }
    case WM_GETMINMAXINFO:
      // The program fits its windows to pictures of any size, a few pixels wide included; the
      // system's smallest tracking size would widen them.
      // Nor may the screen's size limit them: the program's sizes go up to 65535 pixels.
      reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = POINT{1, 1};
      reinterpret_cast<MINMAXINFO*>(lparam)->ptMaxTrackSize = POINT{kMaxWindowSide, kMaxWindowSide};
      return 0;
    case WM_QUERYNEWPALETTE: return realise_again(false) ? TRUE : FALSE;
    case WM_PALETTECHANGED:
      if (reinterpret_cast<HWND>(wparam) != hwnd_) realise_again(true);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      destroyed_ = true;
      break;
    default: break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

}  // namespace varnic::platform
