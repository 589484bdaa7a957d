// SPDX-License-Identifier: BSD-2-Clause
// Win32 backend: the window classes "ARITHMETIC" (main window, with the menu resource of the same
// name) and "ORIGNAL" (source-image window), painting straight into the windows' device contexts
// with SetDIBitsToDevice and StretchDIBits (colour-on-colour, so nearest neighbour), logical
// palettes realised on 8-bit screens, the dialogs as DIALOG resources run by DialogBoxParamW,
// message boxes, the common file dialogs, the wait cursor, mouse capture, files dropped on the
// main window, and a help window of the program's own.
//
// Text and paths are UTF-8 inside and UTF-16 at every system call; text that is not UTF-8 is
// shown as Latin-1. The steps that wait for the user are virtual so that a test driver can stand
// in for the user while everything else stays the real windows.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/automation.h"
#include "platform/platform_base.h"

namespace varnic::platform {

class Win32Platform;

// Text for a window or control.
std::wstring to_wide_text(std::string_view bytes);

// The filter string of a common file dialog: label, pattern, each ended by a null character,
// and a final null.
std::wstring file_filter(const FileChooserSpec& request);

// A modal dialog made from its DIALOG resource (named after the template).
class Win32Dialog final : public Dialog {
 public:
  Win32Dialog(Win32Platform& platform, const DialogTemplate& dialog, DialogController& controller);
  ~Win32Dialog() override;

  // Dialog
  void set_text(int control, std::string_view text) override;
  std::string text(int control, std::size_t max_bytes) const override;
  void set_scroll_range(int control, int minimum, int maximum) override;
  void set_scroll_position(int control, int position) override;
  int scroll_position(int control) const override;
  void combo_insert(int control, int index, std::string_view text) override;
  void combo_select(int control, int index) override;
  int combo_selection(int control) const override;
  void message_box(std::string_view text, std::string_view caption) override;
  void end(int result) override;

  // Runs the dialog modally until the program ends it.
  void run_modal(HWND owner);
  // Creates it without a loop of its own, for a driver that sends the user's messages itself;
  // false when the resource is missing.
  bool create_modeless(HWND owner);

  HWND hwnd() const { return hwnd_; }
  const DialogTemplate& dialog_template() const { return template_; }
  bool ended() const { return ended_; }
  int result_code() const { return result_; }
  // Thumb events normally read the pointer's position; a driver supplies one instead.
  void set_scripted_pointer(std::optional<std::pair<int, int>> x_and_width) { scripted_pointer_ = x_and_width; }

 private:
  static INT_PTR CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
  void scroll(HWND bar, int code);

  Win32Platform& platform_;
  const DialogTemplate& template_;
  DialogController& controller_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  bool ended_ = false;
  int result_ = 0;
  bool setting_text_ = false;  // EN_CHANGE from set_text is no change of the user's
  std::optional<std::pair<int, int>> scripted_pointer_;
};

class Win32Platform : public PlatformBase {
 public:
  // Registers the window classes.
  explicit Win32Platform(HINSTANCE instance);
  ~Win32Platform() override;

  // Platform
  int screen_depth() const override;
  Window& create_window(const WindowSpec& request, WindowHandler& handler) override;
  int run_dialog(const DialogTemplate& dialog, DialogController& controller) override;
  void message_box(std::string_view text, std::string_view caption) override;
  std::optional<FileChoice> choose_open_file(const FileChooserSpec& request) override;
  std::optional<FileChoice> choose_save_file(const FileChooserSpec& request) override;
  Cursor set_cursor(Cursor cursor) override;
  void release_capture() override;
  utils::ClockReading now() const override;
  void show_help(std::string_view title, std::string_view text) override;
  void process_paints() override;
  int run() override;

  HINSTANCE instance() const { return instance_; }
  Cursor current_cursor() const { return cursor_; }
  // The main window's handle (null before it exists or after it is gone), any window's handle.
  HWND main_hwnd() const;
  static HWND window_handle(const Window& window);
  HWND help_hwnd() const { return help_; }

  class Win32Window;

  // Called by the backend's own windows.
  virtual void note_draw(const DrawRecord& record) { (void)record; }
  // A paint or an immediate drawing of `window` has reached the screen, for test drivers.
  virtual void note_frame(const Window& window, bool immediate) {
    (void)window;
    (void)immediate;
  }
  bool wait_cursor_shown() const { return cursor_ == Cursor::kWait; }

 protected:
  friend class Win32Dialog;
  void end_event_loop(int code) override;
  // The steps that wait for the user.
  virtual void exec_dialog(Win32Dialog& dialog, HWND owner);
  virtual void exec_message_box(HWND owner, const std::string& owner_name, std::string_view text,
                                std::string_view caption);
  // The full path chosen, empty on cancel.
  virtual std::optional<std::string> exec_file_dialog(const FileChooserSpec& request, bool save);
  const std::vector<std::unique_ptr<Win32Window>>& windows() const { return windows_; }

 private:
  std::optional<FileChoice> choose_file(const FileChooserSpec& request, bool save);

  HINSTANCE instance_;
  std::vector<std::unique_ptr<Win32Window>> windows_;
  HWND help_ = nullptr;
  Cursor cursor_ = Cursor::kArrow;
};

}  // namespace varnic::platform
