// SPDX-License-Identifier: BSD-2-Clause
// Stories about the menu states after each kind of event, opening files, the refusals of bad ones
// and the conformance vectors (made by an independent model of the format).
#include <cstring>
#include <set>

#include "harness.h"

namespace varnic::testing {
namespace {

std::set<int> items(platform::Menu& menu, bool (platform::Menu::*is)(int) const, bool value) {
  std::set<int> out;
  for (const app::CommandRow& row : app::command_table()) {
    if (row.menu != nullptr && (menu.*is)(row.number) == value) out.insert(row.number);
  }
  return out;
}

TEST_P(ScenarioTest, MenuStatesAndTitleFollowWhatWasOpened) {
  Pictures files;
  const std::string bmp = files.write_bitmap("ramp.bmp", Pictures::colour(37, 29)), cod = files.path("ramp.cod");
  const std::string tga = files.write_bytes("grey.tga", imagefile::encode_targa(Pictures::grey(40, 33)));
  const std::string pal = files.write_bitmap("pal.bmp", Pictures::palette(40, 33)), bare(resources::kProgramTitle);
  // Greyed without a picture: what needs a picture that can be compressed, and what needs one to show.
  const std::set<int> compressible = {cmd::kCmdSave, cmd::kCmdCompress, cmd::kCmdEasySetup};
  const std::set<int> none = {cmd::kCmdSave,       cmd::kCmdCompress,   cmd::kCmdEasySetup,  cmd::kCmdSaveBitmap,
                              cmd::kCmdSaveTarga,  cmd::kCmdStretchUp,  cmd::kCmdStretchDown, cmd::kCmdResize,
                              cmd::kCmdDoubleSize, cmd::kCmdHalfSize,   cmd::kCmdEightBit};
  const std::set<int> toggles = {cmd::kCmdDithering, cmd::kCmdIncremental};
  const std::set<int> eight_bit = {cmd::kCmdDithering, cmd::kCmdIncremental, cmd::kCmdEightBit};
  const std::tuple<const char*, std::function<void(Program&)>, std::set<int>, std::set<int>, std::string> cases[] = {
      {"start-up", [](Program&) {}, none, toggles, bare},
      {"colour bitmap", [&](Program& p) { p.open(cmd::kCmdOpenBitmap, bmp); }, {}, toggles, titled("ramp.bmp")},
      {"grey targa", [&](Program& p) { p.open(cmd::kCmdOpenTarga, tga); }, {}, toggles, titled("grey.tga")},
      {"palette bitmap", [&](Program& p) { p.open(cmd::kCmdOpenBitmap, pal); }, none, toggles, titled("pal.bmp")},
      {"compressed file",
       [&](Program& p) { p.open(cmd::kCmdOpenBitmap, bmp); p.save(cmd::kCmdSave, cod); p.open(cmd::kCmdOpenCoded, cod); },
       compressible, toggles, titled("ramp.cod")},
      {"refused open", [&](Program& p) { p.open(cmd::kCmdOpenBitmap, bmp); p.open(cmd::kCmdOpenCoded, bmp); }, {},
       toggles, titled("ramp.bmp")},
      {"cancelled open", [&](Program& p) { p.open(cmd::kCmdOpenBitmap, bmp); p.command(cmd::kCmdOpenCoded); }, {},
       toggles, titled("ramp.bmp")},
      {"8-bit display", [&](Program& p) { p.open(cmd::kCmdOpenBitmap, bmp); p.command(cmd::kCmdEightBit); }, {},
       eight_bit, titled("ramp.bmp")},
      {"toggles off", [](Program& p) { p.command(cmd::kCmdDithering); p.command(cmd::kCmdIncremental); }, none, {}, bare},
  };
  for (const auto& [name, act, greyed, checked, title] : cases) {
    SCOPED_TRACE(name);
    Program program(GetParam());
    act(program);
    EXPECT_EQ(items(program.menu(), &platform::Menu::is_enabled, false), greyed);
    EXPECT_EQ(items(program.menu(), &platform::Menu::is_checked, true), checked);
    EXPECT_EQ(program.title(), title);
    EXPECT_EQ(program.state().eight_bit_display, checked.count(cmd::kCmdEightBit) == 1);
  }
}

std::vector<std::uint8_t> bytes(std::size_t size, const char* start, std::initializer_list<std::pair<int, int>> values) {
  std::vector<std::uint8_t> f(size, 0);
  std::memcpy(f.data(), start, std::strlen(start));
  for (const auto& [at, value] : values) f[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
  return f;
}

TEST_P(ScenarioTest, EveryRefusedOpenShowsItsMessageAndLeavesThePreviousPicture) {
  using FS = imagefile::FileStatus;
  // A 2 x 2 bitmap with the given bits per pixel and compression; a 64 x 64 colour compressed file.
  auto bitmap = [](const char* magic, int bits, int rle) {
    return bytes(70, magic, {{2, 70}, {10, 54}, {14, 40}, {18, 2}, {22, 2}, {26, 1}, {28, bits}, {30, rle}});
  };
  auto coded = [](const char* magic, int levels = 5) { return bytes(400, magic, {{16, 64}, {18, 64}, {34, 62}, {36, levels}}); };
  const std::tuple<const char*, std::vector<std::uint8_t>, FS> cases[] = {
      {"notbmp.bmp", bitmap("XM", 24, 0), FS::kNotBitmap},
      {"depth.bmp", bitmap("BM", 16, 0), FS::kBitmapDepth},
      {"rle.bmp", bitmap("BM", 8, 1), FS::kBitmapCompressed},
      {"big.bmp", imagefile::encode_bitmap(Pictures::colour(40, 30)), FS::kPictureTooLarge},
      {"missing.bmp", {}, FS::kCannotOpen},
      {"rle.tga", bytes(30, "", {{2, 10}, {12, 2}, {14, 2}, {16, 24}}), FS::kTargaType},  // run-length colour
      {"x.cod", coded("XYZ2.5aZ"), FS::kNotCompressed},
      {"low.cod", coded("QVT2.2aZ"), FS::kVersionTooLow},
      {"major.cod", coded("QVT3.0aZ"), FS::kVersionTooLow},
      {"high.cod", coded("QVT2.6aZ"), FS::kVersionTooHigh},
      {"levels.cod", coded("QVT2.5aZ", 40), FS::kOk},  // refused by the header check
      {"notes.txt", {1}, FS::kOk},                      // refused by its extension
  };
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(24, 20);
  Program program(GetParam());
  program.app().set_pixel_limit(1000);
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("good.bmp", picture));
  const auto buffer = program.state().picture_buffer;
  const std::uint32_t size = program.state().compressed_size;
  for (const auto& [name, content, status] : cases) {
    const std::string path = content.empty() ? files.path(name) : files.write_bytes(name, content);
    const int command = app::open_command_for_path(path);
    imagefile::FileMessage expected = imagefile::file_message(status, path);
    if (status == FS::kOk) {
      expected = {path, std::string(command < 0 ? app::kUnknownFileKind : format::message(format::StatusCode::kFileBadTotalLevels))};
    }
    // Through the open dialog, and named outside it (command line, drop) where the kind is known.
    for (const bool named : {false, true}) {
      if (!named && command < 0) continue;
      SCOPED_TRACE(std::string(name) + (named ? " named" : " chosen"));
      program.automation().clear_records();
      named ? app::open_named_file(program.app(), program.platform(), path) : program.open(command, path);
      program.platform().process_paints();
      ASSERT_EQ(program.messages().size(), 1u);
      EXPECT_EQ(program.messages()[0].text, expected.text);
      EXPECT_EQ(program.messages()[0].caption, expected.caption);
      EXPECT_TRUE(program.messages()[0].caption_fits);
      EXPECT_EQ(program.title(), titled("good.bmp"));
      EXPECT_TRUE(program.state().picture_buffer == buffer && program.state().compressed_size == size);
      EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdCompress));
      EXPECT_EQ(differing_pixels(program.main_image(), expected_image(picture)), 0);
    }
  }
  // The reason stands in the caption and the box's text is the path: the box is as wide as the
  // caption, however short the path.
  program.automation().clear_records();
  program.platform().message_box("a.cod", format::message(format::StatusCode::kFileBadOffset));
  ASSERT_EQ(program.messages().size(), 1u);
  EXPECT_TRUE(program.messages()[0].caption_fits);
}

