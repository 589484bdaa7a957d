// SPDX-License-Identifier: BSD-2-Clause
// varnic-cli run as a user runs it: exit statuses per failure class, overwrite rules, batches,
// target searches, reduced decoding and picture formats.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <numeric>

#include "cli_test_util.h"
#include "varnic/varnic.h"

namespace varnic::cli {
namespace {

using namespace testing;

// The number that follows `label` in `text` ("" when there is none). std::regex is avoided: it
// draws false uninitialised-use warnings from GCC 12 in sanitizer builds.
std::string number_after(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return "";
  std::size_t end = at + label.size();
  while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
  return text.substr(at + label.size(), end - at - label.size());
}

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    dir_ = fs::temp_directory_path() / ("varnic-cli-test-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
#else
    char pattern[] = "/tmp/varnic-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
#endif
    fs::copy_file(kData + "/conformance/pics/astronaut_256x192.bmp", dir_ / "astro.bmp");
    fs::copy_file(kData + "/conformance/pics/camera_256x256_g.bmp", dir_ / "camera.bmp");
    fs::copy_file(kData + "/conformance/pics/astronaut_64x48.bmp", dir_ / "small.bmp");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool in the scratch directory; `args` is shell text.
  Outcome run(const std::string& args, const std::string& input = "/dev/null") {
#if defined(_WIN32)
    // cmd.exe: the tool's full path, taken before the change of directory (and drive).
    static const std::string tool = fs::absolute(VARNIC_CLI).string();
    const std::string from = input == "/dev/null" ? "NUL" : "\"" + input + "\"";
    const std::string command = "cd /d \"" + dir_.string() + "\" && \"" + tool + "\" " + args +
                                " > .stdout 2> .stderr < " + from;
    const int status = std::system(command.c_str());
    Outcome r;
    r.code = status;
#else
    const std::string command = "cd '" + dir_.string() + "' && '" + VARNIC_CLI + "' " + args +
                                " > .stdout 2> .stderr < " + input;
    const int status = std::system(command.c_str());
    Outcome r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    r.out = read_text(dir_ / ".stdout");
    r.err = read_text(dir_ / ".stderr");
    return r;
  }

  Picture picture(const std::string& name) {
    Result<PictureFile> p = read_picture(read_file(dir_ / name), name, {});
    EXPECT_TRUE(p.ok()) << name << ": " << p.message();
    return p.ok() ? p.value().picture : Picture{};
  }

  fs::path dir_;
};

TEST_F(CliTest, UsageErrorsExitOneAndHelpZero) {
  Outcome none = run("");
  EXPECT_EQ(none.code, 1);
  EXPECT_NE(none.err.find("usage:"), std::string::npos);
  // Settings that parse but break the rules are refused before any work too.
  for (const char* args :
       {"compress astro.bmp --no-such-option", "compress astro.bmp -q 100", "compress astro.bmp --type portrait",
        "compress astro.bmp --levels 7", "compress astro.bmp --target-size 1000 --target-psnr 30",
        "compress astro.bmp camera.bmp -o x.cod", "compress astro.bmp --dropped 1,2", "compress astro.bmp --qvec-y 1,x,3",
        "decompress", "frobnicate", "compress astro.bmp --levels 2 --qvec-y 1,2,3,4,5,6",
        "compress astro.bmp --levels 3 --dropped 0,3,0", "compress astro.bmp --levels 1 --thresholds 1,2,3",
        "compress astro.bmp --quant-i 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,126", "compress astro.bmp camera.bmp -j 257",
        // Numbers: decimal digits only, finite, within 64 bits, for every option alike.
        "compress astro.bmp -q 0x10", "compress astro.bmp --target-psnr nan", "compress astro.bmp --target-psnr 0x1p5",
        "compress astro.bmp --target-size 18446744073709551616", "compress astro.bmp --max-pixels 99999999999999999999",
        "info astro.cod --max-pixels 0x100", "decompress astro.cod --png-level 10"})
    EXPECT_EQ(run(args).code, 1) << args;
  EXPECT_FALSE(fs::exists(dir_ / "astro.cod"));
  // A leading zero is decimal, not octal.
  ASSERT_EQ(run("compress astro.bmp -q 010 -o octal.cod").code, 0);
  ASSERT_EQ(run("compress astro.bmp -q 10 -o ten.cod").code, 0);
  EXPECT_TRUE(read_file(dir_ / "octal.cod") == read_file(dir_ / "ten.cod"));

  for (const char* command : {"compress", "decompress", "info", "compare"})
    EXPECT_EQ(run(std::string(command) + " --help").code, 0) << command;
  Outcome version = run("--version");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, std::string(varnic::version_text()) + "\n");
}

// -v: the stages of a compress (outside parentheses, which break a stage down) add up to its total,
// each figure rounded to 0.1 ms. A decompress is one stage: it decodes and writes row by row.
TEST_F(CliTest, VerboseStagesAddUpToTheTotal) {
  // A large PNG takes long enough to read that a stage timed from the wrong moment shows.
  fs::copy_file(kData + "/astronaut_512.bmp", dir_ / "big.bmp");
  ASSERT_EQ(run("compress big.bmp -o big.cod").code, 0);
  ASSERT_EQ(run("decompress big.cod -o big.png").code, 0);
  for (const char* args : {"compress big.png -o a.cod -v", "compress big.png -o b.cod -O 1 -v"}) {
    Outcome r = run(args);
    ASSERT_EQ(r.code, 0) << args << r.err;
    const std::string line = r.err.substr(0, r.err.find_first_of(";\n"));  // the summary is on stdout
    std::string stages;
    int depth = 0;
    for (char c : line) {
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      if (depth == 0 && c != ')') stages += c;
    }
    std::vector<double> figures;
    for (std::size_t at = stages.find(" ms"); at != std::string::npos; at = stages.find(" ms", at + 3)) {
      std::size_t begin = at;
      while (begin > 0 && (std::isdigit(static_cast<unsigned char>(stages[begin - 1])) || stages[begin - 1] == '.')) --begin;
      if (begin < at) figures.push_back(std::stod(stages.substr(begin, at - begin)));
    }
    ASSERT_GE(figures.size(), 3u) << line;
    const double total = figures.back();
    figures.pop_back();
    EXPECT_NEAR(std::accumulate(figures.begin(), figures.end(), 0.0), total, 0.05 * double(figures.size() + 1))
        << line;
  }
}

TEST_F(CliTest, BadInputsExitTwoAndNameTheFile) {
  Outcome missing = run("compress nothing.bmp");
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("nothing.bmp"), std::string::npos);

