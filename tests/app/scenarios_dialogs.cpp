// Stories about the display commands, the user's hand on the windows, the setup dialogs and the
// small dialogs.
#include <algorithm>
#include <cstdio>
#include <map>

#include "harness.h"

namespace varnic::testing {
namespace {

using platform::ScrollCode;

DialogStep scroll(ScrollCode code, int pointer_x = 0, int width = 1) {
  return DialogStep::scroll_bar(id::kQualityBar, code, pointer_x, width);
}

std::string repeat(const std::string& number, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += number + " ";
  return s;
}

TEST_P(ScenarioTest, DisplayCommandsScaleWithTheirFactorsTruncatedAndWithinSixteenBits) {
  struct Case {
    int width, height, command, new_width, new_height;
  };
  const Case cases[] = {
      {400, 300, -1, 400, 300},                     // Resize alone
      {400, 300, cmd::kCmdStretchUp, 439, 329},     // 400 * 11/9 = 488.9 -> 488, * 0.9 = 439.2 -> 439
      {439, 329, cmd::kCmdStretchUp, 482, 361},     // 536 -> 482, 402 -> 361
      {400, 300, cmd::kCmdNormal, 300, 200},        // the picture's size
      {300, 200, cmd::kCmdHalfSize, 149, 99},       // * 5/9 = 166 -> 149, 111 -> 99
      {149, 99, cmd::kCmdDoubleSize, 298, 198},     //
      {400, 100, cmd::kCmdHalfSize, 199, 49},       // 222 -> 199, 55 -> 49
      {10, 1, cmd::kCmdStretchDown, 9, 0},          //
      {40000, 30, cmd::kCmdDoubleSize, 65535, 60},  // stops at 16 bits, or where the window system stops
  };
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(300, 200)));
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " command " << c.command);
    program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, std::to_string(c.width)),
                                                   type(id::kResizeHeight, std::to_string(c.height)), press(id::kOk)});
    program.command(c.command);
    const int frame = program.app().main_window().outer_rect().width - program.client().width;
    const int width = std::min(c.new_width, GetParam().max_window_side - frame);
    EXPECT_EQ((platform::Size{program.state().display_width, program.state().display_height}),
              (platform::Size{width, c.new_height}));
    if (c.new_height > 0 && width < 1000) {
      EXPECT_EQ(program.client(), (platform::Size{width, c.new_height}));
    }
    EXPECT_EQ(program.state().display_mode,
              c.command == cmd::kCmdNormal ? app::DisplayMode::kColour : app::DisplayMode::kStretched);
  }
}

TEST_P(ScenarioTest, ResizeFieldsReadLeadingNumbersAndTheWindowNeverVanishes) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(50, 40);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdNormal);
  // Cancelled, it still switches to stretching, at the size the fields showed.
  const auto& cancelled =
      program.run_dialog(cmd::kCmdResize, "RESIZE", {snapshot(), type(id::kResizeWidth, "640"), press(id::kCancel)});
  EXPECT_EQ(cancelled.snapshots.at(0).texts.at(id::kResizeWidth) + "x" +
                cancelled.snapshots.at(0).texts.at(id::kResizeHeight), "50x40");
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ(program.client(), (platform::Size{50, 40}));
  const std::pair<const char*, int> cases[] = {{"12abc", 12}, {"  77", 77}, {"", 0},   {"x9", 0}, {"abc", 0},
                                               {"70000", 4464}, {"-5", 0},  {"+8", 8}, {"0", 0}};
  for (const auto& [typed, stored] : cases) {
    program.run_dialog(cmd::kCmdResize, "RESIZE", {type(id::kResizeWidth, typed), type(id::kResizeHeight, "0"), press(id::kOk)});
    EXPECT_EQ((platform::Size{program.state().display_width, program.state().display_height}),
              (platform::Size{stored, 0})) << typed;
    const platform::Image shown = program.main_image();
    EXPECT_TRUE(program.app().main_window().is_visible() && shown.width >= 1 && shown.height >= 1) << typed;
  }
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(differing_pixels(crop(program.main_image(), 50, 40), expected_image(picture)), 0);
}

