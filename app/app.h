// The desktop program: the one AppState and CodecParams of a run, start-up, the main window's
// command dispatch (menu commands and the commands it sends itself: 42 decode, 64 second step of
// the stretch commands, 106 Compress before Save), the menu rule sets, painting of the main and
// source-image windows, and the dialogs. Works over any platform backend.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/settings.h"
#include "utils/picture_layout.h"
#include "decoder/decoder.h"
#include "imagefile/imagefile.h"
#include "platform/platform.h"

namespace varnic::app {

// Values of AppState::display_mode besides the image modes 61, 62 and 622 (actual size).
inline constexpr std::uint32_t kDisplayStretched = 64;
// AppState::eight_bit_display_.
inline constexpr std::uint32_t kEightBitOn = 263;
inline constexpr std::uint32_t kEightBitOff = 264;

// Where the Compress command writes its progress texts, client coordinates.
inline constexpr int kProgressX = 133;
inline constexpr int kCompressingY = 100;
inline constexpr int kReconstructingY = 140;

// Start-up frames of the two windows, pixels.
inline constexpr platform::Rect kMainWindowFrame{10, 30, 400, 300};
inline constexpr platform::Rect kSourceWindowFrame{100, 30, 400, 300};

// The comment field holds 2047 bytes and a terminator.
inline constexpr std::size_t kMaxCommentBytes = 2047;

enum class MenuRules { kPicture, kCompressedFile, kPalettePicture };

struct AppState {
  // Layout of the current picture's buffers.
  std::uint16_t bits_per_pixel = 24;  // 24 or 8
  utils::RowGeometry geometry;

  // Picture buffers, rows bottom-up and padded to 4 bytes. Empty means none.
  std::vector<std::uint8_t> picture_buffer;       // drawn in the main window
  std::vector<std::uint8_t> index_buffer;         // its 8-bit version
  std::vector<std::uint8_t> source_buffer;        // the picture as read
  std::vector<std::uint8_t> source_index_buffer;  // its 8-bit version
  decoder::PlaneSet planes;                       // Y, I, Q coefficients
  std::vector<std::uint8_t> compressed_stream;    // the last Compress's file bytes

  // A compressed file between its open and its decode (command 42); its header already
  // validated.
  std::optional<imagefile::CompressedFile> pending_file;
  std::optional<format::FileHeader> pending_header;

  std::uint32_t display_mode = 0;    // 61/62 actual size, 64 stretched, other: draw nothing
  std::uint16_t display_width = 0;   // size of the stretched drawing
  std::uint16_t display_height = 0;
  std::uint32_t eight_bit_display = kEightBitOff;
  std::uint32_t fs_dithering = 1;
  std::uint32_t incremental_display = 1;
  std::uint32_t encoder_reconstruction = 0;

  imagefile::DisplayHeader display_header;  // main window
  imagefile::DisplayHeader source_header;   // source-image window
  imagefile::DisplayHeader preview_header;  // previews of the incremental reconstruction

  format::Magic header_magic = format::kCurrentMagic;
  std::string comment;  // UTF-8 bytes, at most kMaxCommentBytes
  std::uint32_t compressed_ready = 0;
  std::uint32_t compressed_size = 0;
  std::string file_title;

  float entropy_decode_time = 0.0f;
  float wavelet_time = 0.0f;
  float colour_quant_time = 0.0f;
  float total_time = 0.0f;
  utils::ClockReading start_clock;
  utils::ClockReading end_clock;
};

class Application {
 public:
  explicit Application(platform::Platform& platform);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application();

  // Creates the windows, sets every default, tests the screen depth and shows the main window.
  void start();

  // Runs one command of the main window to its end (menu commands and 42, 64, 106).
  void dispatch(int command);

  AppState& state() { return state_; }
  const AppState& state() const { return state_; }
  format::CodecParams& params() { return params_; }
  const format::CodecParams& params() const { return params_; }

  platform::Window& main_window() { return *main_window_; }
  platform::Window& source_window() { return *source_window_; }
  platform::Menu& menu() { return *main_window_->menu(); }

  // The operations the commands are made of, reachable for the dialogs and the tests.
  int compress();
  int decode_compressed_file();
  void fit_window_to_client(platform::Window& window, int width, int height);
  void apply_menu_rules(MenuRules rules);
  std::uint16_t convert_to_8bit();

