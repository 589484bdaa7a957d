// SPDX-License-Identifier: BSD-2-Clause
// The memory bound of every road from a file to pixels: small files declaring large pictures
// (versions 2.3 and 2.5, colour and grey, every level count) go through the command-line tool
// with every output format, a reduced decode, compare and info, through the library's decode,
// decode_rows and read_picture, the gdk-pixbuf loader and the Qt plugin whole and at a small size,
// and the thumbnailer, each in a process of its own under RLIMIT_AS of 4 bytes per pixel of the
// picture it makes plus 64 MiB (the programs of the test helper get their own mapped size on top).
// The two largest files also show that Qt's allocation limit still refuses what it refuses
// whole, while a small read of the same file keeps within its own picture's bound.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/cod_versions.h"
#include "tests/little_endian.h"
#include "varnic/varnic.h"
#include "viewers/cod_view.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kBytesPerPixel = 4;
constexpr std::uint64_t kSlack = std::uint64_t{64} << 20;
constexpr int kThumbnail = 256;  // the side a file manager asks the thumbnailer for

struct Bomb {
  int minor;
  bool colour;
  int levels;
  std::uint32_t width, height;
};

void PrintTo(const Bomb& b, std::ostream* out) {
  *out << "2." << b.minor << (b.colour ? " colour " : " grey ") << b.width << "x" << b.height << ", " << b.levels << " levels";
}

// A few hundred bytes declaring the picture: each plane a one-value table (0) and zero bytes, so
// it decodes flat, mid-grey.
Bytes bomb_file(const Bomb& b) {
  using varnic::test_bytes::store_u16;
  using varnic::test_bytes::store_u32;
  const std::size_t subbands = 3 * static_cast<std::size_t>(b.levels) + 1;
  const std::size_t restart_at = 38 + 12 * subbands, data_at = restart_at + 18 + 6 * subbands + 2;
  Bytes file = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z'};
  file.resize(data_at, 0);
  store_u16(file, 14, static_cast<std::uint32_t>(data_at - 8));
  store_u16(file, 16, b.width);
  store_u16(file, 18, b.height);
  store_u16(file, 34, b.colour ? 62 : 61);
  store_u16(file, 36, static_cast<std::uint32_t>(b.levels));
  for (std::size_t k = 0; k < 6 * subbands; ++k) store_u16(file, 38 + 2 * k, k % 2 == 0 ? 10 : 0xfff6);
  store_u16(file, restart_at + 12, 128);  // Y's pixel offset
  for (std::size_t k = 0; k < 3 * subbands; ++k) store_u16(file, restart_at + 18 + 2 * k, 1);
  for (int c = 0; c < (b.colour ? 3 : 1); ++c) {
    file.insert(file.end(), {1, 128, 0, 0, 0, 0});
    store_u32(file, 22 + 4 * static_cast<std::size_t>(c), static_cast<std::uint32_t>(file.size()));
  }
  return b.minor == 5 ? file : varnic::fuzz::rewrite_as_version(file, b.minor);
}

