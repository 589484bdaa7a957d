// SPDX-License-Identifier: BSD-2-Clause
#include "harness.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <unistd.h>
#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#endif

#include "platform/raster.h"

namespace varnic::testing {

Program::Program(const BackendFactory& factory, int screen_depth) : backend_(factory.make()) {
  automation().set_screen_depth(screen_depth);
  app_ = std::make_unique<app::Application>(platform());
  app_->start();
  platform().process_paints();
}

void Program::command(int id) {
  app_->dispatch(id);
  platform().process_paints();
}

void Program::open(int command_id, const std::string& path) {
  automation().queue_file_answer(path);
  command(command_id);
}

const platform::DialogRun& Program::run_dialog(int command_id, const std::string& name, std::vector<DialogStep> steps) {
  automation().queue_dialog(platform::DialogScript{name, std::move(steps)});
  command(command_id);
  const platform::DialogRun& run = automation().dialog_runs().back();
  EXPECT_TRUE(run.dialog == name && run.scripted && run.mismatches.empty()) << name;
  return run;
}

Pictures::Pictures() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  dir_ = std::filesystem::temp_directory_path() / ("varnic_app_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

Pictures::~Pictures() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string Pictures::write_bytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path(name);
}

std::vector<std::uint8_t> Pictures::read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

imagefile::PictureBuffer as_picture(std::vector<std::uint8_t> pixels, int width, int height, int bits) {
  imagefile::PictureBuffer p;
  p.width = p.header.info.width = width;
  p.height = p.header.info.height = height;
  p.bits_per_pixel = bits;
  p.header.info.bit_count = static_cast<std::uint16_t>(bits);
  p.image_mode = bits == 24 ? format::kImageModeColour : format::kImageModeGrey;
  p.pixels = std::move(pixels);
  p.pixels.resize(p.geometry().picture_bytes, 0);
  p.header.info.image_size = static_cast<std::uint32_t>(p.geometry().picture_bytes);
  p.header.info.colours_used = p.header.info.colours_important = bits == 8 ? 256 : 0;
  imagefile::set_grey_colour_table(p.header);
  return p;
}

imagefile::PictureBuffer Pictures::colour(int width, int height) {
  imagefile::PictureBuffer p = as_picture({}, width, height, 24);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &p.pixels[static_cast<std::size_t>(y) * p.geometry().stride + static_cast<std::size_t>(x) * 3];
      px[0] = static_cast<std::uint8_t>(40 + (x * 180) / std::max(width - 1, 1));
      px[1] = static_cast<std::uint8_t>(30 + (y * 200) / std::max(height - 1, 1));
      px[2] = static_cast<std::uint8_t>(((x + y) % 7) * 20 + 60);
    }
  }
  return p;
}

imagefile::PictureBuffer Pictures::grey(int width, int height) {
  imagefile::PictureBuffer p = as_picture({}, width, height, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      p.pixels[static_cast<std::size_t>(y) * p.geometry().stride + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>((x * 7 + y * 3) % 256);
    }
  }
  return p;
}

imagefile::PictureBuffer Pictures::palette(int width, int height) {
  imagefile::PictureBuffer p = grey(width, height);
  p.image_mode = format::kImageModePalette;
  for (std::size_t i = 0; i < 256; ++i) {
    p.header.colour_table[i * 4] = static_cast<std::uint8_t>(255 - i);
    p.header.colour_table[i * 4 + 1] = static_cast<std::uint8_t>(i / 2);
  }
  return p;
}

platform::Image expected_image(const imagefile::PictureBuffer& picture) {
  platform::Framebuffer fb;
  fb.resize(picture.width, picture.height);
  platform::blit_bitmap(fb, {picture.pixels, picture.width, picture.height, picture.bits_per_pixel, picture.header.colour_table}, 0, 0);
  return platform::Image{fb.width, fb.height, fb.rgb};
}

platform::Image crop(const platform::Image& image, int width, int height, int factor) {
  platform::Image out{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int sx = x / factor, sy = y / factor;
      for (int c = 0; c < 3; ++c) out.rgb.push_back(sx < image.width && sy < image.height ? image.at(sx, sy, c) : 0);
    }
  }
  return out;
}

int differing_pixels(const platform::Image& a, const platform::Image& b) {
  if (a.width != b.width || a.height != b.height) return a.width * a.height + 1;
  int count = 0;
  for (std::size_t i = 0; i < a.rgb.size(); i += 3) {
    count += a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2];
  }
  return count;
}

std::int64_t resident_bytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<std::int64_t>(counters.WorkingSetSize);
#else
  std::ifstream statm("/proc/self/statm");
  std::int64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::int64_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace varnic::testing
