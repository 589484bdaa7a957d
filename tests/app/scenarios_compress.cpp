// Stories about Compress, Save, decoding an opened compressed file, comments, the previews and
// the 8-bit drawings.
#include <algorithm>

#include "app/pipeline.h"
#include "codec/encoder.h"
#include "colour/colour.h"
#include "display/display.h"
#include "harness.h"
#include "platform/raster.h"

namespace varnic::testing {
namespace {

using platform::DrawRecord;
constexpr format::StatusCode kOk = format::StatusCode::kOk;

// What the encoder library makes of a picture with the start-up settings.
std::vector<std::uint8_t> library_encode(const imagefile::PictureBuffer& picture, std::string_view comment = {}) {
  format::CodecParams params = codec::default_codec_params();
  params.image_width = static_cast<std::uint32_t>(picture.width);
  params.image_height = static_cast<std::uint32_t>(picture.height);
  params.image_mode = picture.image_mode;
  format::compute_padded_size(params);
  codec::PictureRows view{picture.pixels.data(), picture.pixels.size(), params.image_width, params.image_height,
                          static_cast<std::uint16_t>(picture.bits_per_pixel)};
  codec::EncodeRequest options;
  options.comment = comment;
  codec::EncodedPicture out;
  EXPECT_EQ(codec::encode_picture(view, params, options, out), kOk);
  return out.stream;
}

TEST_P(ScenarioTest, SaveCompressesShowsWhatTheFileDecodesToAndReopensAndExportsIt) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(37, 29);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp 1.bmp", picture));
  program.automation().clear_records();
  const std::string cod = files.path("ramp.cod");
  program.save(cmd::kCmdSave, cod);  // compresses first
  ASSERT_TRUE(program.messages().empty());
  EXPECT_EQ(program.automation().file_requests().size(), 1u);
  EXPECT_TRUE(program.automation().file_requests()[0].confirm_overwrite);
  const std::vector<std::uint8_t> stream = library_encode(picture);
  EXPECT_EQ(Pictures::read_bytes(cod), stream);
  EXPECT_EQ(program.state().compressed_size, stream.size());
  EXPECT_EQ(program.automation().cursor(), platform::Cursor::kArrow);
  EXPECT_FALSE(program.automation().capture_held());
  display::DecodedFile decoded;
  ASSERT_EQ(display::decode_file(stream, format::kDefaultPixelLimit, {}, decoded), kOk);
  const std::vector<std::uint8_t>& pixels = decoded.picture.pixels;
  const platform::Image shown = expected_image(as_picture(pixels, 37, 29, 24));
  EXPECT_EQ(program.state().picture_buffer, pixels);
  EXPECT_EQ(differing_pixels(program.main_image(), shown), 0);
  EXPECT_TRUE(program.app().source_window().is_visible());  // the picture as read beside it
  EXPECT_EQ(differing_pixels(program.source_image(), expected_image(picture)), 0);
  program.command(cmd::kCmdCompress);  // unchanged settings: the same file again
  EXPECT_EQ(program.state().compressed_stream, stream);

  program.open(cmd::kCmdOpenCoded, cod);
  ASSERT_TRUE(program.messages().empty());
  EXPECT_EQ(program.state().picture_buffer, pixels);
  EXPECT_EQ(program.client(), (platform::Size{37, 29}));
  EXPECT_EQ(differing_pixels(program.main_image(), shown), 0);
  EXPECT_FALSE(program.app().source_window().is_visible());
  for (const bool bitmap : {true, false}) {  // exported, the decoded picture reads back unchanged
    const std::string out = files.path(bitmap ? "out.bmp" : "out.tga");
    program.save(bitmap ? cmd::kCmdSaveBitmap : cmd::kCmdSaveTarga, out);
    imagefile::PictureBuffer reread;
    ASSERT_EQ(bitmap ? imagefile::read_bitmap_file(out, reread) : imagefile::read_targa_file(out, reread),
              imagefile::FileStatus::kOk);
    EXPECT_EQ(reread.pixels, pixels);
  }
}

TEST_P(ScenarioTest, SaveAfterAFailedCompressWritesNothingNotEvenTheEarlierStream) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("big.bmp", Pictures::colour(16, 16)));
  program.command(cmd::kCmdCompress);
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("tiny.bmp", Pictures::colour(2, 9)));
  program.automation().clear_records();
  program.save(cmd::kCmdSave, files.path("tiny.cod"));
  ASSERT_EQ(program.messages().size(), 1u);
  EXPECT_EQ(program.messages()[0].text, format::message(format::StatusCode::kPictureTooSmall));
  EXPECT_TRUE(program.automation().file_requests().empty());
  EXPECT_FALSE(std::filesystem::exists(files.path("tiny.cod")));
  EXPECT_EQ(program.automation().cursor(), platform::Cursor::kArrow);
  EXPECT_FALSE(program.automation().capture_held());
}

