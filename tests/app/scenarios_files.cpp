// Stories about start-up, opening files, the menu rule sets, titles and the failure messages.
#include <cstring>

#include "harness.h"

namespace varnic::testing {
namespace {

namespace cmd = app;

constexpr const char* kTitle = "Varnholt Image Compressor V2.5";

struct ItemState {
  int command;
  bool enabled;
};

void expect_menu(platform::Menu& menu, const std::vector<ItemState>& items, const char* when) {
  for (const auto& item : items) {
    EXPECT_EQ(menu.is_enabled(item.command), item.enabled) << "item " << item.command << " " << when;
  }
}

TEST_P(ScenarioTest, StartsWithTheMenuStatesTitleAndAnEmptyWhiteWindow) {
  Program program(GetParam());
  expect_menu(program.menu(),
              {{cmd::kCmdOpenCoded, true},    {cmd::kCmdOpenBitmap, true},  {cmd::kCmdOpenTarga, true},
               {cmd::kCmdSave, false},        {cmd::kCmdSaveBitmap, false}, {cmd::kCmdSaveTarga, false},
               {cmd::kCmdProperties, true},   {cmd::kCmdCompress, false},   {cmd::kCmdExit, true},
               {cmd::kCmdStretchUp, false},   {cmd::kCmdStretchDown, false}, {cmd::kCmdNormal, true},
               {cmd::kCmdResize, false},      {cmd::kCmdDoubleSize, false}, {cmd::kCmdHalfSize, false},
               {cmd::kCmdEasySetup, false},   {cmd::kCmdMasterSetup, true}, {cmd::kCmdEightBit, false},
               {cmd::kCmdDithering, true},    {cmd::kCmdComments, true},    {cmd::kCmdIncremental, true},
               {cmd::kCmdAbout, true},        {cmd::kCmdHelpContents, true}},
              "at start-up");
  EXPECT_TRUE(program.menu().is_checked(cmd::kCmdDithering));
  EXPECT_TRUE(program.menu().is_checked(cmd::kCmdIncremental));
  EXPECT_FALSE(program.menu().is_checked(cmd::kCmdEightBit));
  EXPECT_EQ(program.state().eight_bit_display, false);
  EXPECT_EQ(program.app().main_window().title(), kTitle);
  EXPECT_EQ(program.app().source_window().title(), "Orignal Image");
  EXPECT_TRUE(program.app().main_window().is_visible());
  EXPECT_FALSE(program.app().source_window().is_visible());

  const platform::Image image = program.main_image();
  ASSERT_GT(image.width * image.height, 0);
  for (std::uint8_t byte : image.rgb) ASSERT_EQ(byte, 255);

  // Defaults of the settings: quality 50 derivation with 5 levels.
  EXPECT_EQ(program.params().total_levels, 5);
  EXPECT_EQ(program.params().padded_width, 32u);
  EXPECT_EQ(program.params().plane_size, 1024u);
  EXPECT_EQ(program.params().channels[1].dropped_levels, 2);
  EXPECT_EQ(program.params().threshold_vector[0], 33);
}

TEST_P(ScenarioTest, EightBitScreenStartsWithTheEightBitDisplayChecked) {
  if (!GetParam().supports_eight_bit_screen) GTEST_SKIP() << "backend has no 8-bit screens";
  Program program(GetParam(), 8);
  EXPECT_EQ(program.state().eight_bit_display, true);
  EXPECT_TRUE(program.menu().is_checked(cmd::kCmdEightBit));
  EXPECT_FALSE(program.menu().is_enabled(cmd::kCmdEightBit));  // greyed until a picture is open
}

TEST_P(ScenarioTest, OpeningAColourBitmapInstallsItFitsTheWindowAndAppliesThePictureRules) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(37, 29);
  const std::string path = files.write_bitmap("ramp.bmp", picture);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, path);

