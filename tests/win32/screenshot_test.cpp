// SPDX-License-Identifier: BSD-2-Clause
// varnic.exe started as a user starts it, with a bitmap named on its command line: its main
// window is found by title, and what the screen shows in the window's client area must be the
// bitmap pixel for pixel. The screen is read through the desktop's device context, that is from
// the X server Wine draws on. Screenshots of the window and of the client area are saved as
// bitmaps in <build>/screenshots for a person to look at.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../app/harness.h"
#include "imagefile/utf16.h"
#include "win32_automation.h"

namespace varnic::testing {
namespace {

// How long the program may take to show its window, and to paint it, before the test gives up.
constexpr int kWaitMilliseconds = 20000;
constexpr int kPollMilliseconds = 100;

// A 24-bit bitmap file of a screenshot.
void save(const platform::Image& image, const std::string& name) {
  imagefile::PictureBuffer p;
  p.width = image.width;
  p.height = image.height;
  p.bits_per_pixel = 24;
  p.image_mode = format::kImageModeColour;
  p.header.info.width = image.width;
  p.header.info.height = image.height;
  p.header.info.bit_count = 24;
  const std::size_t stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
  p.pixels.assign(stride * static_cast<std::size_t>(image.height), 0);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t* px = &p.pixels[static_cast<std::size_t>(image.height - 1 - y) * stride + static_cast<std::size_t>(x) * 3];
      for (int c = 0; c < 3; ++c) px[c] = image.at(x, y, 2 - c);
    }
  }
  p.header.info.image_size = static_cast<std::uint32_t>(p.pixels.size());
  std::filesystem::create_directories(VARNIC_SCREENSHOT_DIR);
  EXPECT_EQ(imagefile::save_bitmap_file(std::string(VARNIC_SCREENSHOT_DIR) + "/" + name + ".bmp", p),
            imagefile::FileStatus::kOk);
}

platform::Image from_screen(const RECT& area) {
  HDC screen = GetDC(nullptr);
  platform::Image image = read_pixels(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
  ReleaseDC(nullptr, screen);
  return image;
}

// The program under test, ended at the latest when the test ends.
struct Process {
  PROCESS_INFORMATION info{};
  ~Process() {
    if (info.hProcess == nullptr) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
};

int differing(const platform::Image& a, const platform::Image& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  int count = 0;
  for (std::size_t i = 0; i < a.rgb.size(); i += 3) count += a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2];
  return count;
}

TEST(Win32Screenshot, TheBitmapNamedOnTheCommandLineIsOnScreenPixelForPixel) {
  const std::string name = "astronaut_256x192.bmp";
  const std::string path = std::string(VARNIC_TEST_DATA) + "/conformance/pics/" + name;
  imagefile::PictureBuffer picture;
  ASSERT_EQ(imagefile::read_bitmap_file(path, picture), imagefile::FileStatus::kOk);
  const platform::Image expected = expected_image(picture);

  std::wstring command = L"\"" + imagefile::widen(VARNIC_DESKTOP) + L"\" \"" + imagefile::widen(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  Process program;
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &program.info));

  const std::wstring title = L"Varnholt Image Compressor V2.5    " + imagefile::widen(name);
  HWND window = nullptr;
  platform::Image shown;
  RECT client{};
  for (int waited = 0; waited < kWaitMilliseconds; waited += kPollMilliseconds) {
    Sleep(kPollMilliseconds);
    window = FindWindowW(L"ARITHMETIC", title.c_str());
    if (window == nullptr || !IsWindowVisible(window)) continue;
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    shown = from_screen(client);
    if (differing(shown, expected) == 0) break;
  }
  ASSERT_NE(window, nullptr) << "no main window titled with the file's name";
  RECT outer{};
  GetWindowRect(window, &outer);
  save(from_screen(outer), "win32_main_window");
  save(shown, "win32_main_client");
  EXPECT_EQ(shown.width, picture.width);
  EXPECT_EQ(shown.height, picture.height);
  EXPECT_EQ(differing(shown, expected), 0) << "pixels differing from the bitmap";

  // Exit through the menu, as a user would; the program must end by itself.
  PostMessageW(window, WM_COMMAND, 0, 0);
  EXPECT_EQ(WaitForSingleObject(program.info.hProcess, kWaitMilliseconds), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(program.info.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace varnic::testing
