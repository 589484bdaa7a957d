// SPDX-License-Identifier: BSD-2-Clause
#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTreeView>
#include <algorithm>

#include "platform/qt/qt_window.h"
#include "varnic/rules.h"

namespace varnic::platform {

namespace {

// What a window frame's title bar holds beside its text: icon, minimise, maximise and close
// buttons, at the sizes common window managers draw them at 96 dpi.
constexpr int kTitleButtonsWidth = 140;
// The file dialogs open this wide at least: a name column beside size, type and date columns.
constexpr int kFileDialogWidth = 720;


QApplication* ensure_application() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  static int argc = 1;
  static char name[] = "varnic";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

}  // namespace

QString to_qstring(std::string_view bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  return varnic::is_utf8(bytes) ? QString::fromUtf8(bytes.data(), size) : QString::fromLatin1(bytes.data(), size);
}

QString file_filter(const FileChooserSpec& request) {
  const QString label = QString::fromStdString(request.label).trimmed();
  const QString pattern = QString::fromStdString(request.pattern);
  // Qt reads the patterns from the parentheses at the end of a filter; a label that carries its
  // own pattern there is shown as it is.
  if (label.endsWith("(" + pattern + ")")) return label;
  return label + " (" + pattern + ")";
}

// ---------------------------------------------------------------------------------------------
// The platform.

QtPlatform::QtPlatform() {
  QApplication* app = ensure_application();
  // The program ends through quit(), not when its last window closes.
  app->setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(program_icon());
}

QtPlatform::~QtPlatform() {
  if (cursor_ == Cursor::kWait) QApplication::restoreOverrideCursor();
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

int QtPlatform::screen_depth() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->depth() : 24;
}

Window& QtPlatform::create_window(const WindowSpec& request, WindowHandler& handler) {
  windows_.push_back(std::make_unique<QtWindow>(*this, request, handler));
  return *windows_.back();
}

QWidget* QtPlatform::main_widget() const {
  for (const auto& w : windows_) {
    if (w->has_menu() && !w->is_destroyed()) return w->frame_widget();
  }
  return nullptr;
}

QWidget* QtPlatform::top_level(Window& window) { return static_cast<QtWindow&>(window).frame_widget(); }
QWidget* QtPlatform::client_widget(Window& window) { return static_cast<QtWindow&>(window).client_widget(); }

int QtPlatform::run_dialog(const DialogTemplate& dialog, DialogController& controller) {
  QtDialog box(*this, dialog, controller, main_widget());
  controller.on_init(box);
  exec_dialog(box);
  return box.result_code();
}

void QtPlatform::exec_dialog(QtDialog& dialog) {
  // A window-manager close that the program refuses leaves the dialog open: run until ended.
  while (!dialog.ended()) dialog.exec();
}

void QtPlatform::show_message(QWidget* owner, const std::string& owner_name, std::string_view text, std::string_view caption) {
  QMessageBox box(QMessageBox::NoIcon, to_qstring(caption), to_qstring(text), QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  // At least as wide as its caption, which the file messages give the reason while the box's
  // text is the path: window managers cut a caption to its window's width. Titles are mostly
  // drawn bold; the allowance is for the frame's buttons.
  QFont title_font = box.font();
  title_font.setBold(true);
  const int title_width = QFontMetrics(title_font).horizontalAdvance(box.windowTitle()) + kTitleButtonsWidth;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(title_width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  exec_message_box(box, owner_name);
}

void QtPlatform::message_box(std::string_view text, std::string_view caption) {
  show_message(main_widget(), "", text, caption);
}

void QtPlatform::exec_message_box(QMessageBox& box, const std::string& owner) {
  (void)owner;
  box.exec();
}

std::unique_ptr<QFileDialog> QtPlatform::make_file_dialog(const FileChooserSpec& request, bool save) const {
  auto dialog = std::make_unique<QFileDialog>(main_widget());
  // Qt's own dialog gives its size and date columns a fixed width that cuts "768 KiB" and dates
  // short: they take the width of what they show, and the names the rest.
  if (auto* view = dialog->findChild<QTreeView*>()) {
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    dialog->resize(std::max(dialog->width(), kFileDialogWidth), dialog->height());
  }
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(request.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog->setNameFilter(file_filter(request));
  dialog->setDefaultSuffix(QString::fromStdString(request.default_extension));
  dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.confirm_overwrite);
  // Where the last file was opened or saved, as the system's own dialogs remember it.
  if (!last_folder_.isEmpty()) dialog->setDirectory(last_folder_);
  return dialog;
}

bool QtPlatform::exec_file_dialog(QFileDialog& dialog, const FileChooserSpec& request) {
  (void)request;
  return dialog.exec() == QDialog::Accepted;
}

std::optional<FileChoice> QtPlatform::choose_file(const FileChooserSpec& request, bool save) {
  QString path;
  if (const std::optional<std::string> preset = take_preset_answer()) {
    path = QFile::decodeName(QByteArray::fromStdString(*preset));
  } else {
    std::unique_ptr<QFileDialog> dialog = make_file_dialog(request, save);
    if (!exec_file_dialog(*dialog, request)) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    path = chosen.front();
  }
  last_folder_ = QFileInfo(path).absolutePath();
  FileChoice choice;
  choice.path = QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString();
  choice.title = QFile::encodeName(QFileInfo(path).fileName()).toStdString();
  return choice;
}

std::optional<FileChoice> QtPlatform::choose_open_file(const FileChooserSpec& request) { return choose_file(request, false); }
std::optional<FileChoice> QtPlatform::choose_save_file(const FileChooserSpec& request) { return choose_file(request, true); }

Cursor QtPlatform::set_cursor(Cursor cursor) {
  const Cursor previous = cursor_;
  if (cursor != previous) {
    if (previous == Cursor::kWait) QApplication::restoreOverrideCursor();
    if (cursor == Cursor::kWait) QApplication::setOverrideCursor(Qt::WaitCursor);
    cursor_ = cursor;
  }
  return previous;
}

void QtPlatform::release_capture() {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

utils::ClockReading QtPlatform::now() const {
  const qint64 ms = QDateTime::currentMSecsSinceEpoch();
  return utils::ClockReading{static_cast<std::uint32_t>(ms / 1000), static_cast<std::uint16_t>(ms % 1000)};
}

namespace {

// The help text flows with the window's width. Escape closes the viewer; Page Up/Down and
// Ctrl+Home/End scroll it, which a read-only text browser leaves to a text cursor it lacks.
class HelpViewer final : public QTextBrowser {
 protected:
  void keyPressEvent(QKeyEvent* event) override {
    QScrollBar* bar = verticalScrollBar();
    const bool control = event->modifiers() == Qt::ControlModifier;
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
      close();
    } else if (event->key() == Qt::Key_PageUp) {
      bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    } else if (event->key() == Qt::Key_PageDown) {
      bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    } else if (control && event->key() == Qt::Key_Home) {
      bar->triggerAction(QAbstractSlider::SliderToMinimum);
    } else if (control && event->key() == Qt::Key_End) {
      bar->triggerAction(QAbstractSlider::SliderToMaximum);
    } else {
      QTextBrowser::keyPressEvent(event);
    }
  }
};

}  // namespace

void QtPlatform::show_help(std::string_view title, std::string_view text) {
  if (!help_) {
    help_ = std::make_unique<HelpViewer>();
    help_->setLineWrapMode(QTextEdit::WidgetWidth);
    help_->resize(520, 440);
  }
  help_->setWindowTitle(to_qstring(title));
  help_->setPlainText(to_qstring(text));
  help_->show();
  help_->raise();
  help_->activateWindow();
  help_->setFocus();
}

void QtPlatform::process_paints() {
  // A paint handler may invalidate again; a bounded number of rounds keeps a faulty one from
  // spinning forever.
  for (int round = 0; round < 8; ++round) {
    bool painted = false;
    for (auto& window : windows_) {
      if (window->render_if_needed()) {
        painted = true;
        window->client_widget()->update();
      }
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!painted) return;
  }
}

int QtPlatform::run() {
  if (quit_code()) return *quit_code();
  return QApplication::exec();
}

void QtPlatform::end_event_loop(int code) { QCoreApplication::exit(code); }

}  // namespace varnic::platform