  Bytes bmp = read_file(dir_ / "astro.bmp");
  Bytes corrupt(bmp.begin(), bmp.begin() + 1000);  // pixel rows cut short
  write_file(dir_ / "cut.bmp", corrupt);
  EXPECT_EQ(run("compress cut.bmp").code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "cut.cod"));
  write_file(dir_ / "text.png", Bytes{'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(run("compress text.png").code, 2);

  fs::copy_file(kData + "/conformance/pics/astronaut_2x2.bmp", dir_ / "tiny.bmp");
  EXPECT_EQ(run("compress tiny.bmp").code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "tiny.cod"));

  Bytes cod = read_file(kData + "/conformance/cod/astronaut_q50.cod");
  write_file(dir_ / "short.cod", Bytes(cod.begin(), cod.begin() + 100));
  EXPECT_EQ(run("decompress short.cod").code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "short.bmp"));
  Bytes old = cod;
  old[5] = '2';
  write_file(dir_ / "old.cod", old);
  EXPECT_EQ(run("info old.cod").code, 2);
  // Not a compressed file, however it shows: by its content, or as a picture whose output would
  // take its own name. One status and one message.
  fs::copy_file(dir_ / "astro.bmp", dir_ / "photo.jpg");
  for (const char* args : {"info astro.bmp", "decompress astro.bmp", "decompress photo.jpg"}) {
    Outcome r = run(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_NE(r.err.find("not a compressed file"), std::string::npos) << args << r.err;
  }
  EXPECT_EQ(run("compare astro.bmp camera.bmp").code, 2);  // different sizes
}

