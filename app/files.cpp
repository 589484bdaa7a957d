// SPDX-License-Identifier: BSD-2-Clause
// Opening and saving files: the open and save commands, the checks that leave the previous picture
// when a file is refused, and files named outside the choosers.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/app.h"
#include "resources/resources.h"

namespace varnic::app {

namespace {

std::uint32_t file_size_of(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return 0;
  return size > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                           : static_cast<std::uint32_t>(size);
}

}  // namespace

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
// Files named outside the choosers.

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

void open_named_file(Application& app, platform::Platform& platform, const std::string& path) {
  const int command = open_command_for_path(path);
  if (command < 0) {
    platform.message_box(path, kUnknownFileKind);
    return;
  }
  platform.answer_next_file_chooser(path);
  app.dispatch(command);
}

void connect_file_opening(Application& app, platform::Platform& platform) {
  platform.set_open_request_handler([&app, &platform](const std::string& path) {
    open_named_file(app, platform, path);
    platform.process_paints();
  });
}

}  // namespace varnic::app
