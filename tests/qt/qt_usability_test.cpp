// What only the real widgets show about living with the program: the menu bar wraps and the
// window never vanishes, every dialog can be worked from the keyboard, the help viewer scrolls and
// closes by its keys, text fits or is elided, the icon and the file dialogs' starting folder.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <set>

#include "qt_factory.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
namespace id = resources::control;
using platform::DialogStep;
using platform::QtDialog;
using platform::QtPlatform;

ScriptedQtPlatform& qt(Program& program) { return static_cast<ScriptedQtPlatform&>(program.platform()); }

template <typename T>
T* control(QtDialog& dialog, int control_id) {
  return qobject_cast<T*>(dialog.control(control_id));
}

// Keys reach the focused control, and shortcuts fire, only in the active window.
void activate(QWidget& window) {
  window.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&window, 2000));
}

// Every popup title lies whole on a visible row of the window's menu bar; returns the rows.
int rows_showing_every_title(QWidget* top) {
  std::set<QString> titles;
  int rows = 0;
  for (QMenuBar* bar : top->findChildren<QMenuBar*>()) {
    if (!bar->isVisibleTo(top)) continue;
    ++rows;
    EXPECT_TRUE(top->rect().contains(bar->geometry()));
    if (auto* more = bar->findChild<QToolButton*>()) {
      EXPECT_FALSE(more->isVisibleTo(top));
    }
    for (QAction* title : bar->actions()) {
      const QRect r = bar->actionGeometry(title);
      EXPECT_TRUE(!r.isEmpty() && bar->rect().contains(r)) << title->text().toStdString();
      titles.insert(title->text());
    }
  }
  EXPECT_EQ(titles, (std::set<QString>{"&File", "&Display", "&Options", "&Help"}));
  return rows;
}

TEST(QtMenuRows, NarrowWindowsWrapTheTitlesAndNoSizeMakesTheWindowVanish) {
  Pictures files;
  Program program(qt_factory());
  QWidget* top = QtPlatform::top_level(program.app().main_window());
  QWidget* client = QtPlatform::client_widget(program.app().main_window());
  EXPECT_EQ(rows_showing_every_title(top), 1);
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("small.bmp", Pictures::colour(50, 40)));
  EXPECT_GE(rows_showing_every_title(top), 2);
  EXPECT_EQ(client->height(), 40);  // the rows come on top of the picture, not out of it
  EXPECT_EQ(program.app().main_window().client_size(), (platform::Size{50, 40}));

  program.dialog("RESIZE", {DialogStep::set_text(id::kResizeWidth, "0"), DialogStep::set_text(id::kResizeHeight, "0"),
                            DialogStep::press(id::kOk)});
  program.command(cmd::kCmdResize);
  EXPECT_FALSE(top->testAttribute(Qt::WA_OutsideWSRange));  // Qt unmaps a window of no size
  EXPECT_GE(client->width(), 1);
  EXPECT_GE(client->height(), 1);
  rows_showing_every_title(top);
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(client->height(), 40);
}

TEST(QtDialogKeys, TabLeavesMultiLineFieldsReturnPressesTheFocusedButtonCtrlReturnTheDefault) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  qt(program).set_dialog_driver([&](QtDialog& d) {
    activate(d);
    auto* edit = control<QPlainTextEdit>(d, id::kCommentText);
    edit->setFocus();
    QTest::keyClicks(edit, "one");
    QTest::keyClick(edit, Qt::Key_Return);  // a comment may have lines
    QTest::keyClicks(edit, "two");
    QTest::keyClick(edit, Qt::Key_Tab);
    ASSERT_EQ(d.focusWidget(), d.control(id::kOk));
    QTest::keyClick(d.focusWidget(), Qt::Key_Return);
  });
  program.command(cmd::kCmdComments);
  EXPECT_EQ(program.state().comment, "one\ntwo");

  qt(program).set_dialog_driver([&](QtDialog& d) {
    activate(d);
    auto* edit = control<QPlainTextEdit>(d, id::kCommentText);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "three");
    QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
  });
  program.command(cmd::kCmdComments);
  EXPECT_EQ(program.state().comment, "three");

  // Master Setup's thresholds: Tab goes on without a tab character, Escape cancels.
  const auto thresholds = program.params().threshold_vector;
  qt(program).set_dialog_driver([&](QtDialog& d) {
    activate(d);
    auto* edit = control<QPlainTextEdit>(d, id::kSetupThresholds);
    edit->setFocus();
    QTest::keyClicks(edit, "1");
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_FALSE(edit->toPlainText().contains('\t'));
    EXPECT_NE(d.focusWidget(), edit);
    QTest::keyClick(d.focusWidget(), Qt::Key_Escape);
  });
  program.command(cmd::kCmdMasterSetup);
  EXPECT_TRUE(program.automation().dialog_runs().back().finished);
  EXPECT_EQ(program.params().threshold_vector, thresholds);
}

