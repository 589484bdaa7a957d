// SPDX-License-Identifier: BSD-2-Clause
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

namespace cmd = app;
namespace id = resources::control;
using platform::DialogStep;

struct Backend {
  std::shared_ptr<platform::Platform> platform;
  platform::Automation* automation = nullptr;
};

struct BackendFactory {
  std::string name;
  std::function<Backend()> make;
  bool supports_eight_bit_screen = true;
};
inline void PrintTo(const BackendFactory& factory, std::ostream* os) { *os << factory.name; }

// One running program.
class Program {
 public:
  explicit Program(const BackendFactory& factory, int screen_depth = 24);
  ~Program() { app_.reset(); }

  app::Application& app() { return *app_; }
  app::AppState& state() { return app_->state(); }
  format::CodecParams& params() { return app_->params(); }
  platform::Platform& platform() { return *backend_.platform; }
  platform::Automation& automation() { return *backend_.automation; }
  platform::Menu& menu() { return app_->menu(); }
  const std::vector<platform::MessageRecord>& messages() { return automation().messages(); }
  std::string title() { return app_->main_window().title(); }
  platform::Size client() { return app_->main_window().client_size(); }
  platform::Image main_image() { return automation().client_image(app_->main_window()); }
  platform::Image source_image() { return automation().client_image(app_->source_window()); }

  // Runs a menu command as the user would and lets the windows repaint.
  void command(int id);
  // Runs a command whose file chooser answers `path`.
  void open(int command, const std::string& path);
  void save(int command, const std::string& path) { open(command, path); }
  // Runs a command whose dialog `name` plays `steps`; the script must fit that dialog.
  const platform::DialogRun& run_dialog(int command, const std::string& name, std::vector<DialogStep> steps);

 private:
  Backend backend_;
  std::unique_ptr<app::Application> app_;
};

// The user's steps in a dialog.
inline DialogStep type(int control, std::string text) { return DialogStep::set_text(control, std::move(text)); }
inline DialogStep press(int control) { return DialogStep::press(control); }
inline DialogStep snapshot() { return DialogStep::snapshot(); }

// Test pictures, written to files in a per-test directory.
class Pictures {
 public:
  Pictures();
  ~Pictures();
  const std::filesystem::path& dir() const { return dir_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write_bytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  std::string write_bitmap(const std::string& name, const imagefile::PictureBuffer& picture) const {
    return write_bytes(name, imagefile::encode_bitmap(picture));
  }
  static std::vector<std::uint8_t> read_bytes(const std::string& path);

  // Colour ramps with some texture, odd sizes welcome; grey; grey through a colour palette.
  static imagefile::PictureBuffer colour(int width, int height);
  static imagefile::PictureBuffer grey(int width, int height);
  static imagefile::PictureBuffer palette(int width, int height);

 private:
  std::filesystem::path dir_;
};

// The main window's title with a file open.
inline std::string titled(const std::string& file) { return std::string(resources::kProgramTitle) + "    " + file; }
// A picture buffer around pixels in the program's layout (grey ramp for 8 bits).
imagefile::PictureBuffer as_picture(std::vector<std::uint8_t> pixels, int width, int height, int bits);
// The picture a window should show at actual size: top-down RGB of a picture buffer.
platform::Image expected_image(const imagefile::PictureBuffer& picture);
// The top-left width x height corner of an image, each pixel repeated `factor` times across and down.
platform::Image crop(const platform::Image& image, int width, int height, int factor = 1);
int differing_pixels(const platform::Image& a, const platform::Image& b);
// Memory the process holds in physical pages now.
std::int64_t resident_bytes();

class ScenarioTest : public ::testing::TestWithParam<BackendFactory> {};

}  // namespace varnic::testing
