// SPDX-License-Identifier: BSD-2-Clause
// The scripted session behind `make run`.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "app/session.h"
#include "platform/headless/headless.h"

namespace varnic::app {
namespace {

TEST(SessionTest, RunsTheSampleRoadStopsAtExitAndFailsOnUnknownLines) {
  const auto dir = std::filesystem::temp_directory_path() / ("varnic_session_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string cod = (dir / "s.cod").string(), ppm = (dir / "m.ppm").string();
  const std::string sample = std::string(VARNIC_TEST_DATA) + "/camera_512_grey.bmp";
  const std::pair<std::string, int> scripts[] = {
      {"# comment line\n\nopen bmp " + sample + "\ncommand 106\nsave cod " + cod + "\nopen cod " + cod +
           "\nscreenshot main " + ppm + "\nexit\nfrobnicate\n",
       0},
      {"open gif /nowhere.gif\nfrobnicate\ncommand\ncommand 100\n", 1}};
  for (const auto& [script, status] : scripts) {
    platform::HeadlessPlatform platform;
    Application app(platform);
    app.start();
    std::istringstream in(script);
    std::ostringstream log;
    EXPECT_EQ(run_session(app, platform, platform, in, log), status) << log.str();
    EXPECT_NE(log.str().find(status == 0 ? "title: Varnholt Image Compressor V2.5    s.cod" : "dialog INFOR"),
              std::string::npos);  // the good lines ran
  }
  // 512 x 512 grey shown as RGB: header "P6\n512 512\n255\n" and three bytes per pixel.
  EXPECT_EQ(std::filesystem::file_size(ppm), 15u + 512u * 512u * 3u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnic::app