TEST(QtDialogKeys, TheQualityBarIsATabStopMovedByItsKeys) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  qt(program).set_dialog_driver([&](QtDialog& d) {
    activate(d);
    d.control(id::kQualityEdit)->setFocus();
    QTest::keyClick(d.control(id::kQualityEdit), Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(d.focusWidget(), d.control(id::kQualityBar));
    QTest::keyClick(d.focusWidget(), Qt::Key_Right);
    QTest::keyClick(d.focusWidget(), Qt::Key_PageDown);
    EXPECT_EQ(control<QLineEdit>(d, id::kQualityEdit)->text(), "61");
    control<QPushButton>(d, id::kEasyOk)->click();
  });
  program.command(cmd::kCmdEasySetup);
  EXPECT_EQ(program.params().quality_factor, 61);
}

TEST(QtDialogKeys, AboutTakesReturnNotEscapeInformationTakesEscape) {
  Program program(qt_factory());
  for (int command : {cmd::kCmdAbout, cmd::kCmdProperties}) {
    qt(program).set_dialog_driver([&](QtDialog& d) {
      activate(d);
      QTest::keyClick(&d, Qt::Key_Escape);
      EXPECT_EQ(d.ended(), command == cmd::kCmdProperties);
      if (!d.ended()) QTest::keyClick(&d, Qt::Key_Return);
    });
    program.command(command);
    EXPECT_TRUE(program.automation().dialog_runs().back().finished);
  }
}

TEST(QtHelpViewer, ScrollsWithPageAndCtrlHomeEndAndEscapeCloses) {
  Program program(qt_factory());
  program.command(cmd::kCmdHelpContents);
  QTextBrowser* viewer = qt(program).help_viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->lineWrapMode(), QTextEdit::WidgetWidth);
  viewer->resize(300, 120);
  QApplication::processEvents();
  QScrollBar* bar = viewer->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  QTest::keyClick(viewer, Qt::Key_PageDown);
  EXPECT_GT(bar->value(), 0);
  QTest::keyClick(viewer, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(bar->value(), bar->maximum());
  QTest::keyClick(viewer, Qt::Key_PageUp);
  EXPECT_LT(bar->value(), bar->maximum());
  QTest::keyClick(viewer, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(bar->value(), 0);
  QTest::keyClick(viewer, Qt::Key_Escape);
  EXPECT_FALSE(viewer->isVisible());
}

TEST(QtDialogText, SizeFieldsHoldFiveDigitsAndLongNamesAreElidedInTheMiddle) {
  Pictures files;
  Program program(qt_factory());
  const std::string name = std::string(60, 'a') + "_end.bmp";
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap(name, Pictures::colour(30, 20)));
  qt(program).set_dialog_driver([&](QtDialog& d) {
    for (int field : {id::kResizeWidth, id::kResizeHeight}) {
      auto* edit = control<QLineEdit>(d, field);
      // The edit's frame and its own text margins (2 px a side) come off its width.
      const int room = edit->width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
      EXPECT_LE(edit->fontMetrics().horizontalAdvance("65535"), room);
    }
    d.end(0);
  });
  program.command(cmd::kCmdResize);
  qt(program).set_dialog_driver([&](QtDialog& d) {
    auto* label = control<QLabel>(d, id::kInfoFileName);
    EXPECT_TRUE(label->text().contains(QChar(0x2026))) << label->text().toStdString();
    EXPECT_TRUE(label->text().endsWith("_end.bmp"));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_EQ(d.text(id::kInfoFileName, 200), name);
    d.end(0);
  });
  program.command(cmd::kCmdProperties);
}

TEST(QtWindows, CarryTheProgramIconAndFileDialogsStartInTheLastFolder) {
  Pictures files;
  Program program(qt_factory());
  EXPECT_FALSE(QtPlatform::top_level(program.app().main_window())->windowIcon().isNull());
  EXPECT_FALSE(QtPlatform::top_level(program.app().source_window())->windowIcon().isNull());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  QString folder;
  qt(program).set_observer([&](const std::string&, QWidget& widget) {
    if (auto* dialog = qobject_cast<QFileDialog*>(&widget)) folder = dialog->directory().canonicalPath();
  });
  program.command(cmd::kCmdOpenTarga);  // nothing queued: cancelled
  EXPECT_EQ(folder, QDir(QString::fromStdString(files.dir().string())).canonicalPath());
}

}  // namespace
}  // namespace varnic::testing
