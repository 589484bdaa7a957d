// Stories about start-up, the menu states after each kind of event, opening files, the refusals
// of bad ones and the conformance vectors (made by an independent model of the format).
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
  struct Case {
    const char* name;
    std::function<void(Program&)> act;
    std::set<int> greyed, checked;
    std::string title;
    int screen_depth = 24;
  };
  Pictures files;
  const std::string bmp = files.write_bitmap("ramp.bmp", Pictures::colour(37, 29));
  const std::string tga = files.write_bytes("grey.tga", imagefile::encode_targa(Pictures::grey(40, 33)));
  const std::string pal = files.write_bitmap("pal.bmp", Pictures::palette(40, 33));
  const std::string cod = files.path("ramp.cod"), bare(resources::kProgramTitle);
  // Items that need a picture that can be compressed, and those that need one that can be shown.
  const std::set<int> compressible = {cmd::kCmdSave, cmd::kCmdCompress, cmd::kCmdEasySetup};
  std::set<int> none = {cmd::kCmdSaveBitmap, cmd::kCmdSaveTarga, cmd::kCmdStretchUp, cmd::kCmdStretchDown,
                        cmd::kCmdResize,     cmd::kCmdDoubleSize, cmd::kCmdHalfSize,  cmd::kCmdEightBit};
  none.insert(compressible.begin(), compressible.end());
  const std::set<int> toggles = {cmd::kCmdDithering, cmd::kCmdIncremental};
  std::set<int> eight_bit = toggles;
  eight_bit.insert(cmd::kCmdEightBit);
  const Case cases[] = {
      {"start-up", [](Program&) {}, none, toggles, bare},
      {"8-bit screen", [](Program&) {}, none, eight_bit, bare, 8},
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
      {"toggles off", [](Program& p) { p.command(cmd::kCmdDithering); p.command(cmd::kCmdIncremental); }, none, {},
       bare},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.screen_depth == 8 && !GetParam().supports_eight_bit_screen) continue;
    Program program(GetParam(), c.screen_depth);
    c.act(program);
    EXPECT_EQ(items(program.menu(), &platform::Menu::is_enabled, false), c.greyed);
    EXPECT_EQ(items(program.menu(), &platform::Menu::is_checked, true), c.checked);
    EXPECT_EQ(program.title(), c.title);
    EXPECT_EQ(program.state().eight_bit_display, c.checked.count(cmd::kCmdEightBit) == 1);
  }
}

TEST_P(ScenarioTest, StartsEmptyAndWhiteNormalAsksForThirtyTwoSquareExitEndsWithZero) {
  Program program(GetParam());
  EXPECT_TRUE(program.app().main_window().is_visible());
  EXPECT_FALSE(program.app().source_window().is_visible());
  program.command(cmd::kCmdNormal | 0x10000);  // the window system's high bits are not the command's
  EXPECT_EQ(program.client(), (platform::Size{32, 32}));
  for (std::uint8_t byte : program.main_image().rgb) ASSERT_EQ(byte, 255);
  program.command(cmd::kCmdExit);
  EXPECT_TRUE(program.app().main_window().is_destroyed());
  EXPECT_EQ(program.platform().run(), 0);
}

std::vector<std::uint8_t> bitmap(char first, std::uint8_t bits, std::uint8_t compression) {
  std::vector<std::uint8_t> f(54 + 16, 0);
  f[0] = static_cast<std::uint8_t>(first); f[1] = 'M'; f[2] = static_cast<std::uint8_t>(f.size()); f[10] = 54;
  f[14] = 40; f[18] = f[22] = 2; f[26] = 1; f[28] = bits; f[30] = compression;  // 2 x 2
  return f;
}

std::vector<std::uint8_t> coded(const char* magic, std::uint8_t levels = 5) {
  std::vector<std::uint8_t> f(400, 0);
  std::memcpy(f.data(), magic, 8);
  f[16] = f[18] = 64; f[34] = 62; f[36] = levels;  // 64 x 64 colour
  return f;
}

