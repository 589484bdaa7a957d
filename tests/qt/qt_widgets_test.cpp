// The real widgets of the Qt backend, driven with QTest: the menu bar, dialog layout, typing and
// clicking in the setup dialogs, the file dialogs' filters and overwrite question, drops on the
// main window, the help viewer.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include "app/desktop_qt.h"
#include "qt_factory.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
namespace id = resources::control;
using platform::QtDialog;
using platform::QtPlatform;

ScriptedQtPlatform& qt(Program& program) { return static_cast<ScriptedQtPlatform&>(program.platform()); }

QMenuBar* menu_bar(Program& program) { return QtPlatform::top_level(program.app().main_window())->findChild<QMenuBar*>(); }

// The menu item with exactly this text, searched through every popup.
QAction* item(Program& program, const QString& text) {
  for (QAction* action : QtPlatform::top_level(program.app().main_window())->findChildren<QAction*>()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

template <typename T>
T* control(QtDialog& dialog, int control_id) {
  return qobject_cast<T*>(dialog.control(control_id));
}

std::vector<std::string> popup_titles(QMenuBar* bar) {
  std::vector<std::string> titles;
  for (QAction* a : bar->actions()) titles.push_back(a->text().toStdString());
  return titles;
}

// ---------------------------------------------------------------------------------------------
// Menu bar.

TEST(QtMenuBar, CarriesTheTemplateTextsAccessKeysAndStartStates) {
  Program program(qt_factory());
  QMenuBar* bar = menu_bar(program);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(popup_titles(bar), (std::vector<std::string>{"&File", "&Display", "&Options", "&Help"}));
  EXPECT_EQ(QKeySequence::mnemonic("&File"), QKeySequence(Qt::ALT | Qt::Key_F));
  EXPECT_FALSE(bar->isNativeMenuBar());

  // The trailing blank of the bitmap item is part of its text.
  QAction* open_bitmap = item(program, "Open a &Bitmap Image (*.bmp) ");
  ASSERT_NE(open_bitmap, nullptr);
  EXPECT_TRUE(open_bitmap->isEnabled());
  ASSERT_NE(item(program, "&Save"), nullptr);
  EXPECT_FALSE(item(program, "&Save")->isEnabled());
  EXPECT_FALSE(item(program, "&Compress")->isEnabled());
  EXPECT_TRUE(item(program, "Master Setup")->isEnabled());
  EXPECT_TRUE(item(program, "&FS_Dithering")->isChecked());
  EXPECT_TRUE(item(program, "&Incremently Display")->isChecked());
  // Qt screens are never 8-bit: the item starts greyed, unchecked and without an empty box.
  QAction* eight_bit = item(program, "8-bit Image");
  EXPECT_FALSE(eight_bit->isEnabled());
  EXPECT_FALSE(eight_bit->isChecked());
  EXPECT_FALSE(eight_bit->isCheckable());
}

TEST(QtMenuBar, ItemsRunTheirCommandsAndFollowTheRuleSets) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  EXPECT_TRUE(item(program, "&Save")->isEnabled());
  EXPECT_TRUE(item(program, "&Compress")->isEnabled());
  EXPECT_TRUE(item(program, "8-bit Image")->isEnabled());

  // A click on a checked toggle: the program, not Qt, sets the new mark.
  item(program, "&FS_Dithering")->trigger();
  EXPECT_FALSE(program.state().fs_dithering);
  EXPECT_FALSE(item(program, "&FS_Dithering")->isChecked());
  item(program, "&FS_Dithering")->trigger();
  EXPECT_TRUE(program.state().fs_dithering);
  EXPECT_TRUE(item(program, "&FS_Dithering")->isChecked());

  item(program, "&Properties")->trigger();
  ASSERT_EQ(program.automation().dialog_runs().size(), 1u);
  EXPECT_EQ(program.automation().dialog_runs()[0].dialog, "INFOR");

}

// ---------------------------------------------------------------------------------------------
// Dialogs.

TEST(QtDialogLayout, DialogUnitsUseTheFixedBaseUnitsRoundedToNearest) {
  // 6/4 px across and 13/8 px down; halves round away from zero as the templates' converter does.
  EXPECT_EQ(platform::dialog_units_to_x(1), 2);
  EXPECT_EQ(platform::dialog_units_to_x(168), 252);
  EXPECT_EQ(platform::dialog_units_to_x(222), 333);
  EXPECT_EQ(platform::dialog_units_to_y(8), 13);
  EXPECT_EQ(platform::dialog_units_to_y(12), 20);   // 19.5
  EXPECT_EQ(platform::dialog_units_to_y(19), 31);   // 30.875
  EXPECT_EQ(platform::dialog_units_to_y(112), 182);
}

TEST(QtDialogLayout, ControlsSitWhereTheTemplatePutsThem) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  bool seen = false;
  qt(program).set_dialog_driver([&](QtDialog& d) {
    seen = true;
    EXPECT_EQ(d.windowTitle(), "Image Setup");
    EXPECT_EQ(d.size(), QSize(333, 182));  // 222 x 112 units
    // Quality edit at (168, 19), 28 x 12 units.
    EXPECT_EQ(d.control(id::kQualityEdit)->geometry(), QRect(252, 31, 42, 20));
    // Quality bar at (10, 20), 150 x 10 units.
    EXPECT_EQ(d.control(id::kQualityBar)->geometry(), QRect(15, 33, 225, 16));
    // The colour slider exists, holds its value, and is hidden.
    ASSERT_NE(d.control(id::kColourBar), nullptr);
    EXPECT_TRUE(d.control(id::kColourBar)->isHidden());
    EXPECT_FALSE(d.control(id::kQualityBar)->isHidden());
    auto* ok = control<QPushButton>(d, id::kEasyOk);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "&OK");
    EXPECT_TRUE(control<QPushButton>(d, id::kCancel)->isDefault());
    EXPECT_FALSE(ok->isDefault());
    control<QPushButton>(d, id::kCancel)->click();
  });
  program.command(cmd::kCmdEasySetup);
  EXPECT_TRUE(seen);
}

