// SPDX-License-Identifier: BSD-2-Clause
// varnic.exe started as a user starts it and worked by keys as a person would: the command line,
// the help window, the Comments and Easy Setup dialogs. What the screen shows is read through the
// desktop's device context, that is from the X server Wine draws on; screenshots land in
// <build>/screenshots for a person to look at.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../app/harness.h"
#include "imagefile/utf16.h"
#include "win32_automation.h"

namespace varnic::testing {
namespace {

// How long the program may take to show a window, or to finish a step, before the test gives up.
constexpr int kWaitMilliseconds = 20000;
constexpr int kPollMilliseconds = 50;
// Each preview level is held this long: many polls long, so that a poll sees one.
constexpr int kHoldMilliseconds = 700;

const std::string kConformance = std::string(VARNIC_TEST_DATA) + "/conformance";

bool wait_for(const std::function<bool()>& done, int milliseconds = kWaitMilliseconds) {
  for (int waited = 0; waited < milliseconds; waited += kPollMilliseconds) {
    if (done()) return true;
    Sleep(kPollMilliseconds);
  }
  return done();
}

std::wstring class_of(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// A control's text: WM_GETTEXT crosses processes, and waits for the program to answer.
std::string text_of(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return imagefile::narrow(text);
}

// A top-level window's title, as the system keeps it: read without asking the program, which may
// be busy.
std::string title_of(HWND hwnd) {
  wchar_t title[512] = {};
  GetWindowTextW(hwnd, title, 512);
  return imagefile::narrow(title);
}

platform::Image from_screen(const RECT& area) {
  HDC screen = GetDC(nullptr);
  platform::Image image = read_pixels(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
  ReleaseDC(nullptr, screen);
  return image;
}

RECT client_on_screen(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

RECT frame_of(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

// A 24-bit bitmap file of a screenshot.
void save(const platform::Image& image, const std::string& name) {
  imagefile::PictureBuffer p = as_picture({}, image.width, image.height, 24);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t* px = &p.pixels[static_cast<std::size_t>(image.height - 1 - y) * p.geometry().stride + static_cast<std::size_t>(x) * 3];
      for (int c = 0; c < 3; ++c) px[c] = image.at(x, y, 2 - c);
    }
  }
  std::filesystem::create_directories(VARNIC_SCREENSHOT_DIR);
  EXPECT_EQ(imagefile::save_bitmap_file(std::string(VARNIC_SCREENSHOT_DIR) + "/" + name + ".bmp", p),
            imagefile::FileStatus::kOk);
}

// Keys as the keyboard sends them to whatever window has the focus: a chord is pressed in order
// and let go in reverse.
void keys(std::initializer_list<WORD> chord) {
  std::vector<INPUT> inputs;
  for (WORD key : chord) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    inputs.push_back(in);
  }
  for (auto it = chord.end(); it != chord.begin();) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = *--it;
    in.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(in);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void type(std::wstring_view text) {
  for (wchar_t c : text) {
    INPUT in[2] = {};
    for (INPUT& i : in) {
      i.type = INPUT_KEYBOARD;
      i.ki.wScan = c;
      i.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
  }
}

// varnic.exe with the given arguments, ended at the latest when the test ends.
class Desktop {
 public:
  explicit Desktop(const std::vector<std::wstring>& args, const std::filesystem::path& folder = {}) {
    std::wstring command = L"\"" + imagefile::widen(VARNIC_DESKTOP) + L"\"";
    for (const std::wstring& arg : args) command += L" \"" + arg + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.wstring().c_str(), &startup, &info_) != 0;
  }
  ~Desktop() {
    if (!started_) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 1);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  bool started() const { return started_; }

  // A visible top-level window of the program, of this class and, if given, this title.
  HWND window(const wchar_t* window_class, const std::string* title = nullptr) const {
    Search search{info_.dwProcessId, window_class, title, nullptr};
    EnumWindows(match, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  HWND wait_window(const wchar_t* window_class, const std::string& title) const {
    HWND found = nullptr;
    wait_for([&] { return (found = window(window_class, &title)) != nullptr; });
    return found;
  }
  HWND main_window(const std::string& file) const { return wait_window(L"ARITHMETIC", titled(file)); }
  HWND dialog(const std::string& title) const { return wait_window(L"#32770", title); }
  bool gone(HWND hwnd) const {
    return wait_for([&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); });
  }
  // The exit status, once the program has ended by itself.
  std::optional<DWORD> exit_status() const {
    if (WaitForSingleObject(info_.hProcess, kWaitMilliseconds) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }
  // Gives `window` the keyboard, as a click on it would.
  void focus(HWND window) const {
    SetForegroundWindow(window);
    wait_for([&] { return GetForegroundWindow() == window; });
  }

 private:
  struct Search {
    DWORD process;
    const wchar_t* window_class;
    const std::string* title;
    HWND found;
  };
  static BOOL CALLBACK match(HWND hwnd, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process != s->process || !IsWindowVisible(hwnd) || class_of(hwnd) != s->window_class) return TRUE;
    if (s->title != nullptr && title_of(hwnd) != *s->title) return TRUE;
    s->found = hwnd;
    return FALSE;
  }

  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

// The picture a conformance file decodes to.
platform::Image decoded(const std::string& name) {
  imagefile::PictureBuffer picture;
  EXPECT_EQ(imagefile::read_bitmap_file(kConformance + "/decoded/" + name + ".bmp", picture), imagefile::FileStatus::kOk);
  return expected_image(picture);
}

bool all_white(const platform::Image& image) {
  return std::all_of(image.rgb.begin(), image.rgb.end(), [](std::uint8_t v) { return v == 255; });
}

// Watches the main window's client area until it shows `wanted`; the previews seen on the way
// (neither blank nor the end picture) are counted, and the first is saved as `screenshot`.
int previews_before(HWND window, const platform::Image& wanted, const std::string& screenshot) {
  int previews = 0;
  platform::Image shown;
  wait_for([&] {
    shown = from_screen(client_on_screen(window));
    if (differing_pixels(shown, wanted) == 0) return true;
    if (shown.width == wanted.width && shown.height == wanted.height && !all_white(shown) && previews++ == 0) save(shown, screenshot);
    return false;
  });
  EXPECT_EQ(differing_pixels(shown, wanted), 0) << "the decoded picture never reached the screen";
  return previews;
}

TEST(Win32Desktop, TheBitmapNamedOnTheCommandLineIsOnScreenPixelForPixel) {
  const std::string name = "astronaut_256x192.bmp";
  const std::string path = kConformance + "/pics/" + name;
  imagefile::PictureBuffer picture;
  ASSERT_EQ(imagefile::read_bitmap_file(path, picture), imagefile::FileStatus::kOk);
  const platform::Image expected = expected_image(picture);

  Desktop program({imagefile::widen(path)});
  ASSERT_TRUE(program.started());
  HWND window = program.main_window(name);
  ASSERT_NE(window, nullptr) << "no main window titled with the file's name";
  platform::Image shown;
  wait_for([&] { return differing_pixels(shown = from_screen(client_on_screen(window)), expected) == 0; });
  save(from_screen(frame_of(window)), "win32_main_window");
  save(shown, "win32_main_client");
  EXPECT_EQ(differing_pixels(shown, expected), 0) << "pixels differing from the bitmap";

  // File > Exit by its keys; the program must end by itself.
  program.focus(window);
  keys({VK_MENU, 'F'});
  keys({'E'});
  EXPECT_EQ(program.exit_status(), std::optional<DWORD>(0));
}

TEST(Win32Desktop, CommandLineHoldsPreviewsOpensNamesStartingWithADashAndShowsTheVersion) {
  const std::string cod = kConformance + "/cod/astronaut_q50.cod";
  const platform::Image wanted = decoded("astronaut_q50");
  Pictures files;
  std::filesystem::copy_file(cod, files.dir() / "-x.cod");
  std::filesystem::copy_file(kConformance + "/pics/camera_9x5_g.bmp", files.dir() / "-y.bmp");
  {
    // The option before the file, as the help says; each level stays on the screen.
    Desktop program({L"--preview-hold", std::to_wstring(kHoldMilliseconds), imagefile::widen(cod)});
    HWND window = program.main_window("astronaut_q50.cod");
    ASSERT_NE(window, nullptr);
    EXPECT_GT(previews_before(window, wanted, "win32_preview_hold"), 0);
    EXPECT_EQ(program.window(L"#32770"), nullptr) << "a message box came up";
  }
  {
    // The environment variable, and a name starting with a dash after "--".
    SetEnvironmentVariableW(L"VARNIC_PREVIEW_HOLD_MS", std::to_wstring(kHoldMilliseconds).c_str());
    Desktop program({L"--", (files.dir() / "-x.cod").wstring()});
    SetEnvironmentVariableW(L"VARNIC_PREVIEW_HOLD_MS", nullptr);
    HWND window = program.main_window("-x.cod");
    ASSERT_NE(window, nullptr);
    EXPECT_GT(previews_before(window, wanted, "win32_preview_hold_variable"), 0);
  }
  {
    Desktop program({L".\\-y.bmp"}, files.dir());
    EXPECT_NE(program.main_window("-y.bmp"), nullptr);
  }
  // The version, and a usage error, in a message box closed by Return.
  for (const auto& [arg, caption, status] : {std::tuple{L"--version", "varnic", 0u}, {L"-y.bmp", "varnic: usage", 2u}}) {
    Desktop program({arg});
    HWND box = program.dialog(caption);
    ASSERT_NE(box, nullptr) << caption;
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if (class_of(child) == L"Static") text += text_of(child);
    }
    if (status == 0) {
      EXPECT_EQ(text, "varnic 1.0.0 (.cod 2.5; reads 2.3\xE2\x80\x93" "2.5)");
      save(from_screen(frame_of(box)), "win32_version");
    } else {
      EXPECT_NE(text.find("-y.bmp"), std::string::npos) << text;
    }
    program.focus(box);
    keys({VK_RETURN});
    EXPECT_EQ(program.exit_status(), std::optional<DWORD>(status)) << caption;
  }
}

// Opens the menu `popup` by its access key and picks its item `index` (from 0) by the arrow keys.
void choose(const Desktop& program, HWND window, char popup, int index) {
  program.focus(window);
  keys({VK_MENU, static_cast<WORD>(popup)});
  for (int i = 0; i < index; ++i) keys({VK_DOWN});
  keys({VK_RETURN});
}

TEST(Win32Desktop, EscapeClosesHelpCtrlReturnPressesOkInMultiLineFieldsAndEasySetupShowsItsFocus) {
  const std::string name = "astronaut_256x192.bmp";
  Desktop program({imagefile::widen(kConformance + "/pics/" + name)});
  HWND window = program.main_window(name);
  ASSERT_NE(window, nullptr);

  choose(program, window, 'H', 1);  // Help > Contents
  HWND help = nullptr;
  ASSERT_TRUE(wait_for([&] { return (help = program.window(L"VARNICHELP")) != nullptr; }));
  save(from_screen(frame_of(help)), "win32_help");
  keys({VK_ESCAPE});
  EXPECT_TRUE(program.gone(help)) << "Escape left the help window open";

  // A comment typed on two lines, taken by Ctrl+Return; shown again when the dialog reopens.
  choose(program, window, 'O', 4);  // Options > Edit Comments
  HWND comments = program.dialog("Comments");
  ASSERT_NE(comments, nullptr);
  type(L"one");
  keys({VK_RETURN});
  type(L"two");
  keys({VK_CONTROL, VK_RETURN});
  ASSERT_TRUE(program.gone(comments)) << "Ctrl+Return left Comments open";
  choose(program, window, 'O', 4);
  comments = program.dialog("Comments");
  ASSERT_NE(comments, nullptr);
  EXPECT_EQ(text_of(GetDlgItem(comments, resources::control::kCommentText)), "one\r\ntwo");
  save(from_screen(frame_of(comments)), "win32_comments");
  keys({VK_ESCAPE});
  EXPECT_TRUE(program.gone(comments));

  // Master Setup's threshold field: Return starts a line (any blank separates numbers), Ctrl+Return
  // is OK. The field is the seventh tab stop after Total Levels.
  choose(program, window, 'O', 1);  // Options > Master Setup
  HWND setup = program.dialog("Image Setup");
  ASSERT_NE(setup, nullptr);
  for (int i = 0; i < 7; ++i) keys({VK_TAB});
  type(L"9 8 7");
  keys({VK_RETURN});
  type(L"6 5 4");
  keys({VK_CONTROL, VK_RETURN});
  ASSERT_TRUE(program.gone(setup)) << "Ctrl+Return left Master Setup open";
  choose(program, window, 'O', 1);
  setup = program.dialog("Image Setup");
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(text_of(GetDlgItem(setup, resources::control::kSetupThresholds)), "9 8 7 6 5 4 ");
  keys({VK_ESCAPE});
  EXPECT_TRUE(program.gone(setup));

  // Easy Setup opens with the focus on the quality bar, which must show it; Tab takes it away.
  choose(program, window, 'O', 0);
  HWND easy = program.dialog("Image Setup");
  ASSERT_NE(easy, nullptr);
  HWND bar = GetDlgItem(easy, resources::control::kQualityBar);
  RECT around = frame_of(bar);
  InflateRect(&around, 5, 5);
  // The bar without the focus, once the screen stands still; then with it, steady (not a blink).
  keys({VK_TAB});
  platform::Image unfocused = from_screen(around);
  ASSERT_TRUE(wait_for([&] {
    const platform::Image now = from_screen(around);
    return std::exchange(unfocused, now).rgb == now.rgb;
  }));
  keys({VK_SHIFT, VK_TAB});
  ASSERT_TRUE(wait_for([&] { return differing_pixels(from_screen(around), unfocused) != 0; })) << "no focus mark";
  for (int i = 0; i < 4; ++i, Sleep(200)) EXPECT_GT(differing_pixels(from_screen(around), unfocused), 0) << i;
  save(from_screen(frame_of(easy)), "win32_easyset_focus");
  keys({VK_ESCAPE});
  EXPECT_TRUE(program.gone(easy));
}

}  // namespace
}  // namespace varnic::testing