  // Decoding and picture files refuse declared sizes above this many pixels.
  void set_pixel_limit(std::uint64_t pixels) { pixel_limit_ = pixels; }
  // Each preview of the incremental display stays this long on the screen; 0 (the default) shows
  // them only as long as the reconstruction takes.
  void set_preview_hold(std::uint32_t milliseconds) { preview_hold_ms_ = milliseconds; }

  // Painting of the two windows; the backends call them through the window handlers.
  void paint_main(platform::Surface& surface);
  void paint_source(platform::Surface& surface);

  // Draws the main window's picture while the reconstruction runs (one call per level).
  void show_preview(std::span<const std::uint8_t> pixels, int width, int height, int bits_per_pixel);

 private:
  class MainHandler;
  class SourceHandler;

  void initialise_state();
  void on_main_size(int width, int height);
  void destroy_main();

  int open_file(int command);
  int open_picture(int command, const platform::FileChoice& choice);
  int open_compressed(const platform::FileChoice& choice);
  int install_picture(imagefile::PictureBuffer&& picture);
  int save_file(int kind);
  void set_title_for_file();
  void recompute_geometry();
  void reset_times();
  void release_planes();
  imagefile::PictureBuffer current_picture() const;

  void command_stretch_up();
  void command_stretch_down();
  void command_double_size();
  void command_half_size();
  void command_normal();
  void command_resize();
  void command_eight_bit();
  void command_toggle(std::uint32_t& flag, int item);
  void command_properties();
  void command_easy_setup();
  void command_master_setup();
  void command_comments();
  void command_about();
  void command_help();

  int run_dialog(const char* name, platform::DialogController& controller);
  void message(std::string_view text, std::string_view caption);
  utils::ClockReading now() const;

  platform::Platform& platform_;
  AppState state_;
  format::CodecParams params_;
  std::uint64_t pixel_limit_ = format::kDefaultPixelLimit;
  std::uint32_t preview_hold_ms_ = 0;
  std::unique_ptr<MainHandler> main_handler_;
  std::unique_ptr<SourceHandler> source_handler_;
  platform::Window* main_window_ = nullptr;
  platform::Window* source_window_ = nullptr;
};

// Formats for the information dialog, one text per value field, in the dialog's field order.
struct InformationTexts {
  std::string file_name, original, display, compressed, decompressed, ratio, total, entropy, wavelet, colour;
};
InformationTexts format_information(const AppState& state, const format::CodecParams& params);

// Display-size arithmetic of the display commands: the product truncated toward zero and kept
// within 16 bits (a result above 65535 is clamped rather than wrapped).
std::uint16_t scale_display_size(std::uint16_t size, double factor);

// Decimal conversion as the Resize dialog reads its fields: leading blanks skipped, an optional
// sign, digits up to the first other character; no digits give 0. Saturates far outside 32 bits.
long long parse_leading_integer(std::string_view text);

// The open command for a file named outside the file choosers (command line, drag and drop), by
// its extension in any case: 102 for .bmp, 103 for .tga, 10 for .cod; -1 for anything else.
int open_command_for_path(std::string_view path);

// Opens a file named outside the choosers as if it had been chosen in the open dialog of its
// kind: `answer_chooser` must make the next file chooser return `path`. An unknown extension is
// refused with a message box (text = path, caption kUnknownFileKind).
inline constexpr std::string_view kUnknownFileKind = "The file is not a Bitmap, Targa or compressed file";
void open_named_file(Application& app, platform::Platform& platform, const std::string& path,
                     const std::function<void(const std::string&)>& answer_chooser);

// The preview hold for demonstrations, from --preview-hold or VARNIC_PREVIEW_HOLD_MS: whole
// milliseconds, at most kMaxPreviewHoldMs; anything else is 0, no hold.
// Ten seconds a level is a slow demonstration already; longer ones look like a hang.
inline constexpr std::uint32_t kMaxPreviewHoldMs = 10000;
inline constexpr const char* kPreviewHoldVariable = "VARNIC_PREVIEW_HOLD_MS";
std::uint32_t parse_preview_hold(std::string_view text);

// Cuts a UTF-8 text to at most max_bytes bytes without splitting a character.
std::string cut_utf8(std::string_view text, std::size_t max_bytes);

}  // namespace varnic::app
