// SPDX-License-Identifier: BSD-2-Clause
// What only the real widgets can get wrong: the menu bar, dialogs laid out in dialog units and
// worked from the keyboard, text that fits, the file dialogs, drops and the help viewer. The
// scenario suite checks everything else on this backend too.
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QTreeView>
#include <QHeaderView>
#include <QToolButton>
#include <QUrl>
#include <map>
#include <set>

#include "app/desktop_qt.h"
#include "qt_factory.h"

namespace varnic::testing {
namespace {

using platform::QtDialog;
using platform::QtPlatform;

ScriptedQtPlatform& qt(Program& program) { return static_cast<ScriptedQtPlatform&>(program.platform()); }
QWidget* top(Program& program) { return QtPlatform::top_level(program.app().main_window()); }

// Every popup title lies whole on a visible row of the window's own menu bar; returns the rows.
int rows_showing_every_title(QWidget* window) {
  std::set<QString> titles;
  int rows = 0;
  for (QMenuBar* bar : window->findChildren<QMenuBar*>()) {
    if (!bar->isVisibleTo(window)) continue;
    ++rows;
    const auto* more = bar->findChild<QToolButton*>();  // the extension button of a folded bar
    EXPECT_TRUE(!bar->isNativeMenuBar() && window->rect().contains(bar->geometry()) && (!more || !more->isVisibleTo(window)));
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
  std::map<QString, QAction*> items;
  for (QAction* action : top(program)->findChildren<QAction*>()) items[action->text()] = action;
  EXPECT_EQ(rows_showing_every_title(top(program)), 1);
  EXPECT_FALSE(items.at("8-bit Image")->isCheckable());  // never an empty box on a Qt screen
  EXPECT_FALSE(top(program)->windowIcon().isNull());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("small.bmp", Pictures::colour(50, 40)));
  EXPECT_GE(rows_showing_every_title(top(program)), 2);
  EXPECT_EQ(client->height(), 40);  // the rows come on top of the picture, not out of it
  items.at("&FS_Dithering")->trigger();
  EXPECT_FALSE(program.state().fs_dithering || items.at("&FS_Dithering")->isChecked());
  program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, "0"), type(id::kResizeHeight, "0"), press(id::kOk)});
  EXPECT_FALSE(top(program)->testAttribute(Qt::WA_OutsideWSRange));  // Qt unmaps a window of no size
  EXPECT_TRUE(client->width() >= 1 && client->height() >= 1);
  rows_showing_every_title(top(program));
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(client->height(), 40);
  // The window system confirms the sizes the program asked for: that is no size change of the user's.
  QTest::qWait(50);
  program.platform().process_paints();
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kColour);
}

TEST(QtDialogs, LayOutInFixedDialogUnitsAndWorkFromTheKeyboard) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  auto drive = [&](int command, std::function<void(QtDialog&)> steps) {
    qt(program).set_dialog_driver([&](QtDialog& d) {
      d.activateWindow();  // keys reach the focused control, and shortcuts fire, only in the active window
      EXPECT_TRUE(QTest::qWaitForWindowActive(&d, 2000));
      steps(d);
    });
    program.command(command);
    EXPECT_TRUE(program.automation().dialog_runs().back().finished) << command;
  };
  // Return starts a line in a comment and Tab leaves it, Return then presses the focused button;
  // Ctrl+Return presses the default button from the field.
  drive(cmd::kCmdComments, [&](QtDialog& d) {
    QWidget* edit = d.control(id::kCommentText);
    edit->setFocus();
    QTest::keyClicks(edit, "one");
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, "two");
    QTest::keyClick(edit, Qt::Key_Tab);
    ASSERT_EQ(d.focusWidget(), d.control(id::kOk));
    QTest::keyClick(d.focusWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(program.state().comment, "one\ntwo");
  drive(cmd::kCmdComments, [&](QtDialog& d) {
    QTest::keyClick(d.control(id::kCommentText), Qt::Key_A, Qt::ControlModifier);  // select all
    QTest::keyClicks(d.control(id::kCommentText), "three");
    QTest::keyClick(d.control(id::kCommentText), Qt::Key_Return, Qt::ControlModifier);
  });
  EXPECT_EQ(program.state().comment, "three");
  // The threshold field, multi-line too: Return separates numbers, Ctrl+Return is OK.
  drive(cmd::kCmdMasterSetup, [&](QtDialog& d) {
    QWidget* field = d.control(id::kSetupThresholds);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, "9 8 7");
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClicks(field, "6 5 4");
    QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
  });
  EXPECT_EQ(std::vector<int>(program.params().threshold_vector.begin(), program.params().threshold_vector.begin() + 6),
            (std::vector<int>{9, 8, 7, 6, 5, 4}));
  // Easy Setup at its template's places: the quality bar is a tab stop moved by its keys, and
  // Return in the edit presses the default button, Cancel: nothing was derived, so nothing changes.
  program.params().image_type = 1;
  drive(cmd::kCmdEasySetup, [&](QtDialog& d) {
    EXPECT_EQ(d.control(id::kQualityEdit)->geometry(), QRect(252, 31, 42, 20));  // (168, 19) 28 x 12 units
    EXPECT_TRUE(d.control(id::kColourBar)->isHidden());
    d.control(id::kQualityEdit)->setFocus();
    QTest::keyClick(d.control(id::kQualityEdit), Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(d.focusWidget(), d.control(id::kQualityBar));
    QTest::keyClick(d.focusWidget(), Qt::Key_Right);
    QTest::keyClick(d.focusWidget(), Qt::Key_PageDown);
    QTest::keyClick(d.control(id::kQualityEdit), Qt::Key_Return);
  });
  EXPECT_EQ(program.params().quality_factor, 50);
  EXPECT_EQ(program.params().image_type, 1);
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
    if (auto* edit = qobject_cast<QLineEdit*>(d.control(id::kResizeWidth))) {
      // The edit's frame and its own text margins (2 px a side) come off its width.
      EXPECT_LE(edit->fontMetrics().horizontalAdvance("65535"),
                edit->width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4);
    } else {
      auto* label = qobject_cast<QLabel*>(d.control(id::kInfoFileName));
      EXPECT_TRUE(label->text().contains(QChar(0x2026)) && label->text().endsWith("_end.bmp"));
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
      EXPECT_EQ(d.text(id::kInfoFileName, 200), name);
    }
    d.end(0);
  });
  program.command(cmd::kCmdResize);
  program.command(cmd::kCmdProperties);
  EXPECT_EQ(program.automation().dialog_runs().size(), 2u);
  EXPECT_EQ(platform::to_qstring("caf\xC3\xA9"), QString::fromUtf8("café"));
  for (const char* bad : {"\xC0\xAF", "\xE2\x82", "\xED\xA0\x80"}) {  // overlong, cut short, a surrogate
    EXPECT_EQ(platform::to_qstring(bad), QString::fromLatin1(bad)) << bad;
  }
}

