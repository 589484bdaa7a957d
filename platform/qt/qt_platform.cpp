// SPDX-License-Identifier: BSD-2-Clause
#include "platform/qt/qt_platform.h"

#include "platform/qt/menu_rows.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTextBrowser>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace varnic::platform {

namespace {

// A dialog's text comes back as at most `max_bytes` bytes, never splitting a character.
std::string cut_utf8(const QByteArray& bytes, std::size_t max_bytes) {
  std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), max_bytes);
  if (end < static_cast<std::size_t>(bytes.size())) {
    while (end > 0 && (static_cast<unsigned char>(bytes[static_cast<qsizetype>(end)]) & 0xC0) == 0x80) --end;
  }
  return std::string(bytes.constData(), end);
}

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int follow = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      follow = 1;
      cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
      follow = 2;
      cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
      follow = 3;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (s.size() - i <= static_cast<std::size_t>(follow)) return false;
    for (int k = 1; k <= follow; ++k) {
      const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3Fu);
    }
    // Overlong forms, surrogates and values past the last code point are not UTF-8.
    static constexpr std::uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[follow] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(follow) + 1;
  }
  return true;
}

// The bitmap as a top-down image: 24-bit rows become RGB888, 8-bit rows an indexed image that
// carries the colour table.
QImage top_down_image(const BitmapView& bitmap) {
  const auto stride = static_cast<qsizetype>(bitmap_stride(bitmap.width, bitmap.bits_per_pixel));
  const QImage::Format format = bitmap.bits_per_pixel == 24 ? QImage::Format_BGR888 : QImage::Format_Indexed8;
  QImage wrapped(bitmap.bits.data(), bitmap.width, bitmap.height, stride, format);
  if (bitmap.bits_per_pixel == 8) {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) {
      const std::uint8_t* e = bitmap.colour_table.data() + static_cast<std::size_t>(i) * 4;
      table[i] = qRgb(e[2], e[1], e[0]);
    }
    wrapped.setColorTable(table);
  }
  // Stored bottom-up: the first row in memory is the bottom row. mirrored() copies, so the
  // result no longer points into the program's buffer.
  return wrapped.mirrored(false, true);
}

// Nearest neighbour by deleting or repeating rows and columns: destination pixel (x, y) takes
// source pixel (x * w / width, y * h / height), the rule every backend shares. Only the top-left
// visible_width x visible_height corner of the stretched picture is made.
QImage stretch_image(const QImage& source, int width, int height, int visible_width, int visible_height) {
  const QImage rgb = source.format() == QImage::Format_Indexed8 ? source : source.convertToFormat(QImage::Format_RGB32);
  QImage out(visible_width, visible_height, rgb.format());
  if (rgb.format() == QImage::Format_Indexed8) out.setColorTable(rgb.colorTable());
  std::vector<int> columns(static_cast<std::size_t>(visible_width));
  for (int x = 0; x < visible_width; ++x) {
    columns[static_cast<std::size_t>(x)] = static_cast<int>(static_cast<std::int64_t>(x) * source.width() / width);
  }
  for (int y = 0; y < visible_height; ++y) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(y) * source.height() / height);
    if (rgb.format() == QImage::Format_Indexed8) {
      const uchar* in = rgb.constScanLine(sy);
      uchar* o = out.scanLine(y);
      for (int x = 0; x < visible_width; ++x) o[x] = in[columns[static_cast<std::size_t>(x)]];
    } else {
      const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(sy));
      auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
      for (int x = 0; x < visible_width; ++x) o[x] = in[columns[static_cast<std::size_t>(x)]];
    }
  }
  return out;
}

QApplication* ensure_application() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  static int argc = 1;
  static char name[] = "varnic";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

}  // namespace

int dialog_units_to_x(int units) { return static_cast<int>(std::lround(units * 6 / 4.0)); }
int dialog_units_to_y(int units) { return static_cast<int>(std::lround(units * 13 / 8.0)); }

