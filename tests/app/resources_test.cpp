// The dialog templates and the menu as data: visible controls fit inside their dialog without
// covering one another, and every menu command is there once.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "app/command_table.h"
#include "resources/resources.h"

namespace varnic::resources {
namespace {

// A drop-down combo box's template height includes its open list; closed it is one line.
constexpr int kClosedComboHeight = 12;

TEST(ResourcesTest, VisibleControlsFitTheirDialogAndDoNotOverlap) {
  for (const DialogId id : kAllDialogs) {
    const platform::DialogTemplate& d = dialog(id);
    SCOPED_TRACE(d.name);
    std::set<int> ids;
    std::vector<const platform::ControlTemplate*> visible;
    for (const auto& c : d.controls) {
      if (c.id >= 0) {
        EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
      }
      EXPECT_GE(c.x, 0);
      EXPECT_GE(c.y, 0);
      EXPECT_LE(c.x + c.width, d.width) << c.text << " " << c.id;
      EXPECT_LE(c.y + c.height, d.height) << c.text << " " << c.id;
      if (c.visible) visible.push_back(&c);
    }
    for (std::size_t i = 0; i < visible.size(); ++i) {
      for (std::size_t j = i + 1; j < visible.size(); ++j) {
        const auto& a = *visible[i];
        const auto& b = *visible[j];
        const int ah = a.kind == platform::ControlKind::kComboBox ? kClosedComboHeight : a.height;
        const int bh = b.kind == platform::ControlKind::kComboBox ? kClosedComboHeight : b.height;
        const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + ah <= b.y || b.y + bh <= a.y;
        EXPECT_TRUE(apart) << "'" << a.text << "' (" << a.id << ") covers '" << b.text << "' (" << b.id << ")";
      }
    }
  }
}

TEST(ResourcesTest, MenuCommandsAreUniqueAndHelpIsShipped) {
  std::set<int> commands;
  std::function<void(const platform::MenuItemTemplate&)> walk = [&](const platform::MenuItemTemplate& item) {
    if (item.command >= 0) {
      EXPECT_TRUE(commands.insert(item.command).second) << item.text;
    }
    for (const auto& child : item.children) walk(child);
  };
  for (const auto& popup : app::main_menu().popups) walk(popup);
  EXPECT_EQ(commands.size(), 23u);
  EXPECT_EQ(commands.count(app::kCmdDecode), 0u);  // sent by the window to itself, never a menu item
  EXPECT_GT(help_text().size(), 500u);
}

// The viewer wraps the text to its width: a paragraph broken by hand leaves lone words on lines.
TEST(ResourcesTest, HelpParagraphsAreSingleLinesThatTheViewerWraps) {
  const std::string_view text = help_text();
  std::size_t start = text.find('\n') + 1;  // the title line
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    const bool heading = !line.empty() && line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ ") == std::string_view::npos;
    if (!line.empty() && !heading) {
      EXPECT_NE(std::string_view(".:)").find(line.back()), std::string_view::npos) << line;
    }
    start = end + 1;
  }
}

}  // namespace
}  // namespace varnic::resources
