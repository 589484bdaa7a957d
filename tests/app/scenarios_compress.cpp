// Stories about Compress, Save, decoding an opened compressed file, previews, the 8-bit screen
// path and the timings.
#include <cstring>

#include "codec/encoder.h"
#include "colour/colour.h"
#include "display/display.h"
#include "harness.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
using platform::DrawRecord;

// What the encoder library makes of a picture with the start-up settings.
codec::EncodedPicture library_encode(const imagefile::PictureBuffer& picture, std::string_view comment = {}) {
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
  EXPECT_EQ(codec::encode_picture(view, params, options, out), format::StatusCode::kOk);
  return out;
}

// A picture made of a buffer in the program's layout, for drawing the expected image.
imagefile::PictureBuffer as_picture(std::vector<std::uint8_t> pixels, int width, int height, int bits) {
  imagefile::PictureBuffer p;
  p.width = width;
  p.height = height;
  p.bits_per_pixel = bits;
  p.image_mode = bits == 24 ? format::kImageModeColour : format::kImageModeGrey;
  p.pixels = std::move(pixels);
  imagefile::set_grey_colour_table(p.header);
  return p;
}

std::vector<DrawRecord> immediate_stretches(const platform::Automation& automation) {
  std::vector<DrawRecord> out;
  for (const auto& d : automation.draws()) {
    if (d.kind == DrawRecord::Kind::kStretch && d.immediate) out.push_back(d);
  }
  return out;
}

TEST_P(ScenarioTest, CompressCodesThePictureShowsTheReconstructionAndTheSourceBesideIt) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(37, 29);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", picture));
  program.automation().clear_records();
  program.command(cmd::kCmdCompress);

  ASSERT_TRUE(program.automation().messages().empty());
  std::vector<DrawRecord> texts;
  for (const auto& d : program.automation().draws()) {
    if (d.kind == DrawRecord::Kind::kText) texts.push_back(d);
  }
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "Compressing...");
  EXPECT_EQ(texts[0].x, 133);
  EXPECT_EQ(texts[0].y, 100);
  EXPECT_EQ(texts[1].text, "Reconstructing...");
  EXPECT_EQ(texts[1].x, 133);
  EXPECT_EQ(texts[1].y, 140);
  EXPECT_EQ(program.automation().cursor(), platform::Cursor::kArrow);
  EXPECT_FALSE(program.automation().capture_held());

  codec::EncodedPicture expected = library_encode(picture);
  EXPECT_EQ(program.state().compressed_stream, expected.stream);
  EXPECT_TRUE(program.state().compressed_ready);
  EXPECT_EQ(program.state().compressed_size, expected.stream.size());
  EXPECT_EQ(program.state().entropy_decode_time, 0.0f);
  EXPECT_EQ(program.state().colour_quant_time, 0.0f);
  EXPECT_EQ(program.state().total_time, program.state().wavelet_time);

  // The main window shows the library's reconstruction of exactly what was coded.
  display::ReconstructRequest options;
  options.dequantize = true;
  display::DecodedPicture shown;
  ASSERT_EQ(display::reconstruct(expected.planes, expected.params, format::kCurrentMagic, options, shown),
            format::StatusCode::kOk);
  const std::vector<std::uint8_t>& pixels = shown.pixels;
  EXPECT_EQ(program.state().picture_buffer, pixels);
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(as_picture(pixels, 37, 29, 24))), 0);

  // The source picture beside it, at its own size.
  EXPECT_TRUE(program.app().source_window().is_visible());
  EXPECT_EQ(program.app().source_window().client_size(), (platform::Size{37, 29}));
  EXPECT_EQ(differing_pixels(program.source_image(), expected_image(picture)), 0);

  // A second Compress with unchanged settings gives the same file.
  program.command(cmd::kCmdCompress);
  EXPECT_EQ(program.state().compressed_stream, expected.stream);
}