QString to_qstring(std::string_view bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  return valid_utf8(bytes) ? QString::fromUtf8(bytes.data(), size) : QString::fromLatin1(bytes.data(), size);
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
// Windows.

class QtMenu final : public Menu {
 public:
  // The popups belong to `frame`; the menu bar's rows show their titles.
  QtMenu(QWidget& frame, const MenuTemplate& menu, const std::function<void(int)>& command) : command_(command) {
    for (const auto& popup : menu.popups) {
      popups_.push_back(new QMenu(QString::fromStdString(popup.text), &frame));
      add(popups_.back(), popup.children);
    }
  }
  const std::vector<QMenu*>& popups() const { return popups_; }
  void set_enabled(int command, bool enabled) override {
    if (QAction* a = find(command)) a->setEnabled(enabled);
  }
  bool is_enabled(int command) const override {
    const QAction* a = find(command);
    return a != nullptr && a->isEnabled();
  }
  // An unchecked item is made uncheckable so that no empty check box is drawn beside it.
  void set_checked(int command, bool checked) override {
    if (QAction* a = find(command)) {
      a->setCheckable(checked);
      a->setChecked(checked);
    }
  }
  bool is_checked(int command) const override {
    const QAction* a = find(command);
    return a != nullptr && a->isChecked();
  }
  QAction* find(int command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
  }

 private:
  void add(QMenu* menu, const std::vector<MenuItemTemplate>& items) {
    for (const auto& item : items) {
      if (!item.children.empty() || item.command < 0) {
        add(menu->addMenu(QString::fromStdString(item.text)), item.children);
        continue;
      }
      QAction* action = menu->addAction(QString::fromStdString(item.text));
      action->setData(item.command);
      action->setEnabled(!item.greyed);
      action->setCheckable(item.checked);
      action->setChecked(item.checked);
      const int id = item.command;
      QObject::connect(action, &QAction::triggered, action, [this, action, id] {
        // Qt flips a checkable item by itself; check marks belong to the program.
        const bool was = !action->isChecked();
        action->setChecked(was);
        command_(id);
      });
      actions_[id] = action;
    }
  }
  std::function<void(int)> command_;
  std::map<int, QAction*> actions_;
  std::vector<QMenu*> popups_;
};

class QtPlatform::QtWindow final : public Window {
 public:
  static constexpr std::size_t kAskedRemembered = 4;

  class FrameWidget;
  class ClientWidget;

  QtWindow(QtPlatform& platform, const WindowSpec& request, WindowHandler& handler);
  ~QtWindow() override;

  void set_title(std::string_view title) override;
  std::string title() const override { return title_; }
  Rect outer_rect() const override;
  Size client_size() const override { return client_; }
  void move(int x, int y, int width, int height, bool repaint) override;
  void show() override;
  void hide() override;
  bool is_visible() const override;
  void invalidate(bool erase) override;
  void draw_now(const std::function<void(Surface&)>& draw) override;
  void set_capture() override;
  Menu* menu() override { return menu_.get(); }
  void destroy() override;
  bool is_destroyed() const override { return destroyed_; }

  QWidget* frame_widget() const;
  QWidget* client_widget() const;
  bool has_menu() const { return menu_ != nullptr; }
  // Renders a pending paint into the backing image; true when one was rendered.
  bool render_if_needed();
  const QImage& backing() const { return backing_; }
  void layout_children(int frame_width, int frame_height);
  void frame_resized(QSize size);
  void frame_moved();
  void close_requested() {
    if (!destroyed_) handler_.on_close();
  }
  void mouse_pressed() {
    if (!destroyed_) handler_.on_mouse_button();
  }
  void activated() {
    if (!destroyed_) handler_.on_focus();
  }
  QtPlatform& platform() { return platform_; }
  // Inside draw_now(): the client widget shows the backing image as it stands.
  bool presenting() const { return presenting_; }
  void note_frame(bool immediate) const;

 private:
  int menu_height(int width) const;
  // The frame on screen for a client size: never below a pixel of client area or the width the
  // menu's titles need, which the window system would otherwise unmap or fold away.
  QSize frame_size_for(Size client) const;
  QSize frame_extra() const;
  void set_client(Size size);

  QtPlatform& platform_;
  WindowHandler& handler_;
  std::string title_;
  std::unique_ptr<FrameWidget> frame_;
  ClientWidget* client_widget_ = nullptr;
  std::unique_ptr<MenuRows> menu_rows_;
  std::unique_ptr<QtMenu> menu_;
  QPoint position_;
  Size client_;
  // Frame sizes the program asked for lately: the window system confirms each, perhaps late
  // and after a newer one, and a confirmation is no size change of the user's.
  std::deque<QSize> asked_;
  QImage backing_;
  bool dirty_ = true;
  bool erase_ = true;
  bool sized_ = false;
  bool destroyed_ = false;
  bool presenting_ = false;
};

class QtPlatform::QtWindow::FrameWidget final : public QWidget {
 public:
  explicit FrameWidget(QtWindow& window) : window_(window) {}

 protected:
  void resizeEvent(QResizeEvent* event) override { window_.frame_resized(event->size()); }
  void moveEvent(QMoveEvent*) override { window_.frame_moved(); }
  void closeEvent(QCloseEvent* event) override {
    // The program decides: the window goes only when the handler destroys it.
    event->ignore();
    window_.close_requested();
  }
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) window_.activated();
    QWidget::changeEvent(event);
  }
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (window_.has_menu() && event->mimeData()->hasUrls()) event->acceptProposedAction();
  }
  void dropEvent(QDropEvent* event) override {
    if (!window_.has_menu()) return;
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    for (const QUrl& url : urls) {
      if (url.isLocalFile()) window_.platform().request_open(QFile::encodeName(url.toLocalFile()).toStdString());
    }
  }

 private:
  QtWindow& window_;
};

