// SPDX-License-Identifier: BSD-2-Clause
// What the scenarios rely on in the headless backend: sizes reported as a window system reports
// them, and dialog scripts played faithfully, saying when a script does not fit its dialog.
#include <gtest/gtest.h>

#include <vector>

#include "platform/headless/headless.h"

namespace varnic::platform {
namespace {

struct Recorder : WindowHandler, DialogController {
  std::vector<Size> sizes;
  std::vector<int> commands;
  std::string cut;
  int end_on = 1;
  void on_paint(Surface&) override {}
  void on_size(int w, int h) override { sizes.push_back(Size{w, h}); }
  void on_init(Dialog& d) override { d.set_scroll_range(7, 0, 99); }
  void on_command(Dialog& d, int control) override {
    commands.push_back(control);
    cut = d.text(5, 2) + "|" + d.text(5, 3);
    d.set_scroll_position(7, 150);
    if (control == end_on) d.end(42);
  }
};

TEST(HeadlessTest, WindowsReportClientSizesOnlyWhenShownOrChanged) {
  HeadlessPlatform platform;
  Recorder handler;
  Window& w = platform.create_window(WindowSpec{"t", 10, 30, 400, 300, nullptr, false}, handler);
  const int frame_w = 2 * HeadlessPlatform::kFrameSide, frame_h = HeadlessPlatform::kCaptionHeight + HeadlessPlatform::kFrameBottom;
  w.show();
  w.move(10, 30, 400, 300, true);
  w.move(50, 60, 100 + frame_w, 80 + frame_h, true);
  EXPECT_EQ(handler.sizes, (std::vector<Size>{{400 - frame_w, 300 - frame_h}, {100, 80}}));
}

TEST(HeadlessTest, DialogsPlayTheirScriptUntilTheEndAndRecordWhatDidNotFit) {
  HeadlessPlatform platform;
  DialogTemplate t;
  t.name = "SMALL";
  for (const auto& [kind, control] : {std::pair{ControlKind::kEdit, 5}, {ControlKind::kScrollBar, 7}, {ControlKind::kPushButton, 1}}) {
    t.controls.emplace_back().kind = kind;
    t.controls.back().id = control;
  }
  Recorder c;
  platform.queue_dialog(DialogScript{"SMALL", {DialogStep::set_text(5, "x\xC3\xA9y"), DialogStep::press(99),
                                               DialogStep::press(1), DialogStep::press(2)}});
  EXPECT_EQ(platform.run_dialog(t, c), 42);
  const DialogRun& run = platform.dialog_runs().back();
  EXPECT_TRUE(run.scripted && run.finished);
  EXPECT_EQ(c.commands, (std::vector<int>{1}));  // the step after the end is not played
  EXPECT_EQ(c.cut, "x|x\xC3\xA9");                // never half a character
  EXPECT_EQ(run.final_state.scroll_positions.at(7), 99);  // clamped to the range
  EXPECT_EQ(run.mismatches.size(), 1u);                    // control 99
  // Unanswered or answered for another dialog: the Escape key, then a forced close.
  Recorder closes_on_escape, stubborn;
  closes_on_escape.end_on = 2;
  stubborn.end_on = -5;
  platform.queue_dialog(DialogScript{"OTHER", {}});
  EXPECT_EQ(platform.run_dialog(t, closes_on_escape), 42);
  EXPECT_FALSE(platform.dialog_runs().back().scripted || platform.dialog_runs().back().mismatches.empty());
  EXPECT_EQ(platform.run_dialog(t, stubborn), -1);
  EXPECT_FALSE(platform.dialog_runs().back().finished);
}

}  // namespace
}  // namespace varnic::platform
