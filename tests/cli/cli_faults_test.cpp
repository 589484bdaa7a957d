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
    std::vector<char*> argv{const_cast<char*>(program_.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program_.c_str(), argv.data());
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
  bool no_hidden_files(const fs::path& folder = {}) {
    return std::none_of(fs::directory_iterator(folder.empty() ? dir_ : folder), fs::directory_iterator(),
                        [](const fs::directory_entry& e) { return e.path().filename().string()[0] == '.'; });
  }
  // large.cod, whose decoded bitmap takes a while to write.
  void make_large() {
    std::string ppm = "P6 1500 1500 255\n";
    for (int i = 0; i < 1500 * 1500 * 3; ++i) ppm.push_back(static_cast<char>((i * 7) ^ (i >> 11)));
    write_file(dir_ / "large.ppm", ppm);
    ASSERT_EQ(run({"compress", "large.ppm", "-q", "20"}).code, 0);
  }
  // Starts the tool and waits for the first file it makes in dir_ (inotify sees a name only).
  pid_t start_until_created(const std::vector<std::string>& args, const std::function<void()>& child = {}) {
    const int watch = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch, dir_.c_str(), IN_CREATE);
    const pid_t pid = start(args, child);
    alignas(inotify_event) char event[sizeof(inotify_event) + 256];
    if (read(watch, event, sizeof event) <= 0) ADD_FAILURE() << "nothing was made";
    close(watch);
    return pid;
  }

  // For a child that drops to user nobody (as root every file is readable and threads are not
  // limited): the tool and its library are copied beside the work folder, since the build tree
  // may lie where nobody cannot enter (under /root). False when nobody still cannot run it.
  bool run_as_nobody() {
    for (const fs::path& p : {root_, dir_}) fs::permissions(p, fs::perms::all);
    const fs::path bin = root_ / "bin";
    fs::create_directory(bin);
    fs::copy_file(VARNIC_CLI, bin / "varnic-cli");
    for (const fs::directory_entry& e : fs::directory_iterator(fs::path(VARNIC_LIB).parent_path())) {
      if (e.path().filename().string().starts_with("libvarnic.so")) fs::copy_file(e.path(), bin / e.path().filename());
    }
    fs::permissions(bin, fs::perms::all);
    program_ = (bin / "varnic-cli").string();
    return run({"--version"}, [this] { become_nobody(); }).code == 0;
  }
  void become_nobody() {
    setenv("LD_LIBRARY_PATH", (root_ / "bin").c_str(), 1);
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(122);
  }

  fs::path root_;
  fs::path dir_;
  std::string program_ = VARNIC_CLI;
};

void limit(int resource, rlim_t value) {
  const rlimit r{value, value};
  setrlimit(resource, &r);
}

