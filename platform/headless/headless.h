// SPDX-License-Identifier: BSD-2-Clause
// Headless backend: windows are offscreen framebuffers drawn through the shared raster, dialogs
// and file choosers answer from scripts, message boxes and drawing calls are recorded, the screen
// depth is settable and the clock only moves when told. For tests and for running the program
// without a display.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/platform_base.h"

namespace varnic::platform {

class HeadlessPlatform final : public PlatformBase, public Recorder {
 public:
  // Frame of every window in pixels: what FitWindowToClient must add to a client size.
  static constexpr int kFrameSide = 4;      // left and right each
  static constexpr int kFrameBottom = 4;
  static constexpr int kCaptionHeight = 26;
  static constexpr int kMenuBarHeight = 20;  // windows with a menu
  // The screen, and its work area above a panel along the bottom edge.
  static constexpr Rect kWorkArea{0, 0, 1600, 1160};
  // What a menu popup covers of the client area below the menu bar, from its top-left corner.
  static constexpr int kPopupWidth = 150;
  static constexpr int kPopupHeight = 120;

  HeadlessPlatform();
  ~HeadlessPlatform() override;

  // Platform
  int screen_depth() const override { return screen_depth_; }
  Window& create_window(const WindowSpec& request, WindowHandler& handler) override;
  int run_dialog(const DialogTemplate& dialog, DialogController& controller) override;
  void message_box(std::string_view text, std::string_view caption) override;
  std::optional<FileChoice> choose_open_file(const FileChooserSpec& request) override;
  std::optional<FileChoice> choose_save_file(const FileChooserSpec& request) override;
  Cursor set_cursor(Cursor cursor) override;
  void release_capture() override;
  utils::ClockReading now() const override { return clock_reading(); }
  // No screen to hold anything on: the clock moves on as if the time had passed.
  void pause(std::uint32_t milliseconds) override { advance_clock(milliseconds); }
  void show_help(std::string_view title, std::string_view text) override;
  void process_paints() override;
  int run() override;

  // Automation
  void set_screen_depth(int bits_per_pixel) override { screen_depth_ = bits_per_pixel; }
  Image client_image(const Window& window) const override;
  Rect work_area() const override { return kWorkArea; }
  Rect frame_on_screen(const Window& window) const override;
  void user_resize_client(Window& window, int client_width, int client_height) override;
  void user_click(Window& window) override;
  void user_close(Window& window) override;
  void user_choose(Window& window, int command) override;
  Cursor cursor() const override { return cursor_; }
  bool capture_held() const override { return capture_ != nullptr; }

  class HeadlessWindow;
  class HeadlessDialog;

 private:
  friend class HeadlessWindow;
  friend class HeadlessDialog;
  std::optional<FileChoice> answer_file(const FileChooserSpec& request);

  int screen_depth_ = 24;
  std::vector<std::unique_ptr<HeadlessWindow>> windows_;
  std::vector<std::string> open_dialogs_;  // names, innermost last: owners of message boxes
  Cursor cursor_ = Cursor::kArrow;
  HeadlessWindow* capture_ = nullptr;
};

}  // namespace varnic::platform
