#include "app/app.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/pipeline.h"
#include "resources/resources.h"

namespace varnic::app {

namespace cmd = resources;

namespace {

// Moves FitWindowToClient makes at most. A menu bar that wraps in a very narrow window can leave
// no client area at first, so that the frame's true height shows only after a few moves; each
// move at least doubles the height until then.
constexpr int kFitAttempts = 8;

platform::BitmapView view_of(const std::vector<std::uint8_t>& bits, const imagefile::DisplayHeader& header) {
  platform::BitmapView view;
  view.bits = bits;
  view.width = header.info_.width_;
  view.height = header.info_.height_;
  view.bits_per_pixel = header.info_.bit_count_;
  view.colour_table = header.colour_table_;
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

// ---------------------------------------------------------------------------------------------

class Application::MainHandler final : public platform::WindowHandler {
 public:
  explicit MainHandler(Application& app) : app_(app) {}
  void on_paint(platform::Surface& surface) override { app_.paint_main(surface); }
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
  void on_paint(platform::Surface& surface) override { app_.paint_source(surface); }
  // A click gives the window the size at which the main window draws.
  void on_mouse_button() override {
    app_.fit_window_to_client(*app_.source_window_, app_.state_.display_width_, app_.state_.display_height_);
    app_.source_window_->invalidate(true);
  }
  // Closing it is for good: nothing creates it again in this run.
  void on_close() override { app_.source_window_->destroy(); }

 private:
  Application& app_;
};

// ---------------------------------------------------------------------------------------------

Application::Application(platform::Platform& platform)
    : platform_(platform), main_handler_(std::make_unique<MainHandler>(*this)),
      source_handler_(std::make_unique<SourceHandler>(*this)) {}

Application::~Application() = default;

void Application::start() {
  platform::WindowSpec main;
  main.title = std::string(resources::kProgramTitle);
  main.x = kMainWindowFrame.x;
  main.y = kMainWindowFrame.y;
  main.width = kMainWindowFrame.width;
  main.height = kMainWindowFrame.height;
  main.menu = &resources::main_menu();
  main_window_ = &platform_.create_window(main, *main_handler_);

  initialise_state();
  main_window_->show();

  platform::WindowSpec source;
  source.title = std::string(resources::kSourceWindowTitle);
  source.x = kSourceWindowFrame.x;
  source.y = kSourceWindowFrame.y;
  source.width = kSourceWindowFrame.width;
  source.height = kSourceWindowFrame.height;
  source_window_ = &platform_.create_window(source, *source_handler_);
  platform_.process_paints();
}

void Application::initialise_state() {
  params_ = codec::DefaultCodecParams();
  state_.display_width_ = 0;
  state_.display_height_ = 0;
  state_.header_magic_ = decoder::kCurrentMagic;
  state_.compressed_size_ = 0;
  state_.incremental_display_ = 1;
  if (platform_.screen_depth() == 8) {
    state_.eight_bit_display_ = kEightBitOn;
    menu().set_checked(cmd::kCmdEightBit, true);
  } else {
    state_.eight_bit_display_ = kEightBitOff;
    menu().set_checked(cmd::kCmdEightBit, false);
  }
  state_.fs_dithering_ = 1;
  imagefile::set_grey_colour_table(state_.display_header_);
  imagefile::set_grey_colour_table(state_.source_header_);
  imagefile::set_grey_colour_table(state_.preview_header_);
}

codec::ClockReading Application::now() const {
  const platform::ClockReading reading = platform_.now();
  return codec::ClockReading{reading.seconds, reading.milliseconds};
}

void Application::message(std::string_view text, std::string_view caption) { platform_.message_box(text, caption); }

// ---------------------------------------------------------------------------------------------
// Window messages.

void Application::on_main_size(int width, int height) {
  state_.display_mode_ = kDisplayStretched;
  state_.display_width_ = static_cast<std::uint16_t>(width);
  state_.display_height_ = static_cast<std::uint16_t>(height);
  fit_window_to_client(*main_window_, width, height);
  main_window_->invalidate(true);
}

void Application::destroy_main() {
  state_.picture_buffer_.clear();
  state_.picture_buffer_.shrink_to_fit();
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

void Application::apply_menu_rules(MenuRules rules) {
  const bool picture = rules == MenuRules::kPicture;
  const bool any_picture = rules != MenuRules::kPalettePicture;
  platform::Menu& m = menu();
  m.set_enabled(cmd::kCmdSaveBitmap, any_picture);
  m.set_enabled(cmd::kCmdSaveTarga, any_picture);
  m.set_enabled(cmd::kCmdSave, picture);
  m.set_enabled(cmd::kCmdDoubleSize, any_picture);
  m.set_enabled(cmd::kCmdStretchUp, any_picture);
  m.set_enabled(cmd::kCmdStretchDown, any_picture);
  m.set_enabled(cmd::kCmdResize, any_picture);
  m.set_enabled(cmd::kCmdHalfSize, any_picture);
  m.set_enabled(cmd::kCmdCompress, picture);
  m.set_enabled(cmd::kCmdEasySetup, picture);
  // Master Setup changes only with a picture: the other sets leave it as it was.
  if (picture) m.set_enabled(cmd::kCmdMasterSetup, true);
  m.set_enabled(cmd::kCmdEightBit, any_picture);
  m.set_enabled(cmd::kCmdDithering, true);

  if (source_window_ != nullptr) source_window_->hide();
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width_), static_cast<int>(params_.image_height_));
  main_window_->invalidate(true);
}

// ---------------------------------------------------------------------------------------------
// Command dispatch.

void Application::dispatch(int command) {
  if (main_window_ == nullptr || main_window_->is_destroyed()) return;
  switch (command & 0xFFFF) {
    case cmd::kCmdExit: destroy_main(); break;
    case cmd::kCmdOpenCoded:
      if (open_file(cmd::kCmdOpenCoded) == 0) {
        dispatch(cmd::kCmdDecode);
        fit_window_to_client(*main_window_, static_cast<int>(params_.image_width_), static_cast<int>(params_.image_height_));
        source_window_->hide();
      }
      break;
    case cmd::kCmdOpenBitmap: (void)open_file(cmd::kCmdOpenBitmap); break;
    case cmd::kCmdOpenTarga: (void)open_file(cmd::kCmdOpenTarga); break;
    case cmd::kCmdSave:
      if (state_.compressed_ready_ == 0) dispatch(cmd::kCmdCompress);
      // A failed Compress must not let the previous picture's stream go out under a new name.
      if (state_.compressed_ready_ == 1) (void)save_file(111);
      break;
    case cmd::kCmdSaveBitmap:
      (void)save_file(cmd::kCmdSaveBitmap);
      main_window_->invalidate(true);
      break;
    case cmd::kCmdSaveTarga:
      (void)save_file(cmd::kCmdSaveTarga);
      main_window_->invalidate(true);
      break;
    case cmd::kCmdCompress:
      if (!state_.source_buffer_.empty()) {
        state_.picture_buffer_ = state_.source_buffer_;
        (void)compress();
      }
      main_window_->invalidate(true);
      break;
    case cmd::kCmdDecode: (void)decode_compressed_file(); break;
    case cmd::kCmdProperties: command_properties(); break;
    case cmd::kCmdStretchUp: command_stretch_up(); break;
    case cmd::kCmdStretchDown: command_stretch_down(); break;
    case cmd::kCmdHalfSize: command_half_size(); break;
    case cmd::kCmdDoubleSize: command_double_size(); break;
    case cmd::kCmdNormal: command_normal(); break;
    case cmd::kCmdResize: command_resize(); break;
    case cmd::kCmdEightBit: command_eight_bit(); break;
    case cmd::kCmdDithering: command_toggle(state_.fs_dithering_, cmd::kCmdDithering); break;
    case cmd::kCmdIncremental: command_toggle(state_.incremental_display_, cmd::kCmdIncremental); break;
    case cmd::kCmdComments: command_comments(); break;
    case cmd::kCmdEasySetup: command_easy_setup(); break;
    case cmd::kCmdMasterSetup: command_master_setup(); break;
    case cmd::kCmdAbout: command_about(); break;
    case cmd::kCmdHelpContents: command_help(); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------
// Opening files.

int Application::open_file(int command) {
  platform::FileChooserSpec request;
  request.must_exist = true;
  if (command == cmd::kCmdOpenBitmap) {
    request.label = "Bitmap Files(*.bmp)";
    request.pattern = "*.bmp";
    request.default_extension = "bmp";
  } else if (command == cmd::kCmdOpenTarga) {
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
  const int result = command == cmd::kCmdOpenCoded ? open_compressed(*choice) : open_picture(command, *choice);
  if (result != 0) return result;
  state_.file_title_ = imagefile::file_title(choice->path);
  set_title_for_file();
  return 0;
}

void Application::set_title_for_file() {
  char title[256];
  std::snprintf(title, sizeof title, "%s    %s", std::string(resources::kProgramTitle).c_str(), state_.file_title_.c_str());
  main_window_->set_title(title);
}

int Application::open_picture(int command, const platform::FileChoice& choice) {
  imagefile::Picture picture;
  imagefile::ReadLimits limits;
  limits.max_pixels_ = pixel_limit_;
  const imagefile::FileStatus status = command == cmd::kCmdOpenBitmap
                                           ? imagefile::read_bitmap_file(choice.path, picture, limits)
                                           : imagefile::read_targa_file(choice.path, picture, limits);
  if (status == imagefile::FileStatus::kOutOfMemory) return 2;
  if (status != imagefile::FileStatus::kOk) {
    const imagefile::FileMessage box = imagefile::file_message(status, choice.path);
    message(box.text_, box.caption_);
    return 1;
  }
  state_.compressed_size_ = file_size_of(choice.path);
  return install_picture(std::move(picture));
}

void Application::recompute_geometry() {
  state_.geometry_ = codec::ComputeRowGeometry(params_.image_width_, params_.image_height_, state_.bits_per_pixel_);
}

void Application::reset_times() {
  state_.entropy_decode_time_ = state_.wavelet_time_ = state_.colour_quant_time_ = state_.total_time_ = 0.0f;
}

void Application::release_planes() {
  for (auto& plane : state_.planes_) plane.Release();
}

int Application::install_picture(imagefile::Picture&& picture) {
  params_.image_width_ = static_cast<std::uint32_t>(picture.width_);
  params_.image_height_ = static_cast<std::uint32_t>(picture.height_);
  state_.bits_per_pixel_ = static_cast<std::uint16_t>(picture.bits_per_pixel_);
  recompute_geometry();
  codec::ComputePaddedSize(params_);

  state_.picture_buffer_ = std::move(picture.pixels_);
  state_.picture_buffer_.resize(state_.geometry_.picture_bytes, 0);
  state_.source_buffer_ = state_.picture_buffer_;
  state_.pending_file_.reset();
  state_.pending_header_.reset();
  state_.compressed_ready_ = 0;
  state_.header_magic_ = decoder::kCurrentMagic;
  state_.display_header_ = picture.header_;
  params_.image_mode_ = picture.image_mode_;
  state_.display_mode_ = picture.image_mode_;
  if (state_.bits_per_pixel_ != 24) state_.source_header_ = state_.display_header_;

  state_.source_index_buffer_.assign(state_.geometry_.index_bytes, 0);
  (void)convert_to_8bit();
  state_.source_index_buffer_ = state_.index_buffer_;
  state_.source_header_ = state_.display_header_;
  release_planes();

  const bool compressible = params_.image_mode_ == codec::kImageModeGrey || state_.bits_per_pixel_ == 24;
  apply_menu_rules(compressible ? MenuRules::kPicture : MenuRules::kPalettePicture);
  state_.comment_.clear();
  reset_times();
  return 0;
}

int Application::open_compressed(const platform::FileChoice& choice) {
  imagefile::CompressedFile file;
  imagefile::ReadLimits limits;
  limits.max_pixels_ = pixel_limit_;
  const imagefile::FileStatus status = imagefile::load_compressed_file(choice.path, file, limits);
  if (status == imagefile::FileStatus::kOutOfMemory) return 2;
  if (status != imagefile::FileStatus::kOk) {
    const imagefile::FileMessage box = imagefile::file_message(status, choice.path);
    message(box.text_, box.caption_);
    return 1;
  }
  // Everything the decode needs is checked now, so that a bad file leaves the previous picture.
  decoder::FileHeader header;
  decoder::DecodeLimits decode_limits;
  decode_limits.max_pixels_ = pixel_limit_;
  const codec::Status parsed = decoder::parse_file_header(file.file(), decode_limits, header);
  if (parsed != codec::Status::kOk) {
    message(choice.path, codec::message(parsed));
    return 1;
  }
  state_.compressed_size_ = static_cast<std::uint32_t>(std::min<std::size_t>(file.file_size_, 0xFFFFFFFFu));
  state_.pending_file_ = std::move(file);
  state_.pending_header_ = std::move(header);
  state_.source_index_buffer_.clear();
  state_.source_buffer_.clear();
  release_planes();
  apply_menu_rules(MenuRules::kCompressedFile);
  state_.comment_.clear();
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Decoding an opened compressed file (command 42).

int Application::decode_compressed_file() {
  if (!state_.pending_file_ || !state_.pending_header_) return 1;
  main_window_->set_capture();
  const platform::Cursor previous = platform_.set_cursor(platform::Cursor::kWait);
  auto finish = [&](int result) {
    platform_.set_cursor(previous);
    platform_.release_capture();
    return result;
  };

  state_.start_clock_ = now();
  state_.compressed_stream_.clear();
  state_.compressed_ready_ = 0;
  state_.encoder_reconstruction_ = 0;
  release_planes();

  decoder::DecodeLimits limits;
  limits.max_pixels_ = pixel_limit_;
  decoder::DecodedPlanes decoded;
  if (decoder::decode_planes(state_.pending_file_->file(), limits, decoded) != codec::Status::kOk) return finish(1);

  // The file's fields replace the user's; settings the file does not carry stay.
  const codec::CodecParams& file = decoded.header_.params_;
  params_.total_levels_ = file.total_levels_;
  params_.image_width_ = file.image_width_;
  params_.image_height_ = file.image_height_;
  params_.using_mask_ = file.using_mask_;
  params_.image_mode_ = file.image_mode_;
  for (int c = 0; c < codec::kChannelCount; ++c) {
    codec::ChannelParams& mine = params_.channels_[static_cast<std::size_t>(c)];
    const codec::ChannelParams& theirs = file.channels_[static_cast<std::size_t>(c)];
    mine.dropped_levels_ = theirs.dropped_levels_;
    mine.end_offset_ = theirs.end_offset_;
    mine.restart_offset_ = theirs.restart_offset_;
    mine.pixel_offset_ = theirs.pixel_offset_;
    const auto subbands = static_cast<std::size_t>(codec::SubbandCount(file.total_levels_));
    for (std::size_t k = 0; k < subbands && k < mine.band_max_.size(); ++k) {
      mine.band_max_[k] = theirs.band_max_[k];
      mine.band_min_[k] = theirs.band_min_[k];
      mine.quant_vector_[k] = theirs.quant_vector_[k];
    }
  }
  codec::ComputePaddedSize(params_);
  state_.header_magic_ = decoded.header_.magic_;
  state_.comment_ = cut_utf8(decoded.header_.comment_, kMaxCommentBytes);
  state_.bits_per_pixel_ = params_.image_mode_ == codec::kImageModeColour ? 24 : 8;
  recompute_geometry();
  state_.planes_ = std::move(decoded.planes_);
  state_.pending_file_.reset();
  state_.pending_header_.reset();

  state_.end_clock_ = now();
  state_.entropy_decode_time_ = codec::ElapsedSeconds(state_.start_clock_, state_.end_clock_);

  state_.start_clock_ = now();
  state_.picture_buffer_.assign(state_.geometry_.picture_bytes, 0);
  fit_window_to_client(*main_window_, static_cast<int>(params_.image_width_), static_cast<int>(params_.image_height_));
  pipeline::PreviewSink sink = [this](std::span<const std::uint8_t> pixels, int w, int h, int bpp) {
    show_preview(pixels, w, h, bpp);
  };
  (void)pipeline::reconstruct(state_.planes_, params_, state_.header_magic_, false,
                              state_.incremental_display_ == 1 ? &sink : nullptr, state_.picture_buffer_);
  state_.end_clock_ = now();
  state_.wavelet_time_ = codec::ElapsedSeconds(state_.start_clock_, state_.end_clock_);

  if (state_.eight_bit_display_ == kEightBitOn) {
    state_.start_clock_ = now();
    (void)convert_to_8bit();
    state_.end_clock_ = now();
    state_.colour_quant_time_ = codec::ElapsedSeconds(state_.start_clock_, state_.end_clock_);
  } else {
    state_.colour_quant_time_ = 0.0f;
  }
  state_.total_time_ = state_.wavelet_time_ + state_.entropy_decode_time_ + state_.colour_quant_time_;
  (void)finish(0);

  state_.display_mode_ = params_.image_mode_;
  if (params_.image_mode_ == codec::kImageModeGrey) imagefile::set_grey_colour_table(state_.display_header_);
  main_window_->invalidate(false);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Compress.

int Application::compress() {
  if (state_.picture_buffer_.empty()) return 1;
  main_window_->draw_now([](platform::Surface& s) { s.draw_text(kProgressX, kCompressingY, "Compressing..."); });
  main_window_->set_capture();
  const platform::Cursor previous = platform_.set_cursor(platform::Cursor::kWait);
  auto finish = [&](int result) {
    platform_.set_cursor(previous);
    platform_.release_capture();
    return result;
  };

  pipeline::EncodeOutput encoded;
  const codec::Status status = pipeline::encode(state_.picture_buffer_, params_, state_.comment_, encoded);
  if (status != codec::Status::kOk) {
    // Building or transforming the planes fails silently and coding a channel is reported; a
    // picture the encoder refuses up front (a side of 1 or 2 pixels) says why.
    if (status == codec::Status::kEncodeFailed || status == codec::Status::kPictureTooSmall ||
        status == codec::Status::kPictureSideTooLarge || status == codec::Status::kCommentTooLong) {
      message(codec::message(status), "ERROR");
    }
    return finish(1);
  }
  state_.compressed_stream_ = std::move(encoded.stream);
  state_.planes_ = std::move(encoded.planes);

  main_window_->draw_now([](platform::Surface& s) { s.draw_text(kProgressX, kReconstructingY, "Reconstructing..."); });
  state_.start_clock_ = now();
  state_.encoder_reconstruction_ = 1;
  state_.entropy_decode_time_ = 0.0f;
  pipeline::PreviewSink sink = [this](std::span<const std::uint8_t> pixels, int w, int h, int bpp) {
    show_preview(pixels, w, h, bpp);
  };
  if (pipeline::reconstruct(state_.planes_, encoded.working, decoder::kCurrentMagic, true,
                            state_.incremental_display_ == 1 ? &sink : nullptr,
                            state_.picture_buffer_) != codec::Status::kOk) {
    message(codec::message(codec::Status::kReconstructFailed), "ERROR");
    return finish(1);
  }
  state_.end_clock_ = now();
  const float elapsed = codec::ElapsedSeconds(state_.start_clock_, state_.end_clock_);
  state_.wavelet_time_ = elapsed;
  if (state_.eight_bit_display_ == kEightBitOn) {
    state_.start_clock_ = now();
    if (convert_to_8bit() != 0) {
      message(codec::message(codec::Status::kColourQuantFailed), "ERROR");
      return finish(1);
    }
    state_.end_clock_ = now();
    state_.colour_quant_time_ = codec::ElapsedSeconds(state_.start_clock_, state_.end_clock_);
  } else {
    state_.colour_quant_time_ = 0.0f;
  }

  if (!source_window_->is_destroyed()) {
    const platform::Rect r = source_window_->outer_rect();
    source_window_->move(r.x, r.y, static_cast<int>(params_.image_width_) + 6, static_cast<int>(params_.image_height_) + 25, true);
    fit_window_to_client(*source_window_, static_cast<int>(params_.image_width_), static_cast<int>(params_.image_height_));
    source_window_->show();
  }
  state_.total_time_ = state_.wavelet_time_ + state_.entropy_decode_time_ + state_.colour_quant_time_;
  state_.compressed_size_ = static_cast<std::uint32_t>(state_.compressed_stream_.size());
  main_window_->invalidate(false);
  (void)finish(0);
  state_.compressed_ready_ = 1;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// 8-bit versions and previews.

std::uint16_t Application::convert_to_8bit() {
  const codec::Status status = pipeline::convert_to_8bit(
      state_.picture_buffer_, static_cast<int>(params_.image_width_), static_cast<int>(params_.image_height_),
      params_.image_mode_, state_.fs_dithering_ == 1, state_.index_buffer_, state_.display_header_.colour_table_);
  return status == codec::Status::kOk ? 0 : 1;
}

void Application::show_preview(std::span<const std::uint8_t> pixels, int width, int height, int bits_per_pixel) {
  // A colour file whose version selects no conversion has nothing to show.
  if (pixels.empty()) return;
  const bool eight_bit = state_.eight_bit_display_ == kEightBitOn;
  const bool grey = bits_per_pixel == 8;
  // Grey previews use the grey ramp; colour previews the fixed preview palette, on 8-bit screens only.
  if (grey) {
    imagefile::set_grey_colour_table(state_.preview_header_);
  } else if (eight_bit) {
    state_.preview_header_.colour_table_ = pipeline::preview_palette();
  }
  const int image_width = static_cast<int>(params_.image_width_);
  const int image_height = static_cast<int>(params_.image_height_);
  std::vector<std::uint8_t> index;
  platform::BitmapView view;
  view.width = width;
  view.height = height;
  view.colour_table = state_.preview_header_.colour_table_;
  if (eight_bit && !grey) {
    if (pipeline::map_to_preview_palette(pixels, width, height, state_.fs_dithering_ == 1, index) != codec::Status::kOk) {
      return;  // nothing drawn; the reconstruction goes on
    }
    view.bits = index;
    view.bits_per_pixel = 8;
  } else {
    view.bits = pixels;
    view.bits_per_pixel = bits_per_pixel;
  }
  main_window_->draw_now([&](platform::Surface& s) {
    if (eight_bit) s.realise_palette(state_.preview_header_.colour_table_);
    s.stretch_bitmap(view, image_width, image_height);
  });
  main_window_->invalidate(false);
}

// ---------------------------------------------------------------------------------------------
// Painting.

void Application::paint_main(platform::Surface& surface) {
  if (state_.picture_buffer_.empty() || state_.pending_file_) return;
  const int w = static_cast<int>(params_.image_width_);
  const int h = static_cast<int>(params_.image_height_);
  const bool eight_bit = state_.eight_bit_display_ == kEightBitOn;
  const auto bytes = static_cast<std::uint32_t>(state_.geometry_.picture_bytes);
  auto& header = state_.display_header_;
  imagefile::fill_bitmap_header(params_.image_mode_, eight_bit, w, h, bytes, header);
  const std::uint32_t mode = state_.display_mode_;
  if (!eight_bit) {
    if (mode == kDisplayStretched) {
      surface.stretch_bitmap(view_of(state_.picture_buffer_, header), state_.display_width_, state_.display_height_);
    } else if (mode == codec::kImageModeColour) {
      state_.display_width_ = static_cast<std::uint16_t>(w);
      state_.display_height_ = static_cast<std::uint16_t>(h);
      imagefile::fill_bitmap_header(codec::kImageModeColour, eight_bit, w, h, bytes, header);
      surface.draw_bitmap(view_of(state_.picture_buffer_, header), 0, 0);
    } else if (mode == codec::kImageModeGrey) {
      state_.display_width_ = static_cast<std::uint16_t>(w);
      state_.display_height_ = static_cast<std::uint16_t>(h);
      surface.realise_palette(header.colour_table_);
      surface.draw_bitmap(view_of(state_.picture_buffer_, header), 0, 0);
    }
    return;
  }
  surface.realise_palette(header.colour_table_);
  if (mode == kDisplayStretched) {
    surface.stretch_bitmap(view_of(state_.index_buffer_, header), state_.display_width_, state_.display_height_);
  } else if (mode == codec::kImageModeColour) {
    state_.display_width_ = static_cast<std::uint16_t>(w);
    state_.display_height_ = static_cast<std::uint16_t>(h);
    imagefile::fill_bitmap_header(codec::kImageModeColour, eight_bit, w, h, bytes, header);
    surface.draw_bitmap(view_of(state_.index_buffer_, header), 0, 0);
  } else if (mode == codec::kImageModeGrey) {
    state_.display_width_ = static_cast<std::uint16_t>(w);
    state_.display_height_ = static_cast<std::uint16_t>(h);
    surface.draw_bitmap(view_of(state_.picture_buffer_, header), 0, 0);
  }
}

void Application::paint_source(platform::Surface& surface) {
  if (state_.source_buffer_.empty()) return;
  const int w = static_cast<int>(params_.image_width_);
  const int h = static_cast<int>(params_.image_height_);
  const bool eight_bit = state_.eight_bit_display_ == kEightBitOn;
  const auto bytes = static_cast<std::uint32_t>(state_.geometry_.picture_bytes);
  auto& header = state_.source_header_;
  imagefile::fill_bitmap_header(params_.image_mode_, eight_bit, w, h, bytes, header);
  const std::uint32_t mode = state_.display_mode_;
  if (!eight_bit) {
    if (mode == kDisplayStretched) {
      surface.stretch_bitmap(view_of(state_.source_buffer_, header), state_.display_width_, state_.display_height_);
    } else if (mode == codec::kImageModeColour) {
      state_.display_width_ = static_cast<std::uint16_t>(w);
      state_.display_height_ = static_cast<std::uint16_t>(h);
      surface.draw_bitmap(view_of(state_.source_buffer_, header), 0, 0);
    } else if (mode == codec::kImageModeGrey) {
      surface.realise_palette(header.colour_table_);
      surface.draw_bitmap(view_of(state_.source_buffer_, header), 0, 0);
    }
    return;
  }
  surface.realise_palette(header.colour_table_);
  if (mode == kDisplayStretched) {
    surface.stretch_bitmap(view_of(state_.source_index_buffer_, header), state_.display_width_, state_.display_height_);
  } else if (mode == codec::kImageModeColour) {
    state_.display_width_ = static_cast<std::uint16_t>(w);
    state_.display_height_ = static_cast<std::uint16_t>(h);
    surface.draw_bitmap(view_of(state_.source_index_buffer_, header), 0, 0);
  } else if (mode == codec::kImageModeGrey) {
    surface.draw_bitmap(view_of(state_.source_index_buffer_, header), 0, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Saving.

imagefile::Picture Application::current_picture() const {
  imagefile::Picture picture;
  picture.width_ = static_cast<int>(params_.image_width_);
  picture.height_ = static_cast<int>(params_.image_height_);
  picture.bits_per_pixel_ = state_.bits_per_pixel_;
  picture.image_mode_ = params_.image_mode_;
  picture.pixels_ = state_.picture_buffer_;
  picture.header_ = state_.display_header_;
  return picture;
}

int Application::save_file(int kind) {
  platform::FileChooserSpec request;
  request.confirm_overwrite = true;
  if (kind == 111) {
    request.label = "Compressed files";
    request.pattern = "*.cod";
  } else {
    request.label = "Image files";
    request.pattern = kind == cmd::kCmdSaveBitmap ? "*.bmp" : "*.tga";
  }
  const std::optional<platform::FileChoice> choice = platform_.choose_save_file(request);
  if (!choice) return 2;
  imagefile::FileStatus status = imagefile::FileStatus::kOk;
  if (kind == 111) {
    // Nothing to write leaves the disk alone rather than creating an empty file.
    if (state_.compressed_stream_.empty()) return 0;
    status = imagefile::save_compressed_file(choice->path, state_.compressed_stream_);
  } else {
    if (state_.picture_buffer_.empty()) return 0;
    const imagefile::Picture picture = current_picture();
    status = kind == cmd::kCmdSaveBitmap ? imagefile::save_bitmap_file(choice->path, picture)
                                         : imagefile::save_targa_file(choice->path, picture);
  }
  if (status != imagefile::FileStatus::kOk) {
    const imagefile::FileMessage box = imagefile::file_message(status, choice->path);
    message(box.text_, box.caption_);
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
  if (extension == "bmp") return cmd::kCmdOpenBitmap;
  if (extension == "tga") return cmd::kCmdOpenTarga;
  if (extension == "cod") return cmd::kCmdOpenCoded;
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

std::string cut_utf8(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

}  // namespace varnic::app
