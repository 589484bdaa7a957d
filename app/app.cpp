// SPDX-License-Identifier: BSD-2-Clause
#include "app/app.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include "app/pipeline.h"
#include "display/display.h"
#include "resources/resources.h"

namespace varnic::app {

namespace {

// Moves FitWindowToClient makes at most. A menu bar that wraps in a very narrow window can leave
// no client area at first, so that the frame's true height shows only after a few moves; each
// move at least doubles the height until then.
constexpr int kFitAttempts = 8;

platform::BitmapView view_of(const std::vector<std::uint8_t>& bits, const imagefile::DisplayHeader& header) {
  platform::BitmapView view;
  view.bits = bits;
  view.width = header.info.width;
  view.height = header.info.height;
  view.bits_per_pixel = header.info.bit_count;
  view.colour_table = header.colour_table;
  return view;
}

std::uint32_t file_size_of(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return 0;
  return size > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                           : static_cast<std::uint32_t>(size);
}

}  // namespace

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

void Application::open_coded() {
  if (open_file(kCmdOpenCoded) != 0) return;
  dispatch(kCmdDecode);
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height));
  source_window_->hide();
}

void Application::open_bitmap() { (void)open_file(kCmdOpenBitmap); }
void Application::open_targa() { (void)open_file(kCmdOpenTarga); }

void Application::save() {
  if (!state_.compressed_ready) dispatch(kCmdCompress);
  // A failed Compress must not let the previous picture's stream go out under a new name.
  if (state_.compressed_ready) (void)save_file(SaveKind::kCompressed);
}

void Application::save_bitmap() {
  (void)save_file(SaveKind::kBitmap);
  main_window_->invalidate(true);
}

void Application::save_targa() {
  (void)save_file(SaveKind::kTarga);
  main_window_->invalidate(true);
}

void Application::compress_command() {
  if (!state_.source_buffer.empty()) {
    state_.picture_buffer = state_.source_buffer;
    (void)compress();
  }
  main_window_->invalidate(true);
}

void Application::decode() { (void)decode_compressed_file(); }

// ---------------------------------------------------------------------------------------------
// Opening files.

int Application::open_file(Command command) {
  platform::FileChooserSpec request;
  request.must_exist = true;
  if (command == kCmdOpenBitmap) {
    request.label = "Bitmap Files(*.bmp)";
    request.pattern = "*.bmp";
    request.default_extension = "bmp";
  } else if (command == kCmdOpenTarga) {
    request.label = "Targa Image Files(*.tga)";
    request.pattern = "*.tga";
    request.default_extension = "tga";
  } else {
    request.label = "Compressed Files";
    request.pattern = "*.cod";
    request.default_extension = "cod";
  }
  const std::optional<platform::FileChoice> choice = platform_.choose_open_file(request);
  if (!choice) return 1;
  const int result = command == kCmdOpenCoded ? open_compressed(*choice) : open_picture(command, *choice);
  if (result != 0) return result;
  state_.file_title = imagefile::file_title(choice->path);
  set_title_for_file();
  return 0;
}

void Application::set_title_for_file() {
  char title[256];
  std::snprintf(title, sizeof title, "%s    %s", std::string(resources::kProgramTitle).c_str(), state_.file_title.c_str());
  main_window_->set_title(title);
}

int Application::open_picture(Command command, const platform::FileChoice& choice) {
  imagefile::PictureBuffer picture;
  imagefile::ReadLimits limits;
  limits.max_pixels = pixel_limit_;
  const imagefile::FileStatus status = command == kCmdOpenBitmap
                                           ? imagefile::read_bitmap_file(choice.path, picture, limits)
                                           : imagefile::read_targa_file(choice.path, picture, limits);
  if (status == imagefile::FileStatus::kOutOfMemory) return 2;
  if (status != imagefile::FileStatus::kOk) {
    const imagefile::FileMessage box = imagefile::file_message(status, choice.path);
    message(box.text, box.caption);
    return 1;
  }
  state_.compressed_size = file_size_of(choice.path);
  return install_picture(std::move(picture));
}

