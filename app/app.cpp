// SPDX-License-Identifier: BSD-2-Clause
// The program's state and the dispatch of its commands: start-up, the window handlers, fitting a
// window to a client size and the menu rules of what was opened.
#include "app/app.h"

#include <new>

#include "resources/resources.h"

namespace varnic::app {

namespace {

// Moves FitWindowToClient makes at most. A menu bar that wraps in a very narrow window can leave
// no client area at first, so that the frame's true height shows only after a few moves; each
// move at least doubles the height until then.
constexpr int kFitAttempts = 8;

}  // namespace

// ---------------------------------------------------------------------------------------------

class Application::MainHandler final : public platform::WindowHandler {
 public:
  explicit MainHandler(Application& app) : app_(app) {}
  void on_paint(platform::Surface& surface) override { app_.paint(surface, false); }
  void on_size(int width, int height) override { app_.on_main_size(width, height); }
  void on_command(int command) override { app_.dispatch(command); }
  void on_focus() override { app_.main_window_->invalidate(true); }
  void on_close() override { app_.destroy_main(); }

 private:
  Application& app_;
};

class Application::SourceHandler final : public platform::WindowHandler {
 public:
  explicit SourceHandler(Application& app) : app_(app) {}
  void on_paint(platform::Surface& surface) override { app_.paint(surface, true); }
  // A click gives the window the size at which the main window draws.
  void on_mouse_button() override {
    app_.fit_window_to_client(*app_.source_window_, app_.state_.display_width, app_.state_.display_height);
    app_.source_window_->invalidate(true);
  }
  // Closing only hides it: the next Compress shows it again.
  void on_close() override { app_.source_window_->hide(); }

 private:
  Application& app_;
};

// ---------------------------------------------------------------------------------------------

Application::Application(platform::Platform& platform)
    : platform_(platform), main_handler_(std::make_unique<MainHandler>(*this)),
      source_handler_(std::make_unique<SourceHandler>(*this)) {}

Application::~Application() = default;

void Application::start() {
  auto window_at = [](std::string_view title, const platform::Rect& frame) {
    return platform::WindowSpec{std::string(title), frame.x, frame.y, frame.width, frame.height};
  };
  platform::WindowSpec main = window_at(resources::kProgramTitle, kMainWindowFrame);
  main.menu = &main_menu();
  main_window_ = &platform_.create_window(main, *main_handler_);

  initialise_state();
  main_window_->show();

  source_window_ = &platform_.create_window(window_at(resources::kSourceWindowTitle, kSourceWindowFrame), *source_handler_);
  platform_.process_paints();
}

void Application::initialise_state() {
  params_ = codec::default_codec_params();
  state_.display_width = 0;
  state_.display_height = 0;
  state_.header_magic = format::kCurrentMagic;
  state_.compressed_size = 0;
  state_.incremental_display = true;
  state_.eight_bit_display = platform_.screen_depth() == 8;
  state_.fs_dithering = true;
  update_menu(menu(), menu_state());
  imagefile::set_grey_colour_table(state_.display_header);
  imagefile::set_grey_colour_table(state_.source_header);
  imagefile::set_grey_colour_table(state_.preview_header);
}

utils::ClockReading Application::now() const {
  const utils::ClockReading reading = platform_.now();
  return utils::ClockReading{reading.seconds, reading.milliseconds};
}

void Application::message(std::string_view text, std::string_view caption) { platform_.message_box(text, caption); }

// ---------------------------------------------------------------------------------------------
// Window messages.

void Application::on_main_size(int width, int height) {
  state_.display_mode = DisplayMode::kStretched;
  state_.display_width = static_cast<std::uint16_t>(width);
  state_.display_height = static_cast<std::uint16_t>(height);
  fit_window_to_client(*main_window_, width, height);
  main_window_->invalidate(true);
}

void Application::destroy_main() {
  state_.picture_buffer.clear();
  state_.picture_buffer.shrink_to_fit();
  main_window_->destroy();
  platform_.quit(0);
}

void Application::fit_window_to_client(platform::Window& window, int width, int height) {
  // Sizes travel as unsigned 16-bit values.
  const int w = static_cast<std::uint16_t>(width);
  const int h = static_cast<std::uint16_t>(height);
  // A window system may lay its frame out anew at the new size: a menu bar wraps onto more rows
  // in a narrow window. Fitting again with the frame of the new size settles it; where the
  // frame does not change, the first move is the only one.
  for (int attempt = 0; attempt < kFitAttempts; ++attempt) {
    const platform::Rect outer = window.outer_rect();
    const platform::Size client = window.client_size();
    if (attempt > 0 && client == platform::Size{w, h}) break;
    window.move(outer.x, outer.y, w + (outer.width - client.width), h + (outer.height - client.height), true);
  }
}

MenuState Application::menu_state() const {
  return MenuState{state_.opened, state_.eight_bit_display, state_.fs_dithering, state_.incremental_display};
}

void Application::opened(Opened kind) {
  state_.opened = kind;
  update_menu(menu(), menu_state());
  if (source_window_ != nullptr) source_window_->hide();
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height));
  main_window_->invalidate(true);
}

// ---------------------------------------------------------------------------------------------
// Command dispatch.

void Application::dispatch(int command) {
  if (main_window_ == nullptr || main_window_->is_destroyed()) return;
  const CommandRow* row = find_command(command & kCommandNumberMask);
  if (row == nullptr) return;
  try {
    (static_cast<Commands&>(*this).*row->run)();
  } catch (const std::bad_alloc&) {
    // A command that runs out of memory ends there; the program and its other pictures stay.
    message(format::message(format::StatusCode::kOutOfMemory), "ERROR");
  }
  if (!main_window_->is_destroyed()) update_menu(menu(), menu_state());
}

void Application::exit() { destroy_main(); }


}  // namespace varnic::app
