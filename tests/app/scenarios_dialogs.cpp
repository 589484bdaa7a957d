// Stories about the display commands, the toggles, the setup dialogs and the small dialogs.
#include <algorithm>

#include "harness.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
namespace id = resources::control;
using platform::DialogStep;
using platform::ScrollCode;

platform::Size client(Program& p) { return p.app().main_window().client_size(); }

void resize_to(Program& program, int width, int height) {
  program.dialog("RESIZE", {DialogStep::set_text(id::kResizeWidth, std::to_string(width)),
                            DialogStep::set_text(id::kResizeHeight, std::to_string(height)),
                            DialogStep::press(id::kOk)});
  program.command(cmd::kCmdResize);
}

TEST_P(ScenarioTest, DisplayCommandsScaleWithTheirExactFactorsAndTruncations) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(300, 200)));

  resize_to(program, 400, 300);
  EXPECT_EQ(client(program), (platform::Size{400, 300}));
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);

  // 400 * 11/9 = 488.9 -> 488, * 0.9 = 439.2 -> 439; 300 -> 366 -> 329.
  program.command(cmd::kCmdStretchUp);
  EXPECT_EQ(program.state().display_width, 439);
  EXPECT_EQ(program.state().display_height, 329);
  EXPECT_EQ(client(program), (platform::Size{439, 329}));
  // 439 -> 536 -> 482; 329 -> 402 -> 361.
  program.command(cmd::kCmdStretchUp);
  EXPECT_EQ(client(program), (platform::Size{482, 361}));
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(client(program), (platform::Size{300, 200}));
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kColour);

  // Half of 300 x 200: 166 -> 149 and 111 -> 99; doubled: 298 x 198.
  program.command(cmd::kCmdHalfSize);
  EXPECT_EQ(client(program), (platform::Size{149, 99}));
  program.command(cmd::kCmdDoubleSize);
  EXPECT_EQ(client(program), (platform::Size{298, 198}));
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);

  resize_to(program, 400, 100);
  program.command(cmd::kCmdHalfSize);  // 400 -> 222 -> 199; 100 -> 55 -> 49
  EXPECT_EQ(client(program), (platform::Size{199, 49}));

  resize_to(program, 10, 1);
  program.command(cmd::kCmdStretchDown);
  EXPECT_EQ(program.state().display_width, 9);
  EXPECT_EQ(program.state().display_height, 0);

  // Sizes are 16-bit: doubling past 65535 stops there instead of wrapping to a tiny window (or
  // sooner, where the window system stops).
  resize_to(program, 40000, 30);
  program.command(cmd::kCmdDoubleSize);
  const int frame = program.app().main_window().outer_rect().width - client(program).width;
  EXPECT_EQ(program.state().display_width, std::min(65535, GetParam().max_window_side - frame));
  EXPECT_EQ(program.state().display_height, 60);
}

TEST_P(ScenarioTest, StretchedDrawingDeletesAndRepeatsPixels) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(20, 10);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.command(cmd::kCmdDoubleSize);
  ASSERT_EQ(client(program), (platform::Size{40, 20}));
  const platform::Image shown = program.main_image();
  const platform::Image source = expected_image(picture);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 40; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(shown.at(x, y, c), source.at(x / 2, y / 2, c));
    }
  }
  program.command(cmd::kCmdHalfSize);  // 40 -> 22 -> 19; 20 -> 11 -> 9
  ASSERT_EQ(client(program), (platform::Size{19, 9}));
  // Shrinking deletes rows and columns; which of two neighbours goes is the window system's
  // choice (GDI's differs from x * 20 / 19), but every pixel is a source pixel from beside its
  // place, never a blend.
  const platform::Image small = program.main_image();
  const auto is_source_pixel_near = [&](int x, int y) {
    for (int sy = std::max(y * 10 / 9 - 1, 0); sy <= std::min(y * 10 / 9 + 1, 9); ++sy) {
      for (int sx = std::max(x * 20 / 19 - 1, 0); sx <= std::min(x * 20 / 19 + 1, 19); ++sx) {
        if (small.at(x, y, 0) == source.at(sx, sy, 0) && small.at(x, y, 1) == source.at(sx, sy, 1) &&
            small.at(x, y, 2) == source.at(sx, sy, 2)) {
          return true;
        }
      }
    }
    return false;
  };
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 19; ++x) ASSERT_TRUE(is_source_pixel_near(x, y)) << x << ", " << y;
  }
}

