// What only the real widgets can get wrong: the menu bar, dialogs laid out in dialog units and
// worked from the keyboard, text that fits, the file dialogs, drops, the sizes the window system
// confirms and the help viewer. The scenario suite checks everything else on this backend too.
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <set>

#include "app/desktop_qt.h"
#include "qt_factory.h"

namespace varnic::testing {
namespace {

using platform::QtDialog;
using platform::QtPlatform;

ScriptedQtPlatform& qt(Program& program) { return static_cast<ScriptedQtPlatform&>(program.platform()); }
QWidget* top(Program& program) { return QtPlatform::top_level(program.app().main_window()); }
template <typename T>
T* control(QtDialog& dialog, int control_id) {
  return qobject_cast<T*>(dialog.control(control_id));
}

QAction* item(Program& program, const QString& text) {
  for (QAction* action : top(program)->findChildren<QAction*>()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

// Keys reach the focused control, and shortcuts fire, only in the active window.
void activate(QWidget& window) {
  window.activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(&window, 2000));
}

// Every popup title lies whole on a visible row of the window's menu bar; returns the rows.
int rows_showing_every_title(QWidget* window) {
  std::set<QString> titles;
  int rows = 0;
  for (QMenuBar* bar : window->findChildren<QMenuBar*>()) {
    if (!bar->isVisibleTo(window)) continue;
    ++rows;
    EXPECT_FALSE(bar->isNativeMenuBar());
    EXPECT_TRUE(window->rect().contains(bar->geometry()));
    const auto* more = bar->findChild<QToolButton*>();  // the extension button of a folded bar
    EXPECT_TRUE(more == nullptr || !more->isVisibleTo(window));
    for (QAction* title : bar->actions()) {
      EXPECT_TRUE(bar->rect().contains(bar->actionGeometry(title))) << title->text().toStdString();
      titles.insert(title->text());
    }
  }
  EXPECT_EQ(titles, (std::set<QString>{"&File", "&Display", "&Options", "&Help"}));
  return rows;
}

TEST(QtMenuBar, WrapsInNarrowWindowsNeverLetsTheWindowVanishAndLeavesCheckMarksToTheProgram) {
  Pictures files;
  Program program(qt_factory());
  QWidget* client = QtPlatform::client_widget(program.app().main_window());
  EXPECT_EQ(rows_showing_every_title(top(program)), 1);
  EXPECT_FALSE(item(program, "8-bit Image")->isCheckable());  // never an empty box on a Qt screen
  EXPECT_FALSE(top(program)->windowIcon().isNull());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("small.bmp", Pictures::colour(50, 40)));
  EXPECT_GE(rows_showing_every_title(top(program)), 2);
  EXPECT_EQ(client->height(), 40);  // the rows come on top of the picture, not out of it
  item(program, "&FS_Dithering")->trigger();
  EXPECT_FALSE(program.state().fs_dithering);
  EXPECT_FALSE(item(program, "&FS_Dithering")->isChecked());
  program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, "0"), type(id::kResizeHeight, "0"), press(id::kOk)});
  EXPECT_FALSE(top(program)->testAttribute(Qt::WA_OutsideWSRange));  // Qt unmaps a window of no size
  EXPECT_TRUE(client->width() >= 1 && client->height() >= 1);
  rows_showing_every_title(top(program));
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(client->height(), 40);
  // Once the window system has confirmed the sizes the program asked for, nothing else changed.
  QTest::qWait(50);
  program.platform().process_paints();
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kColour);
}

