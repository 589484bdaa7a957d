// Whole-program scenarios over any backend. A backend offers a factory that makes a Platform
// together with its Automation; scenarios are written against those two interfaces only, so
// every backend can run the same stories (instantiate ScenarioTest with its factory).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "imagefile/imagefile.h"
#include "platform/automation.h"
#include "platform/platform.h"
#include "resources/resources.h"

namespace varnic::testing {

struct Backend {
  std::shared_ptr<platform::Platform> platform;
  platform::Automation* automation = nullptr;
};

struct BackendFactory {
  std::string name;
  std::function<Backend()> make;
  bool supports_eight_bit_screen = true;
  // The longest window side the window system allows (Windows: 16-bit signed coordinates).
  int max_window_side = 1 << 30;
};
inline void PrintTo(const BackendFactory& factory, std::ostream* os) { *os << factory.name; }

// One running program.
class Program {
 public:
  Program(const BackendFactory& factory, int screen_depth = 24);
  ~Program();

  app::Application& app() { return *app_; }
  app::AppState& state() { return app_->state(); }
  format::CodecParams& params() { return app_->params(); }
  platform::Platform& platform() { return *backend_.platform; }
  platform::Automation& automation() { return *backend_.automation; }
  platform::Menu& menu() { return app_->menu(); }

  // Runs a menu command as the user would and lets the windows repaint.
  void command(int id);
  void open(int command, const std::string& path);
  void save(int command, const std::string& path);
  void dialog(const std::string& name, std::vector<platform::DialogStep> steps);

  platform::Image main_image() { return automation().client_image(app_->main_window()); }
  platform::Image source_image() { return automation().client_image(app_->source_window()); }

 private:
  Backend backend_;
  std::unique_ptr<app::Application> app_;
};

// Test pictures, written to files in a per-test directory.
class Pictures {
 public:
  Pictures();
  ~Pictures();
  const std::filesystem::path& dir() const { return dir_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Smooth colour ramps with some texture, odd sizes welcome.
  static imagefile::PictureBuffer colour(int width, int height);
  static imagefile::PictureBuffer grey(int width, int height);
  // 8-bit picture with a colour (non-grey) palette.
  static imagefile::PictureBuffer palette(int width, int height);

  std::string write_bitmap(const std::string& name, const imagefile::PictureBuffer& picture) const;
  std::string write_targa(const std::string& name, const imagefile::PictureBuffer& picture) const;
  std::string write_bytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  static std::vector<std::uint8_t> read_bytes(const std::string& path);

 private:
  std::filesystem::path dir_;
};

// The picture a window should show at actual size: top-down RGB of a picture buffer.
platform::Image expected_image(const imagefile::PictureBuffer& picture);
// The top-left width x height corner of an image.
platform::Image crop(const platform::Image& image, int width, int height);
// Count of pixels that differ.
int differing_pixels(const platform::Image& a, const platform::Image& b);

class ScenarioTest : public ::testing::TestWithParam<BackendFactory> {};

}  // namespace varnic::testing