TEST(QtEasySetup, TypingIntoTheQualityEditMovesTheSliderAndOkKeepsIt) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  qt(program).set_dialog_driver([&](QtDialog& d) {
    auto* edit = control<QLineEdit>(d, id::kQualityEdit);
    auto* bar = control<QScrollBar>(d, id::kQualityBar);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->value(), 50);
    EXPECT_EQ(edit->text(), "50");
    edit->selectAll();
    QTest::keyClicks(edit, "7");
    EXPECT_EQ(bar->value(), 7);
    QTest::keyClicks(edit, "5");
    EXPECT_EQ(bar->value(), 75);
    // Not a number in range: the slider stays where it was.
    QTest::keyClicks(edit, "0");
    EXPECT_EQ(bar->value(), 75);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "75");
    QTest::mouseClick(control<QPushButton>(d, id::kEasyOk), Qt::LeftButton);
    EXPECT_TRUE(d.ended());
  });
  program.command(cmd::kCmdEasySetup);
  EXPECT_EQ(program.params().quality_factor, 75);
}

TEST(QtEasySetup, CancelOrEscapeWithoutTouchingAnythingChangesNothing) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  program.params().quality_factor = 30;
  program.params().image_type = 1;
  const format::CodecParams before = program.params();
  qt(program).set_dialog_driver([&](QtDialog& d) {
    EXPECT_EQ(control<QScrollBar>(d, id::kQualityBar)->value(), 30);
    QTest::mouseClick(control<QPushButton>(d, id::kCancel), Qt::LeftButton);
    EXPECT_TRUE(d.ended());
  });
  program.command(cmd::kCmdEasySetup);
  qt(program).set_dialog_driver([&](QtDialog& d) {
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_TRUE(d.ended());
  });
  program.command(cmd::kCmdEasySetup);
  // Enter presses the default button, which here is Cancel.
  qt(program).set_dialog_driver([&](QtDialog& d) {
    QTest::keyClick(control<QLineEdit>(d, id::kQualityEdit), Qt::Key_Return);
    EXPECT_TRUE(d.ended());
  });
  program.command(cmd::kCmdEasySetup);
  ASSERT_EQ(program.automation().dialog_runs().size(), 3u);
  EXPECT_TRUE(program.automation().dialog_runs()[2].finished);
  EXPECT_EQ(program.params().quality_factor, before.quality_factor);
  EXPECT_EQ(program.params().image_type, before.image_type);
  EXPECT_EQ(program.params().channels[0].quant_vector, before.channels[0].quant_vector);
  EXPECT_EQ(program.params().channels[1].quant_vector, before.channels[1].quant_vector);
  EXPECT_EQ(program.params().threshold_vector, before.threshold_vector);
  EXPECT_FALSE(program.state().compressed_ready);
}

