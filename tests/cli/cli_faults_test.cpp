// SPDX-License-Identifier: BSD-2-Clause
// varnic-cli under faults a user or a cluster throws at it: resource limits, signals, pipes, races,
// hostile sizes and tricky paths. Each case runs the built tool in a forked child whose limits are
// set before exec.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "cli_test_util.h"

namespace {

using namespace varnic::cli::testing;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // ASan reserves terabytes of address space: no RLIMIT_AS
#else
constexpr bool kSanitized = false;
#endif

struct Outcome {
  int code = -1;  // as a shell reports it: 128 + signal for a killed process
  std::string err;
};

class CliFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnic-cli-faults-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    dir_ = root_ / "work";
    fs::create_directory(dir_);
    fs::copy_file(kData + "/conformance/pics/astronaut_256x192.bmp", dir_ / "astro.bmp");
    fs::copy_file(kData + "/conformance/pics/astronaut_64x48.bmp", dir_ / "small.bmp");
    fs::copy_file(kData + "/conformance/cod/astronaut_q50.cod", dir_ / "astro.cod");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts the tool in dir_ with stdin from `in` (or /dev/null); `child` runs after fork.
  pid_t start(const std::vector<std::string>& args, const std::function<void()>& child = {}, int in = -1) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(dir_.c_str()) != 0) _exit(120);
    dup2(in >= 0 ? in : open("/dev/null", O_RDONLY), 0);
    dup2(open((root_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 1);
    dup2(open((root_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
    if (child) child();
    std::vector<char*> argv{const_cast<char*>(VARNIC_CLI)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VARNIC_CLI, argv.data());
    _exit(121);
  }
  Outcome finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes err = read_file(root_ / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), std::string(err.begin(), err.end())};
  }
  Outcome run(const std::vector<std::string>& args, const std::function<void()>& child = {}) {
    return finish(start(args, child));
  }
  // Hidden leftovers such as temporary files.
  bool no_hidden_files() {
    return std::none_of(fs::directory_iterator(dir_), fs::directory_iterator(),
                        [](const fs::directory_entry& e) { return e.path().filename().string()[0] == '.'; });
  }

  fs::path root_;
  fs::path dir_;
};

void limit(int resource, rlim_t value) {
  const rlimit r{value, value};
  setrlimit(resource, &r);
}

TEST_F(CliFaultTest, BatchFallsBackToFewerWorkersWhenThreadsCannotStart) {
  fs::create_directory(dir_ / "out");
  for (const fs::path& p : {root_, dir_, dir_ / "out"}) fs::permissions(p, fs::perms::all);
  std::vector<std::string> compress = {"compress", "-j", "8", "--quiet"};
  std::vector<std::string> decompress = {"decompress", "-j", "8", "--quiet", "-d", "out"};
  for (const char* name : {"p1", "p2", "p3", "p4", "p5", "p6"}) {
    fs::copy_file(dir_ / "small.bmp", dir_ / (name + std::string(".bmp")));
    compress.push_back(name + std::string(".bmp"));
    decompress.push_back(name + std::string(".cod"));
  }
  // No new thread for this user: the superuser is exempt, so the child becomes nobody.
  auto no_threads = [] {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(122);
    limit(RLIMIT_NPROC, 1);
    if (kSanitized) setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the leak check needs a thread
  };
  for (const auto& args : {compress, decompress}) {
    Outcome r = run(args, no_threads);
    EXPECT_EQ(r.code, 0) << r.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 6);
}

TEST_F(CliFaultTest, FifoInputsAreRefusedAtOnce) {
  ASSERT_EQ(mkfifo((dir_ / "pipe.bmp").c_str(), 0600), 0);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"compress", "pipe.bmp", "-o", "x.cod"},
           {"decompress", "pipe.bmp", "-o", "x.bmp"},
           {"info", "pipe.bmp"},
           {"compare", "astro.bmp", "pipe.bmp"}}) {
    Outcome r = run(args, [] { alarm(10); });
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_NE(r.err.find("pipe.bmp"), std::string::npos) << r.err;
  }
}

// A PNG whose pixel data is a few zero bytes, whatever its header says.
std::string header_only_png(std::uint32_t width, std::uint32_t height, std::uint8_t colour_type) {
  auto be32 = [](std::uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  auto chunk = [&](const std::string& type_and_data) {
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(type_and_data.data()), static_cast<uInt>(type_and_data.size()));
    return be32(static_cast<std::uint32_t>(type_and_data.size() - 4)) + type_and_data + be32(static_cast<std::uint32_t>(crc));
  };
  Bytef idat[64];
  uLongf idat_size = sizeof idat;
  const Bytef zeros[16] = {};
  compress(idat, &idat_size, zeros, sizeof zeros);
  std::string png("\x89PNG\r\n\x1a\n", 8);
  png += chunk("IHDR" + be32(width) + be32(height) + std::string{8, char(colour_type), 0, 0, 0});
  png += chunk("IDAT" + std::string(reinterpret_cast<const char*>(idat), idat_size));
  return png + chunk("IEND");
}

