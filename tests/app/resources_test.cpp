// SPDX-License-Identifier: BSD-2-Clause
// The dialog templates, the command table and the help text as data.
#include <gtest/gtest.h>

#include <set>

#include "app/command_table.h"
#include "resources/resources.h"

namespace varnic::resources {
namespace {

// A drop-down combo box's template height includes its open list; closed it is one line.
constexpr int kClosedComboHeight = 12;

TEST(ResourcesTest, VisibleControlsFitTheirDialogWithUniqueIdsAndDoNotOverlap) {
  for (const DialogId id : kAllDialogs) {
    const platform::DialogTemplate& d = dialog(id);
    SCOPED_TRACE(d.name);
    std::set<int> ids;
    std::vector<platform::ControlTemplate> visible;
    for (const auto& c : d.controls) {
      EXPECT_TRUE(c.id < 0 || ids.insert(c.id).second) << "duplicate id " << c.id;
      EXPECT_TRUE(c.x >= 0 && c.y >= 0 && c.x + c.width <= d.width && c.y + c.height <= d.height) << c.text << c.id;
      if (!c.visible) continue;
      visible.push_back(c);
      if (c.kind == platform::ControlKind::kComboBox) visible.back().height = kClosedComboHeight;
    }
    for (std::size_t i = 0; i < visible.size(); ++i) {
      for (std::size_t j = i + 1; j < visible.size(); ++j) {
        const auto& a = visible[i];
        const auto& b = visible[j];
        EXPECT_TRUE(a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y || b.y + b.height <= a.y)
            << "'" << a.text << "' (" << a.id << ") covers '" << b.text << "' (" << b.id << ")";
      }
    }
  }
}

TEST(ResourcesTest, EveryCommandHasOneRowAndFunction) {
  std::set<int> numbers;
  for (const app::CommandRow& row : app::command_table()) {
    EXPECT_TRUE(numbers.insert(row.number).second) << row.number;
    EXPECT_NE(row.run, nullptr) << row.number;
  }
  EXPECT_EQ(app::find_command(app::kCmdDecode)->menu, nullptr);  // sent by the window to itself
}

// The viewer wraps the text to its width: a paragraph broken by hand leaves lone words on lines.
TEST(ResourcesTest, HelpParagraphsAreSingleLinesThatTheViewerWraps) {
  const std::string_view text = help_text();
  ASSERT_GT(text.size(), 500u);
  for (std::size_t start = text.find('\n') + 1, end; start < text.size(); start = end + 1) {  // after the title
    end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    const bool heading = line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ ") == std::string_view::npos;
    EXPECT_TRUE(heading || std::string_view(".:)").find(line.back()) != std::string_view::npos) << line;
  }
}

}  // namespace
}  // namespace varnic::resources