TEST_P(ScenarioTest, StretchingRepeatsAndDeletesPixelsThroughThePicturesOwnTable) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::palette(80, 48);  // wider than the menu needs
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("palette.bmp", picture));
  const platform::Image source = expected_image(picture);
  program.automation().user_resize_client(program.app().main_window(), 160, 96);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ(differing_pixels(program.main_image(), crop(source, 160, 96, 2)), 0);
  // Shrinking deletes rows and columns; which of two neighbours goes is the window system's
  // choice (GDI's differs from x * 80 / 76), but every pixel is a source pixel from beside its
  // place, never a blend.
  program.automation().user_resize_client(program.app().main_window(), 76, 45);
  const platform::Image small = program.main_image();
  for (int y = 0; y < 45; ++y) {
    for (int x = 0; x < 76; ++x) {
      bool found = false;
      for (int sy = std::max(y * 48 / 45 - 1, 0); sy <= std::min(y * 48 / 45 + 1, 47); ++sy) {
        for (int sx = std::max(x * 80 / 76 - 1, 0); sx <= std::min(x * 80 / 76 + 1, 79); ++sx) {
          found |= small.at(x, y, 0) == source.at(sx, sy, 0) && small.at(x, y, 1) == source.at(sx, sy, 1) &&
                   small.at(x, y, 2) == source.at(sx, sy, 2);
        }
      }
      ASSERT_TRUE(found) << x << ", " << y;
    }
  }
}

TEST_P(ScenarioTest, UserResizeStretchesAndAClickSizesTheSourceWindowLikeTheMainWindow) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(30, 20);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdCompress);
  platform::Window& source = program.app().source_window();
  program.automation().user_resize_client(program.app().main_window(), 90, 60);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ((platform::Size{program.state().display_width, program.state().display_height}), (platform::Size{90, 60}));
  program.automation().user_click(source);
  EXPECT_EQ(source.client_size(), (platform::Size{90, 60}));
  // At the main window's scale: three times the picture as read.
  EXPECT_EQ(differing_pixels(program.source_image(), crop(expected_image(picture), 90, 60, 3)), 0);
  // Closed by the user, it comes back with the next Compress where it was.
  const platform::Rect place = source.outer_rect();
  program.automation().user_close(source);
  EXPECT_FALSE(source.is_visible());
  program.command(cmd::kCmdCompress);
  EXPECT_TRUE(source.is_visible());
  EXPECT_EQ(std::pair(source.outer_rect().x, source.outer_rect().y), std::pair(place.x, place.y));
  EXPECT_EQ(source.client_size(), (platform::Size{30, 20}));
}

TEST_P(ScenarioTest, EasySetupSliderFollowsTypingAndItsActionsWithinItsRangeAndOkRefusesOutOfRange) {
  Program program(GetParam());
  const std::pair<std::vector<DialogStep>, int> moves[] = {
      {{}, 50},
      {{type(id::kQualityEdit, "99"), scroll(ScrollCode::kLineRight)}, 99},
      {{type(id::kQualityEdit, "5"), scroll(ScrollCode::kPageLeft)}, 0},
      {{scroll(ScrollCode::kThumbTrack, 80, 200)}, 40},  // 80 of 200 pixels
      {{scroll(ScrollCode::kRightEnd), scroll(ScrollCode::kLineRight)}, 51},  // the end keys move a page
  };
  std::vector<DialogStep> script;
  for (const auto& move : moves) {
    script.insert(script.end(), move.first.begin(), move.first.end());
    script.push_back(snapshot());
  }
  script.push_back(press(id::kCancel));
  const auto& run = program.run_dialog(cmd::kCmdEasySetup, "EASYSET", script);
  ASSERT_EQ(run.snapshots.size(), std::size(moves));
  for (std::size_t i = 0; i < std::size(moves); ++i) {
    EXPECT_EQ(run.snapshots[i].scroll_positions.at(id::kQualityBar), moves[i].second) << i;
    EXPECT_EQ(run.snapshots[i].texts.at(id::kQualityEdit), std::to_string(moves[i].second)) << i;
  }
  EXPECT_EQ(program.params().quality_factor, 51);  // Cancel keeps what the slider did

  const auto& ok = program.run_dialog(cmd::kCmdEasySetup, "EASYSET",
                                      {type(id::kQualityEdit, "120"), press(id::kEasyOk), snapshot(),
                                       type(id::kQualityEdit, "99"), DialogStep::select(id::kImageType, 2), press(id::kEasyOk)});
  EXPECT_TRUE(ok.finished);
  EXPECT_EQ(ok.snapshots.size(), 1u);  // still open after the refusal
  ASSERT_EQ(program.messages().size(), 1u);
  EXPECT_EQ(program.messages()[0].text, format::message(format::StatusCode::kQualityOutOfRange));
  EXPECT_EQ(program.messages()[0].owner, "EASYSET");
  EXPECT_EQ(program.params().quality_factor, 99);
  EXPECT_EQ(program.params().image_type, 2);
  EXPECT_EQ(program.params().threshold_vector[0], 0);  // derived: quality 99 keeps every coefficient
}

