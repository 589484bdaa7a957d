// What the headless backend must do for the scenarios to mean anything: report sizes and paint as
// a window system does, play dialog scripts faithfully and say when a script does not fit.
#include <gtest/gtest.h>

#include <vector>

#include "platform/headless/headless.h"

namespace varnic::platform {
namespace {

struct Recorder : WindowHandler {
  std::vector<Size> sizes;
  int paints = 0;
  void on_paint(Surface& s) override {
    ++paints;
    const std::vector<std::uint8_t> bits = {0, 0, 0, 0};  // one black pixel
    s.draw_bitmap(BitmapView{bits, 1, 1, 24, {}}, 0, 0);
  }
  void on_size(int w, int h) override { sizes.push_back(Size{w, h}); }
};

TEST(HeadlessTest, WindowsReportSizeChangesOnlyAndPaintOnlyWhenVisibleAndInvalid) {
  HeadlessPlatform platform;
  Recorder handler;
  MenuTemplate menu;
  menu.popups.push_back(MenuItemTemplate{"&File", -1, false, false, {MenuItemTemplate{"&Save", 11, true, true, {}}}});
  Window& w = platform.create_window(WindowSpec{"t", 10, 30, 400, 300, &menu, false}, handler);
  const int frame_w = 2 * HeadlessPlatform::kFrameSide;
  const int frame_h = HeadlessPlatform::kCaptionHeight + HeadlessPlatform::kMenuBarHeight + HeadlessPlatform::kFrameBottom;
  EXPECT_EQ(w.client_size(), (Size{400 - frame_w, 300 - frame_h}));
  EXPECT_FALSE(w.menu()->is_enabled(11));
  EXPECT_TRUE(w.menu()->is_checked(11));
  platform.process_paints();
  EXPECT_EQ(handler.paints, 0);  // hidden
  w.show();                      // the first show reports the size
  w.move(10, 30, 400, 300, true);
  w.move(50, 60, 100 + frame_w, 80 + frame_h, true);
  EXPECT_EQ(handler.sizes, (std::vector<Size>{{400 - frame_w, 300 - frame_h}, {100, 80}}));
  platform.process_paints();
  platform.process_paints();
  EXPECT_EQ(handler.paints, 1);  // nothing invalid the second time
  EXPECT_EQ(platform.client_image(w).at(0, 0, 0), 0);
  EXPECT_EQ(platform.client_image(w).at(1, 0, 0), 255);  // erased to white
  w.draw_now([](Surface& s) { s.draw_text(5, 5, "Hi"); });
  EXPECT_TRUE(platform.draws().back().immediate);
  EXPECT_EQ(platform.client_image(w).at(7, 10, 0), 0);  // the placeholder glyph
  w.invalidate(true);
  platform.process_paints();
  EXPECT_EQ(platform.client_image(w).at(7, 10, 0), 255);
}

struct ScriptedController : DialogController {
  std::vector<int> commands, changed;
  int end_on = 1;
  std::string cut_two, cut_three;
  void on_init(Dialog& d) override {
    d.set_scroll_range(7, 0, 99);
    d.combo_insert(8, 0, "a");
    d.combo_insert(8, 1, "b");
  }
  void on_command(Dialog& d, int control) override {
    commands.push_back(control);
    cut_two = d.text(5, 2);
    cut_three = d.text(5, 3);
    d.set_scroll_position(7, 150);
    if (control == end_on) d.end(42);
  }
  void on_text_changed(Dialog&, int control) override { changed.push_back(control); }
};

DialogTemplate small_dialog() {
  DialogTemplate t;
  t.name = "SMALL";
  for (const auto& [kind, id] : {std::pair{ControlKind::kEdit, 5}, {ControlKind::kScrollBar, 7},
                                 {ControlKind::kComboBox, 8}, {ControlKind::kPushButton, 1}}) {
    t.controls.push_back(ControlTemplate{kind, id, "", 0, 0, 10, 10, true});
  }
  return t;
}

TEST(HeadlessTest, DialogsPlayTheirScriptUntilTheEndAndRecordWhatDidNotFit) {
  HeadlessPlatform platform;
  const DialogTemplate t = small_dialog();
  ScriptedController c;
  platform.queue_dialog(DialogScript{"SMALL",
                                     {DialogStep::set_text(5, "x\xC3\xA9y"), DialogStep::select(8, 5), DialogStep::snapshot(),
                                      DialogStep::select(8, 1), DialogStep::press(99), DialogStep::press(1),
                                      DialogStep::press(2)}});
  EXPECT_EQ(platform.run_dialog(t, c), 42);
  const DialogRun& run = platform.dialog_runs().back();
  EXPECT_TRUE(run.scripted && run.finished);
  EXPECT_EQ(c.commands, (std::vector<int>{1}));  // the step after the end is not played
  EXPECT_EQ(c.changed, (std::vector<int>{5}));
  EXPECT_EQ(c.cut_two, "x");  // never half a character
  EXPECT_EQ(c.cut_three, "x\xC3\xA9");
  EXPECT_EQ(run.snapshots.at(0).combo_selections.at(8), -1);  // index 5 does not exist
  EXPECT_EQ(run.final_state.combo_selections.at(8), 1);
  EXPECT_EQ(run.final_state.scroll_positions.at(7), 99);  // clamped to the range
  EXPECT_EQ(run.mismatches.size(), 1u);                    // control 99

  // Unanswered or answered for another dialog: the Escape key, then a forced close.
  ScriptedController closes_on_escape, stubborn;
  closes_on_escape.end_on = 2;
  stubborn.end_on = -5;
  platform.queue_dialog(DialogScript{"OTHER", {}});
  EXPECT_EQ(platform.run_dialog(t, closes_on_escape), 42);
  EXPECT_FALSE(platform.dialog_runs().back().scripted);
  EXPECT_FALSE(platform.dialog_runs().back().mismatches.empty());
  EXPECT_EQ(platform.run_dialog(t, stubborn), -1);
  EXPECT_FALSE(platform.dialog_runs().back().finished);
}

TEST(HeadlessTest, ClockChoosersCursorAndCaptureKeepWhatTheProgramDid) {
  HeadlessPlatform platform;
  platform.advance_clock(600);  // 500 + 600 ms carries into the seconds
  EXPECT_EQ(platform.now().seconds, HeadlessPlatform::kClockStartSeconds + 1);
  platform.set_clock_auto_step(250);
  EXPECT_EQ(platform.now().milliseconds, 100);
  EXPECT_EQ(platform.now().milliseconds, 350);
  platform.queue_file_answer(std::string("/tmp/dir/pic.bmp"));
  EXPECT_EQ(platform.choose_open_file(FileChooserSpec{})->title, "pic.bmp");
  EXPECT_FALSE(platform.choose_save_file(FileChooserSpec{}).has_value());  // nothing queued: cancel
  EXPECT_EQ(platform.file_requests().size(), 2u);
  Recorder handler;
  Window& w = platform.create_window(WindowSpec{"t", 0, 0, 40, 40, nullptr, true}, handler);
  EXPECT_EQ(platform.set_cursor(Cursor::kWait), Cursor::kArrow);
  EXPECT_EQ(platform.cursor(), Cursor::kWait);
  w.set_capture();
  EXPECT_TRUE(platform.capture_held());
  platform.release_capture();
  EXPECT_FALSE(platform.capture_held());
}

}  // namespace
}  // namespace varnic::platform
