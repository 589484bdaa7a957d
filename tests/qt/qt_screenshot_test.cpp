// SPDX-License-Identifier: BSD-2-Clause
// The desktop program on a real X server (Xvfb, started by scripts/screenshots.sh): the bundled
// sample is opened and compressed, and what the server shows in the main window's client area is
// compared pixel for pixel with the library's decode of the saved file; the source window with
// the sample as read; reopened, every preview of the decode must be on the server when drawn.
// Screenshots of both windows, every dialog, a message box, the file dialogs, the help viewer and
// each preview are written for a person to look at.
#include <QDir>
#include <algorithm>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <cstdlib>

#include "display/display.h"
#include "qt_factory.h"

namespace varnic::testing {
namespace {

using platform::QtPlatform;

std::string screenshot_dir() {
  const char* dir = std::getenv("VARNIC_SCREENSHOT_DIR");
  return dir != nullptr && *dir != '\0' ? dir : VARNIC_SCREENSHOT_DIR;
}

// What the X server holds for a rectangle of a top-level window.
QImage from_server(QWidget& top, const QRect& area) {
  return top.screen()->grabWindow(top.winId(), area.x(), area.y(), area.width(), area.height()).toImage();
}

bool save(QWidget& top, const std::string& name) {
  top.show();
  top.raise();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&top, 5000));
  QTest::qWait(150);  // paints reach the server through the backing store
  return from_server(top, top.rect()).save(QString::fromStdString(screenshot_dir() + "/" + name + ".png"));
}

TEST(QtScreenshots, TheCompressedSampleOnScreenIsTheDecodedPicture) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs an X server: run it through scripts/screenshots.sh";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(screenshot_dir())));
  Pictures files;
  Program program(qt_factory());
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  auto& platform = static_cast<ScriptedQtPlatform&>(program.platform());
  std::vector<std::string> shots;
  platform.set_observer([&](const std::string& name, QWidget& widget) {
    std::string file = dynamic_cast<platform::QtDialog*>(&widget) != nullptr ? "dialog-" + name : name;
    for (char& c : file) c = c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(save(widget, file)) << file;
    shots.push_back(file);
    widget.hide();
  });

  const std::string sample = std::string(VARNIC_TEST_DATA) + "/astronaut_512.bmp", cod = files.path("astronaut.cod");
  program.open(cmd::kCmdOpenBitmap, sample);
  program.command(cmd::kCmdNormal);  // actual size
  program.save(cmd::kCmdSave, cod);  // compresses first
  ASSERT_TRUE(program.messages().empty());
  display::DecodedFile decoded;
  ASSERT_EQ(display::decode_file(Pictures::read_bytes(cod), format::kDefaultPixelLimit, {}, decoded),
            format::StatusCode::kOk);
  imagefile::PictureBuffer source;
  ASSERT_EQ(imagefile::read_bitmap_file(sample, source), imagefile::FileStatus::kOk);
  const platform::Image wanted_main = expected_image(as_picture(decoded.picture.pixels, 512, 512, 24));
  const platform::Image wanted_source = expected_image(source);
  ASSERT_GT(differing_pixels(wanted_main, wanted_source), 0);  // the main window shows the reconstruction

  QWidget& main_top = *QtPlatform::top_level(program.app().main_window());
  QWidget& main_client = *QtPlatform::client_widget(program.app().main_window());
  QWidget& source_top = *QtPlatform::top_level(program.app().source_window());
  QWidget& source_client = *QtPlatform::client_widget(program.app().source_window());
  // The source window opens over the main window's right part; the user drags it aside, as
  // nothing else on a bare X server would.
  source_top.move(main_top.frameGeometry().right() + 20, main_top.y());
  EXPECT_TRUE(save(main_top, "main-window") && save(source_top, "source-window"));
  ASSERT_EQ(main_client.size(), QSize(512, 512));
  // A newly mapped window reaches the server a little after it was painted.
  platform::Image shown, original;
  static_cast<void>(QTest::qWaitFor(
      [&] {
        shown = rgb_image(from_server(main_top, main_client.geometry()));
        original = crop(rgb_image(from_server(source_top, source_client.geometry())), 512, 512);
        return differing_pixels(shown, wanted_main) == 0 && differing_pixels(original, wanted_source) == 0;
      },
      5000));
  EXPECT_EQ(differing_pixels(shown, wanted_main), 0);
  EXPECT_EQ(differing_pixels(original, wanted_source), 0);

  // Every dialog, closed by the Escape key once photographed.
  for (const int command : {cmd::kCmdEasySetup, cmd::kCmdMasterSetup, cmd::kCmdProperties, cmd::kCmdResize,
                            cmd::kCmdComments, cmd::kCmdAbout, cmd::kCmdHelpContents}) {
    program.command(command);
  }
  program.open(cmd::kCmdOpenBitmap, files.path("missing.bmp"));  // the open dialog and a message box
  for (const char* name : {"dialog-easyset", "dialog-imagesetup", "dialog-infor", "dialog-resize", "dialog-comments",
                           "dialog-dialabout", "help", "open-file", "save-file", "message-box"}) {
    EXPECT_NE(std::find(shots.begin(), shots.end(), name), shots.end()) << name;
  }

  // The saved file opened again: each level's preview is on the X server as soon as it is drawn.
  platform.set_observer(nullptr);
  int level = 0;
  platform.record_frames(true);
  platform.set_frame_observer([&](const platform::Frame& frame) {
    if (!frame.immediate || frame.window != program.title()) return;
    const QImage server = from_server(main_top, main_client.geometry());
    EXPECT_EQ(differing_pixels(rgb_image(server), crop(frame.image, server.width(), server.height())), 0) << level;
    EXPECT_TRUE(server.save(QString::fromStdString(screenshot_dir() + "/preview-level-" + std::to_string(level++) + ".png")));
  });
  program.open(cmd::kCmdOpenCoded, cod);
  platform.set_frame_observer(nullptr);
  EXPECT_EQ(level, 5);  // 512 x 512 codes with 5 levels
  EXPECT_TRUE(save(main_top, "decoded"));
}

}  // namespace
}  // namespace varnic::testing
