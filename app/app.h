// SPDX-License-Identifier: BSD-2-Clause
// The desktop program: the one AppState and CodecParams of a run, start-up, the commands of the
// main window (command_table.h: the menu commands and those it sends itself, 42 decode, 64 the
// second step of the stretch commands, 106 Compress before Save), painting of the main and
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

#include "app/command_table.h"
#include "codec/settings.h"
#include "utils/picture_layout.h"
#include "decoder/decoder.h"
#include "imagefile/imagefile.h"
#include "platform/platform.h"
#include "resources/resources.h"
#include "varnic/limits.h"
#include "varnic/rules.h"

namespace varnic::app {

// How both windows draw the picture: at actual size (the picture's own mode), stretched to the
// display size, or not at all (start-up, and a palette picture until the first size change).
enum class DisplayMode : std::uint32_t {
  kNone = 0,
  kGrey = format::kImageModeGrey,
  kColour = format::kImageModeColour,
  kStretched = 64,
  kPalette = format::kImageModePalette,
};
constexpr DisplayMode actual_size(std::uint16_t image_mode) { return static_cast<DisplayMode>(image_mode); }

// Where the Compress command writes its progress texts, client coordinates.
inline constexpr int kProgressX = 133;
inline constexpr int kCompressingY = 100;
inline constexpr int kReconstructingY = 140;

// Start-up frames of the two windows, pixels.
inline constexpr platform::Rect kMainWindowFrame{10, 30, 400, 300};
inline constexpr platform::Rect kSourceWindowFrame{100, 30, 400, 300};

// What Save writes.
enum class SaveKind { kCompressed, kBitmap, kTarga };

// Master Setup's fields that nothing codes or writes: the mask factors and the mask thresholds of
// its hidden controls, and the threshold text as typed. Only the dialog shows them again.
struct SetupFields {
  std::array<std::array<std::uint16_t, format::kMaxSubbands>, format::kChannelCount> mask_factors{};
  std::string threshold_text = "20 10 10 10 5 5 0 0 0 0";
  std::string mask_threshold_text = "15 10 8 5 5 2 0 0 0 0";
};

struct AppState {
  // Layout of the current picture's buffers.
  std::uint16_t bits_per_pixel = 24;  // 24 or 8
  utils::RowGeometry geometry;

  // Picture buffers, rows bottom-up and padded to 4 bytes. Empty means none.
  std::vector<std::uint8_t> picture_buffer;       // drawn in the main window
  std::vector<std::uint8_t> index_buffer;         // its 8-bit version
  std::vector<std::uint8_t> source_buffer;        // the picture as read
  std::vector<std::uint8_t> source_index_buffer;  // its 8-bit version
  decoder::CodeSet planes;                        // Y, I, Q coefficients, as coded
  std::vector<std::uint8_t> compressed_stream;    // the last Compress's file bytes

  // A compressed file between its open and its decode (command 42); its header already
  // validated.
  std::optional<imagefile::CompressedFile> pending_file;
  std::optional<format::FileHeader> pending_header;

  Opened opened = Opened::kNothing;
  DisplayMode display_mode = DisplayMode::kNone;
  std::uint16_t display_width = 0;  // size of the stretched drawing
  std::uint16_t display_height = 0;
  bool eight_bit_display = false;   // draw the 8-bit versions through a palette
  bool fs_dithering = true;         // the 8-bit conversion dithers
  bool incremental_display = true;  // previews level by level while reconstructing
  bool encoder_reconstruction = false;  // the planes are Compress's, not a decoded file's

  imagefile::DisplayHeader display_header;  // main window
  imagefile::DisplayHeader source_header;   // source-image window
  imagefile::DisplayHeader preview_header;  // previews of the incremental reconstruction

  format::Magic header_magic = format::kCurrentMagic;
  std::string comment;  // UTF-8 bytes, at most varnic::kMaxCommentBytes
  bool compressed_ready = false;  // the stream is the compression of the current picture
  std::uint32_t compressed_size = 0;
  std::string file_title;

