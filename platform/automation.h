// SPDX-License-Identifier: BSD-2-Clause
// Scripted answers and observations for whole-program tests. A backend that runs the program's
// scenario tests implements Automation beside Platform: file choosers and dialogs answer from
// queues, message boxes and drawing calls are recorded, the clock steps on request, and the client
// areas can be read back as pixels.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace varnic::platform {

// One user action inside a modal dialog.
struct DialogStep {
  enum class Action {
    kSetText,   // type `text` into `control` (replacing what it holds)
    kSelect,    // choose entry `index` of combo box `control`
    kScroll,    // scroll bar action `scroll`
    kPress,     // press button `control` (or the Escape key, control 2)
    kSnapshot,  // remember every control's value now (see DialogRun::snapshots)
  };
  Action action = Action::kPress;
  int control = -1;
  std::string text;
  int index = 0;
  ScrollEvent scroll;

  static DialogStep set_text(int control, std::string text) {
    DialogStep s;
    s.action = Action::kSetText;
    s.control = control;
    s.text = std::move(text);
    return s;
  }
  static DialogStep select(int control, int index) {
    DialogStep s;
    s.action = Action::kSelect;
    s.control = control;
    s.index = index;
    return s;
  }
  static DialogStep scroll_bar(int control, ScrollCode code, int pointer_x = 0, int client_width = 1) {
    DialogStep s;
    s.action = Action::kScroll;
    s.control = control;
    s.scroll = ScrollEvent{control, code, pointer_x, client_width};
    return s;
  }
  static DialogStep press(int control) {
    DialogStep s;
    s.action = Action::kPress;
    s.control = control;
    return s;
  }
  static DialogStep snapshot() {
    DialogStep s;
    s.action = Action::kSnapshot;
    return s;
  }
};

// The answers for the next run of the dialog named `dialog` (template name, upper case).
struct DialogScript {
  std::string dialog;
  std::vector<DialogStep> steps;
};

// Values of a dialog's controls at one moment.
struct DialogState {
  std::map<int, std::string> texts;
  std::map<int, int> scroll_positions;
  std::map<int, std::vector<std::string>> combo_entries;
  std::map<int, int> combo_selections;
};

// What happened in one run of a modal dialog.
struct DialogRun {
  std::string dialog;
  bool scripted = false;   // a script was queued for it
  bool finished = false;   // the program ended it; false when the backend had to close it
  int result = 0;
  std::vector<DialogState> snapshots;  // one per kSnapshot step
  DialogState final_state;
  std::vector<std::string> mismatches;  // script problems: wrong dialog, unknown control
};

struct MessageRecord {
  std::string text;
  std::string caption;
  std::string owner;  // "" for the main window, else the dialog's template name
  bool caption_fits = true;  // the box is wide enough to show its whole caption
};

struct DrawRecord {
  enum class Operation { kBitmap, kStretch, kText, kPalette };
  Operation operation = Operation::kBitmap;
  std::string window;  // the window's title when drawn
  bool immediate = false;  // drawn through Window::draw_now rather than a paint event
  int source_width = 0, source_height = 0, bits_per_pixel = 0;
  int x = 0, y = 0, width = 0, height = 0;  // destination
  std::string text;
  std::vector<std::uint8_t> colour_table;  // kPalette: the 1024 bytes realised

  // The backends' recorders: what was drawn where, then a bitmap's source and destination.
  static DrawRecord of(Operation operation, std::string window, bool immediate) {
    DrawRecord r;
    r.operation = operation;
    r.window = std::move(window);
    r.immediate = immediate;
    return r;
  }
  DrawRecord& place(const BitmapView& bitmap, int to_x, int to_y, int to_width, int to_height) {
    source_width = bitmap.width;
    source_height = bitmap.height;
    bits_per_pixel = bitmap.bits_per_pixel;
    x = to_x, y = to_y, width = to_width, height = to_height;
    return *this;
  }
  DrawRecord& text_at(int to_x, int to_y, std::string_view shown) {
    x = to_x, y = to_y;
    text = std::string(shown);
    return *this;
  }
  DrawRecord& colours(std::span<const std::uint8_t> table) {
    colour_table.assign(table.begin(), table.end());
    return *this;
  }
};

// Pixels of a client area, top-down rows of red, green, blue.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint8_t at(int x, int y, int channel) const {
    return rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3 + static_cast<std::size_t>(channel)];
  }
};

// What a window showed at one moment: its client area as it reached the screen, by a paint or
// by an immediate drawing (Window::draw_now), or as the program's work began.
struct Frame {
  std::string window;  // the window's title
  bool immediate = false;
  Image image;
  bool busy = false;  // taken as the wait cursor came up: what stays on the screen while the work runs
};

struct HelpRecord {
  std::string title;
  std::string text;
};

class Automation {
 public:
  virtual ~Automation() = default;

  // Takes effect for windows created afterwards (set it before the program starts).
  virtual void set_screen_depth(int bits_per_pixel) = 0;

  // Next answer of a file chooser (open or save); an empty optional cancels. With no answer queued
  // the chooser cancels.
  virtual void queue_file_answer(std::optional<std::string> path) = 0;
  // Next run of a dialog. With no script queued the backend ends the dialog with the Escape key
  // (command 2) and, if that does not close it, force-closes it with result -1.
  virtual void queue_dialog(DialogScript script) = 0;

