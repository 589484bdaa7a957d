// SPDX-License-Identifier: BSD-2-Clause
// The installed gdk-pixbuf loader through gdk-pixbuf itself: the pictures of the conformance files,
// reduced decodes for smaller requests, and errors for damaged files.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "varnic/varnic.h"
#include "viewers/cod_view.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kCod = VARNIC_TEST_DATA "/conformance/cod/";

// gdk-pixbuf reads its loader cache, and GIO the MIME database, on first use: the scratch install's.
const bool kScratchEnvironment = setenv("GDK_PIXBUF_MODULE_FILE", VARNIC_LOADER_CACHE, 1) == 0 &&
                                 setenv("XDG_DATA_DIRS", VARNIC_MIME_DATA ":/usr/share", 1) == 0;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Loaded {
  std::unique_ptr<GdkPixbuf, void (*)(gpointer)> pixbuf{nullptr, g_object_unref};
  std::string error;
};

// The whole picture, or exactly width x height.
Loaded load(const std::string& path, int width = 0, int height = 0) {
  GError* error = nullptr;
  Loaded loaded;
  loaded.pixbuf.reset(width > 0 ? gdk_pixbuf_new_from_file_at_scale(path.c_str(), width, height, FALSE, &error)
                                : gdk_pixbuf_new_from_file(path.c_str(), &error));
  if (error != nullptr) loaded.error = error->message;
  g_clear_error(&error);
  return loaded;
}

// RGB rows without the row padding; empty for no pixbuf.
Bytes rgb_rows(const Loaded& loaded) {
  Bytes rows;
  GdkPixbuf* p = loaded.pixbuf.get();
  for (int y = 0; p != nullptr && y < gdk_pixbuf_get_height(p); ++y) {
    const guchar* row = gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p);
    rows.insert(rows.end(), row, row + 3 * gdk_pixbuf_get_width(p));
  }
  return rows;
}

class PixbufLoaderTest : public testing::TestWithParam<const char*> {};

TEST_P(PixbufLoaderTest, LoadsTheDecodedPictureAndReducedOnesForSmallerRequests) {
  const std::string cod = kCod + GetParam() + ".cod";
  const Loaded reference = load(VARNIC_TEST_DATA "/conformance/decoded/" + std::string(GetParam()) + ".bmp");
  const Loaded full = load(cod);
  ASSERT_TRUE(full.pixbuf) << full.error;
  EXPECT_FALSE(gdk_pixbuf_get_has_alpha(full.pixbuf.get()));
  EXPECT_EQ(gdk_pixbuf_get_width(full.pixbuf.get()), gdk_pixbuf_get_width(reference.pixbuf.get()));
  EXPECT_EQ(rgb_rows(full), rgb_rows(reference));

  // A request of exactly a reduced size is served by that reduced decode, unscaled.
  const Bytes file = read_file(cod);
  const varnic::Info info = varnic::probe(file).value();
  for (varnic::DecodeOptions options; ++options.reduce < info.levels;) {
    const varnic::Picture picture = varnic::decode(file, options).value().picture;
    Bytes expected;
    for (std::size_t i = 0; i < picture.pixels.size(); ++i)
      expected.insert(expected.end(), info.grey ? 3 : 1, picture.pixels[i]);
    const Loaded small = load(cod, static_cast<int>(picture.width), static_cast<int>(picture.height));
    EXPECT_EQ(rgb_rows(small), expected) << "reduce " << options.reduce << small.error;
  }
}

INSTANTIATE_TEST_SUITE_P(Conformance, PixbufLoaderTest,
                         testing::Values("astronaut_q50", "astronaut_q99", "astronaut_comment_v24",
                                         "astronaut_comment_v23", "astronaut_comment_noZ", "camera_q50",
                                         "odd_37x21_q50", "tiny_9x5_g_q30"));

TEST(PixbufLoaderErrorTest, DamagedFilesGiveAnErrorNotAPicture) {
  const Bytes good = read_file(kCod + "astronaut_q50.cod");
  Bytes huge = good;  // 32767 x 32767 declared: past the pixel limit
  huge[16] = huge[18] = 0xFF;
  huge[17] = huge[19] = 0x7F;
  Bytes newer = good;
  newer[5] = '9';
  for (const Bytes& bytes : {Bytes(good.begin(), good.begin() + 2000), huge, newer}) {
    const std::string path = testing::TempDir() + "damaged.cod";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    const Loaded loaded = load(path);
    EXPECT_FALSE(loaded.pixbuf);
    EXPECT_FALSE(loaded.error.empty());
  }
}

// A stream that never ends is refused at the cap by the chunk that would cross it, before a byte
// of that chunk is copied: the chunk is an untouched mapping, so a loader that copied it anyway
// would also fail the test by the memory it takes.
TEST(PixbufLoaderErrorTest, AChunkCrossingTheFileCapIsRefusedUnread) {
  const std::size_t cap = varnic::viewers::max_file_bytes();
  void* chunk = mmap(nullptr, cap, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(chunk, MAP_FAILED);
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("cod", &error);
  ASSERT_NE(loader, nullptr) << error->message;
  const guchar first = 'C';
  EXPECT_TRUE(gdk_pixbuf_loader_write(loader, &first, 1, &error));
  EXPECT_FALSE(gdk_pixbuf_loader_write(loader, static_cast<const guchar*>(chunk), cap, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_TRUE(g_error_matches(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY)) << error->message;
  g_clear_error(&error);
  g_object_unref(loader);  // a failed write has closed it
  munmap(chunk, cap);
}

}  // namespace