  SetupFields setup;

  float entropy_decode_time = 0.0f;
  float wavelet_time = 0.0f;
  float colour_quant_time = 0.0f;
  float total_time = 0.0f;
  utils::ClockReading start_clock;
  utils::ClockReading end_clock;
};

class Application final : private Commands {
 public:
  explicit Application(platform::Platform& platform);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application();

  // Creates the windows, sets every default, tests the screen depth and shows the main window.
  void start();

  // Runs one command of the main window to its end (command_table.h), then brings the menu's
  // states up to date.
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
  std::uint16_t convert_to_8bit();

  // Decoding and picture files refuse declared sizes above this many pixels.
  void set_pixel_limit(std::uint64_t pixels) { pixel_limit_ = pixels; }
  // Each preview of the incremental display stays this long on the screen (Platform::pause), not
  // counted in the reconstruction's time; 0 (the default) shows them only as long as the
  // reconstruction takes.
  void set_preview_hold(std::uint32_t milliseconds) { preview_hold_ms_ = milliseconds; }

  // Painting of the two windows; the backends call it through the window handlers.
  void paint(platform::Surface& surface, bool source_window);

  // Draws the main window's picture while the reconstruction runs (one call per level).
  void show_preview(std::span<const std::uint8_t> pixels, int width, int height, int bits_per_pixel);

 private:
  class MainHandler;
  class SourceHandler;

  // The stored display size times `factor`, and showing it stretched.
  void scale_display(double factor);
  void show_stretched();
  // convert_to_8bit with its time kept for the information dialog.
  void timed_convert_to_8bit();
  // From start_clock to end_clock, less the time the previews were held.
  float reconstruction_time() const;
  class Busy;

  // Commands (command_table.h).
  void exit() override;
  void open_coded() override;
  void open_bitmap() override;
  void open_targa() override;
  void save() override;
  void save_bitmap() override;
  void save_targa() override;
  void properties() override;
  void compress_command() override;
  void decode() override;
  void stretch_up() override;
  void stretch_down() override;
  void normal() override;
  void resize() override;
  void double_size() override;
  void half_size() override;
  void easy_setup() override;
  void master_setup() override;
  void eight_bit() override;
  void dithering() override;
  void comments() override;
  void incremental() override;
  void about() override;
  void help_contents() override;

  void initialise_state();
  void on_main_size(int width, int height);
  void destroy_main();

  int open_file(Command command);
  int open_picture(Command command, const platform::FileChoice& choice);
  int open_compressed(const platform::FileChoice& choice);
  int install_picture(imagefile::PictureBuffer&& picture);
  // The menu rules of what was opened, the source window hidden and the main window fitted.
  void opened(Opened kind);
  MenuState menu_state() const;
  int save_file(SaveKind kind);
  void set_title_for_file();
  void recompute_geometry();
  void reset_times();
  void release_planes();
  imagefile::PictureBuffer current_picture() const;
  void toggle(bool& flag);

  int run_dialog(resources::DialogId dialog, platform::DialogController& controller);
  void message(std::string_view text, std::string_view caption);
  utils::ClockReading now() const;

  platform::Platform& platform_;
  AppState state_;
  format::CodecParams params_;
  std::uint64_t pixel_limit_ = format::kDefaultPixelLimit;
  std::uint32_t preview_hold_ms_ = 0;
  double held_seconds_ = 0.0;  // previews held during the reconstruction under way
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
// kind. An unknown extension is refused with a message box (text = path, caption
// kUnknownFileKind).
inline constexpr std::string_view kUnknownFileKind = "The file is not a Bitmap, Targa or compressed file";
void open_named_file(Application& app, platform::Platform& platform, const std::string& path);
// Files dropped on the main window open the same way.
void connect_file_opening(Application& app, platform::Platform& platform);

}  // namespace varnic::app
