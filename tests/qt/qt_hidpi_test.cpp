// On a screen scaled by 2 (QT_SCALE_FACTOR=2, set by the test's environment) the program's
// pixels are device-independent: windows and dialogs keep their sizes in those pixels, so they
// come out twice as large in device pixels, and pictures are enlarged by repeating pixels, never
// blurred.
#include <QScreen>

#include "qt_factory.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
using platform::QtPlatform;

TEST(QtHighDpi, PicturesAndDialogsKeepTheirSizeAndStaySharp) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(90, 30);
  Program program(qt_factory());
  ASSERT_DOUBLE_EQ(QtPlatform::top_level(program.app().main_window())->devicePixelRatioF(), 2.0)
      << "run with QT_SCALE_FACTOR=2";
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdNormal);
  QWidget* client = QtPlatform::client_widget(program.app().main_window());
  EXPECT_EQ(client->size(), QSize(90, 30));  // wider than the menu needs

  const QImage device = client->grab().toImage().convertToFormat(QImage::Format_RGB888);
  ASSERT_EQ(device.size(), QSize(180, 60));
  const platform::Image expected = expected_image(picture);
  int differing = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 180; ++x) {
      const QRgb shown = device.pixel(x, y);
      if (qRed(shown) != expected.at(x / 2, y / 2, 0) || qGreen(shown) != expected.at(x / 2, y / 2, 1) ||
          qBlue(shown) != expected.at(x / 2, y / 2, 2)) {
        ++differing;
      }
    }
  }
  EXPECT_EQ(differing, 0);

  QSize dialog_size;
  static_cast<ScriptedQtPlatform&>(program.platform()).set_dialog_driver([&](platform::QtDialog& d) {
    dialog_size = d.size();
    d.end(2);
  });
  program.command(cmd::kCmdEasySetup);
  EXPECT_EQ(dialog_size, QSize(333, 182));
}

}  // namespace
}  // namespace varnic::testing