TEST_P(ScenarioTest, ResizeCancelledStillSwitchesToTheStretchedModeAtTheSameSize) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(50, 40)));
  program.command(cmd::kCmdNormal);
  ASSERT_EQ(program.state().display_mode, app::DisplayMode::kColour);
  program.dialog("RESIZE", {DialogStep::snapshot(), DialogStep::set_text(id::kResizeWidth, "640"), DialogStep::press(id::kCancel)});
  program.command(cmd::kCmdResize);
  const auto& run = program.automation().dialog_runs().back();
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.snapshots.at(0).texts.at(id::kResizeWidth), "50");
  EXPECT_EQ(run.snapshots.at(0).texts.at(id::kResizeHeight), "40");
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ(client(program), (platform::Size{50, 40}));
}

TEST_P(ScenarioTest, ResizeReadsNumbersAsTheFieldConversionDoes) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(50, 40)));
  struct Case {
    const char* typed;
    std::uint16_t stored;
  };
  const Case cases[] = {{"12abc", 12}, {"  77", 77}, {"", 0}, {"x9", 0}, {"70000", 4464}, {"-5", 0}, {"+8", 8}};
  for (const Case& c : cases) {
    program.dialog("RESIZE", {DialogStep::set_text(id::kResizeWidth, c.typed), DialogStep::set_text(id::kResizeHeight, "33"),
                              DialogStep::press(id::kOk)});
    program.command(cmd::kCmdResize);
    EXPECT_EQ(program.state().display_width, c.stored) << c.typed;
    EXPECT_EQ(program.state().display_height, 33) << c.typed;
  }
}

TEST_P(ScenarioTest, NormalBeforeAnyPictureAsksForThirtyTwoSquareAndDrawsNothing) {
  Program program(GetParam());
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(client(program), (platform::Size{32, 32}));
  for (std::uint8_t byte : program.main_image().rgb) ASSERT_EQ(byte, 255);
}

TEST_P(ScenarioTest, UserResizeStretchesAndAClickSizesTheSourceWindowLikeTheMainWindow) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  program.command(cmd::kCmdCompress);
  program.automation().user_resize_client(program.app().main_window(), 90, 60);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  EXPECT_EQ(program.state().display_width, 90);
  EXPECT_EQ(program.state().display_height, 60);
  program.automation().user_click(program.app().source_window());
  EXPECT_EQ(program.app().source_window().client_size(), (platform::Size{90, 60}));
  // The source window draws at the main window's scale: three times the picture.
  const platform::Image source = program.source_image();
  const platform::Image main = program.main_image();
  EXPECT_EQ(source.width, 90);
  EXPECT_GT(differing_pixels(source, main), 0);  // reconstruction versus original

  // Closed by the user, it comes back with the next Compress where it was.
  const platform::Rect place = program.app().source_window().outer_rect();
  program.automation().user_close(program.app().source_window());
  EXPECT_FALSE(program.app().source_window().is_visible());
  program.command(cmd::kCmdCompress);
  EXPECT_TRUE(program.app().source_window().is_visible());
  EXPECT_EQ(program.app().source_window().outer_rect().x, place.x);
  EXPECT_EQ(program.app().source_window().outer_rect().y, place.y);
  EXPECT_EQ(program.app().source_window().client_size(), (platform::Size{30, 20}));
}