TEST(QtEasySetup, ScrollBarClicksStepThroughTheProgram) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  qt(program).set_dialog_driver([&](QtDialog& d) {
    auto* bar = control<QScrollBar>(d, id::kQualityBar);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar->value(), 51);
    EXPECT_EQ(control<QLineEdit>(d, id::kQualityEdit)->text(), "51");
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(bar->value(), 41);
    // The program's own rule for the end keys: a page, not the end.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(bar->value(), 51);
    for (int i = 0; i < 5; ++i) bar->triggerAction(QAbstractSlider::SliderPageStepAdd);  // held at 99
    EXPECT_EQ(bar->value(), 99);
    EXPECT_EQ(control<QLineEdit>(d, id::kQualityEdit)->text(), "99");
    control<QPushButton>(d, id::kEasyOk)->click();
  });
  program.command(cmd::kCmdEasySetup);
  EXPECT_EQ(program.params().quality_factor, 99);
}

TEST(QtDialogText, CommentsKeepTheirBytesAndCutAtCharacterBoundaries) {
  Program program(qt_factory());
  qt(program).set_dialog_driver([&](QtDialog& d) {
    d.set_text(id::kCommentText, "a\xC3\xA9");  // "aé"
    EXPECT_EQ(d.text(id::kCommentText, 100), "a\xC3\xA9");
    EXPECT_EQ(d.text(id::kCommentText, 2), "a");
    // A comment read from a file that is not UTF-8 shows as Latin-1.
    d.set_text(id::kCommentText, "caf\xE9");
    EXPECT_EQ(d.text(id::kCommentText, 100), "caf\xC3\xA9");
    d.end(2);
  });
  program.command(cmd::kCmdComments);
  EXPECT_EQ(platform::to_qstring("caf\xC3\xA9"), QString::fromUtf8("café"));
  EXPECT_EQ(platform::to_qstring("\xC0\xAF").size(), 2);      // overlong: two Latin-1 characters
  EXPECT_EQ(platform::to_qstring("\xE2\x82").size(), 2);      // cut short
  EXPECT_EQ(platform::to_qstring("\xED\xA0\x80").size(), 3);  // a surrogate
}

// ---------------------------------------------------------------------------------------------
// File dialogs.

struct FileDialogSeen {
  QStringList filters;
  QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  QString suffix;
  bool confirms = false;
};

FileDialogSeen file_dialog_of(int command) {
  Pictures files;
  Program program(qt_factory());
  if (command == cmd::kCmdSave || command == cmd::kCmdSaveBitmap) {
    program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  }
  FileDialogSeen seen;
  qt(program).set_observer([&](const std::string&, QWidget& widget) {
    if (auto* dialog = qobject_cast<QFileDialog*>(&widget)) {
      seen.filters = dialog->nameFilters();
      seen.accept = dialog->acceptMode();
      seen.mode = dialog->fileMode();
      seen.suffix = dialog->defaultSuffix();
      seen.confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    }
  });
  program.command(command);  // nothing queued: the chooser is cancelled
  return seen;
}

