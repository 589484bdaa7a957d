// SPDX-License-Identifier: BSD-2-Clause
// The desktop program's window system, reduced to what the program asks of it: two top-level
// windows with a menu, paint events, immediate drawing of bottom-up bitmaps (actual size and
// nearest-neighbour stretched) and text, realised palettes on 8-bit screens, modal dialogs built
// from templates, message boxes, file choosers, cursors and capture, a millisecond wall clock and
// a help viewer.
//
// The application implements the handler interfaces (WindowHandler, DialogController); a backend
// implements Platform, Window, Menu, Surface and Dialog. Backends hold no program logic. Every
// call happens on the one thread that runs Platform::run(), and every callback into the
// application is synchronous: a window size change caused by Window::move() reaches the handler
// before move() returns, and a modal dialog's run_dialog() returns only once the dialog ended.
//
// Coordinates are pixels, client areas start at (0, 0) top-left; dialog templates are in dialog
// units (1 unit = 1.5 px across and 1.625 px down for the templates' 8-point font at 96 dpi).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "utils/picture_layout.h"

namespace varnic::platform {

// ---------------------------------------------------------------------------------------------
// Templates: the menu and the dialogs are data (see resources/), handed to the backend.

struct MenuItemTemplate {
  std::string text;     // '&' marks the access key; texts are shown exactly as given
  int command = -1;     // command number sent to the main window; -1 for a popup
  bool greyed = false;  // start-up state
  bool checked = false;
  std::vector<MenuItemTemplate> children;  // non-empty for a popup
};

struct MenuTemplate {
  std::string name;
  std::vector<MenuItemTemplate> popups;  // the menu bar
};

enum class ControlKind {
  // Static text, left aligned. A label with an id is a value field the program fills: one line,
  // a text too long for it elided in the middle ("…"), as window titles are.
  kLabel,
  kRightLabel,         // static text, right aligned; with an id, a value field as above
  kEdit,               // single-line edit
  kMultiLineEdit,      // multi-line edit, scrolls vertically; Tab leaves it, Return starts a line
  kPushButton,
  kDefaultPushButton,  // pressed by Enter, and by Ctrl+Enter from a multi-line edit
  kScrollBar,          // horizontal scroll bar; a tab stop, moved by the arrow and page keys
  kComboBox,           // drop-down list
};

struct ControlTemplate {
  ControlKind kind = ControlKind::kLabel;
  int id = -1;  // -1 for labels nobody addresses
  std::string text;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  bool visible = true;  // hidden controls still hold values that the program reads and writes
};

struct DialogTemplate {
  std::string name;  // resource name, upper case ("EASYSET")
  std::string title;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  bool system_menu = true;
  std::vector<ControlTemplate> controls;
};

// ---------------------------------------------------------------------------------------------
// Pictures handed to the drawing calls.

// A device-independent bitmap as the program keeps its pictures: `height` rows stored bottom-up
// (the first row in memory is the bottom row), each row padded with zeros to a multiple of 4 bytes;
// 24-bit pixels are blue, green, red; 8-bit pixels index `colour_table`.
struct BitmapView {
  std::span<const std::uint8_t> bits;
  int width = 0;
  int height = 0;
  int bits_per_pixel = 24;  // 8 or 24
  // 256 entries of blue, green, red, reserved; required for 8 bits per pixel, ignored for 24.
  std::span<const std::uint8_t> colour_table;
};

// Bytes per stored row of a bitmap, padding included; 0 for a bad depth or width.
std::size_t bitmap_stride(int width, int bits_per_pixel);

// Whether the view describes a drawable bitmap: depth 8 or 24, positive size, enough bytes in
// `bits` for every row, and a 1024-byte colour table for 8 bits.
bool bitmap_is_complete(const BitmapView& bitmap);

// Where drawing goes: a window's client area, during a paint event or immediately.
class Surface {
 public:
  virtual ~Surface() = default;
  // Copies the whole bitmap at actual size with its top-left corner at (x, y), clipped.
  virtual void draw_bitmap(const BitmapView& bitmap, int x, int y) = 0;
  // Scales the whole bitmap onto (0, 0, width, height) by deleting or repeating rows and columns
  // (nearest neighbour, never smoothing).
  virtual void stretch_bitmap(const BitmapView& bitmap, int width, int height) = 0;
  // Text in the window's default font, black on the window's white background; (x, y) is the
  // top-left corner of the text.
  virtual void draw_text(int x, int y, std::string_view text) = 0;
  // Selects a 256-entry palette (blue, green, red, reserved per entry) as the foreground palette;
  // meaningful on 8-bit screens only, harmless elsewhere.
  virtual void realise_palette(std::span<const std::uint8_t> colour_table) = 0;
};

// ---------------------------------------------------------------------------------------------
// Windows and menus.

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int x = 0, y = 0;  // screen position of the top-left corner
  int width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

class Menu {
 public:
  virtual ~Menu() = default;
  // Greyed items are disabled and drawn grey.
  virtual void set_enabled(int command, bool enabled) = 0;
  virtual bool is_enabled(int command) const = 0;
  virtual void set_checked(int command, bool checked) = 0;
  virtual bool is_checked(int command) const = 0;
};

// What the application hears from a window. Every callback runs to its end before the backend
// goes on.
class WindowHandler {
 public:
  virtual ~WindowHandler() = default;
  // Draw the client area. The backend has already filled it white when the invalidation asked
  // for erasing (or the window is new).
  virtual void on_paint(Surface& surface) = 0;
  // The client area changed size: by the user, by Window::move() or when first shown.
  virtual void on_size(int client_width, int client_height) { (void)client_width; (void)client_height; }
  // A menu command (main window only).
  virtual void on_command(int command) { (void)command; }
  virtual void on_mouse_button() {}
  virtual void on_focus() {}
  // The user asked to close the window (system menu, close box). The handler decides; the
  // window stays unless the handler destroys it.
  virtual void on_close() {}
};

class Window {
 public:
  virtual ~Window() = default;
  virtual void set_title(std::string_view title) = 0;
  virtual std::string title() const = 0;
  virtual Rect outer_rect() const = 0;
  virtual Size client_size() const = 0;
  // Moves and resizes the outer frame. A changed client size reaches on_size() before return.
  // The window never vanishes: on screen its client area stays at least 1 x 1 pixel and its frame
  // at least as large as its menu needs, whatever size is asked for; client_size() and on_size()
  // keep the size asked for, which is what the program draws at.
  virtual void move(int x, int y, int width, int height, bool repaint) = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool is_visible() const = 0;
  // Asks for a paint event; with `erase` the client area is filled white first.
  virtual void invalidate(bool erase) = 0;
  // Draws right now, outside a paint event (progress texts, previews), and puts the result on the
  // screen before returning (the work that follows keeps the event loop from running). A pending
  // paint is not delivered on the way, so it cannot cover the drawing; what is drawn stays until
  // the next paint.
  virtual void draw_now(const std::function<void(Surface&)>& draw) = 0;
  virtual void set_capture() = 0;
  // Null for a window without one.
  virtual Menu* menu() = 0;
  // Closes the window for good; the Window object stays valid but inert until the platform ends.
  virtual void destroy() = 0;
  virtual bool is_destroyed() const = 0;
};

struct WindowSpec {
  std::string title;
  int x = 0, y = 0, width = 0, height = 0;  // outer frame, pixels
  const MenuTemplate* menu = nullptr;
  bool visible = false;
};

// ---------------------------------------------------------------------------------------------
// Modal dialogs.

enum class ScrollCode { kLineLeft, kLineRight, kPageLeft, kPageRight, kLeftEnd, kRightEnd, kThumbPosition, kThumbTrack, kOther };

struct ScrollEvent {
  int control = -1;
  ScrollCode code = ScrollCode::kOther;
  // For the thumb codes: the pointer's x in the scroll bar's client coordinates and that client
  // area's width in pixels.
  int pointer_x = 0;
  int client_width = 1;
};

class Dialog {
 public:
  virtual ~Dialog() = default;
  virtual void set_text(int control, std::string_view text) = 0;
  // At most `max_bytes` bytes of the control's text (UTF-8), never splitting a character.
  virtual std::string text(int control, std::size_t max_bytes) const = 0;
  virtual void set_scroll_range(int control, int minimum, int maximum) = 0;
  virtual void set_scroll_position(int control, int position) = 0;
  virtual int scroll_position(int control) const = 0;
  virtual void combo_insert(int control, int index, std::string_view text) = 0;
  virtual void combo_select(int control, int index) = 0;
  // -1 when nothing is selected.
  virtual int combo_selection(int control) const = 0;
  // Modal message box with an OK button, owned by the dialog.
  virtual void message_box(std::string_view text, std::string_view caption) = 0;
  // Closes the dialog once the current callback returns; run_dialog() then returns `result`.
  virtual void end(int result) = 0;
};

// What the application hears from a dialog; one controller per run of a dialog.
class DialogController {
 public:
  virtual ~DialogController() = default;
  virtual void on_init(Dialog& dialog) = 0;
  // A button press (or a command the dialog sends itself). The Escape key arrives as command 2.
  virtual void on_command(Dialog& dialog, int control) = 0;
  virtual void on_scroll(Dialog& dialog, const ScrollEvent& event) { (void)dialog; (void)event; }
  // The user changed the text of an edit control (not sent for Dialog::set_text).
  virtual void on_text_changed(Dialog& dialog, int control) { (void)dialog; (void)control; }
};

// ---------------------------------------------------------------------------------------------
// File choosers.

struct FileChooserSpec {
  std::string label;              // filter label, e.g. "Bitmap Files(*.bmp)"
  std::string pattern;            // e.g. "*.bmp"; also the initial file name
  std::string default_extension;  // without the dot; empty adds none
  bool must_exist = false;        // open: the chosen file must exist
  bool confirm_overwrite = false; // save: ask before replacing a file
};

struct FileChoice {
  std::string path;   // full path
  std::string title;  // name without folder
};

// ---------------------------------------------------------------------------------------------

enum class Cursor { kArrow, kWait };

class Platform {
 public:
  virtual ~Platform() = default;