void Application::recompute_geometry() {
  state_.geometry = utils::row_geometry(params_.image_width, params_.image_height, state_.bits_per_pixel);
}

void Application::reset_times() {
  state_.entropy_decode_time = state_.wavelet_time = state_.colour_quant_time = state_.total_time = 0.0f;
}

void Application::release_planes() {
  for (auto& plane : state_.planes) plane.release();
}

int Application::install_picture(imagefile::PictureBuffer&& picture) {
  params_.image_width = static_cast<std::uint32_t>(picture.width);
  params_.image_height = static_cast<std::uint32_t>(picture.height);
  state_.bits_per_pixel = static_cast<std::uint16_t>(picture.bits_per_pixel);
  recompute_geometry();
  format::compute_padded_size(params_);

  state_.picture_buffer = std::move(picture.pixels);
  state_.picture_buffer.resize(state_.geometry.picture_bytes, 0);
  state_.source_buffer = state_.picture_buffer;
  state_.pending_file.reset();
  state_.pending_header.reset();
  state_.compressed_ready = false;
  state_.header_magic = format::kCurrentMagic;
  state_.display_header = picture.header;
  params_.image_mode = picture.image_mode;
  state_.display_mode = actual_size(picture.image_mode);
  if (state_.bits_per_pixel != 24) state_.source_header = state_.display_header;

  state_.source_index_buffer.assign(state_.geometry.index_bytes, 0);
  (void)convert_to_8bit();
  state_.source_index_buffer = state_.index_buffer;
  state_.source_header = state_.display_header;
  release_planes();

  const bool compressible = params_.image_mode == format::kImageModeGrey || state_.bits_per_pixel == 24;
  opened(compressible ? Opened::kPicture : Opened::kPalettePicture);
  state_.comment.clear();
  reset_times();
  return 0;
}

int Application::open_compressed(const platform::FileChoice& choice) {
  imagefile::CompressedFile file;
  imagefile::ReadLimits limits;
  limits.max_pixels = pixel_limit_;
  const imagefile::FileStatus status = imagefile::load_compressed_file(choice.path, file, limits);
  if (status == imagefile::FileStatus::kOutOfMemory) return 2;
  if (status != imagefile::FileStatus::kOk) {
    const imagefile::FileMessage box = imagefile::file_message(status, choice.path);
    message(box.text, box.caption);
    return 1;
  }
  // Everything the decode needs is checked now, so that a bad file leaves the previous picture.
  format::FileHeader header;
  const format::StatusCode parsed = format::parse_header(file.file(), pixel_limit_, header);
  if (parsed != format::StatusCode::kOk) {
    message(choice.path, format::message(parsed));
    return 1;
  }
  state_.compressed_size = static_cast<std::uint32_t>(std::min<std::size_t>(file.file_size, 0xFFFFFFFFu));
  state_.pending_file = std::move(file);
  state_.pending_header = std::move(header);
  state_.source_index_buffer.clear();
  state_.source_buffer.clear();
  release_planes();
  opened(Opened::kCompressedFile);
  state_.comment.clear();
  return 0;
}

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
  state_.comment = cut_utf8(header.comment, kMaxCommentBytes);
  state_.bits_per_pixel = params_.image_mode == format::kImageModeColour ? 24 : 8;
  recompute_geometry();
  state_.planes = std::move(planes);
  state_.pending_file.reset();
  state_.pending_header.reset();

  state_.end_clock = now();
  state_.entropy_decode_time = utils::elapsed_seconds(state_.start_clock, state_.end_clock);

  state_.start_clock = now();
  state_.picture_buffer.assign(state_.geometry.picture_bytes, 0);
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width), static_cast<int>(params_.image_height));
  pipeline::PreviewSink sink = [this](std::span<const std::uint8_t> pixels, int w, int h, int bpp) {
    show_preview(pixels, w, h, bpp);
  };
  (void)pipeline::reconstruct(state_.planes, params_, state_.header_magic, state_.incremental_display ? &sink : nullptr,
                              state_.picture_buffer);
  state_.end_clock = now();
  state_.wavelet_time = utils::elapsed_seconds(state_.start_clock, state_.end_clock);

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
  const float elapsed = utils::elapsed_seconds(state_.start_clock, state_.end_clock);
  state_.wavelet_time = elapsed;
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
  // For demonstrations: a fast machine shows the levels too briefly to be seen.
  if (preview_hold_ms_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(preview_hold_ms_));
}

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
// Saving.

