// SPDX-License-Identifier: BSD-2-Clause
// Stories about the display commands, the user's hand on the windows and the dialogs.
#include <algorithm>
#include <cstdio>
#include <map>

#include "harness.h"

namespace varnic::testing {
namespace {

using platform::ScrollCode;
using platform::Size;

DialogStep scroll(ScrollCode code, int pointer_x = 0, int width = 1) {
  return DialogStep::scroll_bar(id::kQualityBar, code, pointer_x, width);
}

bool same_settings(const format::CodecParams& a, const format::CodecParams& b) {
  bool same = a.total_levels == b.total_levels && a.threshold_vector == b.threshold_vector;
  for (std::size_t c = 0; c < 3; ++c) {
    same &= a.channels[c].quant_vector == b.channels[c].quant_vector && a.channels[c].dropped_levels == b.channels[c].dropped_levels;
  }
  return same;
}

std::string repeat(const std::string& number, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += number + " ";
  return s;
}

TEST_P(ScenarioTest, DisplayCommandsScaleWithTheirFactorsTruncatedAndWithinSixteenBits) {
  const std::tuple<Size, int, Size> cases[] = {  // display size set by Resize, command, new size
      {{400, 300}, -1, {400, 300}},
      {{400, 300}, cmd::kCmdStretchUp, {439, 329}},  // 400 * 11/9 = 488.9 -> 488, * 0.9 = 439.2 -> 439
      {{439, 329}, cmd::kCmdStretchUp, {482, 361}},  // 536 -> 482, 402 -> 361
      {{400, 300}, cmd::kCmdNormal, {300, 200}},     // the picture's size
      {{300, 200}, cmd::kCmdHalfSize, {149, 99}},    // * 5/9 = 166 -> 149, 111 -> 99
      {{149, 99}, cmd::kCmdDoubleSize, {298, 198}},
      {{400, 100}, cmd::kCmdHalfSize, {199, 49}},  // 222 -> 199, 55 -> 49
      {{10, 1}, cmd::kCmdStretchDown, {9, 0}},
      {{40000, 30}, cmd::kCmdDoubleSize, {65535, 60}},  // stops at 16 bits
  };
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(300, 200)));
  for (const auto& [size, command, wanted] : cases) {
    SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height << " command " << command);
    program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, std::to_string(size.width)),
                                                   type(id::kResizeHeight, std::to_string(size.height)), press(id::kOk)});
    program.command(command);
    EXPECT_EQ((Size{program.state().display_width, program.state().display_height}), wanted);
    EXPECT_EQ(program.client(), wanted);
    EXPECT_EQ(program.state().display_mode, command == cmd::kCmdNormal ? app::DisplayMode::kColour : app::DisplayMode::kStretched);
  }
}

TEST_P(ScenarioTest, ResizeFieldsReadLeadingNumbersAndTheWindowNeverVanishes) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(50, 40);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdNormal);
  // Cancelled, it still switches to stretching, at the size the fields showed.
  const auto& run = program.run_dialog(cmd::kCmdResize, "RESIZE", {snapshot(), type(id::kResizeWidth, "640"), press(id::kCancel)});
  EXPECT_EQ(run.snapshots.at(0).texts.at(id::kResizeWidth) + "x" + run.snapshots.at(0).texts.at(id::kResizeHeight), "50x40");
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ(program.client(), (Size{50, 40}));
  for (const auto& [typed, stored] : {std::pair{"12abc", 12}, {"  77", 77}, {"", 0}, {"x9", 0}, {"abc", 0},
                                      {"70000", 4464}, {"-5", 0}, {"+8", 8}, {"0", 0}}) {
    program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, typed), type(id::kResizeHeight, "0"), press(id::kOk)});
    EXPECT_EQ((Size{program.state().display_width, program.state().display_height}), (Size{stored, 0})) << typed;
    const platform::Image shown = program.main_image();
    EXPECT_TRUE(program.app().main_window().is_visible() && shown.width >= 1 && shown.height >= 1) << typed;
  }
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(differing_pixels(crop(program.main_image(), 50, 40), expected_image(picture)), 0);
}