TEST(QtFileDialogs, ShowSizesAndDatesWholeWhateverAnEarlierDialogLeft) {
  Pictures files;
  files.write_bytes("big.bmp", std::vector<std::uint8_t>(768 * 1024, 0));  // "768 KiB"
  Program program(qt_factory());
  {
    // Qt keeps a file dialog's column widths in the user's settings for the next one (the tests'
    // settings lie in the build tree).
    ASSERT_NE(qgetenv("XDG_CONFIG_HOME"), QByteArray());
    QSettings(QSettings::UserScope, "QtProject").remove("FileDialog");
    QFileDialog earlier;
    earlier.setOption(QFileDialog::DontUseNativeDialog);
    for (int column = 1; column < 4; ++column) earlier.findChild<QTreeView*>()->header()->resizeSection(column, 20);
  }
  std::unique_ptr<QFileDialog> dialog = qt(program).make_file_dialog({"Bitmap Files(*.bmp)", "*.bmp", "bmp", true, false}, false);
  dialog->setDirectory(QString::fromStdString(files.dir().string()));
  dialog->show();
  auto* view = dialog->findChild<QTreeView*>();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 1; }, 5000));
  QApplication::processEvents();
  for (int column = 1; column < view->model()->columnCount(); ++column) {
    if (view->header()->isSectionHidden(column)) continue;
    EXPECT_GE(view->header()->sectionSize(column), static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column)) << column;
  }
}

TEST(QtFileDialogs, OfferTheFiltersAndOptionsOfTheirKindAndStartInTheLastFolder) {
  // A label without its pattern gets it appended, or Qt would read the words as patterns.
  const std::tuple<int, QString, QString> cases[] = {{cmd::kCmdOpenBitmap, "Bitmap Files(*.bmp)", "bmp"},
                                                     {cmd::kCmdOpenTarga, "Targa Image Files(*.tga)", "tga"},
                                                     {cmd::kCmdOpenCoded, "Compressed Files (*.cod)", "cod"},
                                                     {cmd::kCmdSave, "Compressed files (*.cod)", ""},
                                                     {cmd::kCmdSaveTarga, "Image files (*.tga)", ""}};
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  for (const auto& [command, filter, suffix] : cases) {
    const bool save = command == cmd::kCmdSave || command == cmd::kCmdSaveTarga;
    int seen = 0;
    qt(program).set_observer([&](const std::string&, QWidget& widget) {
      auto* dialog = qobject_cast<QFileDialog*>(&widget);
      ASSERT_NE(dialog, nullptr);
      ++seen;
      EXPECT_EQ(dialog->nameFilters(), QStringList{filter});
      EXPECT_EQ(dialog->defaultSuffix(), suffix);
      EXPECT_EQ(dialog->acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
      EXPECT_EQ(dialog->fileMode(), save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
      EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite), !save);
      EXPECT_EQ(dialog->directory().canonicalPath(), QDir(QString::fromStdString(files.dir().string())).canonicalPath());
    });
    program.command(command);  // nothing queued: cancelled
    EXPECT_EQ(seen, 1) << filter.toStdString();
  }
}

TEST(QtWindows, ADroppedFileOpensAsIfChosenInTheOpenDialog) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(30, 20);
  Program program(qt_factory());
  app::connect_file_opening(program.app(), qt(program));
  EXPECT_FALSE(QtPlatform::top_level(program.app().source_window())->acceptDrops());
  for (const std::string& path : {files.write_bitmap("dropped.bmp", picture), files.path("missing.cod")}) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(top(program), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(top(program), &event);
  }
  EXPECT_TRUE(program.automation().file_requests().empty());  // no chooser came up
  EXPECT_EQ(program.title(), titled("dropped.bmp"));
  EXPECT_EQ(differing_pixels(crop(program.main_image(), 30, 20), expected_image(picture)), 0);
  ASSERT_EQ(program.messages().size(), 1u);  // the missing file, as the chooser's road says it
  EXPECT_EQ(program.messages()[0].caption, imagefile::file_message(imagefile::FileStatus::kCannotOpen, "").caption);
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
