// Headless backend: windows are offscreen framebuffers drawn through the shared raster, dialogs
// and file choosers answer from scripts, message boxes and drawing calls are recorded, the screen
// depth is settable and the clock only moves when told. For tests and for running the program
// without a display.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/platform.h"

namespace varnic::platform {

class HeadlessPlatform final : public Platform, public Automation {
 public:
  // Frame of every window in pixels: what FitWindowToClient must add to a client size.
  static constexpr int kFrameSide = 4;      // left and right each
  static constexpr int kFrameBottom = 4;
  static constexpr int kCaptionHeight = 26;
  static constexpr int kMenuBarHeight = 20;  // windows with a menu
  // What a menu popup covers of the client area below the menu bar, from its top-left corner.
  static constexpr int kPopupWidth = 150;
  static constexpr int kPopupHeight = 120;
  // Where the clock starts: an arbitrary second with a non-zero millisecond part.
  static constexpr std::uint32_t kClockStartSeconds = 1000;
  static constexpr std::uint16_t kClockStartMilliseconds = 500;

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
  utils::ClockReading now() const override;
  void show_help(std::string_view title, std::string_view text) override;
  void process_paints() override;
  int run() override;
  void quit(int code) override;

  // Automation
  void set_screen_depth(int bits_per_pixel) override { screen_depth_ = bits_per_pixel; }
  void queue_file_answer(std::optional<std::string> path) override;
  void queue_dialog(DialogScript script) override;
  const std::vector<FileChooserSpec>& file_requests() const override { return file_requests_; }
  const std::vector<MessageRecord>& messages() const override { return messages_; }
  const std::vector<DialogRun>& dialog_runs() const override { return dialog_runs_; }
  const std::vector<DrawRecord>& draws() const override { return draws_; }
  const std::vector<HelpRecord>& help_requests() const override { return help_; }
  void clear_records() override;
  Image client_image(const Window& window) const override;
  void user_resize_client(Window& window, int client_width, int client_height) override;
  void user_click(Window& window) override;
  void user_close(Window& window) override;
  void user_choose(Window& window, int command) override;
  void record_frames(bool on) override { recording_frames_ = on; }
  const std::vector<Frame>& frames() const override { return frames_; }
  void advance_clock(std::uint32_t milliseconds) override;
  void set_clock_auto_step(std::uint32_t milliseconds) override { clock_step_ = milliseconds; }
  Cursor cursor() const override { return cursor_; }
  bool capture_held() const override { return capture_ != nullptr; }

  bool quit_requested() const { return quit_code_.has_value(); }

  class HeadlessWindow;
  class HeadlessDialog;

 private:
  friend class HeadlessWindow;
  friend class HeadlessDialog;
  std::optional<FileChoice> answer_file(const FileChooserSpec& request);

  int screen_depth_ = 24;
  std::vector<std::unique_ptr<HeadlessWindow>> windows_;
  std::deque<std::optional<std::string>> file_answers_;
  std::deque<DialogScript> dialog_scripts_;
  std::vector<FileChooserSpec> file_requests_;
  std::vector<MessageRecord> messages_;
  std::vector<DialogRun> dialog_runs_;
  std::vector<DrawRecord> draws_;
  std::vector<HelpRecord> help_;
  std::vector<Frame> frames_;
  bool recording_frames_ = false;
  std::vector<std::string> open_dialogs_;  // names, innermost last: owners of message boxes
  Cursor cursor_ = Cursor::kArrow;
  HeadlessWindow* capture_ = nullptr;
  mutable std::uint64_t clock_ms_ = 0;  // readings may step it (set_clock_auto_step)
  std::uint32_t clock_step_ = 0;
  std::optional<int> quit_code_;
};

}  // namespace varnic::platform