  ASSERT_TRUE(program.automation().messages().empty());
  EXPECT_EQ(program.app().main_window().title(), std::string(kTitle) + "    ramp.bmp");
  EXPECT_EQ(program.params().image_width, 37u);
  EXPECT_EQ(program.params().image_height, 29u);
  EXPECT_EQ(program.params().image_mode, 62);
  EXPECT_EQ(program.params().padded_width, 64u);   // 37 rounded up to a multiple of 32
  EXPECT_EQ(program.state().geometry.row_padding, 1);  // 111 bytes per row padded to 112
  EXPECT_EQ(program.state().geometry.picture_bytes, 112u * 29u);
  EXPECT_EQ(program.state().compressed_size, Pictures::read_bytes(path).size());
  EXPECT_FALSE(program.state().compressed_ready);
  EXPECT_EQ(program.state().source_buffer, program.state().picture_buffer);

  const platform::Size client = program.app().main_window().client_size();
  EXPECT_EQ(client, (platform::Size{37, 29}));
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(picture)), 0);

  expect_menu(program.menu(),
              {{cmd::kCmdSaveBitmap, true}, {cmd::kCmdSaveTarga, true}, {cmd::kCmdSave, true},
               {cmd::kCmdDoubleSize, true}, {cmd::kCmdStretchUp, true}, {cmd::kCmdStretchDown, true},
               {cmd::kCmdResize, true},     {cmd::kCmdHalfSize, true},  {cmd::kCmdCompress, true},
               {cmd::kCmdEasySetup, true},  {cmd::kCmdMasterSetup, true}, {cmd::kCmdEightBit, true},
               {cmd::kCmdDithering, true}},
              "after a colour bitmap");
  EXPECT_FALSE(program.app().source_window().is_visible());

  const auto& request = program.automation().file_requests().back();
  EXPECT_EQ(request.label, "Bitmap Files(*.bmp)");
  EXPECT_EQ(request.pattern, "*.bmp");
  EXPECT_EQ(request.default_extension, "bmp");
  EXPECT_TRUE(request.must_exist);
}

TEST_P(ScenarioTest, GreyAndPalettePicturesGetTheirModesAndRuleSets) {
  Pictures files;
  // Wider than a window's menu needs, so that the user's resize below is not held back.
  const imagefile::PictureBuffer grey = Pictures::grey(80, 48);
  const imagefile::PictureBuffer palette = Pictures::palette(80, 48);
  const std::string grey_path = files.write_targa("grey.tga", grey);
  const std::string palette_path = files.write_bitmap("palette.bmp", palette);

  Program program(GetParam());
  program.open(cmd::kCmdOpenTarga, grey_path);
  ASSERT_TRUE(program.automation().messages().empty());
  EXPECT_EQ(program.params().image_mode, 61);
  EXPECT_EQ(program.state().bits_per_pixel, 8);
  EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdCompress));
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(grey)), 0);

  program.open(cmd::kCmdOpenBitmap, palette_path);
  ASSERT_TRUE(program.automation().messages().empty());
  EXPECT_EQ(program.params().image_mode, 622);
  expect_menu(program.menu(),
              {{cmd::kCmdSaveBitmap, false}, {cmd::kCmdSaveTarga, false}, {cmd::kCmdSave, false},
               {cmd::kCmdDoubleSize, false}, {cmd::kCmdStretchUp, false}, {cmd::kCmdStretchDown, false},
               {cmd::kCmdResize, false},     {cmd::kCmdHalfSize, false},  {cmd::kCmdCompress, false},
               {cmd::kCmdEasySetup, false},  {cmd::kCmdEightBit, false},  {cmd::kCmdDithering, true},
               {cmd::kCmdMasterSetup, true}},
              "after a palette bitmap");
  // The same size as before: no size change, so the palette picture stays undrawn until one.
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kPalette);
  program.automation().user_resize_client(program.app().main_window(), 80, 48);
  program.automation().user_resize_client(program.app().main_window(), 160, 96);
  EXPECT_EQ(program.state().display_mode, app::DisplayMode::kStretched);
  const platform::Image image = program.main_image();
  // Stretched twice in both directions through the picture's own colour table.
  const platform::Image expected = expected_image(palette);
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 160; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(image.at(x, y, c), expected.at(x / 2, y / 2, c)) << x << "," << y;
    }
  }
}