TEST_P(ScenarioTest, SavedFileReopensToThePictureTheLibraryDecodes) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(45, 38)));
  program.command(cmd::kCmdCompress);
  const std::string cod = files.path("ramp.cod");
  program.save(cmd::kCmdSave, cod);
  const std::vector<std::uint8_t> bytes = Pictures::read_bytes(cod);
  ASSERT_EQ(bytes, program.state().compressed_stream);
  ASSERT_EQ(std::memcmp(bytes.data(), "QVT2.5aZ", 8), 0);
  const auto& request = program.automation().file_requests().back();
  EXPECT_EQ(request.label, "Compressed files");
  EXPECT_EQ(request.pattern, "*.cod");
  EXPECT_TRUE(request.default_extension.empty());
  EXPECT_TRUE(request.confirm_overwrite);

  program.open(cmd::kCmdOpenCoded, cod);
  ASSERT_TRUE(program.automation().messages().empty());
  display::DecodedFile decoded;
  ASSERT_EQ(display::decode_file(bytes, format::kDefaultPixelLimit, {}, decoded), format::StatusCode::kOk);
  EXPECT_EQ(program.state().picture_buffer, decoded.picture.pixels);
  EXPECT_EQ(program.app().main_window().client_size(), (platform::Size{45, 38}));
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(as_picture(decoded.picture.pixels, 45, 38, 24))), 0);

  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    ramp.cod");
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kColour);
  EXPECT_TRUE(program.state().source_buffer.empty());
  EXPECT_FALSE(program.app().source_window().is_visible());
  EXPECT_EQ(program.state().compressed_size, bytes.size());
  EXPECT_FALSE(program.menu().is_enabled(cmd::kCmdSave));
  EXPECT_FALSE(program.menu().is_enabled(cmd::kCmdCompress));
  EXPECT_FALSE(program.menu().is_enabled(cmd::kCmdEasySetup));
  EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdSaveBitmap));
  EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdSaveTarga));
  EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdEightBit));

  // Saved back out as a bitmap, the decoded picture reads back unchanged.
  const std::string bmp = files.path("decoded.bmp");
  program.save(cmd::kCmdSaveBitmap, bmp);
  imagefile::PictureBuffer reread;
  ASSERT_EQ(imagefile::read_bitmap_file(bmp, reread), imagefile::FileStatus::kOk);
  EXPECT_EQ(reread.pixels, decoded.picture.pixels);
}

TEST_P(ScenarioTest, SaveWithNothingCompressedCompressesFirst) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::grey(40, 33);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("grey.bmp", picture));
  program.automation().clear_records();
  const std::string cod = files.path("grey.cod");
  program.save(cmd::kCmdSave, cod);
  EXPECT_TRUE(program.state().compressed_ready);
  EXPECT_EQ(program.automation().file_requests().size(), 1u);
  EXPECT_EQ(Pictures::read_bytes(cod), library_encode(picture).stream);
}

TEST_P(ScenarioTest, SaveAfterAFailedCompressWritesNothingAndRestoresTheCursor) {
  Pictures files;
  Program program(GetParam());
  // An earlier picture leaves a stream behind that must not be saved under the new name.
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("big.bmp", Pictures::colour(16, 16)));
  program.command(cmd::kCmdCompress);
  ASSERT_TRUE(program.state().compressed_ready);
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("tiny.bmp", Pictures::colour(2, 9)));
  ASSERT_FALSE(program.state().compressed_ready);
  program.automation().clear_records();
  program.save(cmd::kCmdSave, files.path("tiny.cod"));

  ASSERT_EQ(program.automation().messages().size(), 1u);
  EXPECT_EQ(program.automation().messages()[0].text, format::message(format::StatusCode::kPictureTooSmall));
  EXPECT_EQ(program.automation().messages()[0].caption, "ERROR");
  EXPECT_TRUE(program.automation().file_requests().empty());
  EXPECT_FALSE(std::filesystem::exists(files.path("tiny.cod")));
  EXPECT_FALSE(program.state().compressed_ready);
  EXPECT_EQ(program.automation().cursor(), platform::Cursor::kArrow);
  EXPECT_FALSE(program.automation().capture_held());
}

