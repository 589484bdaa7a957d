// SPDX-License-Identifier: BSD-2-Clause
#include "platform/win32/win32_platform.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <map>

#include "imagefile/utf16.h"

namespace varnic::platform {

namespace {

constexpr wchar_t kMainClass[] = L"ARITHMETIC";
constexpr wchar_t kSourceClass[] = L"ORIGNAL";
constexpr wchar_t kHelpClass[] = L"VARNICHELP";
constexpr int kIconResource = 1;
// The help window's first size, pixels.
constexpr int kHelpWidth = 520;
constexpr int kHelpHeight = 440;
// Common file dialogs take the path in a buffer of the caller's: room for the longest path.
constexpr std::size_t kPathBuffer = 32768;
// Largest window side: a 65535-pixel client (the program's sizes are 16-bit) and its frame.
constexpr LONG kMaxWindowSide = 65535 + 1024;
// A window too small for its client area grows a menu row at a time: the menu bar wraps onto at
// most one row per top-level item.
constexpr int kGrowAttempts = 16;
// 100-nanosecond ticks between 1601-01-01 (FILETIME's origin) and 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

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

std::string cut_utf8(const std::string& text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string window_text(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), length + 1)));
  return imagefile::narrow(text);
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

std::string title_of(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

LRESULT CALLBACK help_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (HWND edit = GetWindow(hwnd, GW_CHILD)) MoveWindow(edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      return 0;
    case WM_CLOSE:
      // Kept for the next time help is asked for.
      ShowWindow(hwnd, SW_HIDE);
      return 0;
    default: return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace

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
// Windows.

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

class Win32Platform::Win32Window final : public Window {
 public:
  Win32Window(Win32Platform& platform, const WindowSpec& request, WindowHandler& handler);
  ~Win32Window() override;

  void set_title(std::string_view title) override {
    title_ = std::string(title);
    if (!destroyed_) SetWindowTextW(hwnd_, to_wide_text(title).c_str());
  }
  std::string title() const override { return title_; }
  // A window kept larger than asked (see keep_on_screen) reports the size asked for, with the
  // frame it has.
  Rect outer_rect() const override {
    RECT r{};
    if (!destroyed_) GetWindowRect(hwnd_, &r);
    const Size shown = shown_client_size();
    const Size client = client_size();
    return Rect{r.left, r.top, r.right - r.left - (shown.width - client.width),
                r.bottom - r.top - (shown.height - client.height)};
  }
  Size client_size() const override { return asked_ ? *asked_ : shown_client_size(); }
  void move(int x, int y, int width, int height, bool repaint) override {
    if (destroyed_) return;
    asked_.reset();
    moving_ = true;
    // The resulting WM_SIZE reaches the handler before MoveWindow returns.
    MoveWindow(hwnd_, x, y, std::max(width, 0), std::max(height, 0), repaint ? TRUE : FALSE);
    keep_on_screen();
    moving_ = false;
  }
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
  Menu* menu() override { return menu_.get(); }
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
  std::optional<Size> asked_;  // the client size the program asked for, while it has none on screen
  bool moving_ = false;        // size changes are the program's own
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

void Win32Platform::Win32Window::report_size() {
  if (!created_ || destroyed_ || IsIconic(hwnd_)) return;
  const Size now = client_size();
  if (reported_ && *reported_ == now) return;
  reported_ = now;
  handler_.on_size(now.width, now.height);
}

void Win32Platform::Win32Window::keep_on_screen() {
  // With no client area left the window would vanish: it grows until a pixel shows, a menu row
  // at a time where its menu bar wraps, while the program keeps the size it asked for.
  Size shown = shown_client_size();
  if (shown.width >= 1 && shown.height >= 1) return;
  asked_ = shown;
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

// ---------------------------------------------------------------------------------------------
// Dialogs.

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
    case WM_INITDIALOG: controller_.on_init(*this); return TRUE;
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
  return cut_utf8(text, max_bytes);
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
  MessageBoxW(owner, to_wide_text(text).c_str(), to_wide_text(caption).c_str(), MB_OK);
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
  if (!preset_answers_.empty()) {
    path = std::move(preset_answers_.front());
    preset_answers_.pop_front();
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
    RECT r{};
    GetClientRect(help_, &r);
    MoveWindow(edit, 0, 0, r.right, r.bottom, FALSE);
  }
  SetWindowTextW(help_, to_wide_text(title).c_str());
  SetWindowTextW(GetWindow(help_, GW_CHILD), with_crlf(to_wide_text(text)).c_str());
  ShowWindow(help_, SW_SHOW);
  SetForegroundWindow(help_);
}

void Win32Platform::process_paints() {
  for (auto& window : windows_) {
    if (!window->is_destroyed()) UpdateWindow(window->hwnd());
  }
  GdiFlush();
}

int Win32Platform::run() {
  if (quit_code_) return *quit_code_;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return quit_code_.value_or(static_cast<int>(msg.wParam));
}

void Win32Platform::quit(int code) {
  quit_code_ = code;
  PostQuitMessage(code);
}

void Win32Platform::request_open(const std::string& path) {
  if (open_request_) open_request_(path);
}

}  // namespace varnic::platform
