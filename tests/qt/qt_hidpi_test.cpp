// SPDX-License-Identifier: BSD-2-Clause
// On a screen scaled by 2 (QT_SCALE_FACTOR=2, set by the test's environment) the program's
// pixels are device-independent: windows and dialogs keep their sizes in those pixels, so they
// come out twice as large in device pixels, and pictures are enlarged by repeating pixels, never
// blurred.
#include "qt_factory.h"

namespace varnic::testing {
namespace {

using platform::QtPlatform;

TEST(QtHighDpi, PicturesAndDialogsKeepTheirSizeAndStaySharp) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(90, 30);  // wider than the menu needs
  Program program(qt_factory());
  ASSERT_DOUBLE_EQ(QtPlatform::top_level(program.app().main_window())->devicePixelRatioF(), 2.0)
      << "run with QT_SCALE_FACTOR=2";
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdNormal);
  QWidget* client = QtPlatform::client_widget(program.app().main_window());
  EXPECT_EQ(client->size(), QSize(90, 30));
  const platform::Image device = rgb_image(client->grab().toImage());
  EXPECT_EQ(differing_pixels(device, crop(expected_image(picture), 180, 60, 2)), 0);
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