class QtPlatform::QtWindow::ClientWidget final : public QWidget {
 public:
  ClientWidget(QtWindow& window, QWidget* parent) : QWidget(parent), window_(window) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!window_.presenting()) window_.render_if_needed();
    {
      QPainter painter(this);
      // Whatever the backing image does not cover (a size not yet confirmed, the least size on
      // screen) stays white.
      painter.fillRect(rect(), Qt::white);
      painter.drawImage(QPoint(0, 0), window_.backing());
    }
    if (!window_.presenting()) window_.note_frame(false);
  }
  void mousePressEvent(QMouseEvent*) override { window_.mouse_pressed(); }

 private:
  QtWindow& window_;
};

QtPlatform::QtWindow::QtWindow(QtPlatform& platform, const WindowSpec& request, WindowHandler& handler)
    : platform_(platform), handler_(handler), title_(request.title) {
  frame_ = std::make_unique<FrameWidget>(*this);
  frame_->setWindowTitle(to_qstring(request.title));
  frame_->setAttribute(Qt::WA_DeleteOnClose, false);
  if (request.menu != nullptr) {
    menu_ = std::make_unique<QtMenu>(*frame_, *request.menu, [this](int command) {
      if (!destroyed_) handler_.on_command(command);
    });
    menu_rows_ = std::make_unique<MenuRows>(*frame_, menu_->popups());
    // The user cannot fold the menu away either.
    frame_->setMinimumWidth(menu_rows_->minimum_width());
    frame_->setAcceptDrops(true);
  }
  client_widget_ = new ClientWidget(*this, frame_.get());
  position_ = QPoint(request.x, request.y);
  const int width = std::max(request.width, 0);
  const int client_height = std::max(request.height - menu_height(width), 0);
  client_ = Size{width, client_height};
  set_client(client_);
  frame_->move(position_);
  const QSize frame_size = frame_size_for(client_);
  asked_.push_back(frame_size);
  frame_->resize(frame_size);
  layout_children(frame_size.width(), frame_size.height());
  if (request.visible) show();
}

QtPlatform::QtWindow::~QtWindow() = default;

QWidget* QtPlatform::QtWindow::frame_widget() const { return frame_.get(); }
QWidget* QtPlatform::QtWindow::client_widget() const { return client_widget_; }

int QtPlatform::QtWindow::menu_height(int width) const {
  // The bar wraps onto more rows in a narrow window.
  return menu_rows_ ? menu_rows_->height_for_width(std::max(width, menu_rows_->minimum_width())) : 0;
}

QSize QtPlatform::QtWindow::frame_size_for(Size client) const {
  const int width = std::max({client.width, 1, menu_rows_ ? menu_rows_->minimum_width() : 1});
  return QSize(width, std::max(client.height, 1) + menu_height(width));
}