TEST_P(ScenarioTest, TogglesFlipTheirCheckMarks) {
  Program program(GetParam());
  program.command(cmd::kCmdDithering);
  EXPECT_FALSE(program.state().fs_dithering);
  EXPECT_FALSE(program.menu().is_checked(cmd::kCmdDithering));
  program.command(cmd::kCmdDithering);
  EXPECT_TRUE(program.state().fs_dithering);
  EXPECT_TRUE(program.menu().is_checked(cmd::kCmdDithering));
  program.command(cmd::kCmdIncremental);
  EXPECT_FALSE(program.state().incremental_display);
  EXPECT_FALSE(program.menu().is_checked(cmd::kCmdIncremental));
}

// ---------------------------------------------------------------------------------------------
// Easy Setup.

TEST_P(ScenarioTest, EasySetupSliderStaysWithinItsRangeAndFollowsTheThumb) {
  Program program(GetParam());
  program.dialog("EASYSET", {
                                DialogStep::snapshot(),
                                DialogStep::set_text(id::kQualityEdit, "99"),
                                DialogStep::scroll_bar(id::kQualityBar, ScrollCode::kLineRight),
                                DialogStep::snapshot(),
                                DialogStep::set_text(id::kQualityEdit, "5"),
                                DialogStep::scroll_bar(id::kQualityBar, ScrollCode::kPageLeft),
                                DialogStep::snapshot(),
                                DialogStep::scroll_bar(id::kQualityBar, ScrollCode::kThumbTrack, 80, 200),
                                DialogStep::snapshot(),
                                DialogStep::scroll_bar(id::kQualityBar, ScrollCode::kRightEnd),
                                DialogStep::scroll_bar(id::kQualityBar, ScrollCode::kLineRight),
                                DialogStep::press(id::kCancel),
                            });
  program.command(cmd::kCmdEasySetup);
  const auto& run = program.automation().dialog_runs().back();
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(run.snapshots.size(), 4u);
  EXPECT_EQ(run.snapshots[0].scroll_positions.at(id::kQualityBar), 50);
  EXPECT_EQ(run.snapshots[0].texts.at(id::kQualityEdit), "50");
  EXPECT_EQ(run.snapshots[0].combo_entries.at(id::kImageType), (std::vector<std::string>{"Other", "Landscape", "Faces"}));
  EXPECT_EQ(run.snapshots[0].combo_selections.at(id::kImageType), 0);
  EXPECT_EQ(run.snapshots[1].scroll_positions.at(id::kQualityBar), 99);
  EXPECT_EQ(run.snapshots[1].texts.at(id::kQualityEdit), "99");
  EXPECT_EQ(run.snapshots[2].scroll_positions.at(id::kQualityBar), 0);
  EXPECT_EQ(run.snapshots[2].texts.at(id::kQualityEdit), "0");
  EXPECT_EQ(run.snapshots[3].scroll_positions.at(id::kQualityBar), 40);  // 80 of 200 pixels
  // Cancel keeps what the slider did: 40 + 10 + 1.
  EXPECT_EQ(program.params().quality_factor, 51);
  EXPECT_EQ(run.final_state.texts.at(id::kQualityEdit), "51");
}

TEST_P(ScenarioTest, EasySetupOkDerivesFromTheTypedQualityAndRefusesOutOfRange) {
  Program program(GetParam());
  program.dialog("EASYSET", {DialogStep::set_text(id::kQualityEdit, "120"), DialogStep::press(id::kEasyOk),
                             DialogStep::snapshot(), DialogStep::set_text(id::kQualityEdit, "99"),
                             DialogStep::select(id::kImageType, 2), DialogStep::press(id::kEasyOk)});
  program.command(cmd::kCmdEasySetup);
  const auto& run = program.automation().dialog_runs().back();
  EXPECT_TRUE(run.finished);
  ASSERT_EQ(run.snapshots.size(), 1u);  // still open after the refusal
  ASSERT_EQ(program.automation().messages().size(), 1u);
  EXPECT_EQ(program.automation().messages()[0].text, "Quality factor is out of range!");
  EXPECT_EQ(program.automation().messages()[0].caption, "ERROR");
  EXPECT_EQ(program.automation().messages()[0].owner, "EASYSET");
  // Quality 99: no dropped level, thresholds 0, every vector entry 100.
  EXPECT_EQ(program.params().quality_factor, 99);
  EXPECT_EQ(program.params().image_type, 2);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(program.params().channels[static_cast<std::size_t>(c)].dropped_levels, 0);
    EXPECT_EQ(program.params().channels[static_cast<std::size_t>(c)].quant_vector[7], 100);
  }
  EXPECT_EQ(program.params().threshold_vector[0], 0);
}

