// SPDX-License-Identifier: BSD-2-Clause
// The Win32 backend with a test driver in the user's place: dialogs are created from their real
// resources and driven by the messages a user's typing, scrolling and clicking send; file
// dialogs and message boxes answer from queues; client areas are read back from the windows'
// device contexts. The reported screen depth can be set, so the 8-bit path runs its real palette
// calls on any screen.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/win32/win32_platform.h"

namespace varnic::testing {

class ScriptedWin32Platform final : public platform::Win32Platform, public platform::Recorder {
 public:
  ScriptedWin32Platform();

  // Platform
  int screen_depth() const override { return depth_ ? *depth_ : Win32Platform::screen_depth(); }
  utils::ClockReading now() const override { return clock_reading(); }
  void pause(std::uint32_t milliseconds) override { advance_clock(milliseconds); }
  void show_help(std::string_view title, std::string_view text) override;
  void note_draw(const platform::DrawRecord& record) override { record_draw(record); }
  void note_frame(const platform::Window& window, bool immediate) override;

  // Automation
  void set_screen_depth(int bits_per_pixel) override { depth_ = bits_per_pixel; }
  platform::Image client_image(const platform::Window& window) const override;
  platform::Rect work_area() const override;
  platform::Rect frame_on_screen(const platform::Window& window) const override;
  void user_resize_client(platform::Window& window, int client_width, int client_height) override;
  void user_click(platform::Window& window) override;
  void user_close(platform::Window& window) override;
  void user_choose(platform::Window& window, int command) override;
  platform::Cursor cursor() const override;
  platform::Cursor set_cursor(platform::Cursor cursor) override;
  bool capture_held() const override { return GetCapture() != nullptr; }

 protected:
  void exec_dialog(platform::Win32Dialog& dialog, HWND owner) override;
  void exec_message_box(HWND owner, const std::string& owner_name, std::string_view text,
                        std::string_view caption) override;
  std::optional<std::string> exec_file_dialog(const platform::FileChooserSpec& request, bool save) override;

 private:
  std::optional<int> depth_;
};

// The pixels of a rectangle of `source` (a window's or the screen's device context), top-down RGB.
platform::Image read_pixels(HDC source, int x, int y, int width, int height);

}  // namespace varnic::testing
