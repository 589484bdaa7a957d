// The scripted session behind `make run`.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/session.h"
#include "platform/headless/headless.h"

namespace varnic::app {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("varnic_session_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(SessionTest, RunsTheSampleRoadAndWritesScreenshots) {
  platform::HeadlessPlatform platform;
  Application app(platform);
  app.start();
  const std::string sample = std::string(VARNIC_TEST_DATA) + "/camera_512_grey.bmp";
  std::istringstream script("# comment line\n\nopen bmp " + sample + "\ncommand 106\nsave cod " + (dir_ / "s.cod").string() +
                            "\nopen cod " + (dir_ / "s.cod").string() + "\nscreenshot main " + (dir_ / "m.ppm").string() +
                            "\nexit\ncommand 106\n");
  std::ostringstream log;
  EXPECT_EQ(run_session(app, platform, platform, script, log), 0);
  EXPECT_TRUE(app.main_window().is_destroyed());
  EXPECT_NE(log.str().find("title: Varnholt Image Compressor V2.5    s.cod"), std::string::npos);
  EXPECT_EQ(log.str().find("> command 106\n  title: Varnholt Image Compressor V2.5    s.cod"), std::string::npos)
      << "lines after exit must not run";
  ASSERT_TRUE(std::filesystem::exists(dir_ / "s.cod"));
  // 512 x 512 grey shown as RGB: header "P6\n512 512\n255\n" and three bytes per pixel.
  EXPECT_EQ(std::filesystem::file_size(dir_ / "m.ppm"), 15u + 512u * 512u * 3u);
  EXPECT_EQ(platform.run(), 0);
}

TEST_F(SessionTest, UnknownLinesAreReportedAndFailTheSession) {
  platform::HeadlessPlatform platform;
  Application app(platform);
  app.start();
  std::istringstream script("open gif /nowhere.gif\nfrobnicate\ncommand\ncommand 100\n");
  std::ostringstream log;
  EXPECT_EQ(run_session(app, platform, platform, script, log), 1);
  EXPECT_NE(log.str().find("dialog INFOR"), std::string::npos);  // the good line still ran
}

}  // namespace
}  // namespace varnic::app