TEST_P(ScenarioTest, CommentsKeepTheirBytesAreCutAtACharacterAndShowLatin1AsSuch) {
  Pictures files;
  const std::string comment = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93\nzweite Zeile";
  const std::string bmp = files.write_bitmap("ramp.bmp", Pictures::colour(33, 17)), cod = files.path("c.cod");
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, bmp);
  program.run_dialog(cmd::kCmdComments, "COMMENTS", {type(id::kCommentText, comment), press(id::kOk)});
  program.save(cmd::kCmdSave, cod);
  program.open(cmd::kCmdOpenBitmap, bmp);
  EXPECT_TRUE(program.state().comment.empty());
  program.open(cmd::kCmdOpenCoded, cod);
  EXPECT_EQ(program.state().comment, comment);
  // Cancel after editing keeps the text; the dialog showed it.
  auto run = program.run_dialog(cmd::kCmdComments, "COMMENTS", {snapshot(), type(id::kCommentText, "x"), press(id::kCancel)});
  EXPECT_EQ(run.snapshots.at(0).texts.at(id::kCommentText), comment);
  EXPECT_EQ(program.state().comment, comment);
  std::string euros;
  for (int i = 0; i < 1000; ++i) euros += "\xE2\x82\xAC";
  program.run_dialog(cmd::kCmdComments, "COMMENTS", {type(id::kCommentText, euros), press(id::kOk)});
  EXPECT_EQ(program.state().comment, euros.substr(0, 2046));  // 682 whole characters within 2047 bytes
  // Bytes that are not UTF-8 (from another program) show as Latin-1 and stay as they are.
  program.open(cmd::kCmdOpenCoded, files.write_bytes("l.cod", library_encode(Pictures::grey(24, 24), "caf\xE9")));
  run = program.run_dialog(cmd::kCmdComments, "COMMENTS", {snapshot(), press(id::kCancel)});
  EXPECT_EQ(run.snapshots.at(0).texts.at(id::kCommentText), "caf\xC3\xA9");
  EXPECT_EQ(program.state().comment, "caf\xE9");
}

std::vector<DrawRecord> immediate(const platform::Automation& automation, DrawRecord::Kind kind) {
  std::vector<DrawRecord> out;
  for (const auto& d : automation.draws()) {
    if (d.kind == kind && d.immediate) out.push_back(d);
  }
  return out;
}

TEST_P(ScenarioTest, EveryPreviewLevelOfCompressAndDecodeReachesTheScreen) {
  struct Case {
    imagefile::PictureBuffer picture;
    bool decode;
    std::size_t levels;
    platform::Size first, last;  // source sizes of the coarsest and the finest preview
  };
  // 37 x 29 codes with 4 levels (29 does not exceed 32), planes padded to 48 x 32; 64 x 70 keeps 5.
  for (const Case& c : {Case{Pictures::colour(37, 29), false, 4, {3, 2}, {24, 16}},
                        Case{Pictures::grey(64, 70), true, 5, {2, 3}, {32, 48}}}) {
    Pictures files;
    Program program(GetParam());
    program.open(cmd::kCmdOpenBitmap, files.write_bitmap("p.bmp", c.picture));
    if (c.decode) program.save(cmd::kCmdSave, files.path("p.cod"));
    auto run = [&] {
      program.automation().clear_records();
      c.decode ? program.open(cmd::kCmdOpenCoded, files.path("p.cod")) : program.command(cmd::kCmdCompress);
      return immediate(program.automation(), DrawRecord::Kind::kStretch);
    };
    program.automation().record_frames(true);
    const auto draws = run();
    ASSERT_EQ(draws.size(), c.levels);
    EXPECT_EQ((platform::Size{draws.front().source_width, draws.front().source_height}), c.first);
    EXPECT_EQ((platform::Size{draws.back().source_width, draws.back().source_height}), c.last);
    // Each one as the library's decode of the file gives it, grey through the grey ramp.
    format::FileHeader header;
    decoder::PlaneSet planes;
    ASSERT_EQ(display::decode_coefficients(library_encode(c.picture), format::kDefaultPixelLimit, 1, header, planes), kOk);
    format::CodecParams params = codec::default_codec_params();
    format::apply_file_settings(header, params);
    imagefile::DisplayHeader grey;
    imagefile::set_grey_colour_table(grey);
    std::vector<platform::Image> previews;
    app::pipeline::PreviewSink sink = [&](std::span<const std::uint8_t> pixels, int width, int height, int bpp) {
      platform::Framebuffer fb;
      fb.resize(c.picture.width, c.picture.height);
      platform::stretch_bitmap(fb, {pixels, width, height, bpp, grey.colour_table}, fb.width, fb.height);
      previews.push_back(platform::Image{fb.width, fb.height, fb.rgb});
    };
    std::vector<std::uint8_t> picture;
    ASSERT_EQ(app::pipeline::reconstruct(planes, params, header.magic, false, &sink, picture), kOk);
    std::vector<platform::Image> frames;
    for (const platform::Frame& f : program.automation().frames()) {
      if (f.immediate && f.window == program.title()) frames.push_back(crop(f.image, c.picture.width, c.picture.height));
    }
    ASSERT_GE(frames.size(), previews.size());
    for (std::size_t i = 0; i < previews.size(); ++i) {
      EXPECT_EQ(differing_pixels(frames[frames.size() - previews.size() + i], previews[i]), 0) << "level " << i;
    }
    // Without the incremental display the same picture comes without previews.
    program.command(cmd::kCmdIncremental);
    EXPECT_TRUE(run().empty());
    EXPECT_EQ(program.state().picture_buffer, picture);
  }
}