imagefile::PictureBuffer Application::current_picture() const {
  imagefile::PictureBuffer picture;
  picture.width = static_cast<int>(params_.image_width);
  picture.height = static_cast<int>(params_.image_height);
  picture.bits_per_pixel = state_.bits_per_pixel;
  picture.image_mode = params_.image_mode;
  picture.pixels = state_.picture_buffer;
  picture.header = state_.display_header;
  return picture;
}

int Application::save_file(SaveKind kind) {
  platform::FileChooserSpec request;
  request.confirm_overwrite = true;
  if (kind == SaveKind::kCompressed) {
    request.label = "Compressed files";
    request.pattern = "*.cod";
  } else {
    request.label = "Image files";
    request.pattern = kind == SaveKind::kBitmap ? "*.bmp" : "*.tga";
  }
  const std::optional<platform::FileChoice> choice = platform_.choose_save_file(request);
  if (!choice) return 2;
  imagefile::FileStatus status = imagefile::FileStatus::kOk;
  if (kind == SaveKind::kCompressed) {
    // Nothing to write leaves the disk alone rather than creating an empty file.
    if (state_.compressed_stream.empty()) return 0;
    status = imagefile::save_compressed_file(choice->path, state_.compressed_stream);
  } else {
    if (state_.picture_buffer.empty()) return 0;
    const imagefile::PictureBuffer picture = current_picture();
    status = kind == SaveKind::kBitmap ? imagefile::save_bitmap_file(choice->path, picture)
                                         : imagefile::save_targa_file(choice->path, picture);
  }
  if (status != imagefile::FileStatus::kOk) {
    const imagefile::FileMessage box = imagefile::file_message(status, choice->path);
    message(box.text, box.caption);
    return 2;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Small helpers shared with the dialogs.

std::uint16_t scale_display_size(std::uint16_t size, double factor) {
  const double scaled = std::trunc(static_cast<double>(size) * factor);
  if (!(scaled >= 0.0)) return 0;
  if (scaled > 65535.0) return 65535;
  return static_cast<std::uint16_t>(scaled);
}

long long parse_leading_integer(std::string_view text) {
  std::size_t p = 0;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || text[p] == '\n' || text[p] == '\r' ||
                             text[p] == '\v' || text[p] == '\f')) {
    ++p;
  }
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  long long value = 0;
  constexpr long long kCeiling = 1LL << 40;  // far beyond any field, and no overflow
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    value = std::min(value * 10 + (text[p] - '0'), kCeiling);
    ++p;
  }
  return negative ? -value : value;
}

int open_command_for_path(std::string_view path) {
  const auto dot = path.find_last_of('.');
  const auto slash = path.find_last_of('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return -1;
  std::string extension(path.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "bmp") return kCmdOpenBitmap;
  if (extension == "tga") return kCmdOpenTarga;
  if (extension == "cod") return kCmdOpenCoded;
  return -1;
}

void open_named_file(Application& app, platform::Platform& platform, const std::string& path,
                     const std::function<void(const std::string&)>& answer_chooser) {
  const int command = open_command_for_path(path);
  if (command < 0) {
    platform.message_box(path, kUnknownFileKind);
    return;
  }
  answer_chooser(path);
  app.dispatch(command);
}

std::uint32_t parse_preview_hold(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  const long long value = parse_leading_integer(text);
  return static_cast<std::uint32_t>(std::min<long long>(value, kMaxPreviewHoldMs));
}

std::string cut_utf8(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

}  // namespace varnic::app
