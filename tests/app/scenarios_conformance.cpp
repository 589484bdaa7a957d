// The desktop program against the conformance vectors made by an independent model of the format:
// what it writes for the reference pictures, and what its window shows for the reference files.
#include "harness.h"

namespace varnic::testing {
namespace {

namespace cmd = app;
namespace id = resources::control;

const std::string kConformance = std::string(VARNIC_TEST_DATA) + "/conformance";

TEST_P(ScenarioTest, OpenedConformanceFilesShowTheReferencePictures) {
  const char* cases[] = {"astronaut_q10", "astronaut_q90", "astronaut_L3_drop", "astronaut_comment",
                         "astronaut_comment_noZ", "astronaut_comment_v23", "astronaut_comment_v24",
                         "camera_q50", "odd_37x21_q50", "tiny_9x5_g_q30"};
  Program program(GetParam());
  for (const char* name : cases) {
    SCOPED_TRACE(name);
    imagefile::PictureBuffer reference;
    ASSERT_EQ(imagefile::read_bitmap_file(kConformance + "/decoded/" + name + ".bmp", reference), imagefile::FileStatus::kOk);
    program.automation().clear_records();
    program.open(cmd::kCmdOpenCoded, kConformance + "/cod/" + name + ".cod");
    ASSERT_TRUE(program.automation().messages().empty());
    EXPECT_EQ(program.state().picture_buffer, reference.pixels);
    EXPECT_EQ(program.app().main_window().client_size(), (platform::Size{reference.width, reference.height}));
    // A 2.3 colour picture's bytes are red, green, blue: the window shows them as they stand.
    EXPECT_EQ(differing_pixels(program.main_image(), expected_image(reference)), 0);
  }
}

TEST_P(ScenarioTest, CompressingTheReferencePicturesWritesTheReferenceFiles) {
  Pictures files;
  Program program(GetParam());
  program.open(cmd::kCmdOpenBitmap, kConformance + "/pics/astronaut_256x192.bmp");
  program.save(cmd::kCmdSave, files.path("q50.cod"));
  EXPECT_EQ(Pictures::read_bytes(files.path("q50.cod")), Pictures::read_bytes(kConformance + "/cod/astronaut_q50.cod"));

  // Quality 10 set in Easy Setup by typing into its field.
  program.dialog("EASYSET", {platform::DialogStep::set_text(id::kQualityEdit, "10"), platform::DialogStep::press(id::kEasyOk)});
  program.command(cmd::kCmdEasySetup);
  program.command(cmd::kCmdCompress);
  program.save(cmd::kCmdSave, files.path("q10.cod"));
  EXPECT_EQ(Pictures::read_bytes(files.path("q10.cod")), Pictures::read_bytes(kConformance + "/cod/astronaut_q10.cod"));
  // What Compress shows is what decoding the written file shows.
  imagefile::PictureBuffer reference;
  ASSERT_EQ(imagefile::read_bitmap_file(kConformance + "/decoded/astronaut_q10.bmp", reference), imagefile::FileStatus::kOk);
  EXPECT_EQ(program.state().picture_buffer, reference.pixels);

  // Quality 40 with a comment typed in the Comments dialog.
  program.dialog("EASYSET", {platform::DialogStep::set_text(id::kQualityEdit, "40"), platform::DialogStep::press(id::kEasyOk)});
  program.command(cmd::kCmdEasySetup);
  program.dialog("COMMENTS", {platform::DialogStep::set_text(id::kCommentText, "conformance"), platform::DialogStep::press(id::kOk)});
  program.command(cmd::kCmdComments);
  program.command(cmd::kCmdCompress);
  program.save(cmd::kCmdSave, files.path("comment.cod"));
  EXPECT_EQ(Pictures::read_bytes(files.path("comment.cod")), Pictures::read_bytes(kConformance + "/cod/astronaut_comment.cod"));

  program.open(cmd::kCmdOpenBitmap, kConformance + "/pics/camera_9x5_g.bmp");
  program.dialog("EASYSET", {platform::DialogStep::set_text(id::kQualityEdit, "30"), platform::DialogStep::press(id::kEasyOk)});
  program.command(cmd::kCmdEasySetup);
  program.save(cmd::kCmdSave, files.path("tiny.cod"));
  EXPECT_EQ(Pictures::read_bytes(files.path("tiny.cod")), Pictures::read_bytes(kConformance + "/cod/tiny_9x5_g_q30.cod"));
}

}  // namespace
}  // namespace varnic::testing
