// SPDX-License-Identifier: BSD-2-Clause
#include "qt_automation.h"

#include "platform/qt/qt_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

namespace varnic::testing {

using platform::ControlKind;
using platform::DialogStep;

namespace {

QAbstractSlider::SliderAction slider_action(platform::ScrollCode code) {
  switch (code) {
    case platform::ScrollCode::kLineLeft: return QAbstractSlider::SliderSingleStepSub;
    case platform::ScrollCode::kLineRight: return QAbstractSlider::SliderSingleStepAdd;
    case platform::ScrollCode::kPageLeft: return QAbstractSlider::SliderPageStepSub;
    case platform::ScrollCode::kPageRight: return QAbstractSlider::SliderPageStepAdd;
    case platform::ScrollCode::kLeftEnd: return QAbstractSlider::SliderToMinimum;
    case platform::ScrollCode::kRightEnd: return QAbstractSlider::SliderToMaximum;
    default: return QAbstractSlider::SliderNoAction;
  }
}

platform::DialogState state_of(const platform::QtDialog& dialog) {
  platform::DialogState state;
  for (const auto& c : dialog.dialog_template().controls) {
    if (c.id < 0) continue;
    if (c.kind == ControlKind::kScrollBar) {
      state.scroll_positions[c.id] = static_cast<QScrollBar*>(dialog.control(c.id))->value();
    } else if (auto* combo = qobject_cast<QComboBox*>(dialog.control(c.id))) {
      for (int i = 0; i < combo->count(); ++i) state.combo_entries[c.id].push_back(combo->itemText(i).toStdString());
      state.combo_selections[c.id] = combo->currentIndex();
    } else if (c.kind != ControlKind::kPushButton && c.kind != ControlKind::kDefaultPushButton) {
      state.texts[c.id] = dialog.text(c.id, std::string::npos);
    }
  }
  return state;
}

}  // namespace

platform::Image rgb_image(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  platform::Image out{image.width(), image.height(), {}};
  for (int y = 0; y < image.height(); ++y) {
    out.rgb.insert(out.rgb.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 3);
  }
  return out;
}

void ScriptedQtPlatform::show_help(std::string_view title, std::string_view text) {
  QtPlatform::show_help(title, text);
  record_help(platform::HelpRecord{std::string(title), std::string(text)});
  if (observer_) observer_("help", *help_viewer());
}

platform::Image ScriptedQtPlatform::client_image(const platform::Window& window) const {
  // Hidden windows are still rendered: the backing image is what they show when shown. The
  // client area is the size the program asked for, at least a pixel; a frame kept wider for its
  // menu shows white beyond it.
  QWidget* client = client_widget(const_cast<platform::Window&>(window));
  const QImage shown = client->grab().toImage().scaled(client->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
  const platform::Size asked = window.client_size();
  return rgb_image(shown.copy(0, 0, std::min(shown.width(), std::max(asked.width, 1)),
                              std::min(shown.height(), std::max(asked.height, 1))));
}

platform::Rect ScriptedQtPlatform::work_area() const {
  const QRect r = QGuiApplication::primaryScreen()->availableGeometry();
  return platform::Rect{r.x(), r.y(), r.width(), r.height()};
}

platform::Rect ScriptedQtPlatform::frame_on_screen(const platform::Window& window) const {
  const QRect r = top_level(const_cast<platform::Window&>(window))->frameGeometry();
  return platform::Rect{r.x(), r.y(), r.width(), r.height()};
}

void ScriptedQtPlatform::user_resize_client(platform::Window& window, int client_width, int client_height) {
  QWidget* top = top_level(window);
  QWidget* client = client_widget(window);
  // The menu may wrap differently at the new width: the user drags on until the client fits.
  for (int i = 0; i < 2; ++i) top->resize(client_width, client_height + top->height() - client->height());
  process_paints();
}

void ScriptedQtPlatform::user_click(platform::Window& window) {
  QTest::mouseClick(client_widget(window), Qt::LeftButton);
  process_paints();
}

void ScriptedQtPlatform::user_close(platform::Window& window) {
  top_level(window)->close();
  process_paints();
}

void ScriptedQtPlatform::user_choose(platform::Window& window, int command) {
  for (QAction* action : top_level(window)->findChildren<QAction*>()) {
    if (action->data().isValid() && action->data().toInt() == command) action->trigger();
  }
  process_paints();
}

void ScriptedQtPlatform::note_frame(const std::string& window, bool immediate, const QImage& shown) {
  const platform::Frame* frame = record_frame([&] { return platform::Frame{window, immediate, rgb_image(shown)}; });
  if (frame != nullptr && frame_observer_) frame_observer_(*frame);
}

platform::Cursor ScriptedQtPlatform::cursor() const {
  const QCursor* shown = QApplication::overrideCursor();
  return shown != nullptr && shown->shape() == Qt::WaitCursor ? platform::Cursor::kWait : platform::Cursor::kArrow;
}

platform::Cursor ScriptedQtPlatform::set_cursor(platform::Cursor cursor) {
  const platform::Cursor previous = QtPlatform::set_cursor(cursor);
  if (cursor == platform::Cursor::kWait && previous != platform::Cursor::kWait) {
    for (const auto& window : windows()) {
      if (!window->is_visible()) continue;
      record_frame([&] { return platform::Frame{window->title(), false, client_image(*window), true}; });
    }
  }
  return previous;
}

bool ScriptedQtPlatform::capture_held() const { return QWidget::mouseGrabber() != nullptr; }

bool ScriptedQtPlatform::exec_file_dialog(QFileDialog& dialog, const platform::FileChooserSpec& request) {
  const std::optional<std::string> answer = take_file_answer(request);
  if (observer_) observer_(dialog.acceptMode() == QFileDialog::AcceptSave ? "save file" : "open file", dialog);
  // The answer goes through the real dialog: it is selected there and read back by the backend.
  if (answer) dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(*answer)));
  return answer.has_value();
}