TEST_P(ScenarioTest, EasySetupTestCompressesAndStaysOpenResetShowsAndUsesFiftyAndOther) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  program.dialog("EASYSET", {DialogStep::scroll_bar(id::kQualityBar, ScrollCode::kThumbPosition, 10, 100),
                             DialogStep::press(id::kEasyTest), DialogStep::snapshot(), DialogStep::press(id::kCancel)});
  program.command(cmd::kCmdEasySetup);
  ASSERT_EQ(program.automation().dialog_runs().back().snapshots.size(), 1u);
  EXPECT_TRUE(program.state().compressed_ready);
  EXPECT_EQ(program.params().quality_factor, 10);
  EXPECT_EQ(program.params().channels[0].dropped_levels, 1);  // q = 10 drops one Y level
  EXPECT_EQ(program.params().channels[1].dropped_levels, 4);
  const auto low_quality = program.state().compressed_stream;

  program.dialog("EASYSET", {DialogStep::select(id::kImageType, 1), DialogStep::press(id::kEasyReset),
                             DialogStep::snapshot(), DialogStep::press(id::kCancel)});
  program.command(cmd::kCmdEasySetup);
  const auto& run = program.automation().dialog_runs().back();
  ASSERT_EQ(run.snapshots.size(), 1u);
  // The dialog shows what the compression used.
  EXPECT_EQ(run.snapshots[0].combo_selections.at(id::kImageType), 0);
  EXPECT_EQ(run.snapshots[0].scroll_positions.at(id::kQualityBar), 50);
  EXPECT_EQ(run.snapshots[0].texts.at(id::kQualityEdit), "50");
  EXPECT_EQ(program.params().quality_factor, 50);
  EXPECT_EQ(program.params().image_type, 0);
  EXPECT_EQ(program.params().threshold_vector[0], 33);
  EXPECT_NE(program.state().compressed_stream, low_quality);
  EXPECT_GT(program.state().compressed_stream.size(), low_quality.size());
}

TEST_P(ScenarioTest, EasySetupCancelWithoutTouchingAnythingChangesNothing) {
  Program program(GetParam());
  const format::CodecParams before = program.params();
  program.dialog("EASYSET", {DialogStep::press(id::kCancel)});
  program.command(cmd::kCmdEasySetup);
  EXPECT_EQ(program.params().quality_factor, before.quality_factor);
  EXPECT_EQ(program.params().channels[0].quant_vector, before.channels[0].quant_vector);
  EXPECT_EQ(program.params().threshold_vector, before.threshold_vector);
}

// ---------------------------------------------------------------------------------------------
// Master Setup.

std::string repeat(const std::string& number, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += number + " ";
  return s;
}