const std::string kConformance = std::string(VARNIC_TEST_DATA) + "/conformance";

std::vector<std::uint8_t> reference(const std::string& name, platform::Image* shown = nullptr) {
  imagefile::PictureBuffer picture;
  EXPECT_EQ(imagefile::read_bitmap_file(kConformance + "/decoded/" + name + ".bmp", picture), imagefile::FileStatus::kOk);
  if (shown != nullptr) *shown = expected_image(picture);
  return picture.pixels;
}

TEST_P(ScenarioTest, OpenedConformanceFilesShowTheReferencePictures) {
  Program program(GetParam());
  for (const char* name : {"astronaut_q10", "astronaut_q90", "astronaut_L3_drop", "astronaut_comment",
                           "astronaut_comment_noZ", "astronaut_comment_v23", "astronaut_comment_v24", "camera_q50",
                           "odd_37x21_q50", "tiny_9x5_g_q30"}) {
    platform::Image wanted;
    program.open(cmd::kCmdOpenCoded, kConformance + "/cod/" + name + ".cod");
    ASSERT_TRUE(program.messages().empty()) << name;
    EXPECT_EQ(program.state().picture_buffer, reference(name, &wanted)) << name;
    EXPECT_EQ(program.client(), (platform::Size{wanted.width, wanted.height})) << name;
    // A 2.3 colour picture's bytes are red, green, blue: the window shows them as they stand.
    EXPECT_EQ(differing_pixels(program.main_image(), wanted), 0) << name;
  }
}

TEST_P(ScenarioTest, CompressingTheReferencePicturesWritesTheReferenceFiles) {
  // Picture, quality typed in Easy Setup ("" keeps the start-up settings), comment typed, file.
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"astronaut_256x192", "", "", "astronaut_q50"},
      {"astronaut_256x192", "10", "", "astronaut_q10"},
      {"astronaut_256x192", "40", "conformance", "astronaut_comment"},
      {"camera_9x5_g", "30", "", "tiny_9x5_g_q30"}};
  Pictures files;
  Program program(GetParam());
  for (const auto& [picture, quality, comment, file] : cases) {
    program.open(cmd::kCmdOpenBitmap, kConformance + "/pics/" + picture + ".bmp");
    if (*quality) program.run_dialog(cmd::kCmdEasySetup, "EASYSET", {type(id::kQualityEdit, quality), press(id::kEasyOk)});
    if (*comment) program.run_dialog(cmd::kCmdComments, "COMMENTS", {type(id::kCommentText, comment), press(id::kOk)});
    program.save(cmd::kCmdSave, files.path("out.cod"));  // compresses first
    EXPECT_EQ(Pictures::read_bytes(files.path("out.cod")), Pictures::read_bytes(kConformance + "/cod/" + file + ".cod"));
    // What Compress shows is what decoding the written file shows.
    EXPECT_EQ(program.state().picture_buffer, reference(file)) << file;
  }
}

}  // namespace
}  // namespace varnic::testing
