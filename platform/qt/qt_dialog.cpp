// SPDX-License-Identifier: BSD-2-Clause
// Modal dialogs laid out from their templates.
#include "platform/qt/qt_platform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "varnic/rules.h"

namespace varnic::platform {

namespace {


}  // namespace

int dialog_units_to_x(int units) { return static_cast<int>(std::lround(units * 6 / 4.0)); }
int dialog_units_to_y(int units) { return static_cast<int>(std::lround(units * 13 / 8.0)); }


namespace {

// The templates' 8-point font at 96 dpi: 13 px from ascent to descent, about 6 px per character.
constexpr int kDialogFontPixels = 10;

// A dialog's horizontal scroll bar takes its keys as a Windows scroll bar control does: arrows a
// line, Page Up left and Page Down right by a page, Home and End to the ends. (Qt's own bar turns
// the arrows around.) Every key goes through actionTriggered, that is, through the program.
class DialogScrollBar final : public QScrollBar {
 public:
  explicit DialogScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    SliderAction action = SliderNoAction;
    switch (event->key()) {
      case Qt::Key_Left:
      case Qt::Key_Up: action = SliderSingleStepSub; break;
      case Qt::Key_Right:
      case Qt::Key_Down: action = SliderSingleStepAdd; break;
      case Qt::Key_PageUp: action = SliderPageStepSub; break;
      case Qt::Key_PageDown: action = SliderPageStepAdd; break;
      case Qt::Key_Home: action = SliderToMinimum; break;
      case Qt::Key_End: action = SliderToMaximum; break;
      default: QScrollBar::keyPressEvent(event); return;
    }
    triggerAction(action);
  }
};

}  // namespace

QtDialog::QtDialog(QtPlatform& platform, const DialogTemplate& dialog, DialogController& controller, QWidget* owner)
    : QDialog(owner), platform_(platform), template_(dialog), controller_(controller) {
  setWindowTitle(to_qstring(dialog.title));
  setModal(true);
  QFont font = this->font();
  font.setPixelSize(kDialogFontPixels);
  setFont(font);
  Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
  if (dialog.system_menu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  setFixedSize(dialog_units_to_x(dialog.width), dialog_units_to_y(dialog.height));
  if (owner != nullptr) {
    // Templates place dialogs relative to their owner's client area.
    const QPoint origin = owner->mapToGlobal(QPoint(0, 0));
    QDialog::move(origin.x() + dialog_units_to_x(dialog.x), origin.y() + dialog_units_to_y(dialog.y));
  }
  for (const auto& control : dialog.controls) add_control(control);
  // Ctrl+Enter presses the default button from anywhere, a multi-line edit included (where
  // Return starts a new line).
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, [this] {
      if (auto* button = qobject_cast<QPushButton*>(control(default_button_))) button->click();
    });
  }
}

void QtDialog::add_control(const ControlTemplate& c) {
  QWidget* widget = nullptr;
  int height = dialog_units_to_y(c.height);
  switch (c.kind) {
    case ControlKind::kLabel:
    case ControlKind::kRightLabel: {
      auto* label = new QLabel(to_qstring(c.text), this);
      label->setAlignment((c.kind == ControlKind::kLabel ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignTop);
      // Value fields stay on their line (set_text elides them); template texts wrap.
      label->setWordWrap(c.id < 0);
      widget = label;
      break;
    }
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(to_qstring(c.text), this);
      const int id = c.id;
      connect(edit, &QLineEdit::textEdited, this, [this, id] { controller_.on_text_changed(*this, id); });
      widget = edit;
      break;
    }
    case ControlKind::kMultiLineEdit: {
      auto* edit = new QPlainTextEdit(to_qstring(c.text), this);
      edit->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      // Tab goes on to the next control rather than into the text.
      edit->setTabChangesFocus(true);
      const int id = c.id;
      connect(edit, &QPlainTextEdit::textChanged, this, [this, id] { controller_.on_text_changed(*this, id); });
      widget = edit;
      break;
    }
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton: {
      auto* button = new QPushButton(to_qstring(c.text), this);
      // Return presses the button that has the focus, and the default button otherwise.
      button->setAutoDefault(true);
      if (c.kind == ControlKind::kDefaultPushButton) {
        button->setDefault(true);
        default_button_ = c.id;
      }
      const int id = c.id;
      connect(button, &QPushButton::clicked, this, [this, id] {
        if (!ended_) controller_.on_command(*this, id);
      });
      widget = button;
      break;
    }
    case ControlKind::kScrollBar: {
      QScrollBar* bar = new DialogScrollBar(this);
      // A tab stop: the arrow, page and end keys then move it through the program.
      bar->setFocusPolicy(Qt::StrongFocus);
      const int id = c.id;
      // The program moves the thumb: after its handler the bar takes the position it set.
      connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, id](int action) {
        ScrollEvent e;
        e.control = id;
        switch (action) {
          case QAbstractSlider::SliderSingleStepSub: e.code = ScrollCode::kLineLeft; break;
          case QAbstractSlider::SliderSingleStepAdd: e.code = ScrollCode::kLineRight; break;
          case QAbstractSlider::SliderPageStepSub: e.code = ScrollCode::kPageLeft; break;
          case QAbstractSlider::SliderPageStepAdd: e.code = ScrollCode::kPageRight; break;
          case QAbstractSlider::SliderToMinimum: e.code = ScrollCode::kLeftEnd; break;
          case QAbstractSlider::SliderToMaximum: e.code = ScrollCode::kRightEnd; break;
          case QAbstractSlider::SliderMove: e.code = ScrollCode::kThumbTrack; break;
          default: e.code = ScrollCode::kOther; break;
        }
        if (e.code == ScrollCode::kThumbTrack) {
          e.pointer_x = std::clamp(bar->mapFromGlobal(QCursor::pos()).x(), 0, bar->width());
          e.client_width = std::max(bar->width(), 1);
        }
        deliver_scroll(e);
        bar->setSliderPosition(bar->value());
      });
      connect(bar, &QAbstractSlider::sliderReleased, this, [this, bar, id] {
        ScrollEvent e;
        e.control = id;
        e.code = ScrollCode::kThumbPosition;
        e.pointer_x = std::clamp(bar->mapFromGlobal(QCursor::pos()).x(), 0, bar->width());
        e.client_width = std::max(bar->width(), 1);
        deliver_scroll(e);
        bar->setSliderPosition(bar->value());
      });
      widget = bar;
      break;
    }
    case ControlKind::kComboBox: {
      auto* combo = new QComboBox(this);
      combo->setEditable(false);
      widget = combo;
      // The template's height includes the dropped-down list; the closed box is one line.
      height = std::min(height, dialog_units_to_y(14));
      break;
    }
  }
  widget->setGeometry(dialog_units_to_x(c.x), dialog_units_to_y(c.y), dialog_units_to_x(c.width), height);
  widget->setVisible(c.visible);
  if (c.id >= 0 && controls_.find(c.id) == controls_.end()) controls_[c.id] = widget;
}

