// SPDX-License-Identifier: BSD-2-Clause
// The Qt backend with a test driver in the user's place: file dialogs, message boxes and modal
// dialogs are built as real widgets and then answered from the queued scripts instead of waiting,
// typing goes into the real edits, button presses are real clicks, and client areas are read back
// by rendering the real client widgets. Qt screens are never 8-bit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/qt/qt_platform.h"

namespace varnic::testing {

class ScriptedQtPlatform final : public platform::QtPlatform, public platform::Recorder {
 public:
  // Called with a name ("EASYSET", "message box", "open file", "save file", "help") and the widget
  // each time one comes up, before the script answers it.
  using Observer = std::function<void(const std::string& name, QWidget& widget)>;
  void set_observer(Observer observer) { observer_ = std::move(observer); }
  // Called instead of a script for a modal dialog when set: a test types and clicks itself.
  void set_dialog_driver(std::function<void(platform::QtDialog&)> driver) { driver_ = std::move(driver); }
  // Called with each frame as it is recorded, right after it reached the screen.
  void set_frame_observer(std::function<void(const platform::Frame&)> observer) { frame_observer_ = std::move(observer); }

  // Platform
  utils::ClockReading now() const override { return clock_reading(); }
  void pause(std::uint32_t milliseconds) override { advance_clock(milliseconds); }
  void show_help(std::string_view title, std::string_view text) override;
  void note_draw(const platform::DrawRecord& record) override { record_draw(record); }
  bool records_frames() const override { return recording_frames(); }
  void note_frame(const std::string& window, bool immediate, const QImage& shown) override;

  // Automation
  void set_screen_depth(int) override {}
  platform::Image client_image(const platform::Window& window) const override;
  platform::Rect work_area() const override;
  platform::Rect frame_on_screen(const platform::Window& window) const override;
  void user_resize_client(platform::Window& window, int client_width, int client_height) override;
  void user_click(platform::Window& window) override;
  void user_close(platform::Window& window) override;
  void user_choose(platform::Window& window, int command) override;
  platform::Cursor cursor() const override;
  platform::Cursor set_cursor(platform::Cursor cursor) override;
  bool capture_held() const override;

 protected:
  bool exec_file_dialog(QFileDialog& dialog, const platform::FileChooserSpec& request) override;
  void exec_message_box(QMessageBox& box, const std::string& owner) override;
  void exec_dialog(platform::QtDialog& dialog) override;

 private:
  Observer observer_;
  std::function<void(platform::QtDialog&)> driver_;
  std::function<void(const platform::Frame&)> frame_observer_;
};

// Pixels of an image, top-down RGB.
platform::Image rgb_image(const QImage& image);

}  // namespace varnic::testing