TEST_P(ScenarioTest, AHugeDisplayKeepsTheWindowInTheWorkAreaAndMemoryToTheScreen) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(279, 32);  // 4464 = 16 x 279, 512 = 16 x 32
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.run_dialog(cmd::kCmdResize, "RESIZE", {press(id::kOk)});  // what a first dialog costs once
  const std::int64_t before = resident_bytes();
  program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, "70000"), type(id::kResizeHeight, "512"), press(id::kOk)});
  for (int i = 0; i < 3; ++i) program.command(cmd::kCmdDoubleSize);
  const Size display{35712, 4096};  // 70000 keeps its low 16 bits, 4464; doubled three times
  EXPECT_EQ((Size{program.state().display_width, program.state().display_height}), display);
  EXPECT_EQ(program.client(), display);  // the program draws at the size asked for
  const std::int64_t grown = resident_bytes() - before;
  const platform::Rect frame = program.automation().frame_on_screen(program.app().main_window());
  const platform::Rect work = program.automation().work_area();
  EXPECT_TRUE(frame.x >= work.x && frame.y >= work.y && frame.x + frame.width <= work.x + work.width &&
              frame.y + frame.height <= work.y + work.height)
      << frame.x << "," << frame.y << " " << frame.width << "x" << frame.height;
  const platform::Image shown = program.main_image();  // the top-left part
  EXPECT_TRUE(shown.width > 0 && shown.width <= work.width && shown.height > 0 && shown.height <= work.height);
  EXPECT_EQ(differing_pixels(shown, crop(expected_image(picture), shown.width, shown.height, 128)), 0);
#if !defined(__SANITIZE_ADDRESS__)  // shadow memory and freed blocks held back swell the resident size
  // What a window may keep per pixel of the screen: its own picture of the client area and the
  // window system's, with room for the allocator's slack.
  constexpr std::int64_t kBytesPerScreenPixel = 16;
  EXPECT_LT(grown, kBytesPerScreenPixel * work.width * work.height);
#else
  (void)grown;
#endif
}

TEST_P(ScenarioTest, UserResizeStretchesThroughThePicturesTableAndAClickSizesTheSourceWindowAlike) {
  Pictures files;
  const imagefile::PictureBuffer palette = Pictures::palette(80, 48), picture = Pictures::colour(30, 20);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("palette.bmp", palette));  // wider than the menu needs
  program.automation().user_resize_client(program.app().main_window(), 160, 96);
  EXPECT_EQ(differing_pixels(program.main_image(), crop(expected_image(palette), 160, 96, 2)), 0);
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdCompress);
  platform::Window& source = program.app().source_window();
  program.automation().user_resize_client(program.app().main_window(), 90, 60);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ((Size{program.state().display_width, program.state().display_height}), (Size{90, 60}));
  program.automation().user_click(source);
  EXPECT_EQ(differing_pixels(program.source_image(), crop(expected_image(picture), 90, 60, 3)), 0);
  // Closed by the user, it comes back with the next Compress where it was.
  const platform::Rect place = source.outer_rect();
  program.automation().user_close(source);
  EXPECT_FALSE(source.is_visible());
  program.command(cmd::kCmdCompress);
  EXPECT_TRUE(source.is_visible());
  EXPECT_EQ(std::pair(source.outer_rect().x, source.outer_rect().y), std::pair(place.x, place.y));
  EXPECT_EQ(source.client_size(), (Size{30, 20}));
}

