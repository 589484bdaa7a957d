// SPDX-License-Identifier: BSD-2-Clause
// Windows and their drawing surfaces.
#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QFile>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <map>

namespace varnic::platform {

namespace {

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

}  // namespace

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

Menu* QtPlatform::QtWindow::menu() { return menu_.get(); }

QWidget* QtPlatform::QtWindow::frame_widget() const { return frame_.get(); }
QWidget* QtPlatform::QtWindow::client_widget() const { return client_widget_; }

int QtPlatform::QtWindow::menu_height(int width) const {
  // The bar wraps onto more rows in a narrow window.
  return menu_rows_ ? menu_rows_->height_for_width(std::max(width, menu_rows_->minimum_width())) : 0;
}

QSize QtPlatform::QtWindow::frame_size_for(Size client) const {
  const int least_width = std::max(1, menu_rows_ ? menu_rows_->minimum_width() : 1);
  // Within the screen's work area from the window's corner, or the window system makes the frame
  // (and its backing store) as large as asked, out of sight.
  const QScreen* screen = frame_->screen() != nullptr ? frame_->screen() : QGuiApplication::primaryScreen();
  const QRect work = screen != nullptr ? screen->availableGeometry() : QRect(position_, QSize(client.width, client.height));
  const QSize extra = frame_extra();
  const int room_width = work.x() + work.width() - std::max(position_.x(), work.x()) - extra.width();
  const int room_height = work.y() + work.height() - std::max(position_.y(), work.y()) - extra.height();
  const int width = std::max(std::min(client.width, room_width), least_width);
  const int bar = menu_height(width);
  return QSize(width, std::max(std::min(client.height, room_height - bar), 1) + bar);
}

QSize QtPlatform::QtWindow::shown_client_size(Size client) const {
  const QSize frame = frame_size_for(client);
  return QSize(std::clamp(client.width, 1, frame.width()), std::clamp(client.height, 1, frame.height() - menu_height(frame.width())));
}

QSize QtPlatform::QtWindow::frame_extra() const {
  // Decorations are known once a window manager has framed the window; zero before and without.
  const QRect outer = frame_->frameGeometry();
  const QRect inner = frame_->geometry();
  return QSize(outer.width() - inner.width(), outer.height() - inner.height());
}

void QtPlatform::QtWindow::set_client(Size size) {
  client_ = size;
  // Only what the screen shows is kept: a few bytes per screen pixel, whatever size is asked for.
  backing_ = QImage(shown_client_size(size), QImage::Format_RGB32);
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

}  // namespace varnic::platform
