// SPDX-License-Identifier: BSD-2-Clause
// The menu bar of a Qt window as a Windows menu bar behaves: the popups' titles flow onto as many
// rows as the window's width needs, so that a narrow window (a small picture) still shows every
// title. A single QMenuBar would fold the titles that do not fit into a "»" button instead, so
// each row is a QMenuBar of its own holding the titles that fit on it.
#pragma once

#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace varnic::platform {

class MenuRows {
 public:
  // The rows live in `frame`, at its top; `popups` are the menus in menu-bar order.
  MenuRows(QWidget& frame, const std::vector<QMenu*>& popups);

  // Height of the rows at a frame width.
  int height_for_width(int width) const;
  // The narrowest frame on which every title is whole.
  int minimum_width() const { return minimum_width_; }
  // Gives the rows to a frame of this width.
  void lay_out(int width);
  const std::vector<QMenuBar*>& bars() const { return bars_; }

 private:
  // The titles of each row, by index, at a frame width.
  std::vector<std::vector<int>> rows_for(int width) const;

  QWidget& frame_;
  std::vector<QAction*> titles_;
  std::vector<int> widths_;  // each title's own width, pixels
  int spacing_ = 0;          // between two titles of a row
  int margin_ = 0;           // before the first title of a row, and after the last
  int row_height_ = 0;
  int minimum_width_ = 1;
  std::vector<QMenuBar*> bars_;  // one per row in use; the first always exists
};

}  // namespace varnic::platform