TEST_P(ScenarioTest, MasterSetupShowsTheSettingsAndStoresAValidSet) {
  Program program(GetParam());
  program.dialog("IMAGESETUP", {DialogStep::snapshot(), DialogStep::set_text(id::kSetupTotalLevels, "3"),
                                DialogStep::set_text(id::kSetupALevels, "0"), DialogStep::set_text(id::kSetupBLevels, "2"),
                                DialogStep::set_text(id::kSetupCLevels, "1"),
                                DialogStep::set_text(id::kSetupVectorA, "1 2 3 4 5 6 7 8 9 10"),
                                DialogStep::set_text(id::kSetupVectorB, repeat("125", 10)),
                                DialogStep::set_text(id::kSetupVectorC, "0\n0\t0 0 0 0 0 0 0 7"),
                                DialogStep::set_text(id::kSetupThresholds, "9 8 7 6"), DialogStep::press(id::kOk)});
  program.command(cmd::kCmdMasterSetup);
  const auto& run = program.automation().dialog_runs().back();
  ASSERT_TRUE(run.finished);
  ASSERT_TRUE(program.automation().messages().empty());
  const auto& shown = run.snapshots.at(0).texts;
  EXPECT_EQ(shown.at(id::kSetupTotalLevels), "5");
  EXPECT_EQ(shown.at(id::kSetupThresholds), "33 23 10 10 5 5 ");
  EXPECT_EQ(shown.at(id::kSetupBLevels), "2");
  // Quality 50 gives row 4 for Y: 16 numbers for 5 levels.
  EXPECT_EQ(shown.at(id::kSetupVectorA), "6 6 0 12 12 6 24 24 24 30 30 30 40 40 40 50 ");
  EXPECT_EQ(shown.at(id::kSetupImageWidth), "32");
  EXPECT_EQ(shown.at(id::kSetupUsingMask), "0");

  const format::CodecParams& p = program.params();
  EXPECT_EQ(p.total_levels, 3);
  EXPECT_EQ(p.channels[1].dropped_levels, 2);
  EXPECT_EQ(p.channels[2].dropped_levels, 1);
  EXPECT_EQ(p.channels[0].quant_vector[9], 10);
  EXPECT_EQ(p.channels[1].quant_vector[0], 125);
  EXPECT_EQ(p.channels[2].quant_vector[9], 7);
  EXPECT_EQ(p.threshold_vector[3], 6);
  EXPECT_EQ(p.padded_width, 32u);  // 32 is a multiple of 8
}

struct BadSetup {
  const char* name;
  int control;
  std::string text;
  format::StatusCode expected;
};

TEST_P(ScenarioTest, MasterSetupRefusesBadInputAndStoresNothing) {
  const std::string a16 = repeat("10", 16);
  const std::vector<BadSetup> cases = {
      {"levels 7", id::kSetupTotalLevels, "7", format::StatusCode::kTotalLevelsOutOfRange},
      {"levels 0", id::kSetupTotalLevels, "0", format::StatusCode::kTotalLevelsOutOfRange},
      {"A equal to levels", id::kSetupALevels, "5", format::StatusCode::kALevelsInvalid},
      {"B above levels", id::kSetupBLevels, "9", format::StatusCode::kBLevelsInvalid},
      {"C negative", id::kSetupCLevels, "-1", format::StatusCode::kCLevelsInvalid},
      {"too few", id::kSetupVectorA, repeat("10", 15), format::StatusCode::kQuantVectorACount},
      {"too many", id::kSetupVectorB, repeat("10", 17), format::StatusCode::kQuantVectorBCount},
      {"above 125", id::kSetupVectorC, repeat("10", 15) + "126", format::StatusCode::kQuantVectorCTooLarge},
      {"a letter", id::kSetupVectorA, "20 10 x" + repeat(" 1", 13), format::StatusCode::kQuantVectorANotNumbers},
      {"short thresholds", id::kSetupThresholds, "1 2 3", format::StatusCode::kThresholdVectorCount},
  };
  Program program(GetParam());
  const format::CodecParams before = program.params();
  for (const BadSetup& c : cases) {
    SCOPED_TRACE(c.name);
    program.automation().clear_records();
    program.dialog("IMAGESETUP", {DialogStep::set_text(id::kSetupStretchWidth, "777"),
                                  DialogStep::set_text(c.control, c.text), DialogStep::press(id::kOk),
                                  DialogStep::snapshot(), DialogStep::press(id::kCancel)});
    program.command(cmd::kCmdMasterSetup);
    ASSERT_EQ(program.automation().messages().size(), 1u);
    EXPECT_EQ(program.automation().messages()[0].text, format::message(c.expected));
    EXPECT_EQ(program.automation().messages()[0].caption, "ERROR");
    EXPECT_EQ(program.automation().dialog_runs().back().snapshots.size(), 1u);  // stayed open
    EXPECT_EQ(program.params().total_levels, before.total_levels);
    EXPECT_EQ(program.params().channels[0].quant_vector, before.channels[0].quant_vector);
    EXPECT_EQ(program.params().channels[0].dropped_levels, before.channels[0].dropped_levels);
    EXPECT_EQ(program.params().threshold_vector, before.threshold_vector);
    EXPECT_NE(program.state().display_width, 777);
  }
  EXPECT_EQ(std::string(format::message(format::StatusCode::kALevelsInvalid)), "A_levels must be  zero and less than Total Levels!!!");
}

