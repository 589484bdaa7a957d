// SPDX-License-Identifier: BSD-2-Clause
// Compress and the decode of an opened compressed file, with their timings, the previews of the
// incremental display and the 8-bit versions.
#include <algorithm>
#include <optional>

#include "app/app.h"
#include "app/pipeline.h"
#include "display/display.h"

namespace varnic::app {

// The wait cursor and the mouse capture of a long command, given back on every way out.
class Application::Busy {
 public:
  Busy(platform::Platform& platform, platform::Window& window) : platform_(platform) {
    window.set_capture();
    previous_ = platform_.set_cursor(platform::Cursor::kWait);
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;
  ~Busy() {
    platform_.set_cursor(previous_);
    platform_.release_capture();
  }

 private:
  platform::Platform& platform_;
  platform::Cursor previous_ = platform::Cursor::kArrow;
};

void Application::compress_command() {
  if (!state_.source_buffer.empty()) {
    state_.picture_buffer = state_.source_buffer;
    (void)compress();
  }
  main_window_->invalidate(true);
}

void Application::decode() { (void)decode_compressed_file(); }

// ---------------------------------------------------------------------------------------------
// Decoding an opened compressed file (command 42).

int Application::decode_compressed_file() {
  if (!state_.pending_file || !state_.pending_header) return 1;
  // What the file dialog covered is drawn again before the work keeps the screen as it is.
  platform_.process_paints();
  std::optional<Busy> busy(std::in_place, platform_, *main_window_);

  state_.start_clock = now();
  state_.compressed_stream.clear();
  state_.compressed_ready = false;
  state_.encoder_reconstruction = false;
  release_planes();

  format::FileHeader header;
  decoder::CodeSet planes;
  if (display::decode_coefficients(state_.pending_file->file(), pixel_limit_, 1, header, planes) !=
      format::StatusCode::kOk) {
    return 1;
  }

  // The file's fields replace the user's; settings the file does not carry stay.
  format::apply_file_settings(header, params_);
  state_.header_magic = header.magic;
  state_.comment = std::string(varnic::cut_utf8(header.comment, varnic::kMaxCommentBytes));
  state_.bits_per_pixel = params_.image_mode == format::kImageModeColour ? 24 : 8;
  recompute_geometry();
  state_.planes = std::move(planes);
  state_.pending_file.reset();
  state_.pending_header.reset();

  state_.end_clock = now();
  state_.entropy_decode_time = utils::elapsed_seconds(state_.start_clock, state_.end_clock);

  state_.start_clock = now();
  held_seconds_ = 0.0;
  state_.picture_buffer.assign(state_.geometry.picture_bytes, 0);
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height));
  pipeline::PreviewSink sink = [this](std::span<const std::uint8_t> pixels, int w, int h, int bpp) {
    show_preview(pixels, w, h, bpp);
  };
  (void)pipeline::reconstruct(state_.planes, params_, state_.header_magic, state_.incremental_display ? &sink : nullptr,
                              state_.picture_buffer);
  state_.end_clock = now();
  state_.wavelet_time = reconstruction_time();

  if (state_.eight_bit_display) {
    timed_convert_to_8bit();
  } else {
    state_.colour_quant_time = 0.0f;
  }
  state_.total_time = state_.wavelet_time + state_.entropy_decode_time + state_.colour_quant_time;
  busy.reset();