TEST(QtFileDialogs, OfferTheFiltersAndOptionsOfTheirKind) {
  const FileDialogSeen bmp = file_dialog_of(cmd::kCmdOpenBitmap);
  EXPECT_EQ(bmp.filters, QStringList{"Bitmap Files(*.bmp)"});
  EXPECT_EQ(bmp.accept, QFileDialog::AcceptOpen);
  EXPECT_EQ(bmp.mode, QFileDialog::ExistingFile);
  EXPECT_EQ(bmp.suffix, "bmp");

  EXPECT_EQ(file_dialog_of(cmd::kCmdOpenTarga).filters, QStringList{"Targa Image Files(*.tga)"});
  // A label without its pattern gets it appended, or Qt would read the words as patterns.
  const FileDialogSeen cod = file_dialog_of(cmd::kCmdOpenCoded);
  EXPECT_EQ(cod.filters, QStringList{"Compressed Files (*.cod)"});
  EXPECT_EQ(cod.suffix, "cod");

  const FileDialogSeen save = file_dialog_of(cmd::kCmdSave);
  EXPECT_EQ(save.filters, QStringList{"Compressed files (*.cod)"});
  EXPECT_EQ(save.accept, QFileDialog::AcceptSave);
  EXPECT_EQ(save.mode, QFileDialog::AnyFile);
  EXPECT_EQ(save.suffix, "");
  EXPECT_TRUE(save.confirms);
  EXPECT_EQ(file_dialog_of(cmd::kCmdSaveBitmap).filters, QStringList{"Image files (*.bmp)"});
}

TEST(QtFileDialogs, TheFilterShowsOnlyFilesOfTheKind) {
  Pictures files;
  for (const char* name : {"a.bmp", "b.tga", "c.cod", "d.BMP.txt"}) files.write_bytes(name, {1, 2, 3});
  QtPlatform platform;
  platform::FileChooserSpec request{"Bitmap Files(*.bmp)", "*.bmp", "bmp", true, false};
  std::unique_ptr<QFileDialog> dialog = platform.make_file_dialog(request, false);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setDirectory(QString::fromStdString(files.dir().string()));
  dialog->show();
  auto* list = dialog->findChild<QListView*>("listView");
  ASSERT_NE(list, nullptr);
  // The directory is read in the background.
  const auto names = [&] {
    QStringList out;
    const QModelIndex root = list->rootIndex();
    for (int r = 0; r < list->model()->rowCount(root); ++r) out << list->model()->index(r, 0, root).data().toString();
    return out;
  };
  EXPECT_TRUE(QTest::qWaitFor([&] { return !names().isEmpty(); }, 5000));
  EXPECT_EQ(names(), QStringList{"a.bmp"});
}

// Answers the next question box with `button` once it is up; returns its text through `text`.
void answer_question(QMessageBox::StandardButton button, QString* text) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, timer, [timer, button, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    *text = box->text();
    box->button(button)->click();
    timer->deleteLater();
  });
  timer->start(10);
}

TEST(QtFileDialogs, SavingOverAnExistingFileAsksFirst) {
  Pictures files;
  const std::string existing = files.write_bytes("old.cod", {1, 2, 3});
  QtPlatform platform;
  platform::FileChooserSpec request{"Compressed files", "*.cod", "", false, true};
  for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    std::unique_ptr<QFileDialog> dialog = platform.make_file_dialog(request, true);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->selectFile(QString::fromStdString(existing));
    QString question;
    answer_question(answer, &question);
    static_cast<QDialog*>(dialog.get())->accept();
    EXPECT_TRUE(question.contains("old.cod")) << question.toStdString();
    EXPECT_EQ(dialog->result() == QDialog::Accepted, answer == QMessageBox::Yes);
  }
  // Without the confirmation an existing file is taken at once.
  request.confirm_overwrite = false;
  std::unique_ptr<QFileDialog> dialog = platform.make_file_dialog(request, true);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->selectFile(QString::fromStdString(existing));
  static_cast<QDialog*>(dialog.get())->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST(QtFileDialogs, TheChosenPathComesBackWithItsTitle) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(30, 20);
  const std::string path = files.write_bitmap("pick me.bmp", picture);
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, path);
  ASSERT_EQ(qt(program).dialog_selections().size(), 1u);
  EXPECT_EQ(qt(program).dialog_selections()[0], path);
  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    pick me.bmp");
  EXPECT_EQ(QtPlatform::top_level(program.app().main_window())->windowTitle(),
            "Varnholt Image Compressor V2.5    pick me.bmp");
}

