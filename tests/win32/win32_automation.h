// The Win32 backend with a test driver in the user's place: dialogs are created from their real
// resources and driven by the messages a user's typing, scrolling and clicking send; file
// dialogs and message boxes answer from queues; client areas are read back from the windows'
// device contexts. The reported screen depth can be set, so the 8-bit path runs its real palette
// calls on any screen.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/win32/win32_platform.h"

namespace varnic::testing {

class ScriptedWin32Platform final : public platform::Win32Platform, public platform::Automation {
 public:
  ScriptedWin32Platform();

  // Platform
  int screen_depth() const override { return depth_ ? *depth_ : Win32Platform::screen_depth(); }
  utils::ClockReading now() const override;
  void show_help(std::string_view title, std::string_view text) override;
  void note_draw(const platform::DrawRecord& record) override { draws_.push_back(record); }
  void note_frame(const platform::Window& window, bool immediate) override;

  // Automation
  void set_screen_depth(int bits_per_pixel) override { depth_ = bits_per_pixel; }
  void queue_file_answer(std::optional<std::string> path) override { file_answers_.push_back(std::move(path)); }
  void queue_dialog(platform::DialogScript script) override { scripts_.push_back(std::move(script)); }
  const std::vector<platform::FileChooserSpec>& file_requests() const override { return file_requests_; }
  const std::vector<platform::MessageRecord>& messages() const override { return messages_; }
  const std::vector<platform::DialogRun>& dialog_runs() const override { return dialog_runs_; }
  const std::vector<platform::DrawRecord>& draws() const override { return draws_; }
  const std::vector<platform::HelpRecord>& help_requests() const override { return help_; }
  void clear_records() override;
  void record_frames(bool on) override { recording_frames_ = on; }
  const std::vector<platform::Frame>& frames() const override { return frames_; }
  platform::Image client_image(const platform::Window& window) const override;
  void user_resize_client(platform::Window& window, int client_width, int client_height) override;
  void user_click(platform::Window& window) override;
  void user_close(platform::Window& window) override;
  void user_choose(platform::Window& window, int command) override;
  void advance_clock(std::uint32_t milliseconds) override { clock_ms_ += milliseconds; }
  void set_clock_auto_step(std::uint32_t milliseconds) override { clock_step_ = milliseconds; }
  platform::Cursor cursor() const override;
  bool capture_held() const override { return GetCapture() != nullptr; }

 protected:
  void exec_dialog(platform::Win32Dialog& dialog, HWND owner) override;
  void exec_message_box(HWND owner, const std::string& owner_name, std::string_view text,
                        std::string_view caption) override;
  std::optional<std::string> exec_file_dialog(const platform::FileChooserSpec& request, bool save) override;

 private:
  void run_script(platform::Win32Dialog& dialog, const std::vector<platform::DialogStep>& steps,
                  platform::DialogRun& run);

  std::optional<int> depth_;
  std::deque<std::optional<std::string>> file_answers_;
  std::deque<platform::DialogScript> scripts_;
  std::vector<platform::FileChooserSpec> file_requests_;
  std::vector<platform::MessageRecord> messages_;
  std::vector<platform::DialogRun> dialog_runs_;
  std::vector<platform::DrawRecord> draws_;
  std::vector<platform::HelpRecord> help_;
  std::vector<platform::Frame> frames_;
  bool recording_frames_ = false;
  mutable std::uint64_t clock_ms_ = 0;
  std::uint32_t clock_step_ = 0;
};

// The pixels of a rectangle of `source` (a window's or the screen's device context), top-down RGB.
platform::Image read_pixels(HDC source, int x, int y, int width, int height);

}  // namespace varnic::testing