TEST_P(ScenarioTest, IncrementalDisplayDrawsOnePreviewPerLevelAndEndsOnTheSamePicture) {
  Pictures files;
  Program program(GetParam());
  // 37 x 29 codes with 4 levels (29 does not exceed 32), planes padded to 48 x 32.
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(37, 29)));
  program.automation().clear_records();
  program.command(cmd::kCmdCompress);
  const auto previews = immediate_stretches(program.automation());
  ASSERT_EQ(previews.size(), 4u);
  const int sizes[4][2] = {{3, 2}, {6, 4}, {12, 8}, {24, 16}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(previews[static_cast<std::size_t>(i)].source_width, sizes[i][0]);
    EXPECT_EQ(previews[static_cast<std::size_t>(i)].source_height, sizes[i][1]);
    EXPECT_EQ(previews[static_cast<std::size_t>(i)].width, 37);
    EXPECT_EQ(previews[static_cast<std::size_t>(i)].height, 29);
    EXPECT_EQ(previews[static_cast<std::size_t>(i)].bits_per_pixel, 24);
  }
  const platform::Image with_previews = program.main_image();
  const auto picture = program.state().picture_buffer;

  program.command(cmd::kCmdIncremental);
  EXPECT_FALSE(program.state().incremental_display);
  EXPECT_FALSE(program.menu().is_checked(cmd::kCmdIncremental));
  program.automation().clear_records();
  program.command(cmd::kCmdCompress);
  EXPECT_TRUE(immediate_stretches(program.automation()).empty());
  EXPECT_EQ(program.state().picture_buffer, picture);
  EXPECT_EQ(differing_pixels(program.main_image(), with_previews), 0);
}

TEST_P(ScenarioTest, DecodingAGreyFileDrawsGreyPreviewsOfTheFilesLevels) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("grey.bmp", Pictures::grey(64, 70)));
  program.save(cmd::kCmdSave, files.path("grey.cod"));
  program.automation().clear_records();
  program.open(cmd::kCmdOpenCoded, files.path("grey.cod"));
  const auto previews = immediate_stretches(program.automation());
  ASSERT_EQ(previews.size(), 5u);  // 64 x 70 keeps all 5 levels; padded to 64 x 96
  EXPECT_EQ(previews[0].source_width, 2);
  EXPECT_EQ(previews[0].source_height, 3);
  EXPECT_EQ(previews[4].source_width, 32);
  EXPECT_EQ(previews[4].source_height, 48);
  for (const auto& p : previews) EXPECT_EQ(p.bits_per_pixel, 8);
  EXPECT_EQ(program.params().image_mode, 61);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kGrey);
}

TEST_P(ScenarioTest, TimingsAreTakenWhereTheCommandsReadTheClock) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(32, 32)));
  program.automation().set_clock_auto_step(250);
  program.command(cmd::kCmdCompress);
  EXPECT_FLOAT_EQ(program.state().wavelet_time, 0.25f);
  EXPECT_EQ(program.state().entropy_decode_time, 0.0f);
  EXPECT_FLOAT_EQ(program.state().total_time, 0.25f);
  program.save(cmd::kCmdSave, files.path("ramp.cod"));
  program.open(cmd::kCmdOpenCoded, files.path("ramp.cod"));
  EXPECT_FLOAT_EQ(program.state().entropy_decode_time, 0.25f);
  EXPECT_FLOAT_EQ(program.state().wavelet_time, 0.25f);
  EXPECT_EQ(program.state().colour_quant_time, 0.0f);
  EXPECT_FLOAT_EQ(program.state().total_time, 0.5f);
  program.automation().set_clock_auto_step(0);
}