void ScriptedQtPlatform::exec_message_box(QMessageBox& box, const std::string& owner) {
  // Laid out as it would come up; its caption must fit its width, in the box's own font at least.
  box.show();
  const bool fits = box.width() >= box.fontMetrics().horizontalAdvance(box.windowTitle());
  if (observer_) observer_("message box", box);
  box.hide();
  // Read back from the box the user would see.
  record_message(platform::MessageRecord{box.text().toStdString(), box.windowTitle().toStdString(), owner, fits});
}

namespace {

// The user's hands on a real dialog: typing goes into the real edits, presses are real clicks.
class QtHands final : public platform::ScriptedDialog {
 public:
  explicit QtHands(platform::QtDialog& dialog) : dialog_(dialog) {}
  bool ended() const override { return dialog_.ended(); }
  platform::DialogState state() const override { return state_of(dialog_); }
  int result() const override { return dialog_.result_code(); }
  void escape() override { dialog_.reject(); }
  void force_end() override { dialog_.end(-1); }
  bool take(const DialogStep& step) override {
    QWidget* w = dialog_.control(step.control);
    if (w == nullptr && step.action == DialogStep::Action::kPress && step.control == 2) {
      QTest::keyClick(&dialog_, Qt::Key_Escape);  // every dialog hears the Escape key
    } else if (auto* edit = qobject_cast<QLineEdit*>(w); edit && step.action == DialogStep::Action::kSetText) {
      // Replacing the selection is an edit of the user's: textEdited reaches the program.
      edit->selectAll();
      edit->insert(platform::to_qstring(step.text));
    } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w); multi && step.action == DialogStep::Action::kSetText) {
      multi->setPlainText(platform::to_qstring(step.text));
    } else if (auto* combo = qobject_cast<QComboBox*>(w); combo && step.action == DialogStep::Action::kSelect) {
      combo->setCurrentIndex(step.index);
    } else if (auto* bar = qobject_cast<QScrollBar*>(w); bar && step.action == DialogStep::Action::kScroll) {
      if (slider_action(step.scroll.code) != QAbstractSlider::SliderNoAction) {
        bar->triggerAction(slider_action(step.scroll.code));
      } else {
        dialog_.deliver_scroll(step.scroll);
        bar->setSliderPosition(bar->value());
      }
    } else if (auto* button = qobject_cast<QAbstractButton*>(w); button && step.action == DialogStep::Action::kPress) {
      button->click();
    } else {
      return false;
    }
    return true;
  }

 private:
  platform::QtDialog& dialog_;
};

}  // namespace

void ScriptedQtPlatform::exec_dialog(platform::QtDialog& dialog) {
  // Shown as exec() would show it: some keys (Enter) only reach visible buttons.
  if (!dialog.ended()) dialog.show();
  if (observer_ && !dialog.ended()) observer_(dialog.dialog_template().name, dialog);
  QtHands hands(dialog);
  const std::function<void()> driver = [&] { driver_(dialog); };
  play_dialog(dialog.dialog_template().name, hands, driver_ ? &driver : nullptr);
}

}  // namespace varnic::testing