TEST_P(ScenarioTest, CompressRepaintsWhatTheMenuCoveredBeforeItWorks) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(200, 160);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.automation().record_frames(true);
  program.automation().user_choose(program.app().main_window(), cmd::kCmdCompress);
  ASSERT_TRUE(program.state().compressed_ready);
  const auto& frames = program.automation().frames();
  const auto first = std::find_if(frames.begin(), frames.end(), [](const auto& f) { return f.immediate; });
  ASSERT_NE(first, frames.end());
  // The first drawing, "Compressing...", lies over the picture, not over the popup's leftovers.
  const platform::Image wanted = expected_image(picture);
  for (const auto& [x, y] : {std::pair{5, 5}, std::pair{100, 60}}) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(first->image.at(x, y, c), wanted.at(x, y, c)) << x << "," << y;
  }
}

// The index buffer is the library's conversion of the picture, and the window shows it.
void expect_eight_bit_drawing(Program& program, bool dither) {
  const int w = static_cast<int>(program.params().image_width), h = static_cast<int>(program.params().image_height);
  imagefile::PictureBuffer shown = as_picture({}, w, h, 8);
  ASSERT_EQ(colour::convert_to_8bit(62, w, h, program.state().picture_buffer, dither, shown.pixels,
                                    shown.header.colour_table), kOk);
  EXPECT_EQ(program.state().index_buffer, shown.pixels);
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(shown)), 0);
}

TEST_P(ScenarioTest, EightBitScreenShowsTheConvertedPictureAndPreviewsThroughTheirPalettes) {
  if (!GetParam().supports_eight_bit_screen) GTEST_SKIP() << "backend has no 8-bit screens";
  Pictures files;
  const std::string path = files.write_bitmap("ramp.bmp", Pictures::colour(41, 27));
  Program program(GetParam(), 8);
  program.open(cmd::kCmdOpenBitmap, path);
  expect_eight_bit_drawing(program, true);
  EXPECT_EQ(program.state().source_index_buffer, program.state().index_buffer);
  program.command(cmd::kCmdDithering);  // applies from the next conversion on
  program.open(cmd::kCmdOpenBitmap, path);
  expect_eight_bit_drawing(program, false);

  program.automation().clear_records();
  program.command(cmd::kCmdCompress);
  const auto palette = app::pipeline::preview_palette();
  const auto palettes = immediate(program.automation(), DrawRecord::Kind::kPalette);
  const auto previews = immediate(program.automation(), DrawRecord::Kind::kStretch);
  ASSERT_EQ(previews.size(), 4u);  // 27 rows code with 4 levels
  ASSERT_EQ(palettes.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(previews[i].bits_per_pixel, 8);
    EXPECT_TRUE(std::equal(palette.begin(), palette.end(), palettes[i].colour_table.begin(), palettes[i].colour_table.end()));
  }
  expect_eight_bit_drawing(program, false);

  // Decoding converts as well, and times the conversion.
  program.save(cmd::kCmdSave, files.path("c.cod"));
  program.automation().set_clock_auto_step(100);
  program.open(cmd::kCmdOpenCoded, files.path("c.cod"));
  program.automation().set_clock_auto_step(0);
  EXPECT_FLOAT_EQ(program.state().colour_quant_time, 0.1f);
  EXPECT_FLOAT_EQ(program.state().total_time, 0.3f);
  expect_eight_bit_drawing(program, false);
}

TEST_P(ScenarioTest, EightBitToggleDrawsTheIndexThroughItsTableAndTimesTheConversion) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(30, 20);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  for (const bool on : {true, false}) {
    program.automation().clear_records();
    program.automation().set_clock_auto_step(100);
    program.command(cmd::kCmdEightBit);
    program.automation().set_clock_auto_step(0);
    EXPECT_FLOAT_EQ(program.state().colour_quant_time, on ? 0.1f : 0.0f);
    int drawn = 0;
    for (const DrawRecord& d : program.automation().draws()) {
      if (d.kind != DrawRecord::Kind::kBitmap && d.kind != DrawRecord::Kind::kStretch) continue;
      EXPECT_EQ(d.bits_per_pixel, on ? 8 : 24);
      ++drawn;
    }
    EXPECT_GT(drawn, 0);
    if (on) expect_eight_bit_drawing(program, true);
    EXPECT_EQ(differing_pixels(program.main_image(), expected_image(picture)) == 0, !on);
  }
}

}  // namespace
}  // namespace varnic::testing