TEST_P(ScenarioTest, EasySetupTestCompressesAndStaysOpenResetShowsAndUsesFiftyAndOther) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  const auto& tested = program.run_dialog(cmd::kCmdEasySetup, "EASYSET",
                                          {scroll(ScrollCode::kThumbPosition, 10, 100), press(id::kEasyTest), snapshot(),
                                           press(id::kCancel)});
  EXPECT_EQ(tested.snapshots.size(), 1u);
  EXPECT_TRUE(program.state().compressed_ready);
  EXPECT_EQ(program.params().channels[1].dropped_levels, 4);  // quality 10 derived
  const auto low_quality = program.state().compressed_stream;
  const auto& reset = program.run_dialog(cmd::kCmdEasySetup, "EASYSET",
                                         {DialogStep::select(id::kImageType, 1), press(id::kEasyReset), snapshot(),
                                          press(id::kCancel)});
  ASSERT_EQ(reset.snapshots.size(), 1u);
  EXPECT_EQ(reset.snapshots[0].combo_selections.at(id::kImageType), 0);  // shows what it compressed with
  EXPECT_EQ(reset.snapshots[0].scroll_positions.at(id::kQualityBar), 50);
  EXPECT_EQ(reset.snapshots[0].texts.at(id::kQualityEdit), "50");
  EXPECT_EQ(program.params().image_type, 0);
  EXPECT_EQ(program.params().threshold_vector[0], 33);
  EXPECT_GT(program.state().compressed_stream.size(), low_quality.size());
}

TEST_P(ScenarioTest, MasterSetupShowsTheSettingsAndStoresAValidSetOfAnyLevelCount) {
  Program program(GetParam());
  // Quality 50's settings at start-up: 5 levels, row 4 of the table for Y.
  std::string levels_shown = "5", vector_shown = "6 6 0 12 12 6 24 24 24 30 30 30 40 40 40 50 ",
              thresholds_shown = "33 23 10 10 5 5 ";
  for (const int levels : {3, 6}) {
    SCOPED_TRACE(levels);
    const int n = 3 * levels + 1;
    const auto& run = program.run_dialog(
        cmd::kCmdMasterSetup, "IMAGESETUP",
        {snapshot(), type(id::kSetupTotalLevels, std::to_string(levels)), type(id::kSetupALevels, "0"),
         type(id::kSetupBLevels, std::to_string(levels - 1)), type(id::kSetupCLevels, "1"),
         type(id::kSetupVectorA, repeat("7", n)), type(id::kSetupVectorB, repeat("125", n)),
         type(id::kSetupVectorC, "0\n0\t" + repeat("9", n - 2)),  // any blank separates
         type(id::kSetupThresholds, repeat("4", levels + 1)), press(id::kOk)});
    ASSERT_TRUE(run.finished && program.messages().empty());
    const auto& shown = run.snapshots.at(0).texts;
    EXPECT_EQ(shown.at(id::kSetupTotalLevels), levels_shown);
    EXPECT_EQ(shown.at(id::kSetupVectorA), vector_shown);
    EXPECT_EQ(shown.at(id::kSetupThresholds), thresholds_shown);
    EXPECT_EQ(shown.at(id::kSetupImageWidth), "32");
    const format::CodecParams& p = program.params();
    const auto last = static_cast<std::size_t>(n - 1);
    EXPECT_EQ(p.total_levels, levels);
    EXPECT_EQ(p.channels[1].dropped_levels, levels - 1);
    EXPECT_EQ(p.channels[2].dropped_levels, 1);
    EXPECT_EQ(p.channels[0].quant_vector[last], 7);
    EXPECT_EQ(p.channels[1].quant_vector[0], 125);
    EXPECT_EQ(p.channels[2].quant_vector[1], 0);
    EXPECT_EQ(p.channels[2].quant_vector[last], 9);
    EXPECT_EQ(p.threshold_vector[static_cast<std::size_t>(levels)], 4);
    EXPECT_EQ(p.padded_width, levels == 6 ? 64u : 32u);  // 32 rounded up to a multiple of 2^levels
    levels_shown = std::to_string(levels);
    vector_shown = repeat("7", n);
    thresholds_shown = repeat("4", levels + 1);
  }
}