QSize QtPlatform::QtWindow::frame_extra() const {
  // Decorations are known once a window manager has framed the window; zero before and without.
  const QRect outer = frame_->frameGeometry();
  const QRect inner = frame_->geometry();
  return QSize(outer.width() - inner.width(), outer.height() - inner.height());
}

void QtPlatform::QtWindow::set_client(Size size) {
  client_ = size;
  backing_ = QImage(std::max(size.width, 1), std::max(size.height, 1), QImage::Format_RGB32);
  backing_.fill(Qt::white);
  dirty_ = erase_ = true;
}

void QtPlatform::QtWindow::set_title(std::string_view title) {
  title_ = std::string(title);
  frame_->setWindowTitle(to_qstring(title));
}

Rect QtPlatform::QtWindow::outer_rect() const {
  const QSize extra = frame_extra();
  return Rect{position_.x(), position_.y(), client_.width + extra.width(),
              client_.height + menu_height(client_.width) + extra.height()};
}

void QtPlatform::QtWindow::move(int x, int y, int width, int height, bool repaint) {
  if (destroyed_) return;
  const QSize extra = frame_extra();
  const int client_width = std::max(width - extra.width(), 0);
  // The caller sized the frame with the menu rows it saw in outer_rect(); the rows the new width
  // needs are the frame's business, so that the client area gets the height asked for.
  const Size wanted{client_width, std::max(height - extra.height() - menu_height(client_.width), 0)};
  position_ = QPoint(x, y);
  frame_->move(position_);
  const bool changed = wanted != client_;
  if (changed) {
    set_client(wanted);
    const QSize frame_size = frame_size_for(wanted);
    asked_.push_back(frame_size);
    if (asked_.size() > kAskedRemembered) asked_.pop_front();
    frame_->resize(frame_size);
    layout_children(frame_size.width(), frame_size.height());
    handler_.on_size(wanted.width, wanted.height);
  }
  if (repaint) invalidate(true);
}

void QtPlatform::QtWindow::layout_children(int frame_width, int frame_height) {
  const int bar = menu_height(frame_width);
  if (menu_rows_) menu_rows_->lay_out(frame_width);
  client_widget_->setGeometry(0, bar, frame_width, std::max(frame_height - bar, 0));
}

void QtPlatform::QtWindow::frame_resized(QSize size) {
  layout_children(size.width(), size.height());
  if (destroyed_) return;
  if (std::find(asked_.begin(), asked_.end(), size) != asked_.end()) return;
  const Size client{size.width(), std::max(size.height() - menu_height(size.width()), 0)};
  if (client == client_) return;
  // Anything else is the user's (or the window manager's) doing.
  asked_.clear();
  set_client(client);
  if (sized_) handler_.on_size(client.width, client.height);
  client_widget_->update();
}

void QtPlatform::QtWindow::frame_moved() { position_ = frame_->frameGeometry().topLeft(); }

void QtPlatform::QtWindow::show() {
  if (destroyed_) return;
  frame_->show();
  if (!sized_) {
    sized_ = true;
    handler_.on_size(client_.width, client_.height);
  }
  invalidate(true);
}

void QtPlatform::QtWindow::hide() { frame_->hide(); }

bool QtPlatform::QtWindow::is_visible() const { return !destroyed_ && frame_->isVisible(); }

void QtPlatform::QtWindow::invalidate(bool erase) {
  dirty_ = true;
  erase_ = erase_ || erase;
  client_widget_->update();
}

namespace {

class QtSurface final : public Surface {
 public:
  QtSurface(QtPlatform& platform, QImage& target, const std::string& window, bool immediate)
      : platform_(platform), painter_(&target), window_(window), immediate_(immediate) {}