TEST_P(ScenarioTest, CancelledOpenChangesNothing) {
  Pictures files;
  const std::string path = files.write_bitmap("a.bmp", Pictures::colour(16, 16));
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, path);
  const auto picture = program.state().picture_buffer;
  program.automation().queue_file_answer(std::nullopt);
  program.command(cmd::kCmdOpenCoded);
  EXPECT_EQ(program.state().picture_buffer, picture);
  EXPECT_EQ(program.app().main_window().title(), std::string(kTitle) + "    a.bmp");
  EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdCompress));
  EXPECT_TRUE(program.automation().messages().empty());
}

struct Refusal {
  const char* name;
  std::vector<std::uint8_t> bytes;
  int command;
  const char* message;
  bool path_is_text;  // open and version faults show the path as text, picture faults as caption
};

std::vector<Refusal> refusals() {
  std::vector<Refusal> list;
  // A minimal bitmap with a chosen type, depth and compression.
  auto bitmap = [](char a, char b, std::uint16_t bits, std::uint32_t compression) {
    std::vector<std::uint8_t> f(54 + 16, 0);
    f[0] = static_cast<std::uint8_t>(a);
    f[1] = static_cast<std::uint8_t>(b);
    f[2] = static_cast<std::uint8_t>(f.size());
    f[10] = 54;
    f[14] = 40;
    f[18] = 2;  // width
    f[22] = 2;  // height
    f[26] = 1;
    f[28] = static_cast<std::uint8_t>(bits);
    f[30] = static_cast<std::uint8_t>(compression);
    return f;
  };
  list.push_back({"notbmp.bmp", bitmap('X', 'Y', 24, 0), cmd::kCmdOpenBitmap, "The file is not a Bitmap file", false});
  list.push_back({"depth.bmp", bitmap('B', 'M', 16, 0), cmd::kCmdOpenBitmap, "The file is not in a 24 bit or 8 bit mode", false});
  list.push_back({"rle.bmp", bitmap('B', 'M', 8, 1), cmd::kCmdOpenBitmap, "VARNIC does not support compressed format of bitmap", false});
  std::vector<std::uint8_t> targa(18 + 12, 0);
  targa[2] = 10;  // run-length true colour
  targa[12] = 2;
  targa[14] = 2;
  targa[16] = 24;
  list.push_back({"rle.tga", targa, cmd::kCmdOpenTarga, "The type of Targa file is not supported", false});
  auto cod = [](const char* magic) {
    std::vector<std::uint8_t> f(64, 0);
    std::memcpy(f.data(), magic, 8);
    return f;
  };
  list.push_back({"x.cod", cod("XYZ2.5aZ"), cmd::kCmdOpenCoded, "It is not a compressed file", true});
  list.push_back({"low.cod", cod("QVT2.2aZ"), cmd::kCmdOpenCoded, "Incompatible Version(too low)", true});
  list.push_back({"major.cod", cod("QVT3.0aZ"), cmd::kCmdOpenCoded, "Incompatible Version(too low)", true});
  list.push_back({"high.cod", cod("QVT2.6aZ"), cmd::kCmdOpenCoded, "Incompatible Version(too high)", true});
  return list;
}

TEST_P(ScenarioTest, EveryRefusedOpenShowsItsMessageAndLeavesThePreviousPicture) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(24, 20);
  const std::string good = files.write_bitmap("good.bmp", picture);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, good);
  const std::string title = program.app().main_window().title();
  const auto buffer = program.state().picture_buffer;
  const std::uint32_t size = program.state().compressed_size;

  std::vector<Refusal> cases = refusals();
  cases.push_back({"missing.bmp", {}, cmd::kCmdOpenBitmap, "Cannot Open File", true});
  for (const Refusal& r : cases) {
    SCOPED_TRACE(r.name);
    const std::string path = r.bytes.empty() && std::string(r.name) == "missing.bmp" ? files.path(r.name)
                                                                                     : files.write_bytes(r.name, r.bytes);
    program.automation().clear_records();
    program.open(r.command, path);
    ASSERT_EQ(program.automation().messages().size(), 1u);
    const auto& box = program.automation().messages()[0];
    if (r.path_is_text) {
      EXPECT_EQ(box.text, path);
      EXPECT_EQ(box.caption, r.message);
    } else {
      EXPECT_EQ(box.text, r.message);
      EXPECT_EQ(box.caption, path);
    }
    EXPECT_EQ(program.app().main_window().title(), title);
    EXPECT_EQ(program.state().picture_buffer, buffer);
    EXPECT_EQ(program.state().compressed_size, size);
    EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdCompress));
    EXPECT_EQ(differing_pixels(program.main_image(), expected_image(picture)), 0);
  }
}