TEST_P(ScenarioTest, MasterSetupAcceptsSixLevelsWithTheirListLengths) {
  Program program(GetParam());
  program.dialog("IMAGESETUP", {DialogStep::set_text(id::kSetupTotalLevels, "6"),
                                DialogStep::set_text(id::kSetupVectorA, repeat("9", 19)),
                                DialogStep::set_text(id::kSetupVectorB, repeat("9", 19)),
                                DialogStep::set_text(id::kSetupVectorC, repeat("9", 19)),
                                DialogStep::set_text(id::kSetupThresholds, repeat("4", 7)), DialogStep::press(id::kOk)});
  program.command(cmd::kCmdMasterSetup);
  EXPECT_TRUE(program.automation().messages().empty());
  EXPECT_EQ(program.params().total_levels, 6);
  EXPECT_EQ(program.params().padded_width, 64u);  // 32 rounded up to a multiple of 64
  EXPECT_EQ(program.params().channels[2].quant_vector[18], 9);
}

// ---------------------------------------------------------------------------------------------
// Comments, About, information, help.

TEST_P(ScenarioTest, CommentSurvivesCompressSaveAndReopen) {
  Pictures files;
  const std::string comment = "Gr\xC3\xBC\xC3\x9F" "e aus dem Test \xE2\x9C\x93\nzweite Zeile";
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(33, 17)));
  program.dialog("COMMENTS", {DialogStep::set_text(id::kCommentText, comment), DialogStep::press(id::kOk)});
  program.command(cmd::kCmdComments);
  EXPECT_EQ(program.state().comment, comment);
  program.save(cmd::kCmdSave, files.path("c.cod"));
  program.open(cmd::kCmdOpenBitmap, files.path("ramp.bmp"));
  EXPECT_TRUE(program.state().comment.empty());
  program.open(cmd::kCmdOpenCoded, files.path("c.cod"));
  EXPECT_EQ(program.state().comment, comment);

  // Cancel after editing keeps the text; the dialog showed it.
  program.dialog("COMMENTS", {DialogStep::snapshot(), DialogStep::set_text(id::kCommentText, "other"), DialogStep::press(id::kCancel)});
  program.command(cmd::kCmdComments);
  EXPECT_EQ(program.automation().dialog_runs().back().snapshots.at(0).texts.at(id::kCommentText), comment);
  EXPECT_EQ(program.state().comment, comment);
}

TEST_P(ScenarioTest, LongCommentsAreCutAtACharacterBoundaryWithin2047Bytes) {
  Program program(GetParam());
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "\xE2\x82\xAC";  // 3000 bytes of euro signs
  program.dialog("COMMENTS", {DialogStep::set_text(id::kCommentText, text), DialogStep::press(id::kOk)});
  program.command(cmd::kCmdComments);
  EXPECT_EQ(program.state().comment.size(), 2046u);  // 682 whole characters
  EXPECT_EQ(program.state().comment, text.substr(0, 2046));
  program.dialog("COMMENTS", {DialogStep::set_text(id::kCommentText, ""), DialogStep::press(id::kOk)});
  program.command(cmd::kCmdComments);
  EXPECT_TRUE(program.state().comment.empty());
}

