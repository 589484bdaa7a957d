// Stories about what reaches the screen: windows that never vanish, previews that are seen,
// windows repainted before long work, and the dialogs' keys that every backend delivers.
#include "app/pipeline.h"
#include "display/display.h"
#include "harness.h"
#include "platform/raster.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
namespace id = resources::control;
using platform::DialogStep;
using platform::Frame;

std::vector<Frame> immediate_frames(const platform::Automation& automation, const std::string& window) {
  std::vector<Frame> out;
  for (const Frame& f : automation.frames()) {
    if (f.immediate && f.window == window) out.push_back(f);
  }
  return out;
}

// Each preview of a reconstruction as the main window must show it: stretched over the picture.
std::vector<platform::Image> expected_previews(decoder::PlaneSet planes, const format::CodecParams& params,
                                               const format::Magic& magic, bool dequantize) {
  const int w = static_cast<int>(params.image_width);
  const int h = static_cast<int>(params.image_height);
  std::vector<platform::Image> out;
  app::pipeline::PreviewSink sink = [&](std::span<const std::uint8_t> pixels, int pw, int ph, int bpp) {
    platform::BitmapView view{pixels, pw, ph, bpp, {}};
    platform::Framebuffer fb;
    fb.resize(w, h);
    platform::stretch_bitmap(fb, view, w, h);
    out.push_back(platform::Image{fb.width, fb.height, fb.rgb});
  };
  std::vector<std::uint8_t> picture;
  EXPECT_EQ(app::pipeline::reconstruct(planes, params, magic, dequantize, &sink, picture), format::StatusCode::kOk);
  return out;
}

void expect_previews_shown(const std::vector<Frame>& frames, const std::vector<platform::Image>& previews) {
  ASSERT_GE(frames.size(), previews.size());
  const std::size_t first = frames.size() - previews.size();
  for (std::size_t i = 0; i < previews.size(); ++i) {
    const platform::Image shown = crop(frames[first + i].image, previews[i].width, previews[i].height);
    EXPECT_EQ(differing_pixels(shown, previews[i]), 0) << "level " << i;
  }
}

TEST_P(ScenarioTest, ResizeToNothingStoresZeroAndKeepsTheWindowOnScreen) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(50, 40);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  for (const char* typed : {"0", "abc"}) {
    SCOPED_TRACE(typed);
    program.dialog("RESIZE", {DialogStep::set_text(id::kResizeWidth, typed), DialogStep::set_text(id::kResizeHeight, "0"),
                              DialogStep::press(id::kOk)});
    program.command(cmd::kCmdResize);
    EXPECT_EQ(program.state().display_width, 0);
    EXPECT_EQ(program.state().display_height, 0);
    EXPECT_TRUE(program.app().main_window().is_visible());
    const platform::Image shown = program.main_image();
    EXPECT_GE(shown.width, 1);
    EXPECT_GE(shown.height, 1);
  }
  // Back from nothing: the window takes the picture's size again.
  program.command(cmd::kCmdNormal);
  EXPECT_EQ(differing_pixels(crop(program.main_image(), 50, 40), expected_image(picture)), 0);
}

TEST_P(ScenarioTest, EveryPreviewOfDecodeAndCompressReachesTheScreen) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(64, 48);  // 5 levels: both sides exceed 32
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.automation().record_frames(true);
  program.command(cmd::kCmdCompress);
  app::pipeline::EncodeOutput encoded;
  ASSERT_EQ(app::pipeline::encode(picture.pixels, program.params(), "", encoded), format::StatusCode::kOk);
  const auto compress_previews = expected_previews(encoded.planes, encoded.working, format::kCurrentMagic, true);
  ASSERT_EQ(compress_previews.size(), 5u);
  const std::string title = program.app().main_window().title();
  expect_previews_shown(immediate_frames(program.automation(), title), compress_previews);

  program.save(cmd::kCmdSave, files.path("ramp.cod"));
  program.automation().clear_records();
  program.open(cmd::kCmdOpenCoded, files.path("ramp.cod"));
  format::FileHeader header;
  decoder::PlaneSet planes;
  ASSERT_EQ(display::decode_coefficients(Pictures::read_bytes(files.path("ramp.cod")), format::kDefaultPixelLimit, 1,
                                         header, planes),
            format::StatusCode::kOk);
  format::CodecParams params = program.params();
  format::apply_file_settings(header, params);
  const auto decode_previews = expected_previews(planes, params, header.magic, false);
  const auto frames = immediate_frames(program.automation(), program.app().main_window().title());
  EXPECT_EQ(frames.size(), decode_previews.size());  // nothing else is drawn while decoding
  expect_previews_shown(frames, decode_previews);
}

TEST_P(ScenarioTest, CompressRepaintsWhatTheMenuCoveredBeforeItWorks) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(200, 160);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.automation().record_frames(true);
  program.automation().user_choose(program.app().main_window(), cmd::kCmdCompress);
  const auto frames = immediate_frames(program.automation(), program.app().main_window().title());
  ASSERT_FALSE(frames.empty());
  // "Compressing..." over the picture, which the popup's leftovers no longer hide.
  const platform::Image wanted = expected_image(picture);
  const platform::Image& first = frames.front().image;
  for (const auto& [x, y] : {std::pair{5, 5}, std::pair{100, 60}}) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(first.at(x, y, c), wanted.at(x, y, c)) << x << "," << y;
  }
  EXPECT_TRUE(program.state().compressed_ready);
}

TEST_P(ScenarioTest, EscapeClosesEveryDialogButAbout) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(40, 40)));
  for (const char* name : {"RESIZE", "COMMENTS", "EASYSET", "IMAGESETUP", "INFOR", "DIALABOUT"}) {
    program.dialog(name, {DialogStep::press(id::kCancel)});
  }
  for (int command : {cmd::kCmdResize, cmd::kCmdComments, cmd::kCmdEasySetup, cmd::kCmdMasterSetup,
                      cmd::kCmdProperties, cmd::kCmdAbout}) {
    program.command(command);
    const auto& run = program.automation().dialog_runs().back();
    EXPECT_TRUE(run.mismatches.empty()) << run.dialog;
    EXPECT_EQ(run.finished, command != cmd::kCmdAbout) << run.dialog;
  }
}

}  // namespace
}  // namespace varnic::testing