  void draw_bitmap(const BitmapView& bitmap, int x, int y) override {
    if (!bitmap_is_complete(bitmap)) return;
    painter_.drawImage(QPoint(x, y), top_down_image(bitmap));
    record(DrawRecord::Operation::kBitmap, bitmap, x, y, bitmap.width, bitmap.height);
  }
  void stretch_bitmap(const BitmapView& bitmap, int width, int height) override {
    if (!bitmap_is_complete(bitmap) || width <= 0 || height <= 0) return;
    // Only what lands inside the target is made; sizes reach 65535 on both sides.
    const QImage source = top_down_image(bitmap);
    const int w = std::min(width, painter_.device()->width());
    const int h = std::min(height, painter_.device()->height());
    if (w > 0 && h > 0) painter_.drawImage(QPoint(0, 0), stretch_image(source, width, height, w, h));
    record(DrawRecord::Operation::kStretch, bitmap, 0, 0, width, height);
  }
  void draw_text(int x, int y, std::string_view text) override {
    painter_.setPen(Qt::black);
    painter_.setBackground(Qt::white);
    painter_.setBackgroundMode(Qt::OpaqueMode);
    painter_.setFont(QApplication::font());
    const QString s = to_qstring(text);
    const QFontMetrics metrics(painter_.font());
    painter_.drawText(QRect(x, y, metrics.horizontalAdvance(s) + 1, metrics.height()), Qt::AlignLeft | Qt::AlignTop, s);
    platform_.note_draw(base(DrawRecord::Operation::kText).text_at(x, y, text));
  }
  // True-colour screens need no palette: 8-bit pictures carry their colour table into the
  // indexed image they are drawn as.
  void realise_palette(std::span<const std::uint8_t> colour_table) override {
    platform_.note_draw(base(DrawRecord::Operation::kPalette).colours(colour_table));
  }

 private:
  DrawRecord base(DrawRecord::Operation operation) const { return DrawRecord::of(operation, window_, immediate_); }
  void record(DrawRecord::Operation operation, const BitmapView& bitmap, int x, int y, int width, int height) {
    platform_.note_draw(base(operation).place(bitmap, x, y, width, height));
  }
  QtPlatform& platform_;
  QPainter painter_;
  std::string window_;
  bool immediate_;
};

}  // namespace

bool QtPlatform::QtWindow::render_if_needed() {
  if (!dirty_ || destroyed_ || !frame_->isVisible()) return false;
  if (erase_) backing_.fill(Qt::white);
  dirty_ = erase_ = false;
  if (client_.width > 0 && client_.height > 0) {
    QtSurface surface(platform_, backing_, title_, false);
    handler_.on_paint(surface);
  }
  return true;
}

void QtPlatform::QtWindow::draw_now(const std::function<void(Surface&)>& draw) {
  if (destroyed_) return;
  {
    QtSurface surface(platform_, backing_, title_, true);
    draw(surface);
  }
  // On the screen at once, for the work that follows keeps the event loop from painting: a
  // forced repaint, which the backing store flushes to the window system. A pending paint is not
  // rendered on the way; it would cover the drawing with a picture not yet finished.
  if (client_widget_->isVisible()) {
    presenting_ = true;
    client_widget_->repaint();
    presenting_ = false;
    note_frame(true);
  }
}

void QtPlatform::QtWindow::note_frame(bool immediate) const {
  if (!platform_.records_frames()) return;
  QImage shown(client_widget_->size(), QImage::Format_RGB32);
  shown.fill(Qt::white);
  QPainter(&shown).drawImage(QPoint(0, 0), backing_);
  platform_.note_frame(title_, immediate, shown);
}

void QtPlatform::QtWindow::set_capture() {
  if (!destroyed_ && client_widget_->isVisible()) client_widget_->grabMouse();
}

void QtPlatform::QtWindow::destroy() {
  if (destroyed_) return;
  if (QWidget::mouseGrabber() == client_widget_) client_widget_->releaseMouse();
  destroyed_ = true;
  frame_->hide();
}

// ---------------------------------------------------------------------------------------------
// Dialogs.

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
  return cut_utf8(s.toUtf8(), max_bytes);
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
  if (!preset_answers_.empty()) {
    path = QFile::decodeName(QByteArray::fromStdString(preset_answers_.front()));
    preset_answers_.pop_front();
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
  if (quit_code_) return *quit_code_;
  return QApplication::exec();
}

void QtPlatform::quit(int code) {
  quit_code_ = code;
  QCoreApplication::exit(code);
}

void QtPlatform::request_open(const std::string& path) {
  if (open_request_) open_request_(path);
}

}  // namespace varnic::platform