TEST(QtDialogs, LayOutInFixedDialogUnitsAndWorkFromTheKeyboard) {
  // 6/4 px across and 13/8 px down; halves round away from zero as the templates' converter does.
  EXPECT_EQ(platform::dialog_units_to_x(1), 2);
  EXPECT_EQ(platform::dialog_units_to_y(12), 20);  // 19.5
  EXPECT_EQ(platform::dialog_units_to_y(19), 31);  // 30.875
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  auto drive = [&](int command, std::function<void(QtDialog&)> steps) {
    qt(program).set_dialog_driver([&](QtDialog& d) {
      activate(d);
      steps(d);
    });
    program.command(command);
    EXPECT_TRUE(program.automation().dialog_runs().back().finished) << command;
  };
  // Comments: Return starts a line, Tab leaves for OK, Return presses the focused button; then
  // Ctrl+Return presses the default button from the multi-line field.
  for (const bool ctrl : {false, true}) {
    drive(cmd::kCmdComments, [&](QtDialog& d) {
      auto* edit = control<QPlainTextEdit>(d, id::kCommentText);
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, "one");
      QTest::keyClick(edit, Qt::Key_Return, ctrl ? Qt::ControlModifier : Qt::NoModifier);
      if (ctrl) return;
      QTest::keyClicks(edit, "two");
      QTest::keyClick(edit, Qt::Key_Tab);
      ASSERT_EQ(d.focusWidget(), d.control(id::kOk));
      QTest::keyClick(d.focusWidget(), Qt::Key_Return);
    });
    EXPECT_EQ(program.state().comment, ctrl ? "one" : "one\ntwo");
  }
  // Master Setup's thresholds: Tab goes on without a tab character, Escape cancels.
  const auto thresholds = program.params().threshold_vector;
  drive(cmd::kCmdMasterSetup, [&](QtDialog& d) {
    auto* edit = control<QPlainTextEdit>(d, id::kSetupThresholds);
    edit->setFocus();
    QTest::keyClicks(edit, "1");
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_FALSE(edit->toPlainText().contains('\t'));
    EXPECT_NE(d.focusWidget(), edit);
    QTest::keyClick(d.focusWidget(), Qt::Key_Escape);
  });
  EXPECT_EQ(program.params().threshold_vector, thresholds);
  // Easy Setup, laid out at its template's places: the quality bar is a tab stop moved by its
  // keys, and Return in the edit presses the default button, Cancel, which keeps what the bar did.
  program.params().image_type = 1;
  drive(cmd::kCmdEasySetup, [&](QtDialog& d) {
    EXPECT_EQ(d.size(), QSize(333, 182));                                      // 222 x 112 units
    EXPECT_EQ(d.control(id::kQualityEdit)->geometry(), QRect(252, 31, 42, 20));  // (168, 19) 28 x 12
    EXPECT_TRUE(d.control(id::kColourBar)->isHidden());
    d.control(id::kQualityEdit)->setFocus();
    QTest::keyClick(d.control(id::kQualityEdit), Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(d.focusWidget(), d.control(id::kQualityBar));
    QTest::keyClick(d.focusWidget(), Qt::Key_Right);
    QTest::keyClick(d.focusWidget(), Qt::Key_PageDown);
    EXPECT_EQ(control<QLineEdit>(d, id::kQualityEdit)->text(), "61");
    QTest::keyClick(d.control(id::kQualityEdit), Qt::Key_Return);
  });
  EXPECT_EQ(program.params().quality_factor, 61);
  EXPECT_EQ(program.params().image_type, 1);  // not OK, which takes the type shown
  // About closes on Return, not on Escape; the information dialog on Escape.
  for (const int command : {cmd::kCmdAbout, cmd::kCmdProperties}) {
    drive(command, [&](QtDialog& d) {
      QTest::keyClick(&d, Qt::Key_Escape);
      EXPECT_EQ(d.ended(), command == cmd::kCmdProperties);
      if (!d.ended()) QTest::keyClick(&d, Qt::Key_Return);
    });
  }
}