TEST_P(ScenarioTest, ACompressedFileWithAHostileHeaderIsRefusedBeforeAnythingChanges) {
  Pictures files;
  const std::string good = files.write_bitmap("good.bmp", Pictures::colour(24, 20));
  // Valid magic, then a header claiming 40 levels.
  std::vector<std::uint8_t> bytes(400, 0);
  std::memcpy(bytes.data(), "QVT2.5aZ", 8);
  bytes[16] = 64;
  bytes[18] = 64;
  bytes[34] = 62;
  bytes[36] = 40;
  const std::string bad = files.write_bytes("levels.cod", bytes);
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, good);
  const auto buffer = program.state().picture_buffer;
  program.open(cmd::kCmdOpenCoded, bad);
  ASSERT_EQ(program.automation().messages().size(), 1u);
  EXPECT_EQ(program.automation().messages()[0].text, bad);
  EXPECT_EQ(program.automation().messages()[0].caption, format::message(format::StatusCode::kFileBadTotalLevels));
  EXPECT_EQ(program.state().picture_buffer, buffer);
  EXPECT_EQ(program.params().image_width, 24u);
  EXPECT_TRUE(program.menu().is_enabled(cmd::kCmdCompress));
  EXPECT_EQ(program.app().main_window().title(), std::string(kTitle) + "    good.bmp");
}

TEST_P(ScenarioTest, ExitEndsTheProgramWithCodeZero) {
  Program program(GetParam());
  program.command(cmd::kCmdExit);
  EXPECT_TRUE(program.app().main_window().is_destroyed());
  EXPECT_EQ(program.platform().run(), 0);
}

}  // namespace
}  // namespace varnic::testing

namespace varnic::testing {
namespace {

TEST(OpenCommandTest, ExtensionsChooseTheOpenCommandInAnyCase) {
  EXPECT_EQ(app::open_command_for_path("/a/b/pic.BMP"), app::kCmdOpenBitmap);
  EXPECT_EQ(app::open_command_for_path("x.tga"), app::kCmdOpenTarga);
  EXPECT_EQ(app::open_command_for_path("x.Cod"), app::kCmdOpenCoded);
  EXPECT_EQ(app::open_command_for_path("/dir.bmp/file"), -1);
  EXPECT_EQ(app::open_command_for_path("noextension"), -1);
  EXPECT_EQ(app::open_command_for_path("pic.png"), -1);
}

TEST_P(ScenarioTest, FilesNamedOutsideTheChooserOpenLikeChosenOnes) {
  Pictures files;
  const imagefile::PictureBuffer picture = Pictures::colour(12, 10);
  const std::string bmp = files.write_bitmap("Named.BMP", picture);
  const std::string other = files.write_bytes("notes.txt", {1, 2, 3});
  Program program(GetParam());
  auto answer = [&](const std::string& path) { program.automation().queue_file_answer(path); };
  app::open_named_file(program.app(), program.platform(), bmp, answer);
  program.platform().process_paints();
  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    Named.BMP");
  EXPECT_EQ(differing_pixels(program.main_image(), expected_image(picture)), 0);

  app::open_named_file(program.app(), program.platform(), other, answer);
  ASSERT_EQ(program.automation().messages().size(), 1u);
  EXPECT_EQ(program.automation().messages()[0].text, other);
  EXPECT_EQ(program.automation().messages()[0].caption, app::kUnknownFileKind);
  EXPECT_EQ(program.app().main_window().title(), "Varnholt Image Compressor V2.5    Named.BMP");

  // The same checks and messages as the chooser's road.
  const std::string bad = files.write_bytes("bad.tga", std::vector<std::uint8_t>(30, 0));
  app::open_named_file(program.app(), program.platform(), bad, answer);
  ASSERT_EQ(program.automation().messages().size(), 2u);
  EXPECT_EQ(program.automation().messages()[1].text, "The type of Targa file is not supported");
}

}  // namespace
}  // namespace varnic::testing