TEST_P(ScenarioTest, EveryRefusedOpenShowsItsMessageAndLeavesThePreviousPicture) {
  using FS = imagefile::FileStatus;
  struct Refusal {
    const char* name;
    std::vector<std::uint8_t> bytes;  // none: the file does not exist
    FS status;                        // kOk: refused by the header check or the extension
    format::StatusCode header_status = format::StatusCode::kOk;
  };
  std::vector<std::uint8_t> targa(18 + 12, 0);
  targa[2] = 10; targa[12] = targa[14] = 2; targa[16] = 24;  // run-length true colour
  const Refusal cases[] = {
      {"notbmp.bmp", bitmap('X', 24, 0), FS::kNotBitmap},
      {"depth.bmp", bitmap('B', 16, 0), FS::kBitmapDepth},
      {"rle.bmp", bitmap('B', 8, 1), FS::kBitmapCompressed},
      {"big.bmp", imagefile::encode_bitmap(Pictures::colour(40, 30)), FS::kPictureTooLarge},
      {"missing.bmp", {}, FS::kCannotOpen},
      {"rle.tga", targa, FS::kTargaType},
      {"x.cod", coded("XYZ2.5aZ"), FS::kNotCompressed},
      {"low.cod", coded("QVT2.2aZ"), FS::kVersionTooLow},
      {"major.cod", coded("QVT3.0aZ"), FS::kVersionTooLow},
      {"high.cod", coded("QVT2.6aZ"), FS::kVersionTooHigh},
      {"levels.cod", coded("QVT2.5aZ", 40), FS::kOk, format::StatusCode::kFileBadTotalLevels},
      {"notes.txt", {1, 2, 3}, FS::kOk},
  };
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(24, 20);
  Program program(GetParam());
  program.app().set_pixel_limit(1000);
  program.open(cmd::kCmdOpenBitmap, files.write_bitmap("good.bmp", picture));
  const auto buffer = program.state().picture_buffer;
  const std::uint32_t size = program.state().compressed_size;
  auto answer = [&](const std::string& path) { program.automation().queue_file_answer(path); };
  for (const Refusal& r : cases) {
    const std::string path = r.bytes.empty() ? files.path(r.name) : files.write_bytes(r.name, r.bytes);
    const int command = app::open_command_for_path(path);
    imagefile::FileMessage expected = imagefile::file_message(r.status, path);
    if (r.status == FS::kOk) expected = {path, std::string(command < 0 ? app::kUnknownFileKind : format::message(r.header_status))};
    // Through the open dialog, and named outside it (command line, drop) where the kind is known.
    for (const bool named : {false, true}) {
      SCOPED_TRACE(std::string(r.name) + (named ? " named" : " chosen"));
      if (command < 0 && !named) continue;
      program.automation().clear_records();
      named ? app::open_named_file(program.app(), program.platform(), path, answer) : program.open(command, path);
      program.platform().process_paints();
      ASSERT_EQ(program.messages().size(), 1u);
      EXPECT_EQ(program.messages()[0].text, expected.text);
      EXPECT_EQ(program.messages()[0].caption, expected.caption);
      EXPECT_EQ(program.title(), titled("good.bmp"));
      EXPECT_EQ(program.state().picture_buffer, buffer);
      EXPECT_EQ(program.state().compressed_size, size);
      EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdCompress));
      EXPECT_EQ(differing_pixels(program.main_image(), expected_image(picture)), 0);
    }
  }
}

const std::string kConformance = std::string(VARNIC_TEST_DATA) + "/conformance";

imagefile::PictureBuffer reference(const std::string& name) {
  imagefile::PictureBuffer picture;
  EXPECT_EQ(imagefile::read_bitmap_file(kConformance + "/decoded/" + name + ".bmp", picture), imagefile::FileStatus::kOk);
  return picture;
}

TEST_P(ScenarioTest, OpenedConformanceFilesShowTheReferencePictures) {
  Program program(GetParam());
  for (const char* name : {"astronaut_q10", "astronaut_q90", "astronaut_L3_drop", "astronaut_comment",
                           "astronaut_comment_noZ", "astronaut_comment_v23", "astronaut_comment_v24", "camera_q50",
                           "odd_37x21_q50", "tiny_9x5_g_q30"}) {
    SCOPED_TRACE(name);
    const imagefile::PictureBuffer wanted = reference(name);
    program.open(cmd::kCmdOpenCoded, kConformance + "/cod/" + name + ".cod");
    ASSERT_TRUE(program.messages().empty());
    EXPECT_EQ(program.state().picture_buffer, wanted.pixels);
    EXPECT_EQ(program.client(), (platform::Size{wanted.width, wanted.height}));
    // A 2.3 colour picture's bytes are red, green, blue: the window shows them as they stand.
    EXPECT_EQ(differing_pixels(program.main_image(), expected_image(wanted)), 0);
  }
}

TEST_P(ScenarioTest, CompressingTheReferencePicturesWritesTheReferenceFiles) {
  struct Case {
    const char *picture, *quality, *comment, *file;  // quality and comment typed in their dialogs
  };
  const Case cases[] = {{"astronaut_256x192", nullptr, nullptr, "astronaut_q50"},
                        {"astronaut_256x192", "10", nullptr, "astronaut_q10"},
                        {"astronaut_256x192", "40", "conformance", "astronaut_comment"},
                        {"camera_9x5_g", "30", nullptr, "tiny_9x5_g_q30"}};
  Pictures files;
  Program program(GetParam());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    program.open(cmd::kCmdOpenBitmap, kConformance + "/pics/" + c.picture + ".bmp");
    if (c.quality != nullptr) program.run_dialog(cmd::kCmdEasySetup, "EASYSET", {type(id::kQualityEdit, c.quality), press(id::kEasyOk)});
    if (c.comment != nullptr) program.run_dialog(cmd::kCmdComments, "COMMENTS", {type(id::kCommentText, c.comment), press(id::kOk)});
    program.save(cmd::kCmdSave, files.path("out.cod"));  // compresses first
    EXPECT_EQ(Pictures::read_bytes(files.path("out.cod")), Pictures::read_bytes(kConformance + "/cod/" + c.file + ".cod"));
    // What Compress shows is what decoding the written file shows.
    EXPECT_EQ(program.state().picture_buffer, reference(c.file).pixels);
  }
}

}  // namespace
}  // namespace varnic::testing