TEST_F(CliTest, ExistingOutputsNeedForceAndUnwritableOutputsExitThree) {
  write_file(dir_ / "astro.cod", Bytes{'o', 'l', 'd'});
  Outcome refused = run("compress astro.bmp");
  EXPECT_EQ(refused.code, 3);
  EXPECT_NE(refused.err.find("-f"), std::string::npos);
  EXPECT_EQ(read_file(dir_ / "astro.cod"), (Bytes{'o', 'l', 'd'}));

  ASSERT_EQ(run("compress astro.bmp -f").code, 0);
  const Bytes first = read_file(dir_ / "astro.cod");
  EXPECT_EQ(first, read_file(kData + "/conformance/cod/astronaut_q50.cod"));
  ASSERT_EQ(run("compress astro.bmp -f").code, 0);  // idempotent
  EXPECT_EQ(read_file(dir_ / "astro.cod"), first);

  EXPECT_EQ(run("decompress astro.cod -o missing-dir/x.bmp").code, 3);
  EXPECT_EQ(run("compress astro.bmp -d missing-dir").code, 3);
}

#if defined(_WIN32)
TEST_F(CliTest, AFileInUseExitsThreeAndIsKept) {
  write_file(dir_ / "astro.cod", Bytes{'o', 'l', 'd'});
  // Held open without sharing, as another program may hold it.
  HANDLE busy = CreateFileW((dir_ / "astro.cod").wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  Outcome r = run("compress astro.bmp -f");
  CloseHandle(busy);
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("astro.cod"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir_ / "astro.cod"), (Bytes{'o', 'l', 'd'}));
}
#endif

TEST_F(CliTest, LimitsExitFour) {
  Outcome big = run("compress astro.bmp --max-pixels 1000");
  EXPECT_EQ(big.code, 4);
  EXPECT_FALSE(fs::exists(dir_ / "astro.cod"));
  ASSERT_EQ(run("compress astro.bmp").code, 0);
  EXPECT_EQ(run("decompress astro.cod -o big.png --max-pixels 1000").code, 4);
  EXPECT_EQ(run("info astro.cod --max-pixels 1000").code, 4);
}