TEST_P(ScenarioTest, EightBitScreenDrawsTheQuantizedPictureAndHonoursDithering) {
  if (!GetParam().supports_eight_bit_screen) GTEST_SKIP() << "backend has no 8-bit screens";
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(41, 27);
  const std::string path = files.write_bitmap("ramp.bmp", picture);
  Program program(GetParam(), 8);
  program.open(cmd::kCmdOpenBitmap, path);

  auto library_index = [&](bool dither, colour::ColourTable& table) {
    std::vector<std::uint8_t> index;
    EXPECT_EQ(colour::convert_to_8bit(62, 41, 27, picture.pixels, dither, index, table), format::StatusCode::kOk);
    return index;
  };
  colour::ColourTable dithered_table{};
  const auto dithered = library_index(true, dithered_table);
  EXPECT_EQ(program.state().index_buffer, dithered);
  EXPECT_EQ(program.state().source_index_buffer, dithered);
  EXPECT_EQ(program.state().display_header.colour_table, dithered_table);
  // The window shows the index buffer through the conversion palette.
  imagefile::PictureBuffer shown = as_picture(dithered, 41, 27, 8);
  shown.header.colour_table = dithered_table;
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(shown)), 0);
  bool realised = false;
  for (const auto& d : program.automation().draws()) {
    if (d.kind == DrawRecord::Kind::kPalette && !d.immediate) realised = true;
    if (d.kind == DrawRecord::Kind::kBitmap || d.kind == DrawRecord::Kind::kStretch) {
      EXPECT_EQ(d.bits_per_pixel, 8);
    }
  }
  EXPECT_TRUE(realised);

  // Dithering off applies at the next conversion only.
  program.command(cmd::kCmdDithering);
  EXPECT_FALSE(program.menu().is_checked(cmd::kCmdDithering));
  EXPECT_EQ(program.state().index_buffer, dithered);
  program.open(cmd::kCmdOpenBitmap, path);
  colour::ColourTable plain_table{};
  EXPECT_EQ(program.state().index_buffer, library_index(false, plain_table));

  // Colour previews go through the fixed preview palette, the final picture through its own.
  program.automation().clear_records();
  program.command(cmd::kCmdCompress);
  const auto previews = immediate_stretches(program.automation());
  ASSERT_FALSE(previews.empty());
  for (const auto& p : previews) EXPECT_EQ(p.bits_per_pixel, 8);
  const DrawRecord* preview_palette = nullptr;
  for (const auto& d : program.automation().draws()) {
    if (d.kind == DrawRecord::Kind::kPalette && d.immediate) preview_palette = &d;
  }
  ASSERT_NE(preview_palette, nullptr);
  ASSERT_EQ(preview_palette->colour_table.size(), 1024u);
  // Entry 77: blue 64 * 1, green 32 * 1, red 32 * 5.
  EXPECT_EQ(preview_palette->colour_table[77 * 4 + 0], 64);
  EXPECT_EQ(preview_palette->colour_table[77 * 4 + 1], 32);
  EXPECT_EQ(preview_palette->colour_table[77 * 4 + 2], 160);
  colour::ColourTable final_table{};
  std::vector<std::uint8_t> final_index;
  ASSERT_EQ(colour::convert_to_8bit(62, 41, 27, program.state().picture_buffer, false, final_index, final_table),
            format::StatusCode::kOk);
  EXPECT_EQ(program.state().index_buffer, final_index);
  EXPECT_EQ(program.state().display_header.colour_table, final_table);
}

TEST_P(ScenarioTest, EightBitToggleSwitchesBetweenTheIndexAndThePictureDrawings) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(30, 20)));
  program.automation().set_clock_auto_step(100);
  program.automation().clear_records();
  program.command(cmd::kCmdEightBit);
  program.automation().set_clock_auto_step(0);
  EXPECT_EQ(program.state().eight_bit_display, true);
  EXPECT_TRUE(program.menu().is_checked(cmd::kCmdEightBit));
  EXPECT_FLOAT_EQ(program.state().colour_quant_time, 0.1f);
  int eight_bit_draws = 0;
  for (const auto& d : program.automation().draws()) {
    if (d.kind == DrawRecord::Kind::kStretch || d.kind == DrawRecord::Kind::kBitmap) {
      EXPECT_EQ(d.bits_per_pixel, 8);
      ++eight_bit_draws;
    }
  }
  EXPECT_GT(eight_bit_draws, 0);

  program.automation().clear_records();
  program.command(cmd::kCmdEightBit);
  EXPECT_EQ(program.state().eight_bit_display, false);
  EXPECT_EQ(program.state().colour_quant_time, 0.0f);
  int colour_draws = 0;
  for (const auto& d : program.automation().draws()) {
    if (d.kind == DrawRecord::Kind::kStretch || d.kind == DrawRecord::Kind::kBitmap) {
      EXPECT_EQ(d.bits_per_pixel, 24);
      ++colour_draws;
    }
  }
  EXPECT_GT(colour_draws, 0);
}

}  // namespace
}  // namespace varnic::testing

