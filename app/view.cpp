// SPDX-License-Identifier: BSD-2-Clause
// What the two windows show and the display commands that change it: painting at actual size or
// stretched, the display-size arithmetic and the option toggles.
#include <cmath>

#include "app/app.h"

namespace varnic::app {

namespace {

platform::BitmapView view_of(const std::vector<std::uint8_t>& bits, const imagefile::DisplayHeader& header) {
  platform::BitmapView view;
  view.bits = bits;
  view.width = header.info.width;
  view.height = header.info.height;
  view.bits_per_pixel = header.info.bit_count;
  view.colour_table = header.colour_table;
  return view;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Painting.

// The main window draws the current picture, the source window the picture as read; both at the
// display mode and through the palette of their 8-bit versions when the 8-bit display is on.
void Application::paint(platform::Surface& surface, bool source_window) {
  const std::vector<std::uint8_t>& pixels = source_window ? state_.source_buffer : state_.picture_buffer;
  if (pixels.empty() || (!source_window && state_.pending_file)) return;
  const int w = static_cast<int>(params_.image_width);
  const int h = static_cast<int>(params_.image_height);
  const bool eight_bit = state_.eight_bit_display;
  const DisplayMode mode = state_.display_mode;
  const auto bytes = static_cast<std::uint32_t>(state_.geometry.picture_bytes);
  imagefile::DisplayHeader& header = source_window ? state_.source_header : state_.display_header;
  imagefile::fill_bitmap_header(params_.image_mode, eight_bit, w, h, bytes, header);
  if (eight_bit || mode == DisplayMode::kGrey) surface.realise_palette(header.colour_table);
  // A grey picture is its own 8-bit version in the main window.
  const bool own_index = !source_window && mode == DisplayMode::kGrey;
  const bool indexed = eight_bit && !own_index;
  const std::vector<std::uint8_t>& drawn =
      indexed ? (source_window ? state_.source_index_buffer : state_.index_buffer) : pixels;
  // A conversion that failed or ran out of memory can leave a buffer short of the picture's size.
  if (drawn.size() < (indexed ? state_.geometry.index_bytes : state_.geometry.picture_bytes)) return;
  switch (mode) {
    case DisplayMode::kStretched:
      surface.stretch_bitmap(view_of(drawn, header), state_.display_width, state_.display_height);
      return;
    case DisplayMode::kColour:
    case DisplayMode::kGrey:
      // Actual size is a display size too; the source window keeps it for colour pictures only.
      if (!source_window || mode == DisplayMode::kColour) {
        state_.display_width = static_cast<std::uint16_t>(w);
        state_.display_height = static_cast<std::uint16_t>(h);
      }
      if (mode == DisplayMode::kColour) {
        imagefile::fill_bitmap_header(format::kImageModeColour, eight_bit, w, h, bytes, header);
      }
      surface.draw_bitmap(view_of(drawn, header), 0, 0);
      return;
    case DisplayMode::kNone:
    case DisplayMode::kPalette:
      return;
  }
}

// ---------------------------------------------------------------------------------------------
// Display commands.

void Application::scale_display(double factor) {
  state_.display_width = scale_display_size(state_.display_width, factor);
  state_.display_height = scale_display_size(state_.display_height, factor);
}

void Application::show_stretched() {
  state_.display_mode = DisplayMode::kStretched;
  fit_window_to_client(*main_window_, state_.display_width, state_.display_height);
  main_window_->invalidate(true);
}

// Stretch_up and Half_size end in a Stretch_down, so their factors come out 1.1 and 0.5.
void Application::stretch_up() {
  scale_display(1.2222222222222223);
  dispatch(kCmdStretchDown);
}

void Application::stretch_down() {
  scale_display(0.9);
  show_stretched();
}

void Application::half_size() {
  scale_display(0.5555555555555556);
  dispatch(kCmdStretchDown);
}

void Application::double_size() {
  scale_display(2.0);
  show_stretched();
}

void Application::normal() {
  state_.display_width = static_cast<std::uint16_t>(params_.image_width);
  state_.display_height = static_cast<std::uint16_t>(params_.image_height);
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height));
  // The fit itself reports a size change, which would switch back to stretching; the actual-size
  // mode holds until the next size change after this command.
  state_.display_mode = actual_size(params_.image_mode);
  main_window_->invalidate(true);
}

void Application::eight_bit() {
  if (!state_.eight_bit_display) {
    timed_convert_to_8bit();
  } else {
    state_.colour_quant_time = 0.0f;
  }
  toggle(state_.eight_bit_display);
}

void Application::dithering() { toggle(state_.fs_dithering); }
void Application::incremental() { toggle(state_.incremental_display); }

// The menu's check marks follow after the command (dispatch).
void Application::toggle(bool& flag) {
  flag = !flag;
  main_window_->invalidate(true);
}

std::uint16_t scale_display_size(std::uint16_t size, double factor) {
  const double scaled = std::trunc(static_cast<double>(size) * factor);
  if (!(scaled >= 0.0)) return 0;
  if (scaled > 65535.0) return 65535;
  return static_cast<std::uint16_t>(scaled);
}

}  // namespace varnic::app