  state_.display_mode = actual_size(params_.image_mode);
  if (params_.image_mode == format::kImageModeGrey) imagefile::set_grey_colour_table(state_.display_header);
  main_window_->invalidate(false);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Compress.

int Application::compress() {
  if (state_.picture_buffer.empty()) return 1;
  // What a menu or dialog covered is drawn again before the work keeps the screen as it is.
  platform_.process_paints();
  main_window_->draw_now([](platform::Surface& s) { s.draw_text(kProgressX, kCompressingY, "Compressing..."); });
  std::optional<Busy> busy(std::in_place, platform_, *main_window_);

  pipeline::EncodeOutput encoded;
  const format::StatusCode status = pipeline::encode(state_.picture_buffer, params_, state_.comment, encoded);
  if (status != format::StatusCode::kOk) {
    // Building or transforming the planes fails silently and coding a channel is reported; a
    // picture the encoder refuses up front (a side of 1 or 2 pixels) says why.
    if (status == format::StatusCode::kEncodeFailed || status == format::StatusCode::kPictureTooSmall ||
        status == format::StatusCode::kPictureSideTooLarge || status == format::StatusCode::kCommentTooLong) {
      message(format::message(status), "ERROR");
    }
    return 1;
  }
  state_.compressed_stream = std::move(encoded.stream);
  state_.planes = std::move(encoded.planes);

  main_window_->draw_now([](platform::Surface& s) { s.draw_text(kProgressX, kReconstructingY, "Reconstructing..."); });
  state_.start_clock = now();
  held_seconds_ = 0.0;
  state_.encoder_reconstruction = true;
  state_.entropy_decode_time = 0.0f;
  pipeline::PreviewSink sink = [this](std::span<const std::uint8_t> pixels, int w, int h, int bpp) {
    show_preview(pixels, w, h, bpp);
  };
  if (pipeline::reconstruct(state_.planes, encoded.working, format::kCurrentMagic,
                            state_.incremental_display ? &sink : nullptr, state_.picture_buffer) != format::StatusCode::kOk) {
    message(format::message(format::StatusCode::kReconstructFailed), "ERROR");
    return 1;
  }
  state_.end_clock = now();
  state_.wavelet_time = reconstruction_time();
  if (state_.eight_bit_display) {
    state_.start_clock = now();
    if (convert_to_8bit() != 0) {
      message(format::message(format::StatusCode::kColourQuantFailed), "ERROR");
      return 1;
    }
    state_.end_clock = now();
    state_.colour_quant_time = utils::elapsed_seconds(state_.start_clock, state_.end_clock);
  } else {
    state_.colour_quant_time = 0.0f;
  }

  if (!source_window_->is_destroyed()) {
    const platform::Rect r = source_window_->outer_rect();
    source_window_->move(r.x, r.y, static_cast<int>(params_.image_width) + 6, static_cast<int>(params_.image_height) + 25, true);
    fit_window_to_client(*source_window_, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height));
    source_window_->show();
  }
  state_.total_time = state_.wavelet_time + state_.entropy_decode_time + state_.colour_quant_time;
  state_.compressed_size = static_cast<std::uint32_t>(state_.compressed_stream.size());
  main_window_->invalidate(false);
  busy.reset();
  state_.compressed_ready = true;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// 8-bit versions and previews.

std::uint16_t Application::convert_to_8bit() {
  const format::StatusCode status = pipeline::convert_to_8bit(
      state_.picture_buffer, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height),
      params_.image_mode, state_.fs_dithering, state_.index_buffer, state_.display_header.colour_table);
  return status == format::StatusCode::kOk ? 0 : 1;
}

void Application::show_preview(std::span<const std::uint8_t> pixels, int width, int height, int bits_per_pixel) {
  // A colour file whose version selects no conversion has nothing to show.
  if (pixels.empty()) return;
  const bool eight_bit = state_.eight_bit_display;
  const bool grey = bits_per_pixel == 8;
  // Grey previews use the grey ramp; colour previews the fixed preview palette, on 8-bit screens only.
  if (grey) {
    imagefile::set_grey_colour_table(state_.preview_header);
  } else if (eight_bit) {
    state_.preview_header.colour_table = pipeline::preview_palette();
  }
  const int image_width = static_cast<int>(params_.image_width);
  const int image_height = static_cast<int>(params_.image_height);
  std::vector<std::uint8_t> index;
  platform::BitmapView view;
  view.width = width;
  view.height = height;
  view.colour_table = state_.preview_header.colour_table;
  if (eight_bit && !grey) {
    if (pipeline::map_to_preview_palette(pixels, width, height, state_.fs_dithering, index) != format::StatusCode::kOk) {
      return;  // nothing drawn; the reconstruction goes on
    }
    view.bits = index;
    view.bits_per_pixel = 8;
  } else {
    view.bits = pixels;
    view.bits_per_pixel = bits_per_pixel;
  }
  main_window_->draw_now([&](platform::Surface& s) {
    if (eight_bit) s.realise_palette(state_.preview_header.colour_table);
    s.stretch_bitmap(view, image_width, image_height);
  });
  main_window_->invalidate(false);
  // For demonstrations: a fast machine shows the levels too briefly to be seen. The time held is
  // no time of the reconstruction's.
  if (preview_hold_ms_ > 0) {
    const utils::ClockReading before = now();
    platform_.pause(preview_hold_ms_);
    held_seconds_ += utils::elapsed_seconds(before, now());
  }
}

float Application::reconstruction_time() const {
  return static_cast<float>(std::max(0.0, utils::elapsed_seconds(state_.start_clock, state_.end_clock) - held_seconds_));
}

void Application::timed_convert_to_8bit() {
  state_.start_clock = now();
  (void)convert_to_8bit();
  state_.end_clock = now();
  state_.colour_quant_time = utils::elapsed_seconds(state_.start_clock, state_.end_clock);
}

}  // namespace varnic::app