TEST_F(CliFaultTest, HostileSizesAreBadInputWithoutTakingMemory) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> args;
    int code;
  };
  Bytes cod = read_file(dir_ / "astro.cod");
  cod[16] = cod[18] = 0xFF;  // a 32767 x 32767 header: nothing to allocate for `info`
  cod[17] = cod[19] = 0x7F;
  const std::string big_cod(cod.begin(), cod.end());
  std::string bomb = "P6 1467838388 4189095163 255\n";  // width * height * 3 wraps to 116 bytes
  bomb.resize(150, 'x');
  std::string wide_bmp(reinterpret_cast<const char*>(read_file(dir_ / "small.bmp").data()), 54);
  wide_bmp[18] = char(0x40), wide_bmp[19] = char(0x9C);  // width 40000
  std::string wide_tga = std::string{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, char(0x40), char(0x9C), 1, 0, 24, 0};
  const Case cases[] = {
      {"bomb.ppm", bomb, {"compare", "bomb.ppm", "bomb.ppm", "--max-pixels", "18446744073709551615"}, 2},
      {"grey.png", header_only_png(16384, 16384, 0), {"compress", "grey.png"}, 2},
      {"p3.ppm", "P3 16384 16384 255", {"compress", "p3.ppm"}, 2},
      {"p2.pgm", "P2 16384 16384 255", {"compress", "p2.pgm"}, 2},
      // A side beyond the format's limit is bad input in every format.
      {"wide.png", header_only_png(40000, 1, 2), {"compress", "wide.png"}, 2},
      {"wide.pgm", std::string("P5 40000 1 255\n").append(40000, 'x'), {"compress", "wide.pgm"}, 2},
      {"wide.bmp", wide_bmp, {"compress", "wide.bmp"}, 2},
      {"wide.tga", wide_tga, {"compress", "wide.tga"}, 2},
      {"big.cod", big_cod, {"info", "big.cod"}, 0},
  };
  for (const Case& c : cases) {
    write_file(dir_ / c.name, c.bytes);
    Outcome r = run(c.args, [] {
      if (!kSanitized) limit(RLIMIT_AS, rlim_t{64} << 20);
    });
    EXPECT_EQ(r.code, c.code) << c.name << ": " << r.err;
  }
}

TEST_F(CliFaultTest, SignalsRemoveTheTemporaryFileAndExitWithTheSignal) {
  // A picture large enough that writing its bitmap takes a while.
  std::string ppm = "P6 1500 1500 255\n";
  for (int i = 0; i < 1500 * 1500 * 3; ++i) ppm.push_back(static_cast<char>((i * 7) ^ (i >> 11)));
  write_file(dir_ / "large.ppm", ppm);
  ASSERT_EQ(run({"compress", "large.ppm", "-q", "20"}).code, 0);
  write_file(dir_ / "large.bmp", "old");
  const int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(watch, dir_.c_str(), IN_CREATE), 0);
  const pid_t pid = start({"decompress", "large.cod", "-f"});
  alignas(inotify_event) char event[sizeof(inotify_event) + 256];
  ASSERT_GT(read(watch, event, sizeof event), 0);  // the first file made in the folder
  kill(pid, SIGTERM);
  Outcome r = finish(pid);
  close(watch);
  EXPECT_TRUE(no_hidden_files());
  const std::uintmax_t size = fs::file_size(dir_ / "large.bmp");
  EXPECT_TRUE(size == 3 || size == 54 + 1500 * 4500) << size;  // the old file or the whole new one
  EXPECT_TRUE(r.code == 0 || r.code == 128 + SIGTERM) << r.code << r.err;

  // Interrupted while reading a pipe: status 128 + signal, a message, nothing written.
  for (int sig : {SIGTERM, SIGINT}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t reader = start({"compress", "-", "-o", "piped.cod"}, {}, fds[0]);
    close(fds[0]);
    EXPECT_EQ(write(fds[1], "BM", 2), 2);
    usleep(200 * 1000);
    kill(reader, sig);
    Outcome piped = finish(reader);
    close(fds[1]);
    EXPECT_EQ(piped.code, 128 + sig);
    EXPECT_FALSE(piped.err.empty());
    EXPECT_FALSE(fs::exists(dir_ / "piped.cod"));
  }
}

TEST_F(CliFaultTest, FileSizeLimitIsACannotWriteFailure) {
  write_file(dir_ / "small.cod", "old");
  // SIGXFSZ keeps its default action here: the tool must not die of it.
  Outcome r = run({"compress", "astro.bmp", "-o", "small.cod", "-f"}, [] { limit(RLIMIT_FSIZE, 2048); });
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir_ / "small.cod"), (Bytes{'o', 'l', 'd'}));
  EXPECT_TRUE(no_hidden_files());
}