// Runs `argv` with the address space limited to `limit` bytes (0: the program sets its own),
// its output discarded, the environment given added; gives the exit status, -1 for a signal.
int run_limited(const std::vector<std::string>& argv, std::uint64_t limit, const std::vector<std::string>& env = {}) {
  const pid_t child = fork();
  if (child == 0) {
    const rlimit as{limit, limit};
    if (limit != 0 && setrlimit(RLIMIT_AS, &as) != 0) _exit(120);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(121);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::uint64_t bound(std::uint64_t pixels) { return kBytesPerPixel * pixels + kSlack; }

class BoundTest : public testing::TestWithParam<Bomb> {};

TEST_P(BoundTest, EveryRoadKeepsWithinFourBytesAPixelOfItsPicture) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves terabytes of address space";
#endif
  const Bomb b = GetParam();
  const Bytes bytes = bomb_file(b);
  ASSERT_LT(bytes.size(), 1024u);  // a header and a few bytes a plane
  const std::string path = testing::TempDir() + "bomb_" + std::to_string(b.minor) + (b.colour ? "c" : "g") +
                           std::to_string(b.levels) + "_" + std::to_string(b.width) + ".cod";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const varnic::Info info = varnic::probe(bytes).value();
  const std::uint64_t pixels = std::uint64_t{b.width} * b.height;
  const int smallest = info.levels - 1;
  const auto reduced = varnic::viewers::reduced_size(info, smallest);
  const std::uint64_t reduced_pixels = std::uint64_t{reduced.width} * reduced.height;

  const std::string cli = VARNIC_CLI;
  for (const char* format : {"bmp", "tga", "png", "pnm"}) {
    EXPECT_EQ(run_limited({cli, "decompress", "--format", format, "-o", "-", path}, bound(pixels)), 0) << format;
  }
  EXPECT_EQ(run_limited({cli, "decompress", "--reduce", std::to_string(smallest), "-o", "-", path}, bound(reduced_pixels)), 0)
      << "reduced";
  EXPECT_EQ(run_limited({cli, "compare", path, path}, bound(2 * pixels)), 0) << "compare: two pictures";
  EXPECT_EQ(run_limited({cli, "info", path}, bound(0)), 0) << "info";

  const std::string helper = VARNIC_BOUND_ROAD;
  const std::vector<std::vector<std::string>> roads = {
      {"decode", "0"}, {"decode", std::to_string(smallest)}, {"rows", "0"}, {"read", "0"},
#if defined(VARNIC_BOUND_PIXBUF)
      {"pixbuf", "0"}, {"pixbuf", std::to_string(kThumbnail)},
#endif
#if defined(VARNIC_BOUND_QT)
      {"qt", "0"}, {"qt-limited", std::to_string(kThumbnail)},
#endif
  };
  const std::vector<std::string> viewer_env = {"GDK_PIXBUF_MODULE_FILE=" VARNIC_LOADER_CACHE,
                                               "XDG_DATA_DIRS=" VARNIC_MIME_DATA ":/usr/share",
                                               "QT_PLUGIN_PATH=" VARNIC_QT_PLUGINS};
  for (const auto& road : roads) {
    EXPECT_EQ(run_limited({helper, road[0], road[1], path}, 0, viewer_env), 0) << road[0] << " " << road[1];
  }
#if defined(VARNIC_BOUND_QT)
  // Qt's own limit (128 MB unless the program sets another) refuses the whole of the largest.
  if (3 * pixels > (std::uint64_t{128} << 20)) {
    EXPECT_EQ(run_limited({helper, "qt-limited", "0", path}, 0, viewer_env), 2);
  }
#endif
#if defined(VARNIC_BOUND_PIXBUF)
  // The thumbnailer as a file manager runs it: the loader decodes the smallest reduced picture that
  // covers the thumbnail's side.
  const auto fitted = b.width >= b.height ? varnic::viewers::PictureSize{kThumbnail, std::max(1u, b.height * kThumbnail / b.width)}
                                          : varnic::viewers::PictureSize{std::max(1u, b.width * kThumbnail / b.height), kThumbnail};
  const auto thumb = varnic::viewers::reduced_size(info, varnic::viewers::choose_reduce(info, fitted));
  const std::string png = path + ".png";  // one per case: ctest runs cases side by side
  EXPECT_EQ(run_limited({"gdk-pixbuf-thumbnailer", "-s", std::to_string(kThumbnail), "file://" + path, png},
                        bound(std::uint64_t{thumb.width} * thumb.height), viewer_env),
            0) << "thumbnailer";
  EXPECT_EQ(access(png.c_str(), F_OK), 0) << "thumbnailer wrote nothing";
  std::remove(png.c_str());
#endif
  std::remove(path.c_str());
}

std::vector<Bomb> bombs() {
  std::vector<Bomb> all;
  for (const int minor : {3, 5})
    for (const bool colour : {false, true})
      for (int levels = 1; levels <= 10; ++levels) all.push_back({minor, colour, levels, 2047, 2049});
  // Large enough that a road spending 6 bytes a pixel cannot hide in the 64 MiB.
  all.push_back({5, true, 5, 8192, 8192});
  all.push_back({3, true, 5, 8192, 8192});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Bombs, BoundTest, testing::ValuesIn(bombs()), [](const testing::TestParamInfo<Bomb>& i) {
  return "v2" + std::to_string(i.param.minor) + (i.param.colour ? "_colour_" : "_grey_") + std::to_string(i.param.width) +
         "_L" + std::to_string(i.param.levels);
});

}  // namespace
