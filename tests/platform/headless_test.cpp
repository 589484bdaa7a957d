#include <gtest/gtest.h>

#include <vector>

#include "platform/headless/headless.h"

namespace varnic::platform {
namespace {

struct Recorder : WindowHandler {
  std::vector<Size> sizes;
  int paints = 0;
  int clicks = 0;
  void on_paint(Surface& s) override {
    ++paints;
    const std::vector<std::uint8_t> bits = {0, 0, 0, 0};  // one black pixel
    s.draw_bitmap(BitmapView{bits, 1, 1, 24, {}}, 0, 0);
  }
  void on_size(int w, int h) override { sizes.push_back(Size{w, h}); }
  void on_mouse_button() override { ++clicks; }
};

MenuTemplate small_menu() {
  MenuTemplate m;
  m.popups.push_back(MenuItemTemplate{"&File", -1, false, false,
                                      {MenuItemTemplate{"&Save", 11, true, false, {}},
                                       MenuItemTemplate{"&Exit", 0, false, true, {}}}});
  return m;
}

TEST(HeadlessTest, WindowsReportClientSizeChangesOnlyWhenTheyHappen) {
  HeadlessPlatform platform;
  Recorder handler;
  const MenuTemplate menu = small_menu();
  Window& w = platform.create_window(WindowSpec{"t", 10, 30, 400, 300, &menu, false}, handler);
  const int frame_w = 2 * HeadlessPlatform::kFrameSide;
  const int frame_h = HeadlessPlatform::kCaptionHeight + HeadlessPlatform::kMenuBarHeight + HeadlessPlatform::kFrameBottom;
  EXPECT_EQ(w.client_size(), (Size{400 - frame_w, 300 - frame_h}));
  EXPECT_TRUE(handler.sizes.empty());
  w.show();  // first show reports the size
  ASSERT_EQ(handler.sizes.size(), 1u);
  w.move(10, 30, 400, 300, true);  // same size: no report
  EXPECT_EQ(handler.sizes.size(), 1u);
  w.move(50, 60, 100 + frame_w, 80 + frame_h, true);
  ASSERT_EQ(handler.sizes.size(), 2u);
  EXPECT_EQ(handler.sizes[1], (Size{100, 80}));
  EXPECT_EQ(w.outer_rect(), (Rect{50, 60, 100 + frame_w, 80 + frame_h}));

  ASSERT_NE(w.menu(), nullptr);
  EXPECT_FALSE(w.menu()->is_enabled(11));
  EXPECT_TRUE(w.menu()->is_checked(0));
  w.menu()->set_enabled(11, true);
  EXPECT_TRUE(w.menu()->is_enabled(11));
  EXPECT_FALSE(w.menu()->is_enabled(999));
}

TEST(HeadlessTest, PaintsGoOnlyToVisibleInvalidWindowsAndEraseToWhite) {
  HeadlessPlatform platform;
  Recorder handler;
  Window& w = platform.create_window(WindowSpec{"t", 0, 0, 60, 80, nullptr, false}, handler);
  platform.process_paints();
  EXPECT_EQ(handler.paints, 0);  // hidden
  w.show();
  platform.process_paints();
  EXPECT_EQ(handler.paints, 1);
  platform.process_paints();
  EXPECT_EQ(handler.paints, 1);  // nothing invalid
  Image image = platform.client_image(w);
  EXPECT_EQ(image.at(0, 0, 0), 0);
  EXPECT_EQ(image.at(1, 0, 0), 255);

  w.draw_now([](Surface& s) { s.draw_text(5, 5, "Hi"); });
  ASSERT_FALSE(platform.draws().empty());
  EXPECT_TRUE(platform.draws().back().immediate);
  EXPECT_EQ(platform.draws().back().text, "Hi");
  EXPECT_EQ(platform.client_image(w).at(7, 10, 0), 0);  // the placeholder glyph
  w.invalidate(true);
  platform.process_paints();
  EXPECT_EQ(platform.client_image(w).at(7, 10, 0), 255);  // erased by the paint
}

struct ScriptedController : DialogController {
  std::vector<int> commands;
  std::vector<int> changed;
  int end_on = 1;
  void on_init(Dialog& d) override {
    d.set_scroll_range(7, 0, 99);
    d.combo_insert(8, 0, "a");
    d.combo_insert(8, 1, "b");
  }
  void on_command(Dialog& d, int control) override {
    commands.push_back(control);
    if (control == end_on) d.end(42);
  }
  void on_text_changed(Dialog&, int control) override { changed.push_back(control); }
};

DialogTemplate small_dialog() {
  DialogTemplate t;
  t.name = "SMALL";
  t.controls = {ControlTemplate{ControlKind::kEdit, 5, "", 0, 0, 10, 10, true},
                ControlTemplate{ControlKind::kScrollBar, 7, "", 0, 0, 10, 10, true},
                ControlTemplate{ControlKind::kComboBox, 8, "", 0, 0, 10, 10, true},
                ControlTemplate{ControlKind::kPushButton, 1, "OK", 0, 0, 10, 10, true},
                ControlTemplate{ControlKind::kPushButton, 2, "Cancel", 0, 0, 10, 10, true}};
  return t;
}

TEST(HeadlessTest, DialogsFollowTheirScriptAndRecordWhatHappened) {
  HeadlessPlatform platform;
  const DialogTemplate t = small_dialog();
  ScriptedController c;
  platform.queue_dialog(DialogScript{"SMALL",
                                     {DialogStep::set_text(5, "x\xC3\xA9y"), DialogStep::select(8, 5), DialogStep::snapshot(),
                                      DialogStep::select(8, 1), DialogStep::press(99), DialogStep::press(1),
                                      DialogStep::press(2)}});
  EXPECT_EQ(platform.run_dialog(t, c), 42);
  const DialogRun& run = platform.dialog_runs().back();
  EXPECT_TRUE(run.scripted);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(c.commands, (std::vector<int>{1}));  // the step after the end is not played
  EXPECT_EQ(c.changed, (std::vector<int>{5}));
  EXPECT_EQ(run.snapshots.at(0).combo_selections.at(8), -1);  // index 5 does not exist
  EXPECT_EQ(run.final_state.combo_selections.at(8), 1);
  ASSERT_EQ(run.mismatches.size(), 1u);  // control 99
  EXPECT_EQ(run.final_state.texts.at(5), "x\xC3\xA9y");
}

TEST(HeadlessTest, DialogTextIsCutWithoutSplittingCharacters) {
  HeadlessPlatform platform;
  const DialogTemplate t = small_dialog();
  struct Reader : ScriptedController {
    std::string two, three;
    void on_command(Dialog& d, int control) override {
      two = d.text(5, 2);
      three = d.text(5, 3);
      d.set_scroll_position(7, 150);
      ScriptedController::on_command(d, control);
    }
  } c;
  platform.queue_dialog(DialogScript{"SMALL", {DialogStep::set_text(5, "x\xC3\xA9y"), DialogStep::press(1)}});
  (void)platform.run_dialog(t, c);
  EXPECT_EQ(c.two, "x");
  EXPECT_EQ(c.three, "x\xC3\xA9");
  EXPECT_EQ(platform.dialog_runs().back().final_state.scroll_positions.at(7), 99);  // clamped to the range
}

TEST(HeadlessTest, UnansweredDialogsGetEscapeThenAForcedClose) {
  HeadlessPlatform platform;
  const DialogTemplate t = small_dialog();
  ScriptedController closes_on_escape;
  closes_on_escape.end_on = 2;
  platform.queue_dialog(DialogScript{"OTHER", {}});
  EXPECT_EQ(platform.run_dialog(t, closes_on_escape), 42);
  EXPECT_FALSE(platform.dialog_runs().back().scripted);
  EXPECT_FALSE(platform.dialog_runs().back().mismatches.empty());
  ScriptedController stubborn;
  stubborn.end_on = -5;
  EXPECT_EQ(platform.run_dialog(t, stubborn), -1);
  EXPECT_FALSE(platform.dialog_runs().back().finished);
}

TEST(HeadlessTest, ClockStepsOnlyWhenTold) {
  HeadlessPlatform platform;
  const utils::ClockReading a = platform.now();
  EXPECT_EQ(a.seconds, HeadlessPlatform::kClockStartSeconds);
  EXPECT_EQ(a.milliseconds, HeadlessPlatform::kClockStartMilliseconds);
  platform.advance_clock(600);  // 500 + 600 ms carries into the seconds
  const utils::ClockReading b = platform.now();
  EXPECT_EQ(b.seconds, a.seconds + 1);
  EXPECT_EQ(b.milliseconds, 100);
  platform.set_clock_auto_step(250);
  EXPECT_EQ(platform.now().milliseconds, 100);
  EXPECT_EQ(platform.now().milliseconds, 350);
}

TEST(HeadlessTest, FileChoosersAnswerFromTheQueueAndRecordTheRequest) {
  HeadlessPlatform platform;
  platform.queue_file_answer(std::string("/tmp/dir/pic.bmp"));
  platform.queue_file_answer(std::nullopt);
  FileChooserSpec request;
  request.pattern = "*.bmp";
  const auto first = platform.choose_open_file(request);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->title, "pic.bmp");
  EXPECT_FALSE(platform.choose_save_file(request).has_value());
  EXPECT_FALSE(platform.choose_open_file(request).has_value());  // nothing queued: cancel
  ASSERT_EQ(platform.file_requests().size(), 3u);
  EXPECT_EQ(platform.file_requests()[0].pattern, "*.bmp");
}

TEST(HeadlessTest, CursorAndCaptureAreTracked) {
  HeadlessPlatform platform;
  Recorder handler;
  Window& w = platform.create_window(WindowSpec{"t", 0, 0, 40, 40, nullptr, true}, handler);
  EXPECT_EQ(platform.set_cursor(Cursor::kWait), Cursor::kArrow);
  EXPECT_EQ(platform.cursor(), Cursor::kWait);
  w.set_capture();
  EXPECT_TRUE(platform.capture_held());
  platform.release_capture();
  EXPECT_FALSE(platform.capture_held());
  platform.user_click(w);
  EXPECT_EQ(handler.clicks, 1);
}

}  // namespace
}  // namespace varnic::platform