TEST_F(CliFaultTest, BatchFallsBackToFewerWorkersWhenThreadsCannotStart) {
  if (!run_as_nobody()) GTEST_SKIP() << "user nobody cannot run a copy of the tool in " << root_;
  fs::create_directory(dir_ / "out");
  fs::permissions(dir_ / "out", fs::perms::all);
  std::vector<std::string> compress = {"compress", "-j", "8", "--quiet"};
  std::vector<std::string> decompress = {"decompress", "-j", "8", "--quiet", "-d", "out"};
  for (const char* name : {"p1", "p2", "p3", "p4", "p5", "p6"}) {
    fs::copy_file(dir_ / "small.bmp", dir_ / (name + std::string(".bmp")));
    compress.push_back(name + std::string(".bmp"));
    decompress.push_back(name + std::string(".cod"));
  }
  // No new thread for this user: the superuser is exempt, so the child becomes nobody.
  auto no_threads = [this] {
    become_nobody();
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
  make_large();
  write_file(dir_ / "large.bmp", "old");
  const pid_t pid = start_until_created({"decompress", "large.cod", "-f"});
  kill(pid, SIGTERM);
  Outcome r = finish(pid);
  EXPECT_TRUE(no_hidden_files());
  const std::uintmax_t size = fs::file_size(dir_ / "large.bmp");
  EXPECT_TRUE(size == 3 || size == 54 + 1500 * 4500) << size;  // the old file or the whole new one
  EXPECT_TRUE(r.code == 0 || r.code == 128 + SIGTERM) << r.code << r.err;

  // Where unnamed files are unavailable, every signal that ends the tool removes the named
  // temporary file it is writing, as SIGTERM does.
  // (A sanitizer's runtime must come first among preloaded libraries: no shim then.)
  for (int sig : {SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU}) {
    if (kSanitized) break;
    fs::remove(dir_ / "large.bmp");
    const pid_t named = start_until_created({"decompress", "large.cod"}, [] { setenv("LD_PRELOAD", NO_TMPFILE, 1); });
    kill(named, sig);
    Outcome ended = finish(named);
    EXPECT_EQ(ended.code, 128 + sig) << sig << ended.err;
    EXPECT_TRUE(no_hidden_files()) << sig;
  }

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

// A link whose file is missing is still something at the output: without -f it is neither
// replaced nor written through.
TEST_F(CliFaultTest, ADanglingLinkAtTheOutputIsAnExistingOutput) {
  fs::create_symlink("missing.cod", dir_ / "link.cod");
  Outcome r = run({"compress", "small.bmp", "-o", "link.cod"});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("-f"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.cod"));
  EXPECT_FALSE(fs::exists(dir_ / "missing.cod"));
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

// Descriptors 1 and 2 closed: a file opened for an output must not become "standard error" for
// the other threads' messages.
TEST_F(CliFaultTest, ClosedStandardStreamsNeverReachAnOutput) {
  fs::create_directories(dir_ / "out");
  fs::create_directories(dir_ / "want");
  std::vector<std::string> args = {"decompress", "-j", "3", "-d", "out"};
  const Bytes cod = read_file(dir_ / "astro.cod");
  for (int k = 0; k < 16; ++k) {
    const std::string good = "good" + std::to_string(k) + ".cod";
    const std::string bad = "bad" + std::to_string(k) + ".cod";
    write_file(dir_ / good, cod);
    write_file(dir_ / bad, Bytes(cod.begin(), cod.begin() + 40));  // a header cut short: an error line
    args.insert(args.end(), {good, bad});
  }
  ASSERT_EQ(run({"decompress", "astro.cod", "-o", "want/astro.bmp"}).code, 0);
  const Bytes want = read_file(dir_ / "want/astro.bmp");
  Outcome r = run(args, [] {
    close(1);
    close(2);
  });
  EXPECT_EQ(r.code, 2);
  for (int k = 0; k < 16; ++k) {
    const fs::path good = dir_ / "out" / ("good" + std::to_string(k) + ".bmp");
    EXPECT_TRUE(read_file(good) == want) << good << " holds " << fs::file_size(good) << " bytes";
    EXPECT_FALSE(fs::exists(dir_ / "out" / ("bad" + std::to_string(k) + ".bmp")));
  }
}

// -f to an output that does not exist yet: the finished unnamed file is linked under the output's
// name at once, with no hidden name that a SIGKILL could leave behind.
TEST_F(CliFaultTest, ForceLinksANewOutputWithoutAnIntermediateName) {
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(inotify_add_watch(watch, dir_.c_str(), IN_CREATE | IN_MOVED_TO), 0);
  ASSERT_EQ(run({"compress", "astro.bmp", "-o", "new.cod", "-f"}).code, 0);
  std::vector<std::string> made;
  alignas(inotify_event) char events[4096];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
    for (char* at = events; at < events + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len > 0) made.emplace_back(event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  // The two result files of the harness are made outside the folder.
  EXPECT_EQ(made, std::vector<std::string>{"new.cod"});
}

// SIGKILL at any moment of a write leaves no temporary file: the output is absent or complete.
TEST_F(CliFaultTest, SigkillLeavesNothingBehind) {
  make_large();
  for (int delay_ms : {0, 40, 120, 250, 400}) {
    fs::remove(dir_ / "large.bmp");
    const pid_t pid = start({"decompress", "large.cod", "-f"});
    usleep(static_cast<useconds_t>(delay_ms) * 1000);
    kill(pid, SIGKILL);
    finish(pid);
    EXPECT_TRUE(no_hidden_files()) << delay_ms;
    if (fs::exists(dir_ / "large.bmp")) {
      EXPECT_EQ(fs::file_size(dir_ / "large.bmp"), 54u + 1500 * 4500) << delay_ms;
    }
  }
}

// Standard input is judged by its first bytes, so an endless stream of something else is refused
// without being taken into memory. A file too large for memory is refused with its name, but for
// info, which reads only its header.
TEST_F(CliFaultTest, EndlessInputAndHugeFilesAreRefusedByName) {
  if (kSanitized) GTEST_SKIP() << "address-space limits";
  const int zero = open("/dev/zero", O_RDONLY);
  Outcome endless = finish(start({"compress", "-", "-o", "zero.cod"}, [] { limit(RLIMIT_AS, rlim_t{128} << 20); }, zero));
  close(zero);
  EXPECT_EQ(endless.code, 2) << endless.err;
  EXPECT_NE(endless.err.find("-: "), std::string::npos) << endless.err;

  // A valid header followed by 3.9 GB of nothing (a sparse file).
  const fs::path huge = dir_ / "huge.cod";
  fs::copy_file(dir_ / "astro.cod", huge);
  fs::resize_file(huge, std::uintmax_t{3900} << 20);
  auto small_memory = [] { limit(RLIMIT_AS, rlim_t{96} << 20); };
  // info needs the header alone.
  Outcome info = run({"info", "--json", "huge.cod"}, small_memory);
  EXPECT_EQ(info.code, 0) << info.err;
  const Bytes out = read_file(root_ / "stdout");
  EXPECT_NE(std::string(out.begin(), out.end()).find("\"file_bytes\":" + std::to_string(std::uint64_t{3900} << 20)),
            std::string::npos);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"compare", "astro.bmp", "huge.cod", "--max-pixels", "1000000000"},
                                             {"decompress", "huge.cod", "--max-pixels", "1000000000"}}) {
    Outcome r = run(args, small_memory);
    EXPECT_TRUE(r.code == 2 || r.code == 4) << r.code << r.err;
    EXPECT_NE(r.err.find("huge.cod"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("bad_alloc"), std::string::npos) << r.err;
  }
}

// More files at once than memory allows: those that run short are done again with fewer at once,
// and every output is written, with the bytes of a batch run one at a time.
TEST_F(CliFaultTest, ABatchShortOfMemoryTriesAgainWithFewerFilesAtOnce) {
  if (kSanitized) GTEST_SKIP() << "address-space limits";
  std::string ppm = "P6 800 600 255\n";
  for (int i = 0; i < 800 * 600 * 3; ++i) ppm.push_back(static_cast<char>((i * 13) ^ (i >> 9)));
  std::vector<std::string> args = {"compress", "-O", "1", "-d", "many", "-j", "8"};
  for (int k = 0; k < 8; ++k) {
    ppm[static_cast<std::size_t>(20 + k)] = static_cast<char>(k);
    write_file(dir_ / ("p" + std::to_string(k) + ".ppm"), ppm);
    args.push_back("p" + std::to_string(k) + ".ppm");
  }
  fs::create_directories(dir_ / "many");
  fs::create_directories(dir_ / "one");
  std::vector<std::string> one_at_a_time = args;
  one_at_a_time[4] = "one";
  one_at_a_time[6] = "1";
  ASSERT_EQ(run(one_at_a_time).code, 0);
  // Room for one picture's work and a little more, not for eight at once.
  Outcome r = run(args, [] { limit(RLIMIT_AS, rlim_t{200} << 20); });
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("tried again with fewer files at once"), std::string::npos) << r.err;
  for (int k = 0; k < 8; ++k) {
    const std::string name = "p" + std::to_string(k) + ".cod";
    EXPECT_TRUE(read_file(dir_ / "many" / name) == read_file(dir_ / "one" / name)) << name;
  }
}

TEST_F(CliFaultTest, AnUnreadableInputIsNamedWithTheSystemsReason) {
  if (!run_as_nobody()) GTEST_SKIP() << "user nobody cannot run a copy of the tool in " << root_;
  fs::permissions(dir_ / "small.bmp", fs::perms::none);
  fs::create_directory(dir_ / "locked");  // a folder -r cannot walk is reported on its own road
  fs::permissions(dir_ / "locked", fs::perms::none);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"compress", "small.bmp", "-o", "x.cod"}, {"compare", "small.bmp", "astro.bmp"}, {"info", "small.bmp"},
           {"compress", "-r", "locked", "-d", "out"}}) {
    Outcome r = run(args, [this] { become_nobody(); });
    EXPECT_EQ(r.code, 2) << args[0];
    const std::string& named = args[1] == "-r" ? args[2] : args[1];
    EXPECT_NE(r.err.find(named + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::strerror(EACCES)), std::string::npos) << r.err;
  }
}

}  // namespace
