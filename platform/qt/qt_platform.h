// SPDX-License-Identifier: BSD-2-Clause
// Qt 6 Widgets backend: the two top-level windows with a menu bar, picture drawing into a
// per-window backing image shown by the window's client widget, modal dialogs laid out from the
// templates in fixed dialog units, message boxes, Qt's file dialogs, a help viewer, the wait
// cursor, mouse capture and the wall clock.
//
// Geometry follows the program, not the window system: Window::move() records the size asked for
// and reports the new client size at once (the interface wants on_size() before move() returns),
// while the window system confirms it later; confirmations of sizes asked for are not reported
// again, every other size change is the user's and reaches on_size().
//
// The blocking steps (running a file dialog, a message box or a modal dialog) are virtual so that
// a test driver can stand in for the user while everything else stays the real widgets.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/platform_base.h"

class QApplication;
class QComboBox;
class QFileDialog;
class QMessageBox;
class QScrollBar;
class QTextBrowser;
class QWidget;

namespace varnic::platform {

class QtPlatform;

// Template geometry in pixels: dialog units with the fixed base units of the templates' 8-point
// font (6/4 px across, 13/8 px down), each value rounded to the nearest pixel.
int dialog_units_to_x(int units);
int dialog_units_to_y(int units);

// Text for a widget: UTF-8 as it stands; bytes that are not valid UTF-8 are read as Latin-1.
QString to_qstring(std::string_view bytes);

// The program's icon, for every window.
QIcon program_icon();

// The name filter the file dialogs show for a chooser request, e.g. "Compressed Files (*.cod)".
QString file_filter(const FileChooserSpec& request);

// A modal dialog made from a template. Controls are reachable by id for the test drivers.
class QtDialog final : public QDialog, public Dialog {
 public:
  QtDialog(QtPlatform& platform, const DialogTemplate& dialog, DialogController& controller, QWidget* owner);

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

  const DialogTemplate& dialog_template() const { return template_; }
  QWidget* control(int id) const;
  bool ended() const { return ended_; }
  int result_code() const { return result_; }
  // Sends a command to the program as a button of that id does.
  void command(int id);
  // Hands a scroll event to the program as the scroll bar's own actions do.
  void deliver_scroll(const ScrollEvent& event);
  // Escape, the close box and the system menu's Close all arrive as command 2.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void add_control(const ControlTemplate& control);

  QtPlatform& platform_;
  const DialogTemplate& template_;
  DialogController& controller_;
  std::map<int, QWidget*> controls_;
  std::map<int, QString> full_texts_;  // of the value fields, which may show them elided
  int default_button_ = -1;
  bool ended_ = false;
  int result_ = 0;
};

class QtPlatform : public PlatformBase {
 public:
  // Uses the running QApplication, or creates one that lives as long as the process.
  QtPlatform();
  ~QtPlatform() override;

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

  // Makes the dialog a chooser of this request would show (open or save).
  std::unique_ptr<QFileDialog> make_file_dialog(const FileChooserSpec& request, bool save) const;

  // The widgets behind a Window, for tests and screenshots.
  static QWidget* top_level(Window& window);
  static QWidget* client_widget(Window& window);
  // The help viewer, null until help was first shown.
  QTextBrowser* help_viewer() const { return help_.get(); }
  Cursor current_cursor() const { return cursor_; }

  class QtWindow;

  // Called by the backend's own widgets.
  virtual void note_draw(const DrawRecord& record) { (void)record; }
  // What reached the screen, for test drivers; made only while they record frames.
  virtual bool records_frames() const { return false; }
  virtual void note_frame(const std::string& window, bool immediate, const QImage& shown) {
    (void)window;
    (void)immediate;
    (void)shown;
  }
  QWidget* main_widget() const;

 protected:
  void end_event_loop(int code) override;
  // The steps that wait for the user.
  virtual bool exec_file_dialog(QFileDialog& dialog, const FileChooserSpec& request);
  virtual void exec_message_box(QMessageBox& box, const std::string& owner);
  virtual void exec_dialog(QtDialog& dialog);

  friend class QtDialog;
  void show_message(QWidget* owner, const std::string& owner_name, std::string_view text, std::string_view caption);
  std::optional<FileChoice> choose_file(const FileChooserSpec& request, bool save);
  const std::vector<std::unique_ptr<QtWindow>>& windows() const { return windows_; }

 private:
  std::vector<std::unique_ptr<QtWindow>> windows_;
  std::unique_ptr<QTextBrowser> help_;
  QString last_folder_;  // of the last file chosen, where the next file dialog starts
  Cursor cursor_ = Cursor::kArrow;
};

}  // namespace varnic::platform