TEST_P(ScenarioTest, EasySetupSliderStaysInRangeOkRefusesOutOfRangeTestCompressesResetUsesFifty) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  const std::pair<std::vector<DialogStep>, int> moves[] = {
      {{}, 50},
      {{type(id::kQualityEdit, "99"), scroll(ScrollCode::kLineRight)}, 99},
      {{type(id::kQualityEdit, "5"), scroll(ScrollCode::kPageLeft)}, 0},
      {{scroll(ScrollCode::kThumbTrack, 80, 200)}, 40},                       // 80 of 200 pixels
      {{scroll(ScrollCode::kRightEnd), scroll(ScrollCode::kLineRight)}, 51},  // the end keys move a page
  };
  std::vector<DialogStep> script;
  for (const auto& move : moves) {
    script.insert(script.end(), move.first.begin(), move.first.end());
    script.push_back(snapshot());
  }
  script.push_back(press(id::kCancel));
  const auto& slid = program.run_dialog(cmd::kCmdEasySetup, "EASYSET", script);
  ASSERT_EQ(slid.snapshots.size(), std::size(moves));
  for (std::size_t i = 0; i < std::size(moves); ++i) {
    EXPECT_EQ(slid.snapshots[i].scroll_positions.at(id::kQualityBar), moves[i].second) << i;
    EXPECT_EQ(slid.snapshots[i].texts.at(id::kQualityEdit), std::to_string(moves[i].second)) << i;
  }
  // Cancelled, nothing was derived: the quality in force stays and the dialog shows it again.
  EXPECT_EQ(program.params().quality_factor, 50);

  const auto& ok = program.run_dialog(cmd::kCmdEasySetup, "EASYSET",
                                      {snapshot(), type(id::kQualityEdit, "120"), press(id::kEasyOk), snapshot(),
                                       type(id::kQualityEdit, "99"), DialogStep::select(id::kImageType, 2), press(id::kEasyOk)});
  ASSERT_EQ(ok.snapshots.size(), 2u);  // still open after the refusal
  EXPECT_EQ(ok.snapshots[0].texts.at(id::kQualityEdit) + " " + std::to_string(ok.snapshots[0].scroll_positions.at(id::kQualityBar)), "50 50");
  ASSERT_EQ(program.messages().size(), 1u);
  EXPECT_EQ(program.messages()[0].text, format::message(format::StatusCode::kQualityOutOfRange));
  EXPECT_EQ(program.messages()[0].owner, "EASYSET");
  EXPECT_EQ(program.params().quality_factor, 99);
  EXPECT_EQ(program.params().image_type, 2);
  EXPECT_EQ(program.params().threshold_vector[0], 0);  // derived: quality 99 keeps every coefficient

  const auto& tested = program.run_dialog(cmd::kCmdEasySetup, "EASYSET", {scroll(ScrollCode::kThumbPosition, 10, 100),
                                                                          press(id::kEasyTest), snapshot(), press(id::kCancel)});
  ASSERT_EQ(tested.snapshots.size(), 1u);  // Test compresses and stays open
  EXPECT_EQ(tested.snapshots[0].combo_selections.at(id::kImageType), 2);  // the type in force
  EXPECT_TRUE(program.state().compressed_ready);
  EXPECT_EQ(program.params().channels[1].dropped_levels, 4);  // quality 10 derived
  const auto& reset = program.run_dialog(cmd::kCmdEasySetup, "EASYSET",
                                         {DialogStep::select(id::kImageType, 1), press(id::kEasyReset), snapshot(), press(id::kCancel)});
  ASSERT_EQ(reset.snapshots.size(), 1u);
  EXPECT_EQ(reset.snapshots[0].combo_selections.at(id::kImageType), 0);  // shows what it compressed with
  EXPECT_EQ(reset.snapshots[0].scroll_positions.at(id::kQualityBar), 50);
  EXPECT_EQ(reset.snapshots[0].texts.at(id::kQualityEdit), "50");
  EXPECT_EQ(program.params().threshold_vector[0], 33);
  const auto stream = program.state().compressed_stream;
  program.command(cmd::kCmdCompress);
  EXPECT_EQ(program.state().compressed_stream, stream);
}