TEST_P(ScenarioTest, MasterSetupRefusesBadInputAndStoresNothing) {
  using SC = format::StatusCode;
  const std::tuple<int, std::string, SC> cases[] = {
      {id::kSetupTotalLevels, "7", SC::kTotalLevelsOutOfRange},
      {id::kSetupTotalLevels, "0", SC::kTotalLevelsOutOfRange},
      {id::kSetupALevels, "5", SC::kALevelsInvalid},  // equal to the levels
      {id::kSetupBLevels, "9", SC::kBLevelsInvalid},
      {id::kSetupCLevels, "-1", SC::kCLevelsInvalid},
      {id::kSetupVectorA, repeat("10", 15), SC::kQuantVectorACount},
      {id::kSetupVectorB, repeat("10", 17), SC::kQuantVectorBCount},
      {id::kSetupVectorC, repeat("10", 15) + "126", SC::kQuantVectorCTooLarge},
      {id::kSetupVectorA, "20 10 x" + repeat(" 1", 13), SC::kQuantVectorANotNumbers},
      {id::kSetupThresholds, "1 2 3", SC::kThresholdVectorCount},
  };
  Program program(GetParam());
  const format::CodecParams before = program.params();
  for (const auto& [control, text, expected] : cases) {
    SCOPED_TRACE(text);
    program.automation().clear_records();
    const auto& run = program.run_dialog(cmd::kCmdMasterSetup, "IMAGESETUP",
                                         {type(id::kSetupStretchWidth, "777"), type(control, text), press(id::kOk),
                                          snapshot(), press(id::kCancel)});
    ASSERT_EQ(program.messages().size(), 1u);
    EXPECT_EQ(program.messages()[0].text, format::message(expected));
    EXPECT_EQ(run.snapshots.size(), 1u);  // stayed open
    EXPECT_EQ(program.params().total_levels, before.total_levels);
    EXPECT_EQ(program.params().channels[0].quant_vector, before.channels[0].quant_vector);
    EXPECT_EQ(program.params().channels[0].dropped_levels, before.channels[0].dropped_levels);
    EXPECT_EQ(program.params().threshold_vector, before.threshold_vector);
    EXPECT_NE(program.state().display_width, 777);
  }
}

TEST_P(ScenarioTest, EscapeClosesEveryDialogButAboutAndChangesNoSetting) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  program.params().quality_factor = 30;
  program.params().image_type = 1;
  const format::CodecParams before = program.params();
  const std::pair<int, const char*> dialogs[] = {{cmd::kCmdResize, "RESIZE"},     {cmd::kCmdComments, "COMMENTS"},
                                                 {cmd::kCmdEasySetup, "EASYSET"}, {cmd::kCmdMasterSetup, "IMAGESETUP"},
                                                 {cmd::kCmdProperties, "INFOR"},  {cmd::kCmdAbout, "DIALABOUT"}};
  for (const auto& [command, name] : dialogs) {
    const auto& run = program.run_dialog(command, name, {press(id::kCancel), snapshot(), press(id::kOk)});
    EXPECT_TRUE(run.finished) << name;
    EXPECT_EQ(run.snapshots.size(), command == cmd::kCmdAbout ? 1u : 0u) << name;  // About waits for its OK
  }
  EXPECT_EQ(program.params().quality_factor, before.quality_factor);
  EXPECT_EQ(program.params().image_type, before.image_type);
  EXPECT_EQ(program.params().channels[1].quant_vector, before.channels[1].quant_vector);
  EXPECT_EQ(program.params().threshold_vector, before.threshold_vector);
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
                {id::kInfoWaveletTime, "1.25(second)"}, {id::kInfoEntropyTime, "0.00(second)"},
                {id::kInfoTotalTime, "1.25(second)"}});
  program.save(cmd::kCmdSave, files.path("grey.cod"));
  program.automation().set_clock_auto_step(500);
  program.open(cmd::kCmdOpenCoded, files.path("grey.cod"));
  program.automation().set_clock_auto_step(0);
  expect_texts({{id::kInfoFileName, "grey.cod"}, {id::kInfoWaveletTime, "0.50(second)"},
                {id::kInfoEntropyTime, "0.50(second)"}, {id::kInfoTotalTime, "1.00(second)"},
                {id::kInfoColourTime, "0.00(second)"}, {id::kInfoDecompressed, "2048(Bytes)"}});
}

}  // namespace
}  // namespace varnic::testing