  // Bits per pixel of the screen the main window is on (8 means a palette screen).
  virtual int screen_depth() const = 0;

  virtual Window& create_window(const WindowSpec& request, WindowHandler& handler) = 0;

  // Runs the modal dialog; returns the value passed to Dialog::end().
  virtual int run_dialog(const DialogTemplate& dialog, DialogController& controller) = 0;

  // Modal message box with an OK button, owned by the main window.
  virtual void message_box(std::string_view text, std::string_view caption) = 0;

  // Empty on cancel.
  virtual std::optional<FileChoice> choose_open_file(const FileChooserSpec& request) = 0;
  virtual std::optional<FileChoice> choose_save_file(const FileChooserSpec& request) = 0;

  // Returns the cursor shown before.
  virtual Cursor set_cursor(Cursor cursor) = 0;
  virtual void release_capture() = 0;

  virtual utils::ClockReading now() const = 0;
  // Lets `milliseconds` of wall-clock time pass with the screen as it stands (demonstrations hold
  // each preview this way).
  virtual void pause(std::uint32_t milliseconds) = 0;

  // Shows the program's help text in a viewer window.
  virtual void show_help(std::string_view title, std::string_view text) = 0;

  // Delivers pending paint events until nothing is invalid, then returns. Backends whose paint
  // events come from the windowing system process them here as well, so that areas a closed menu
  // or dialog uncovered are drawn again: the program calls it before long work.
  virtual void process_paints() = 0;

  // Files named outside the file choosers (the command line, a drop on the main window) open as
  // if chosen there: the next chooser returns `path` without showing itself.
  virtual void answer_next_file_chooser(std::string path) = 0;
  // Where the files dropped on the main window go, one path at a time.
  virtual void set_open_request_handler(std::function<void(const std::string&)> handler) = 0;

  // The event loop: returns the code given to quit().
  virtual int run() = 0;
  virtual void quit(int code) = 0;
  virtual bool quit_requested() const = 0;
};

}  // namespace varnic::platform