namespace varnic::testing {
namespace {

namespace cmd = app;

TEST_P(ScenarioTest, CommentBytesThatAreNotUtf8AreShownAsLatin1) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::grey(24, 24);
  const std::string cod = files.write_bytes("latin.cod", library_encode(picture, "caf\xE9").stream);
  Program program(GetParam());
  program.open(cmd::kCmdOpenCoded, cod);
  ASSERT_TRUE(program.automation().messages().empty());
  EXPECT_EQ(program.state().comment, "caf\xE9");
  program.dialog("COMMENTS", {platform::DialogStep::snapshot(), platform::DialogStep::press(resources::control::kCancel)});
  program.command(cmd::kCmdComments);
  EXPECT_EQ(program.automation().dialog_runs().back().snapshots.at(0).texts.at(resources::control::kCommentText),
            "caf\xC3\xA9");
  EXPECT_EQ(program.state().comment, "caf\xE9");  // cancelled: the file's bytes stay
}

TEST_P(ScenarioTest, ReconstructionSavedAsTargaReadsBackUnchanged) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("ramp.bmp", Pictures::colour(21, 19)));
  program.command(cmd::kCmdCompress);
  const std::string tga = files.path("out.tga");
  program.save(cmd::kCmdSaveTarga, tga);
  const auto& request = program.automation().file_requests().back();
  EXPECT_EQ(request.label, "Image files");
  EXPECT_EQ(request.pattern, "*.tga");
  imagefile::PictureBuffer reread;
  ASSERT_EQ(imagefile::read_targa_file(tga, reread), imagefile::FileStatus::kOk);
  EXPECT_EQ(reread.pixels, program.state().picture_buffer);
  EXPECT_EQ(Pictures::read_bytes(tga).size(), 18u + 21u * 19u * 3u);
}

TEST_P(ScenarioTest, PicturesAboveThePixelLimitAreRefusedWithAMessage) {
  Pictures files;
  const std::string small = files.write_bitmap("small.bmp", Pictures::colour(8, 8));
  const std::string big = files.write_bitmap("big.bmp", Pictures::colour(20, 20));
  Program program(GetParam());
  program.app().set_pixel_limit(100);
  program.open(cmd::kCmdOpenBitmap, small);
  ASSERT_TRUE(program.automation().messages().empty());
  program.open(cmd::kCmdOpenBitmap, big);
  ASSERT_EQ(program.automation().messages().size(), 1u);
  const imagefile::FileMessage expected = imagefile::file_message(imagefile::FileStatus::kPictureTooLarge, big);
  EXPECT_EQ(program.automation().messages()[0].text, expected.text);
  EXPECT_EQ(program.automation().messages()[0].caption, expected.caption);
  EXPECT_EQ(program.params().image_width, 8u);
  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    small.bmp");
}

TEST_P(ScenarioTest, DecodingOnAnEightBitScreenTimesTheConversionToo) {
  if (!GetParam().supports_eight_bit_screen) GTEST_SKIP() << "backend has no 8-bit screens";
  Pictures files;
  const std::string cod = files.write_bytes("c.cod", library_encode(Pictures::colour(40, 36)).stream);
  Program program(GetParam(), 8);
  program.automation().set_clock_auto_step(100);
  program.open(cmd::kCmdOpenCoded, cod);
  program.automation().set_clock_auto_step(0);
  EXPECT_FLOAT_EQ(program.state().entropy_decode_time, 0.1f);
  EXPECT_FLOAT_EQ(program.state().wavelet_time, 0.1f);
  EXPECT_FLOAT_EQ(program.state().colour_quant_time, 0.1f);
  EXPECT_FLOAT_EQ(program.state().total_time, 0.3f);
  // The 8-bit version of the decoded picture is what the window shows.
  colour::ColourTable table{};
  std::vector<std::uint8_t> index;
  ASSERT_EQ(colour::convert_to_8bit(62, 40, 36, program.state().picture_buffer, true, index, table), format::StatusCode::kOk);
  EXPECT_EQ(program.state().index_buffer, index);
  imagefile::PictureBuffer shown = as_picture(index, 40, 36, 8);
  shown.header.colour_table = table;
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(shown)), 0);
}

}  // namespace
}  // namespace varnic::testing
