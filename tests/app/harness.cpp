#include "harness.h"

#include <fstream>
#include <iterator>
#include <unistd.h>

#include "platform/raster.h"

namespace varnic::testing {

Program::Program(const BackendFactory& factory, int screen_depth) : backend_(factory.make()) {
  automation().set_screen_depth(screen_depth);
  app_ = std::make_unique<app::Application>(platform());
  app_->start();
  platform().process_paints();
}

Program::~Program() { app_.reset(); }

void Program::command(int id) {
  app_->dispatch(id);
  platform().process_paints();
}

void Program::open(int command_id, const std::string& path) {
  automation().queue_file_answer(path);
  command(command_id);
}

void Program::save(int command_id, const std::string& path) {
  automation().queue_file_answer(path);
  command(command_id);
}

void Program::dialog(const std::string& name, std::vector<platform::DialogStep> steps) {
  automation().queue_dialog(platform::DialogScript{name, std::move(steps)});
}

Pictures::Pictures() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  dir_ = std::filesystem::temp_directory_path() / ("varnic_app_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

Pictures::~Pictures() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

namespace {

imagefile::Picture blank(int width, int height, int bits, std::uint16_t mode) {
  imagefile::Picture p;
  p.width_ = width;
  p.height_ = height;
  p.bits_per_pixel_ = bits;
  p.image_mode_ = mode;
  p.pixels_.assign(p.geometry().picture_bytes, 0);
  p.header_.info_.width_ = width;
  p.header_.info_.height_ = height;
  p.header_.info_.bit_count_ = static_cast<std::uint16_t>(bits);
  p.header_.info_.image_size_ = static_cast<std::uint32_t>(p.geometry().picture_bytes);
  if (bits == 8) {
    p.header_.info_.colours_used_ = 256;
    p.header_.info_.colours_important_ = 256;
  }
  imagefile::set_grey_colour_table(p.header_);
  return p;
}

}  // namespace

imagefile::Picture Pictures::colour(int width, int height) {
  imagefile::Picture p = blank(width, height, 24, format::kImageModeColour);
  const std::size_t stride = p.geometry().stride;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = p.pixels_.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3;
      px[0] = static_cast<std::uint8_t>(40 + (x * 180) / std::max(width - 1, 1));
      px[1] = static_cast<std::uint8_t>(30 + (y * 200) / std::max(height - 1, 1));
      px[2] = static_cast<std::uint8_t>(((x + y) % 7) * 20 + 60);
    }
  }
  return p;
}

imagefile::Picture Pictures::grey(int width, int height) {
  imagefile::Picture p = blank(width, height, 8, format::kImageModeGrey);
  const std::size_t stride = p.geometry().stride;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      p.pixels_[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>((x * 7 + y * 3) % 256);
    }
  }
  return p;
}

imagefile::Picture Pictures::palette(int width, int height) {
  imagefile::Picture p = grey(width, height);
  p.image_mode_ = format::kImageModePalette;
  for (int i = 0; i < 256; ++i) {
    p.header_.colour_table_[static_cast<std::size_t>(i) * 4 + 0] = static_cast<std::uint8_t>(255 - i);
    p.header_.colour_table_[static_cast<std::size_t>(i) * 4 + 1] = static_cast<std::uint8_t>(i / 2);
    p.header_.colour_table_[static_cast<std::size_t>(i) * 4 + 2] = static_cast<std::uint8_t>(i);
  }
  return p;
}

std::string Pictures::write_bytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  const std::string p = path(name);
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p;
}

std::string Pictures::write_bitmap(const std::string& name, const imagefile::Picture& picture) const {
  return write_bytes(name, imagefile::encode_bitmap(picture));
}

std::string Pictures::write_targa(const std::string& name, const imagefile::Picture& picture) const {
  return write_bytes(name, imagefile::encode_targa(picture));
}

std::vector<std::uint8_t> Pictures::read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

platform::Image expected_image(const imagefile::Picture& picture) {
  platform::BitmapView view;
  view.bits = picture.pixels_;
  view.width = picture.width_;
  view.height = picture.height_;
  view.bits_per_pixel = picture.bits_per_pixel_;
  view.colour_table = picture.header_.colour_table_;
  platform::Framebuffer fb;
  fb.resize(picture.width_, picture.height_);
  platform::blit_bitmap(fb, view, 0, 0);
  return platform::Image{fb.width, fb.height, fb.rgb};
}

platform::Image crop(const platform::Image& image, int width, int height) {
  platform::Image out{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        out.rgb.push_back(x < image.width && y < image.height ? image.at(x, y, c) : 0);
      }
    }
  }
  return out;
}

int differing_pixels(const platform::Image& a, const platform::Image& b) {
  if (a.width != b.width || a.height != b.height) return a.width * a.height + 1;
  int count = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      if (a.at(x, y, 0) != b.at(x, y, 0) || a.at(x, y, 1) != b.at(x, y, 1) || a.at(x, y, 2) != b.at(x, y, 2)) ++count;
    }
  }
  return count;
}

}  // namespace varnic::testing