TEST_P(ScenarioTest, MasterSetupShowsTheSettingsStoresAValidSetAndRefusesBadInputWhole) {
  Program program(GetParam());
  // Quality 50's settings at start-up: 5 levels, row 4 of the table for Y.
  const auto& run = program.run_dialog(
      cmd::kCmdMasterSetup, "IMAGESETUP",
      {snapshot(), type(id::kSetupTotalLevels, "6"), type(id::kSetupALevels, "0"), type(id::kSetupBLevels, "5"),
       type(id::kSetupCLevels, "1"), type(id::kSetupVectorA, repeat("7", 19)), type(id::kSetupVectorB, repeat("125", 19)),
       type(id::kSetupVectorC, "0\n0\t" + repeat("9", 17)),  // any blank separates
       type(id::kSetupThresholds, repeat("4", 7)), press(id::kOk)});
  ASSERT_TRUE(run.finished && program.messages().empty());
  const auto& shown = run.snapshots.at(0).texts;
  EXPECT_EQ(shown.at(id::kSetupTotalLevels), "5");
  EXPECT_EQ(shown.at(id::kSetupImageWidth), "32");
  EXPECT_EQ(shown.at(id::kSetupVectorA), "6 6 0 12 12 6 24 24 24 30 30 30 40 40 40 50 ");
  EXPECT_EQ(shown.at(id::kSetupThresholds), "33 23 10 10 5 5 ");
  const format::CodecParams p = program.params();
  EXPECT_EQ(p.total_levels, 6);
  EXPECT_EQ(p.channels[1].dropped_levels, 5);
  EXPECT_EQ(p.channels[2].dropped_levels, 1);
  EXPECT_EQ(p.channels[0].quant_vector[18], 7);
  EXPECT_EQ(p.channels[1].quant_vector[0], 125);
  EXPECT_EQ(p.channels[2].quant_vector[1], 0);
  EXPECT_EQ(p.channels[2].quant_vector[18], 9);
  EXPECT_EQ(p.threshold_vector[6], 4);
  EXPECT_EQ(p.padded_width, 64u);  // 32 rounded up to a multiple of 2^6

  using SC = format::StatusCode;
  const std::tuple<int, std::string, SC> cases[] = {
      {id::kSetupTotalLevels, "7", SC::kTotalLevelsOutOfRange},
      {id::kSetupTotalLevels, "0", SC::kTotalLevelsOutOfRange},
      {id::kSetupALevels, "6", SC::kALevelsInvalid},  // equal to the levels
      {id::kSetupBLevels, "9", SC::kBLevelsInvalid},
      {id::kSetupCLevels, "-1", SC::kCLevelsInvalid},
      {id::kSetupVectorA, repeat("10", 18), SC::kQuantVectorACount},
      {id::kSetupVectorB, repeat("10", 20), SC::kQuantVectorBCount},
      {id::kSetupVectorC, repeat("10", 18) + "126", SC::kQuantVectorCTooLarge},
      {id::kSetupVectorA, "20 10 x" + repeat(" 1", 16), SC::kQuantVectorANotNumbers},
      {id::kSetupThresholds, "1 2 3", SC::kThresholdVectorCount},
  };
  for (const auto& [control, text, expected] : cases) {
    program.automation().clear_records();
    const auto& refused = program.run_dialog(cmd::kCmdMasterSetup, "IMAGESETUP",
                                             {type(id::kSetupStretchWidth, "777"), type(control, text), press(id::kOk),
                                              snapshot(), press(id::kCancel)});
    ASSERT_EQ(program.messages().size(), 1u) << text;
    EXPECT_EQ(program.messages()[0].text, format::message(expected)) << text;
    EXPECT_EQ(refused.snapshots.size(), 1u) << text;  // stayed open
    EXPECT_TRUE(same_settings(program.params(), p) && program.state().display_width != 777) << text;
  }
}