QWidget* QtDialog::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void QtDialog::set_text(int id, std::string_view text) {
  QWidget* w = control(id);
  const QString s = to_qstring(text);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setText(s);
  } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
    // Only the user's typing is a text change.
    const QSignalBlocker blocker(multi);
    multi->setPlainText(s);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    // A value field keeps its whole text for text(); it shows what fits, elided in the middle.
    full_texts_[id] = s;
    const QString shown = label->fontMetrics().elidedText(s, Qt::ElideMiddle, label->width());
    label->setText(shown);
    label->setToolTip(shown == s ? QString() : s);
  } else if (auto* button = qobject_cast<QPushButton*>(w)) {
    button->setText(s);
  }
}

std::string QtDialog::text(int id, std::size_t max_bytes) const {
  QWidget* w = control(id);
  QString s;
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    s = edit->text();
  } else if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) {
    s = multi->toPlainText();
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    auto full = full_texts_.find(id);
    s = full != full_texts_.end() ? full->second : label->text();
  } else if (auto* button = qobject_cast<QPushButton*>(w)) {
    s = button->text();
  }
  const QByteArray bytes = s.toUtf8();
  return std::string(varnic::cut_utf8(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), max_bytes));
}

void QtDialog::set_scroll_range(int id, int minimum, int maximum) {
  if (auto* bar = qobject_cast<QScrollBar*>(control(id))) {
    const QSignalBlocker blocker(bar);
    bar->setRange(minimum, maximum);
    bar->setPageStep(std::max((maximum - minimum) / 10, 1));
  }
}

void QtDialog::set_scroll_position(int id, int position) {
  if (auto* bar = qobject_cast<QScrollBar*>(control(id))) {
    const QSignalBlocker blocker(bar);
    bar->setValue(position);
    bar->setSliderPosition(bar->value());
  }
}

int QtDialog::scroll_position(int id) const {
  auto* bar = qobject_cast<QScrollBar*>(control(id));
  return bar == nullptr ? 0 : bar->value();
}

void QtDialog::combo_insert(int id, int index, std::string_view text) {
  if (auto* combo = qobject_cast<QComboBox*>(control(id))) {
    const QSignalBlocker blocker(combo);
    combo->insertItem(std::clamp(index, 0, combo->count()), to_qstring(text));
    // Windows leaves a combo box without a selection until one is made.
    if (combo->count() == 1) combo->setCurrentIndex(-1);
  }
}

void QtDialog::combo_select(int id, int index) {
  if (auto* combo = qobject_cast<QComboBox*>(control(id))) {
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  }
}

int QtDialog::combo_selection(int id) const {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  return combo == nullptr ? -1 : combo->currentIndex();
}

void QtDialog::message_box(std::string_view text, std::string_view caption) {
  platform_.show_message(this, template_.name, text, caption);
}

void QtDialog::end(int result) {
  ended_ = true;
  result_ = result;
  done(result);
}

void QtDialog::command(int id) {
  if (!ended_) controller_.on_command(*this, id);
}

void QtDialog::deliver_scroll(const ScrollEvent& event) {
  if (!ended_) controller_.on_scroll(*this, event);
}

void QtDialog::reject() {
  if (!ended_) controller_.on_command(*this, 2);
}

void QtDialog::closeEvent(QCloseEvent* event) {
  if (!ended_) {
    event->ignore();
    controller_.on_command(*this, 2);
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace varnic::platform