TEST(QtDialogs, SizeFieldsHoldFiveDigitsLongNamesAreElidedAndOtherBytesReadAsLatin1) {
  Pictures files;
  Program program(qt_factory());
  const std::string name = std::string(60, 'a') + "_end.bmp";
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap(name, Pictures::colour(30, 20)));
  qt(program).set_dialog_driver([&](QtDialog& d) {
    for (const int field : {id::kResizeWidth, id::kResizeHeight}) {
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
    EXPECT_TRUE(label->text().contains(QChar(0x2026)) && label->text().endsWith("_end.bmp"));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_EQ(d.text(id::kInfoFileName, 200), name);
    d.end(0);
  });
  program.command(cmd::kCmdProperties);
  EXPECT_EQ(platform::to_qstring("caf\xC3\xA9"), QString::fromUtf8("café"));
  for (const char* bad : {"\xC0\xAF", "\xE2\x82", "\xED\xA0\x80"}) {  // overlong, cut short, a surrogate
    EXPECT_EQ(platform::to_qstring(bad), QString::fromLatin1(bad)) << bad;
  }
}

TEST(QtFileDialogs, OfferTheFiltersAndOptionsOfTheirKindAndStartInTheLastFolder) {
  struct Case {
    int command;
    QString filter, suffix;
  };
  // A label without its pattern gets it appended, or Qt would read the words as patterns.
  const Case cases[] = {{cmd::kCmdOpenBitmap, "Bitmap Files(*.bmp)", "bmp"},
                        {cmd::kCmdOpenTarga, "Targa Image Files(*.tga)", "tga"},
                        {cmd::kCmdOpenCoded, "Compressed Files (*.cod)", "cod"},
                        {cmd::kCmdSave, "Compressed files (*.cod)", ""},
                        {cmd::kCmdSaveTarga, "Image files (*.tga)", ""}};
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter.toStdString());
    QFileDialog* seen = nullptr;
    qt(program).set_observer([&](const std::string&, QWidget& widget) {
      seen = qobject_cast<QFileDialog*>(&widget);
      if (seen == nullptr) return;
      const bool save = c.command == cmd::kCmdSave || c.command == cmd::kCmdSaveTarga;
      EXPECT_EQ(seen->nameFilters(), QStringList{c.filter});
      EXPECT_EQ(seen->defaultSuffix(), c.suffix);
      EXPECT_EQ(seen->acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
      EXPECT_EQ(seen->fileMode(), save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
      EXPECT_EQ(seen->testOption(QFileDialog::DontConfirmOverwrite), !save);
      EXPECT_EQ(seen->directory().canonicalPath(), QDir(QString::fromStdString(files.dir().string())).canonicalPath());
    });
    program.command(c.command);  // nothing queued: cancelled
    EXPECT_NE(seen, nullptr);
  }
}

void drop(QWidget* target, const std::string& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return;
  QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

TEST(QtWindows, ADroppedFileOpensAsIfChosenInTheOpenDialog) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(30, 20);
  Program program(qt_factory());
  app::connect_file_opening(program.app(), qt(program));
  EXPECT_FALSE(QtPlatform::top_level(program.app().source_window())->acceptDrops());
  drop(top(program), files.write_bitmap("dropped.bmp", picture));
  program.platform().process_paints();
  EXPECT_TRUE(program.automation().file_requests().empty());  // no chooser came up
  EXPECT_EQ(program.title(), titled("dropped.bmp"));
  EXPECT_EQ(differing_pixels(crop(program.main_image(), 30, 20), expected_image(picture)), 0);
  drop(top(program), files.path("missing.cod"));  // the same checks and messages as the chooser's
  ASSERT_EQ(program.messages().size(), 1u);
  EXPECT_EQ(program.messages()[0].caption, imagefile::file_message(imagefile::FileStatus::kCannotOpen, "").caption);
  EXPECT_EQ(program.title(), titled("dropped.bmp"));
}

TEST(QtHelpViewer, ShowsTheTextWrappedScrollsByItsKeysAndClosesOnEscape) {
  Program program(qt_factory());
  program.command(cmd::kCmdHelpContents);
  QTextBrowser* viewer = qt(program).help_viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->toPlainText().toStdString(), std::string(resources::help_text()));
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

}  // namespace
}  // namespace varnic::testing