TEST_P(ScenarioTest, EscapeClosesEveryDialogButAboutAndChangesNoSetting) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  program.params().quality_factor = 30;
  program.params().image_type = 1;
  const format::CodecParams before = program.params();
  for (const auto& [command, name] : {std::pair{cmd::kCmdResize, "RESIZE"}, {cmd::kCmdComments, "COMMENTS"},
                                      {cmd::kCmdEasySetup, "EASYSET"}, {cmd::kCmdMasterSetup, "IMAGESETUP"},
                                      {cmd::kCmdProperties, "INFOR"}, {cmd::kCmdAbout, "DIALABOUT"}}) {
    const auto& run = program.run_dialog(command, name, {press(id::kCancel), snapshot(), press(id::kOk)});
    EXPECT_TRUE(run.finished) << name;
    EXPECT_EQ(run.snapshots.size(), command == cmd::kCmdAbout ? 1u : 0u) << name;  // About waits for its OK
  }
  EXPECT_TRUE(same_settings(program.params(), before) && program.params().quality_factor == 30 &&
              program.params().image_type == 1);
  EXPECT_FALSE(program.state().compressed_ready);
  program.command(cmd::kCmdAbout);  // unanswered: only a forced close ends it
  EXPECT_FALSE(program.automation().dialog_runs().back().finished);
  program.command(cmd::kCmdHelpContents);
  ASSERT_EQ(program.automation().help_requests().size(), 1u);
  EXPECT_EQ(program.automation().help_requests()[0].text, resources::help_text());
}

TEST_P(ScenarioTest, InformationDialogShowsTheLastRunsNumbers) {
  Pictures files;
  const imagefile::PictureBuffer grey = Pictures::grey(64, 32);
  Program program(GetParam());
  auto expect_texts = [&](const std::map<int, std::string>& wanted) {
    program.command(cmd::kCmdProperties);
    const auto& shown = program.automation().dialog_runs().back().final_state.texts;
    for (const auto& [control, text] : wanted) EXPECT_EQ(shown.at(control), text) << control;
  };
  expect_texts({{id::kInfoRatio, "--- (:1)"}});  // nothing opened: no division by zero
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("grey.bmp", grey));
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(grey)), 0);
  expect_texts({{id::kInfoFileName, "grey.bmp"}, {id::kInfoOriginal, "64 X 32"}, {id::kInfoDisplay, "64 X 32"},
                {id::kInfoCompressed, "3126(Bytes)"},  // the file: 54 + 1024 + 64 * 32
                {id::kInfoDecompressed, "2048(Bytes)"}, {id::kInfoRatio, "1.0 (:1)"}});
  program.automation().set_clock_auto_step(1250);
  program.command(cmd::kCmdCompress);
  program.automation().set_clock_auto_step(0);
  const std::size_t size = program.state().compressed_stream.size();
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%2.1f (:1)", 3126.0 / static_cast<double>(size));  // bitmap file : stream
  expect_texts({{id::kInfoCompressed, std::to_string(size) + "(Bytes)"}, {id::kInfoRatio, ratio},
                {id::kInfoWaveletTime, "1.25(second)"}, {id::kInfoEntropyTime, "0.00(second)"}, {id::kInfoTotalTime, "1.25(second)"}});
  program.save(cmd::kCmdSave, files.path("grey.cod"));
  program.automation().set_clock_auto_step(500);
  program.open(cmd::kCmdOpenCoded, files.path("grey.cod"));
  program.automation().set_clock_auto_step(0);
  expect_texts({{id::kInfoFileName, "grey.cod"}, {id::kInfoWaveletTime, "0.50(second)"}, {id::kInfoEntropyTime, "0.50(second)"},
                {id::kInfoTotalTime, "1.00(second)"}, {id::kInfoColourTime, "0.00(second)"}, {id::kInfoDecompressed, "2048(Bytes)"}});
  // Previews held for a demonstration are no time of the reconstruction's (five levels of 0.4 s).
  program.app().set_preview_hold(400);
  program.open(cmd::kCmdOpenCoded, files.path("grey.cod"));
  expect_texts({{id::kInfoWaveletTime, "0.00(second)"}, {id::kInfoTotalTime, "0.00(second)"}});
}

}  // namespace
}  // namespace varnic::testing
