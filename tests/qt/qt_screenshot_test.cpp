// The desktop program on a real X server (Xvfb, started by scripts/screenshots.sh): the bundled
// sample is opened and compressed, and what the server shows in the main window's client area is
// compared pixel for pixel with the library's decode of the saved file; the source window with
// the sample as read; reopened, every preview of the decode must be on the server when drawn.
// Screenshots of both windows, every dialog, a message box, the file dialogs, the help viewer and
// each preview are written for a person to look at.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <cstdlib>

#include "display/display.h"
#include "qt_factory.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
using platform::QtPlatform;

const char* screenshot_dir() {
  const char* dir = std::getenv("VARNIC_SCREENSHOT_DIR");
  return dir != nullptr && *dir != '\0' ? dir : VARNIC_SCREENSHOT_DIR;
}

// What the X server holds for a rectangle of a top-level window.
QImage from_server(QWidget& top, const QRect& area) {
  QScreen* screen = top.screen();
  return screen->grabWindow(top.winId(), area.x(), area.y(), area.width(), area.height()).toImage();
}

platform::Image rgb_of(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  platform::Image out{image.width(), image.height(), {}};
  for (int y = 0; y < image.height(); ++y) {
    const uchar* row = image.constScanLine(y);
    out.rgb.insert(out.rgb.end(), row, row + static_cast<std::ptrdiff_t>(image.width()) * 3);
  }
  return out;
}

void settle(QWidget& widget) {
  widget.show();
  widget.raise();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget, 5000));
  // Paints reach the server through the backing store; give them a moment.
  QTest::qWait(150);
}

bool save(QWidget& top, const std::string& name) {
  settle(top);
  const QString path = QString::fromStdString(std::string(screenshot_dir()) + "/" + name + ".png");
  return from_server(top, QRect(0, 0, top.width(), top.height())).save(path);
}

TEST(QtScreenshots, TheCompressedSampleOnScreenIsTheDecodedPicture) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    FAIL() << "needs an X server: run it through scripts/screenshots.sh (xvfb-run)";
  }
  ASSERT_TRUE(QDir().mkpath(screenshot_dir()));
  Pictures files;
  Program program(qt_factory());
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  ASSERT_NE(program.platform().screen_depth(), 8);
  auto& platform = static_cast<ScriptedQtPlatform&>(program.platform());
  std::vector<std::string> shots;
  platform.set_observer([&](const std::string& name, QWidget& widget) {
    std::string file = name;
    for (char& c : file) c = c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (dynamic_cast<platform::QtDialog*>(&widget) != nullptr) file = "dialog-" + file;
    EXPECT_TRUE(save(widget, file)) << file;
    shots.push_back(file);
    widget.hide();
  });

  const std::string sample = std::string(VARNIC_TEST_DATA) + "/astronaut_512.bmp";
  program.open(cmd::kCmdOpenBitmap, sample);
  program.command(cmd::kCmdCompress);
  program.command(cmd::kCmdNormal);  // actual size
  ASSERT_TRUE(program.automation().messages().empty());
  const std::string cod = files.path("astronaut.cod");
  program.save(cmd::kCmdSave, cod);

  display::DecodedFile decoded;
  ASSERT_EQ(display::decode_file(Pictures::read_bytes(cod), format::kDefaultPixelLimit, {}, decoded),
            format::StatusCode::kOk);
  imagefile::PictureBuffer reconstruction;
  ASSERT_EQ(imagefile::read_bitmap_file(sample, reconstruction), imagefile::FileStatus::kOk);
  const imagefile::PictureBuffer source = reconstruction;
  ASSERT_EQ(reconstruction.pixels.size(), decoded.picture.pixels.size());
  reconstruction.pixels = decoded.picture.pixels;

  QWidget& main_top = *QtPlatform::top_level(program.app().main_window());
  QWidget& main_client = *QtPlatform::client_widget(program.app().main_window());
  QWidget& source_top = *QtPlatform::top_level(program.app().source_window());
  QWidget& source_client = *QtPlatform::client_widget(program.app().source_window());
  // The source window opens over the main window's right part; the user drags it aside, as
  // nothing else on a bare X server would.
  source_top.move(main_top.frameGeometry().right() + 20, main_top.y());
  settle(main_top);
  settle(source_top);
  program.platform().process_paints();
  QTest::qWait(150);
  ASSERT_EQ(main_client.size(), QSize(512, 512));
  ASSERT_TRUE(program.app().source_window().is_visible());
  // A newly mapped window reaches the server a little after it was painted.
  const platform::Image wanted_main = expected_image(reconstruction);
  const platform::Image wanted_source = expected_image(source);
  platform::Image shown, original;
  // The comparisons below report a timeout with the differing pixels.
  static_cast<void>(QTest::qWaitFor(
      [&] {
        shown = rgb_of(from_server(main_top, main_client.geometry()));
        original = crop(rgb_of(from_server(source_top, source_client.geometry())), 512, 512);
        return differing_pixels(shown, wanted_main) == 0 && differing_pixels(original, wanted_source) == 0;
      },
      5000));
  EXPECT_EQ(differing_pixels(shown, wanted_main), 0);
  EXPECT_EQ(differing_pixels(original, wanted_source), 0);

  // The two differ: the main window really shows the reconstruction, not the source.
  EXPECT_GT(differing_pixels(shown, original), 0);

  EXPECT_TRUE(save(main_top, "main-window"));
  EXPECT_TRUE(save(source_top, "source-window"));

  // Every dialog, closed by the Escape key once photographed.
  for (int command : {cmd::kCmdEasySetup, cmd::kCmdMasterSetup, cmd::kCmdProperties, cmd::kCmdResize,
                      cmd::kCmdComments, cmd::kCmdAbout}) {
    program.command(command);
  }
  program.command(cmd::kCmdHelpContents);
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
    if (!frame.immediate || frame.window != program.app().main_window().title()) return;
    const QImage server = from_server(main_top, main_client.geometry());
    EXPECT_EQ(differing_pixels(rgb_of(server), crop(frame.image, server.width(), server.height())), 0) << level;
    const std::string name = std::string(screenshot_dir()) + "/preview-level-" + std::to_string(level++) + ".png";
    EXPECT_TRUE(server.save(QString::fromStdString(name)));
  });
  program.open(cmd::kCmdOpenCoded, cod);
  platform.set_frame_observer(nullptr);
  EXPECT_EQ(level, 5);  // 512 x 512 codes with 5 levels
  EXPECT_TRUE(save(main_top, "decoded"));
}

}  // namespace
}  // namespace varnic::testing
