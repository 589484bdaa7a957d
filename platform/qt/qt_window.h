// SPDX-License-Identifier: BSD-2-Clause
// The Qt backend's windows inside the backend: a top-level frame with the menu rows and a client
// widget that shows a backing image the program paints into.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <deque>
#include <memory>
#include <string>

#include "platform/qt/menu_rows.h"
#include "platform/qt/qt_platform.h"

namespace varnic::platform {

class QtMenu;

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
  Menu* menu() override;
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
  // menu's titles need, which the window system would otherwise unmap or fold away, and never
  // beyond the screen's work area.
  QSize frame_size_for(Size client) const;
  // The part of a client area of that size the frame shows, at least a pixel.
  QSize shown_client_size(Size client) const;
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


}  // namespace varnic::platform
