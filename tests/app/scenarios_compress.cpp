// SPDX-License-Identifier: BSD-2-Clause
// Stories about Compress, Save, decoding an opened compressed file, comments, the previews and
// the 8-bit drawings.
#include <algorithm>
#include <filesystem>

#include "app/pipeline.h"
#include "codec/encoder.h"
#include "colour/colour.h"
#include "display/display.h"
#include "harness.h"

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
  codec::EncodeRequest options;
  options.comment = comment;
  codec::EncodedPicture out;
  EXPECT_EQ(codec::encode_picture({picture.pixels.data(), picture.pixels.size(), params.image_width, params.image_height,
                                   static_cast<std::uint16_t>(picture.bits_per_pixel)},
                                  params, options, out), kOk);
  return out.stream;
}

std::vector<DrawRecord> immediate(const platform::Automation& automation, DrawRecord::Operation operation) {
  std::vector<DrawRecord> out;
  std::copy_if(automation.draws().begin(), automation.draws().end(), std::back_inserter(out),
               [&](const DrawRecord& d) { return d.operation == operation && d.immediate; });
  return out;
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

TEST_P(ScenarioTest, SaveCompressesShowsWhatTheFileDecodesToReopensAndExportsIt) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(37, 29);
  const std::string cod = files.path("ramp.cod");
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp 1.bmp", picture));
  program.automation().clear_records();
  program.save(cmd::kCmdSave, cod);  // compresses first
  ASSERT_TRUE(program.messages().empty());
  ASSERT_EQ(program.automation().file_requests().size(), 1u);
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
  // Save writes the name as typed: no extension is added.
  program.automation().clear_records();
  program.save(cmd::kCmdSave, files.path("no extension"));
  EXPECT_EQ(Pictures::read_bytes(files.path("no extension")), stream);
  EXPECT_FALSE(std::filesystem::exists(files.path("no extension.cod")));
  EXPECT_EQ(program.automation().file_requests().at(0).default_extension, "");

  program.open(cmd::kCmdOpenCoded, cod);
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
  // The 8-bit toggle draws the index through its table, times the conversion, and back.
  for (const bool on : {true, false}) {
    program.automation().set_clock_auto_step(100);
    program.command(cmd::kCmdEightBit);
    program.automation().set_clock_auto_step(0);
    EXPECT_FLOAT_EQ(program.state().colour_quant_time, on ? 0.1f : 0.0f);
    if (on) expect_eight_bit_drawing(program, true);
    EXPECT_EQ(differing_pixels(program.main_image(), shown) == 0, !on);
  }

  // A picture the encoder refuses: Save writes nothing, not even the earlier stream.
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

TEST_P(ScenarioTest, CommentsKeepTheirBytesAreCutAtACharacterAndShowOtherBytesAsLatin1) {
  Pictures files;
  const std::string comment = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93\nzweite Zeile";
  const std::string cod = files.path("c.cod");
  const imagefile::PictureBuffer picture = Pictures::colour(33, 17);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  // Save writes the stream of the last Compress as it was made: a comment edited after it needs a
  // new Compress.
  program.command(cmd::kCmdCompress);
  program.run_dialog(cmd::kCmdComments, "COMMENTS", {type(id::kCommentText, comment), press(id::kOk)});
  program.save(cmd::kCmdSave, cod);
  EXPECT_EQ(Pictures::read_bytes(cod), library_encode(picture));
  program.command(cmd::kCmdCompress);
  program.save(cmd::kCmdSave, cod);
  EXPECT_EQ(Pictures::read_bytes(cod), library_encode(picture, comment));
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

TEST_P(ScenarioTest, EveryPreviewLevelOfCompressAndDecodeReachesTheScreen) {
  // Picture, decoded (else compressed), levels, coarsest preview's size: 37 x 29 codes with 4
  // levels (29 does not exceed 32) in planes padded to 48 x 32; 64 x 70 keeps 5, padded to 64 x 96.
  for (const auto& [picture, decode, levels, first] : {std::tuple{Pictures::colour(37, 29), false, 4u, platform::Size{3, 2}},
                                                        std::tuple{Pictures::grey(64, 70), true, 5u, platform::Size{2, 3}}}) {
    Pictures files;
    Program program(GetParam());
    program.open(cmd::kCmdOpenBitmap, files.write_bitmap("p.bmp", picture));
    if (decode) program.save(cmd::kCmdSave, files.path("p.cod"));
    auto run = [&, decode = decode] {
      program.automation().clear_records();
      decode ? program.open(cmd::kCmdOpenCoded, files.path("p.cod")) : program.command(cmd::kCmdCompress);
      return immediate(program.automation(), DrawRecord::Operation::kStretch);
    };
    program.automation().record_frames(true);
    const auto draws = run();
    ASSERT_EQ(draws.size(), levels);
    EXPECT_EQ((platform::Size{draws[0].source_width, draws[0].source_height}), first);
    for (const DrawRecord& d : draws) {  // stretched over the whole picture
      EXPECT_EQ(std::tuple(d.bits_per_pixel, d.width, d.height), std::tuple(picture.bits_per_pixel, picture.width, picture.height));
    }
    const auto& frames = program.automation().frames();
    EXPECT_GE(std::count_if(frames.begin(), frames.end(), [&](const auto& f) { return f.immediate && f.window == program.title(); }),
              static_cast<long>(levels));
    // Without the incremental display the same picture comes without previews.
    const auto shown = program.state().picture_buffer;
    program.command(cmd::kCmdIncremental);
    EXPECT_TRUE(run().empty());
    EXPECT_EQ(program.state().picture_buffer, shown);
  }
}

TEST_P(ScenarioTest, CompressAndDecodeRepaintWhatAMenuOrAFileDialogCoveredBeforeTheyWork) {
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
  EXPECT_EQ(differing_pixels(crop(first->image, 120, 40), crop(expected_image(picture), 120, 40)), 0);
  // While a decode works, the screen shows the window as it should be where the open dialog lay
  // (blank: the new picture is not there yet), not what the dialog left.
  program.save(cmd::kCmdSave, files.path("ramp.cod"));
  program.command(cmd::kCmdIncremental);
  program.automation().clear_records();
  program.open(cmd::kCmdOpenCoded, files.path("ramp.cod"));
  const auto busy = std::find_if(frames.begin(), frames.end(), [&](const auto& f) { return f.busy && f.window == program.title(); });
  ASSERT_NE(busy, frames.end());
  const platform::Image covered = crop(busy->image, 200, 160);
  EXPECT_TRUE(std::all_of(covered.rgb.begin(), covered.rgb.end(), [](std::uint8_t v) { return v == 255; }));
}

TEST_P(ScenarioTest, EightBitScreenShowsTheConvertedPictureAndPreviewsThroughTheirPalettes) {
  if (!GetParam().supports_eight_bit_screen) GTEST_SKIP() << "backend has no 8-bit screens";
  Pictures files;
  const std::string path = files.write_bitmap("ramp.bmp", Pictures::colour(41, 27));
  Program program(GetParam(), 8);
  EXPECT_TRUE(program.state().eight_bit_display && program.menu().is_checked(cmd::kCmdEightBit));
  EXPECT_FALSE(program.menu().is_enabled(cmd::kCmdEightBit));  // until a picture is open
  program.open(cmd::kCmdOpenBitmap, path);
  expect_eight_bit_drawing(program, true);
  program.command(cmd::kCmdDithering);  // applies from the next conversion on
  program.open(cmd::kCmdOpenBitmap, path);
  expect_eight_bit_drawing(program, false);
  program.automation().clear_records();
  program.command(cmd::kCmdCompress);
  const auto palette = app::pipeline::preview_palette();
  const auto palettes = immediate(program.automation(), DrawRecord::Operation::kPalette);
  const auto previews = immediate(program.automation(), DrawRecord::Operation::kStretch);
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

}  // namespace
}  // namespace varnic::testing