TEST_F(CliTest, BatchReportsEveryFailureAndExitsWithTheWorst) {
  fs::create_directory(dir_ / "out");
  write_file(dir_ / "bad.bmp", Bytes{'B', 'M', 1, 2, 3});
  Outcome r = run("compress astro.bmp bad.bmp camera.bmp -d out");
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(fs::exists(dir_ / "out/astro.cod"));
  EXPECT_TRUE(fs::exists(dir_ / "out/camera.cod"));
  EXPECT_FALSE(fs::exists(dir_ / "out/bad.cod"));
  EXPECT_NE(r.err.find("[2/3] bad.bmp"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2 written, 1 failed"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("[1/3]"), std::string::npos);
  EXPECT_NE(r.out.find("[3/3]"), std::string::npos);

  // A rerun leaves what exists alone and counts it.
  write_file(dir_ / "out/camera.cod", Bytes{'k', 'e', 'p', 't'});
  Outcome rerun = run("compress astro.bmp camera.bmp small.bmp -d out --skip-existing -j 0");
  EXPECT_EQ(rerun.code, 0) << rerun.err;
  EXPECT_NE(rerun.err.find("1 written, 2 skipped"), std::string::npos) << rerun.err;
  EXPECT_EQ(read_file(dir_ / "out/camera.cod"), (Bytes{'k', 'e', 'p', 't'}));
  fs::remove(dir_ / "out/camera.cod");
  fs::remove(dir_ / "out/small.cod");

  // Existing outputs (3) and a bad input (2) in one batch: the highest status wins.
  Outcome mixed = run("compress astro.bmp bad.bmp -d out");
  EXPECT_EQ(mixed.code, 3);

  // Two inputs that would write one output are refused before anything runs.
  fs::create_directory(dir_ / "sub");
  fs::copy_file(dir_ / "small.bmp", dir_ / "sub/small.bmp");
  EXPECT_EQ(run("compress small.bmp sub/small.bmp -d out -f").code, 1);
}

TEST_F(CliTest, JobsNeverChangeTheOutputBytes) {
  fs::create_directory(dir_ / "one");
  fs::create_directory(dir_ / "many");
  fs::copy_file(dir_ / "astro.bmp", dir_ / "astro2.bmp");
  const std::string inputs = "astro.bmp camera.bmp small.bmp astro2.bmp";
  ASSERT_EQ(run("compress " + inputs + " -q 70 -d one -j 1").code, 0);
  ASSERT_EQ(run("compress " + inputs + " -q 70 -d many -j 3").code, 0);
  for (const char* name : {"astro.cod", "camera.cod", "small.cod", "astro2.cod"})
    EXPECT_EQ(read_file(dir_ / "one" / name), read_file(dir_ / "many" / name)) << name;

  ASSERT_EQ(run("compress astro.bmp -q 70 -o single.cod -j 2").code, 0);  // threads inside one picture
  EXPECT_EQ(read_file(dir_ / "single.cod"), read_file(dir_ / "one/astro.cod"));

  ASSERT_EQ(run("decompress one/astro.cod one/camera.cod one/small.cod -d one -j 1").code, 0);
  ASSERT_EQ(run("decompress one/astro.cod one/camera.cod one/small.cod -d many -j 3").code, 0);
  for (const char* name : {"astro.bmp", "camera.bmp", "small.bmp"})
    EXPECT_EQ(read_file(dir_ / "one" / name), read_file(dir_ / "many" / name)) << name;
}

TEST_F(CliTest, TargetSizeLandsAtOrUnderTheTarget) {
  for (int target : {3000, 8000, 30000}) {
    SCOPED_TRACE(target);
    Outcome r = run("compress astro.bmp -f --target-size " + std::to_string(target));
    ASSERT_EQ(r.code, 0) << r.err;
    const std::uintmax_t size = fs::file_size(dir_ / "astro.cod");
    EXPECT_LE(size, static_cast<std::uintmax_t>(target));
    const std::string quality = number_after(r.out, "picked quality ");
    ASSERT_FALSE(quality.empty()) << r.out;
    // The reported quality is what was written.
    ASSERT_EQ(run("compress astro.bmp -o check.cod -f -q " + quality).code, 0);
    EXPECT_EQ(read_file(dir_ / "check.cod"), read_file(dir_ / "astro.cod"));
  }
  // Quality 0 of this picture takes 1275 bytes (conformance case astronaut_q0).
  fs::remove(dir_ / "astro.cod");
  Outcome unreachable = run("compress astro.bmp --target-size 1000");
  EXPECT_EQ(unreachable.code, 4);
  EXPECT_NE(unreachable.err.find("1275"), std::string::npos) << unreachable.err;
  EXPECT_FALSE(fs::exists(dir_ / "astro.cod"));
}

TEST_F(CliTest, TargetPsnrIsMetAndReportedByCompare) {
  Outcome r = run("compress astro.bmp --target-psnr 30");
  ASSERT_EQ(r.code, 0) << r.err;
  Outcome c = run("compare astro.bmp astro.cod");
  ASSERT_EQ(c.code, 0) << c.err;
  const std::string psnr = number_after(c.out, "PSNR RGB ");
  ASSERT_FALSE(psnr.empty()) << c.out;
  EXPECT_GE(std::stod(psnr), 30.0);
  EXPECT_EQ(run("compress astro.bmp -o never.cod --target-psnr 150").code, 4);
  EXPECT_FALSE(fs::exists(dir_ / "never.cod"));
}

TEST_F(CliTest, ReduceIsPassedOnAndCheckedAgainstTheFile) {
  // The sizes are the library's to check; here that the option arrives.
  fs::copy_file(kData + "/conformance/cod/odd_37x21_q50.cod", dir_ / "odd.cod");
  ASSERT_EQ(run("decompress odd.cod --reduce 2 -o odd2.png").code, 0);
  EXPECT_EQ(picture("odd2.png").width, 10u);
  EXPECT_EQ(run("decompress odd.cod --reduce 4 -o odd4.png").code, 1);  // the file has 4 levels
  EXPECT_FALSE(fs::exists(dir_ / "odd4.png"));
}

TEST_F(CliTest, InputKindsComeFromContentAndOutputKindsFromNameOrFormat) {
  // A PNG made from the bitmap compresses to the very same bytes.
  Result<std::vector<std::uint8_t>> png = write_picture(picture("astro.bmp").view(), FileKind::kPng);
  ASSERT_TRUE(png.ok());
  write_file(dir_ / "astro.png", png.value());
  Outcome from_png = run("compress astro.png -o from_png.cod");
  ASSERT_EQ(from_png.code, 0);
  // The summary gives the input file's own size.
  EXPECT_NE(from_png.out.find(std::to_string(png.value().size()) + " -> "), std::string::npos) << from_png.out;
  EXPECT_EQ(read_file(dir_ / "from_png.cod"), read_file(kData + "/conformance/cod/astronaut_q50.cod"));

  ASSERT_EQ(run("decompress from_png.cod -o back.png").code, 0);
  ASSERT_EQ(run("decompress from_png.cod -o back.bmp").code, 0);
  ASSERT_EQ(run("decompress from_png.cod --format tga -o back.tga").code, 0);
  ASSERT_EQ(run("decompress from_png.cod --format pnm -d .").code, 0);
  const Picture reference = picture("back.bmp");
  for (const char* name : {"back.png", "back.tga", "from_png.pnm"}) EXPECT_TRUE(picture(name).pixels == reference.pixels) << name;
  // --png-level reaches the writer: the same pixels, smaller files at higher levels.
  ASSERT_EQ(run("decompress from_png.cod --png-level 0 -o stored.png").code, 0);
  ASSERT_EQ(run("decompress from_png.cod --png-level 9 -o smallest.png").code, 0);
  EXPECT_TRUE(picture("stored.png").pixels == reference.pixels && picture("smallest.png").pixels == reference.pixels);
#ifdef _WIN32
  // The Windows Imaging Component has no compression level: the level is taken and ignored.
  EXPECT_EQ(fs::file_size(dir_ / "smallest.png"), fs::file_size(dir_ / "stored.png"));
#else
  EXPECT_LT(fs::file_size(dir_ / "smallest.png"), fs::file_size(dir_ / "back.png"));
  EXPECT_LT(fs::file_size(dir_ / "back.png"), fs::file_size(dir_ / "stored.png"));
#endif
  ASSERT_EQ(run("compress camera.bmp").code, 0);
  ASSERT_EQ(run("decompress camera.cod -o camera_back.pgm").code, 0);
  EXPECT_EQ(picture("camera_back.pgm").format, PixelFormat::kGrey8);

  // A converted input says what was converted, unless asked to be quiet.
  std::string ppm = "P6\n8 8\n65535\n";
  ppm.append(8 * 8 * 3 * 2, '\x01');
  write_file(dir_ / "deep.ppm", Bytes(ppm.begin(), ppm.end()));
  Outcome r = run("compress deep.ppm");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("16-bit"), std::string::npos) << r.err;
  EXPECT_TRUE(run("compress deep.ppm -f --quiet").err.empty());
}

TEST_F(CliTest, DashReadsStandardInputAndWritesStandardOutput) {
  Outcome c = run("compress - -o -", "astro.bmp");
  ASSERT_EQ(c.code, 0) << c.err;
  EXPECT_EQ(read_file(dir_ / ".stdout"), read_file(kData + "/conformance/cod/astronaut_q50.cod"));
  EXPECT_NE(c.err.find("147510 -> 4933 bytes"), std::string::npos) << c.err;  // the summary moves to stderr
  fs::copy_file(dir_ / ".stdout", dir_ / "astro.cod");
  ASSERT_EQ(run("decompress - -o - --format pnm", "astro.cod").code, 0);
  fs::copy_file(dir_ / ".stdout", dir_ / "back.pnm");
  EXPECT_EQ(picture("back.pnm").width, 256u);
  EXPECT_EQ(run("info -", "astro.cod").code, 0);
  EXPECT_NE(run("compare astro.cod -", "back.pnm").out.find("PSNR RGB inf"), std::string::npos);
  EXPECT_EQ(run("compress -", "astro.bmp").code, 1);  // no output name
#if !defined(_WIN32)
  // Binary data is never written to a terminal: `script` gives the tool one.
  const std::string tty = "script -qec \"'" + std::string(VARNIC_CLI) + "' compress '" + (dir_ / "astro.bmp").string() +
                          "' -o -\" /dev/null > /dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(tty.c_str())), 1);
#endif
}

TEST_F(CliTest, InfoPrintsHeaderFactsAsTextAndJson) {
  fs::copy_file(kData + "/conformance/cod/astronaut_comment.cod", dir_ / "c.cod");
  fs::copy_file(kData + "/conformance/cod/camera_q50.cod", dir_ / "g.cod");
  Outcome text = run("info c.cod");
  ASSERT_EQ(text.code, 0);
  for (const char* fact : {"256 x 192", "\"conformance\"", "Y 2757", "I 712", "Q 510"})
    EXPECT_NE(text.out.find(fact), std::string::npos) << fact << "\n" << text.out;
  Outcome json = run("info --json c.cod g.cod");
  ASSERT_EQ(json.code, 0);
  const std::size_t second = json.out.find('\n');
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(json.out.find("\"width\":256,\"height\":192,\"mode\":\"colour\",\"levels\":5"), std::string::npos);
  EXPECT_NE(json.out.find("\"dropped\":{\"y\":0,\"i\":2,\"q\":2}"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"mode\":\"grey\"", second), std::string::npos) << json.out;
}

// The optimizer behind the same searches, tuned either way: never above --target-size, and -v and
// info show what it chose.
TEST_F(CliTest, OptimizedTargetsHoldAndTheChoicesAreShown) {
  for (const char* level : {"1", "2", "3", "2 --tune ssim"}) {
    SCOPED_TRACE(level);
    for (int target : {2500, 12000}) {
      Outcome r = run("compress astro.bmp -f -v -O " + std::string(level) + " --target-size " + std::to_string(target));
      ASSERT_EQ(r.code, 0) << r.err;
      EXPECT_LE(fs::file_size(dir_ / "astro.cod"), static_cast<std::uintmax_t>(target));
      EXPECT_NE(r.err.find("distortion scale"), std::string::npos) << r.err;
    }
    Outcome psnr = run("compress astro.bmp -f -O " + std::string(level) + " --target-psnr 33");
    ASSERT_EQ(psnr.code, 0) << psnr.err;
    EXPECT_GE(std::stod(number_after(run("compare astro.bmp astro.cod").out, "PSNR RGB ")), 33.0);
  }
  EXPECT_NE(run("info astro.cod").out.find("steps Q"), std::string::npos);
  EXPECT_EQ(run("compress astro.bmp -f -O 4").code, 1);
}

}  // namespace
}  // namespace varnic::cli
