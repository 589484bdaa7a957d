// SPDX-License-Identifier: BSD-2-Clause
#include "platform/qt/menu_rows.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

namespace varnic::platform {

namespace {

// Wide enough for any menu bar's titles on one row, so that the probe reports their own widths.
constexpr int kProbeWidth = 4000;

QMenuBar* new_bar(QWidget& frame) {
  auto* bar = new QMenuBar(&frame);
  // A menu bar of its own in the window, as the program's frame sizes assume, never the
  // desktop's global one.
  bar->setNativeMenuBar(false);
  return bar;
}

}  // namespace

MenuRows::MenuRows(QWidget& frame, const std::vector<QMenu*>& popups) : frame_(frame) {
  for (QMenu* popup : popups) titles_.push_back(popup->menuAction());
  // The titles' widths as a menu bar of this frame's style and font lays them out on one row.
  QMenuBar* probe = new_bar(frame_);
  probe->resize(kProbeWidth, probe->sizeHint().height());
  for (QAction* title : titles_) probe->addAction(title);
  row_height_ = probe->sizeHint().height();
  for (QAction* title : titles_) widths_.push_back(probe->actionGeometry(title).width());
  if (!titles_.empty()) {
    const QRect first = probe->actionGeometry(titles_.front());
    margin_ = first.left();
    if (titles_.size() > 1) spacing_ = probe->actionGeometry(titles_[1]).left() - first.right() - 1;
  }
  const int widest = widths_.empty() ? 0 : *std::max_element(widths_.begin(), widths_.end());
  minimum_width_ = std::max(widest + 2 * margin_, 1);
  delete probe;
  bars_.push_back(new_bar(frame_));
  lay_out(frame_.width());
}

std::vector<std::vector<int>> MenuRows::rows_for(int width) const {
  std::vector<std::vector<int>> rows(1);
  int used = margin_;
  for (int i = 0; i < static_cast<int>(titles_.size()); ++i) {
    const int need = (rows.back().empty() ? 0 : spacing_) + widths_[static_cast<std::size_t>(i)];
    if (!rows.back().empty() && used + need + margin_ > width) {
      rows.emplace_back();
      used = margin_;
      used += widths_[static_cast<std::size_t>(i)];
    } else {
      used += need;
    }
    rows.back().push_back(i);
  }
  return rows;
}

int MenuRows::height_for_width(int width) const {
  return static_cast<int>(rows_for(width).size()) * row_height_;
}

void MenuRows::lay_out(int width) {
  const std::vector<std::vector<int>> rows = rows_for(width);
  while (bars_.size() > rows.size()) {
    delete bars_.back();
    bars_.pop_back();
  }
  while (bars_.size() < rows.size()) bars_.push_back(new_bar(frame_));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    QMenuBar* bar = bars_[r];
    QList<QAction*> wanted;
    for (int i : rows[r]) wanted.push_back(titles_[static_cast<std::size_t>(i)]);
    if (bar->actions() != wanted) {
      for (QAction* a : bar->actions()) bar->removeAction(a);
      bar->addActions(wanted);
    }
    bar->setGeometry(0, static_cast<int>(r) * row_height_, width, row_height_);
    bar->show();
  }
}

}  // namespace varnic::platform