// ---------------------------------------------------------------------------------------------
// Files from outside the open dialog.

TEST(QtOpenNamed, TheExtensionPicksTheOpenCommandInAnyCase) {
  EXPECT_EQ(app::open_command_for_path("/tmp/a/B.BMP"), cmd::kCmdOpenBitmap);
  EXPECT_EQ(app::open_command_for_path("x.Tga"), cmd::kCmdOpenTarga);
  EXPECT_EQ(app::open_command_for_path("x.cod"), cmd::kCmdOpenCoded);
  EXPECT_EQ(app::open_command_for_path("x.cod.txt"), -1);
  EXPECT_EQ(app::open_command_for_path("dir.bmp/file"), -1);
  EXPECT_EQ(app::open_command_for_path("bmp"), -1);
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

TEST(QtOpenNamed, ADroppedFileOpensAsIfChosenInTheOpenDialog) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(30, 20);
  const std::string bmp = files.write_bitmap("dropped.bmp", picture);
  Program program(qt_factory());
  app::connect_file_opening(program.app(), qt(program));
  QWidget* top = QtPlatform::top_level(program.app().main_window());
  EXPECT_TRUE(top->acceptDrops());
  EXPECT_FALSE(QtPlatform::top_level(program.app().source_window())->acceptDrops());

  drop(top, bmp);
  program.platform().process_paints();
  EXPECT_TRUE(program.automation().file_requests().empty());  // no chooser came up
  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    dropped.bmp");
  EXPECT_EQ(program.app().main_window().client_size(), (platform::Size{30, 20}));
  EXPECT_EQ(differing_pixels(crop(program.main_image(), 30, 20), expected_image(picture)), 0);

  // The same checks and messages as a file chosen in the dialog.
  drop(top, files.path("missing.cod"));
  ASSERT_EQ(program.automation().messages().size(), 1u);
  EXPECT_EQ(program.automation().messages()[0].caption, "Cannot Open File");
  EXPECT_EQ(program.automation().messages()[0].text, files.path("missing.cod"));
  drop(top, files.write_bytes("notes.txt", {1}));
  ASSERT_EQ(program.automation().messages().size(), 2u);
  EXPECT_EQ(program.automation().messages()[1].text, files.path("notes.txt"));
  EXPECT_EQ(program.automation().messages()[1].caption, app::kUnknownFileKind);
  // Refusals leave the dropped picture in place.
  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    dropped.bmp");
}

// ---------------------------------------------------------------------------------------------
// Windows, help.

TEST(QtWindows, TheUsersResizeStretchesAndTheProgramsOwnMovesAreNotReportedTwice) {
  Pictures files;
  Program program(qt_factory());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kColour);
  // Let the window system confirm every size the program asked for: no mode change follows.
  QTest::qWait(50);
  program.platform().process_paints();
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kColour);
  QWidget* client = QtPlatform::client_widget(program.app().main_window());
  EXPECT_EQ(program.app().main_window().client_size(), (platform::Size{30, 20}));
  EXPECT_EQ(client->height(), 20);  // as wide as the menu needs, white beyond the picture

  program.automation().user_resize_client(program.app().main_window(), 90, 60);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ(program.state().display_width, 90);
  EXPECT_EQ(program.state().display_height, 60);
  EXPECT_EQ(client->size(), QSize(90, 60));
}

TEST(QtWindows, HelpOpensAViewerWithTheProgramsText) {
  Program program(qt_factory());
  program.command(cmd::kCmdHelpContents);
  QTextBrowser* viewer = qt(program).help_viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->windowTitle().toStdString(), std::string(resources::help_title()));
  EXPECT_EQ(viewer->toPlainText().toStdString(), std::string(resources::help_text()));
}

}  // namespace
}  // namespace varnic::testing