TEST_P(ScenarioTest, AboutClosesOnlyThroughOk) {
  Program program(GetParam());
  program.dialog("DIALABOUT", {DialogStep::press(id::kCancel), DialogStep::snapshot(), DialogStep::press(id::kOk)});
  program.command(cmd::kCmdAbout);
  const auto& run = program.automation().dialog_runs().back();
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.snapshots.size(), 1u);  // Escape left it open
  program.command(cmd::kCmdAbout);       // unanswered: only a forced close ends it
  EXPECT_FALSE(program.automation().dialog_runs().back().finished);
}

TEST_P(ScenarioTest, InformationDialogShowsTheLastRunsNumbers) {
  Pictures files;
  Program program(GetParam());
  program.command(cmd::kCmdProperties);
  // Nothing opened yet: no ratio rather than a division by zero.
  EXPECT_EQ(program.automation().dialog_runs().back().final_state.texts.at(id::kInfoRatio), "--- (:1)");

  const std::string bmp = files.write_bitmap("ramp.bmp", Pictures::colour(64, 32));
  program.open(cmd::kCmdOpenBitmap, bmp);
  program.command(cmd::kCmdProperties);
  {
    const auto& t = program.automation().dialog_runs().back().final_state.texts;
    EXPECT_EQ(t.at(id::kInfoFileName), "ramp.bmp");
    EXPECT_EQ(t.at(id::kInfoOriginal), "64 X 32");
    EXPECT_EQ(t.at(id::kInfoDisplay), "64 X 32");
    EXPECT_EQ(t.at(id::kInfoCompressed), "6198(Bytes)");  // 54 + 64 * 3 * 32
    EXPECT_EQ(t.at(id::kInfoDecompressed), "6144(Bytes)");
    EXPECT_EQ(t.at(id::kInfoRatio), "1.0 (:1)");
    EXPECT_EQ(t.at(id::kInfoTotalTime), "0.00(second)");
    EXPECT_EQ(t.at(id::kInfoColourTime), "0.00(second)");
  }

  program.automation().set_clock_auto_step(1250);
  program.command(cmd::kCmdCompress);
  program.automation().set_clock_auto_step(0);
  program.command(cmd::kCmdProperties);
  {
    const auto& t = program.automation().dialog_runs().back().final_state.texts;
    const std::size_t size = program.state().compressed_stream.size();
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%2.1f (:1)", 6198.0 / static_cast<double>(size));
    EXPECT_EQ(t.at(id::kInfoCompressed), std::to_string(size) + "(Bytes)");
    EXPECT_EQ(t.at(id::kInfoRatio), ratio);
    EXPECT_EQ(t.at(id::kInfoWaveletTime), "1.25(second)");
    EXPECT_EQ(t.at(id::kInfoEntropyTime), "0.00(second)");
    EXPECT_EQ(t.at(id::kInfoTotalTime), "1.25(second)");
  }

  program.save(cmd::kCmdSave, files.path("ramp.cod"));
  program.automation().set_clock_auto_step(500);
  program.open(cmd::kCmdOpenCoded, files.path("ramp.cod"));
  program.automation().set_clock_auto_step(0);
  program.command(cmd::kCmdProperties);
  {
    const auto& t = program.automation().dialog_runs().back().final_state.texts;
    EXPECT_EQ(t.at(id::kInfoFileName), "ramp.cod");
    EXPECT_EQ(t.at(id::kInfoEntropyTime), "0.50(second)");
    EXPECT_EQ(t.at(id::kInfoWaveletTime), "0.50(second)");
    EXPECT_EQ(t.at(id::kInfoTotalTime), "1.00(second)");
    EXPECT_EQ(t.at(id::kInfoDecompressed), "6144(Bytes)");
  }
}

TEST_P(ScenarioTest, HelpOpensTheProgramsOwnText) {
  Program program(GetParam());
  program.command(cmd::kCmdHelpContents);
  ASSERT_EQ(program.automation().help_requests().size(), 1u);
  EXPECT_NE(program.automation().help_requests()[0].text.find("Master Setup"), std::string::npos);
}

}  // namespace
}  // namespace varnic::testing