TEST_F(CliFaultTest, ConcurrentWritersWithoutForceNeverBothSucceed) {
  for (int round = 0; round < 8; ++round) {
    fs::remove(dir_ / "same.cod");
    const pid_t a = start({"compress", "astro.bmp", "-o", "same.cod"});
    const pid_t b = start({"compress", "small.bmp", "-o", "same.cod"});
    const int codes[2] = {finish(a).code, finish(b).code};
    ASSERT_EQ(std::min(codes[0], codes[1]), 0) << round;
    ASSERT_EQ(std::max(codes[0], codes[1]), 3) << round;
  }
}

TEST_F(CliFaultTest, OutputsAreComparedAsResolvedFiles) {
  fs::create_directory(dir_ / "d");
  fs::copy_file(dir_ / "small.bmp", dir_ / "d/pic.bmp");
  fs::copy_file(dir_ / "small.bmp", dir_ / "d/pic.tga");
  fs::create_directory_symlink("d", dir_ / "link");
  for (const std::string& other : {(dir_ / "d/pic.tga").string(), std::string("link/pic.tga")}) {
    EXPECT_EQ(run({"compress", "d/pic.bmp", other, "-f", "-j", "2"}).code, 1) << other;
    EXPECT_FALSE(fs::exists(dir_ / "d/pic.cod"));
  }
  // The same file as output and input is refused, -f or not.
  fs::copy_file(dir_ / "small.bmp", dir_ / "pic.cod");
  EXPECT_EQ(run({"compress", "pic.cod", "-o", "pic.cod", "-f"}).code, 1);
  EXPECT_EQ(read_file(dir_ / "pic.cod"), read_file(dir_ / "small.bmp"));
  EXPECT_EQ(run({"decompress", "astro.cod", "-o", "link/../astro.cod", "--format", "bmp", "-f"}).code, 1);
  EXPECT_EQ(read_file(dir_ / "astro.cod"), read_file(kData + "/conformance/cod/astronaut_q50.cod"));

  // A name of 250 bytes leaves no room for a temporary name's prefix and suffix; -f makes one.
  const std::string name = std::string(246, 'n') + ".cod";
  Outcome r = run({"compress", "small.bmp", "-o", name, "-f"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / name));
  EXPECT_TRUE(no_hidden_files());
}

TEST_F(CliFaultTest, OutputExtensionMustMatchWhatIsWritten) {
  fs::copy_file(kData + "/conformance/cod/camera_q50.cod", dir_ / "grey.cod");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"decompress", "astro.cod", "-o", "a.jpg"},
           {"decompress", "astro.cod", "-o", "a.pam"},
           {"decompress", "astro.cod", "-o", "noext"},
           {"decompress", "astro.cod", "-o", "colour.pgm"},
           {"decompress", "grey.cod", "-o", "grey.ppm"},
           {"compress", "astro.bmp", "-o", "out.png"}}) {
    EXPECT_EQ(run(args).code, 1) << args[3];
    EXPECT_FALSE(fs::exists(dir_ / args[3])) << args[3];
  }
  EXPECT_EQ(run({"decompress", "astro.cod", "-o", "a.jpg", "--format", "png"}).code, 0);
  EXPECT_EQ(read_file(dir_ / "a.jpg")[1], 'P');
}

TEST_F(CliFaultTest, ErrorsNameTheCauseAndTheOption) {
  fs::create_directory(dir_ / "folder.bmp");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> wanted;
  };
  const Case cases[] = {
      {{"compress", "missing.bmp"}, 2, {"missing.bmp", std::strerror(ENOENT)}},
      {{"compress", "folder.bmp"}, 2, {"folder.bmp", std::strerror(EISDIR)}},
      {{"compress", "astro.bmp", "small.bmp", "-d", "nowhere"}, 3, {"nowhere", std::strerror(ENOENT)}},
      {{"compress", "astro.bmp", "--qvec-y", "1,2,3"}, 1, {"--quant-y", "16", "got 3"}},
      {{"compress", "astro.bmp", "--dropped", "0,5,5"}, 1, {"--dropped"}},
      {{"compress", "astro.bmp", "-o", "x.cod", "--max-pixels", "1000"}, 4, {"256x192", "1000"}},
      {{"decompress", "astro.cod", "-o", "x.bmp", "--max-pixels", "1000"}, 4, {"256x192", "1000"}},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[1];
    for (const std::string& w : c.wanted) EXPECT_NE(r.err.find(w), std::string::npos) << w << " in " << r.err;
    EXPECT_EQ(r.err.find("!!!"), std::string::npos) << r.err;  // not the dialog's wording
  }
  // The missing folder is reported once, not once per input.
  Outcome r = run(cases[2].args);
  EXPECT_EQ(r.err.find("nowhere"), r.err.rfind("nowhere")) << r.err;
}

}  // namespace