  virtual const std::vector<FileChooserSpec>& file_requests() const = 0;
  virtual const std::vector<MessageRecord>& messages() const = 0;
  virtual const std::vector<DialogRun>& dialog_runs() const = 0;
  virtual const std::vector<DrawRecord>& draws() const = 0;
  virtual const std::vector<HelpRecord>& help_requests() const = 0;
  virtual void clear_records() = 0;
  // Frames are whole pictures: they are kept only while recording is on.
  virtual void record_frames(bool on) = 0;
  virtual const std::vector<Frame>& frames() const = 0;

  // What the screen shows of a window's client area: at most the part within the work area.
  virtual Image client_image(const Window& window) const = 0;
  // The screen's work area (without panels and task bars), and where a window's frame lies on the
  // screen, in screen pixels.
  virtual Rect work_area() const = 0;
  virtual Rect frame_on_screen(const Window& window) const = 0;

  // The user's hand on the windows.
  virtual void user_resize_client(Window& window, int client_width, int client_height) = 0;
  virtual void user_click(Window& window) = 0;
  virtual void user_close(Window& window) = 0;
  // File choosers that answer leave the top-left of the main window's client area as a closed
  // dialog does: with what the dialog showed there, until the window is painted again.
  static constexpr Size kChooserCovers{300, 200};
  // Picks a menu item: the popup lay over the top-left of the client area, which keeps what the
  // popup showed there until the window is painted again.
  virtual void user_choose(Window& window, int command) = 0;

  virtual void advance_clock(std::uint32_t milliseconds) = 0;
  // From now on every clock reading advances the clock by this much after it is taken (0 stops).
  virtual void set_clock_auto_step(std::uint32_t milliseconds) = 0;
  virtual Cursor cursor() const = 0;
  virtual bool capture_held() const = 0;
};

// A running modal dialog in a scripted backend's hands.
class ScriptedDialog {
 public:
  virtual ~ScriptedDialog() = default;
  virtual bool ended() const = 0;
  virtual DialogState state() const = 0;
  // Carries out a step other than a snapshot as the user would; false when no control of the
  // dialog can take it.
  virtual bool take(const DialogStep& step) = 0;
  // The Escape key.
  virtual void escape() = 0;
  // Closes the dialog with result -1, as the backend alone can.
  virtual void force_end() = 0;
  virtual int result() const = 0;
};

// The queues, records and clock every scripted backend keeps alike; the backend adds its windows,
// its user actions and the Platform calls that feed these records.
class Recorder : public Automation {
 public:
  // Where the clock starts: an arbitrary second with a non-zero millisecond part.
  static constexpr std::uint32_t kClockStartSeconds = 1000;
  static constexpr std::uint16_t kClockStartMilliseconds = 500;

  void queue_file_answer(std::optional<std::string> path) override { file_answers_.push_back(std::move(path)); }
  void queue_dialog(DialogScript script) override { dialog_scripts_.push_back(std::move(script)); }
  const std::vector<FileChooserSpec>& file_requests() const override { return file_requests_; }
  const std::vector<MessageRecord>& messages() const override { return messages_; }
  const std::vector<DialogRun>& dialog_runs() const override { return dialog_runs_; }
  const std::vector<DrawRecord>& draws() const override { return draws_; }
  const std::vector<HelpRecord>& help_requests() const override { return help_; }
  void clear_records() override;
  void record_frames(bool on) override { recording_frames_ = on; }
  const std::vector<Frame>& frames() const override { return frames_; }
  void advance_clock(std::uint32_t milliseconds) override { clock_ms_ += milliseconds; }
  void set_clock_auto_step(std::uint32_t milliseconds) override { clock_step_ = milliseconds; }

 protected:
  // Records the request; the path chosen, or nothing when the chooser cancels.
  std::optional<std::string> take_file_answer(const FileChooserSpec& request);
  // The steps queued for `run.dialog`, marking the run scripted. None when nothing is queued, or
  // when the next script is for another dialog, which stays queued and is noted as a mismatch.
  std::vector<DialogStep> take_dialog_script(DialogRun& run);
  // Plays the script queued for the dialog `name` (or, when given, `driver` stands in for the user
  // instead), ends a dialog left open with the Escape key or else by force, and records the run.
  void play_dialog(const std::string& name, ScriptedDialog& dialog, const std::function<void()>* driver = nullptr);
  // `make` renders the frame only while recording; the frame kept, else nullptr.
  template <typename MakeFrame>
  const Frame* record_frame(MakeFrame&& make) {
    if (!recording_frames_) return nullptr;
    frames_.push_back(std::forward<MakeFrame>(make)());
    return &frames_.back();
  }
  bool recording_frames() const { return recording_frames_; }
  void record_message(MessageRecord message) { messages_.push_back(std::move(message)); }
  void record_dialog_run(DialogRun run) { dialog_runs_.push_back(std::move(run)); }
  void record_draw(DrawRecord draw) { draws_.push_back(std::move(draw)); }
  void record_help(HelpRecord help) { help_.push_back(std::move(help)); }
  // A reading of the scripted clock, which then moves on by the auto step.
  utils::ClockReading clock_reading() const;

 private:
  std::deque<std::optional<std::string>> file_answers_;
  std::deque<DialogScript> dialog_scripts_;
  std::vector<FileChooserSpec> file_requests_;
  std::vector<MessageRecord> messages_;
  std::vector<DialogRun> dialog_runs_;
  std::vector<DrawRecord> draws_;
  std::vector<HelpRecord> help_;
  std::vector<Frame> frames_;
  bool recording_frames_ = false;
  mutable std::uint64_t clock_ms_ = 0;  // readings may step it (set_clock_auto_step)
  std::uint32_t clock_step_ = 0;
};

}  // namespace varnic::platform
