// SPDX-License-Identifier: BSD-2-Clause
// The gdk-pixbuf loader's entry points on arbitrary bytes, called the way gdk-pixbuf calls them:
// begin_load, the file in chunks through load_increment, then stop_load, with a size callback that
// asks for a smaller picture. Beyond not crashing: a load succeeds exactly when the library decodes
// the file, hands over one pixbuf of the reduced size that still covers the request, with the
// library's pixels, and a failure always sets an error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>

#include "fuzz/picture_checks.h"
#include "varnic/varnic.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

using varnic::fuzz::kPixelLimit;
using varnic::fuzz::require;

namespace {

struct Calls {
  int wanted_width = 0;
  int wanted_height = 0;
  int prepared = 0;
  GdkPixbuf* pixbuf = nullptr;
};

void size_func(gint* width, gint* height, gpointer data) {
  auto* calls = static_cast<Calls*>(data);
  require(*width >= 1 && *height >= 1, "the size offered is a picture's");
  if (calls->wanted_width > 0) {
    *width = calls->wanted_width;
    *height = calls->wanted_height;
  }
}

void prepared_func(GdkPixbuf* pixbuf, GdkPixbufAnimation*, gpointer data) {
  auto* calls = static_cast<Calls*>(data);
  ++calls->prepared;
  calls->pixbuf = GDK_PIXBUF(g_object_ref(pixbuf));
}

void updated_func(GdkPixbuf*, int, int, int, int, gpointer) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  // The loader keeps the library's own pixel limit; the target explores structure, not allocation.
  const auto probed = varnic::probe(file, varnic::Limits{kPixelLimit});
  if (!probed.ok() && probed.status() == varnic::Status::kLimitExceeded) return 0;

  static GdkPixbufModule module = [] {
    GdkPixbufModule m{};
    fill_vtable(&m);
    return m;
  }();

  // The last byte picks the chunk size and the request: none, or 2/d of each side for d = 1..7
  // (twice the size down to a seventh of it).
  const unsigned pick = size > 0 ? data[size - 1] : 0;
  const unsigned d = pick & 7;
  Calls calls;
  if (probed.ok() && d != 0) {
    calls.wanted_width = std::max(1, static_cast<int>(probed.value().width * 2 / d));
    calls.wanted_height = std::max(1, static_cast<int>(probed.value().height * 2 / d));
  }
  const size_t chunk = 1 + (pick >> 3) * 61;

  GError* error = nullptr;
  gpointer context = module.begin_load(size_func, prepared_func, updated_func, &calls, &error);
  require(context != nullptr, "begin_load starts");
  bool ok = true;
  for (size_t at = 0; ok && at < size; at += chunk) {
    const size_t n = size - at < chunk ? size - at : chunk;
    ok = module.load_increment(context, data + at, static_cast<guint>(n), &error) != FALSE;
  }
  require(ok, "a file within the size limit is buffered");
  ok = module.stop_load(context, &error) != FALSE;
  require(ok == (error == nullptr), "a failure sets an error, a success none");

  int reduce = 0;
  if (probed.ok() && calls.wanted_width > 0) {
    const auto& info = probed.value();
    while (reduce + 1 < info.levels && ((info.width - 1) >> (reduce + 1)) + 1 >= static_cast<unsigned>(calls.wanted_width) &&
           ((info.height - 1) >> (reduce + 1)) + 1 >= static_cast<unsigned>(calls.wanted_height))
      ++reduce;
  }
  varnic::DecodeOptions options;
  options.reduce = reduce;
  const auto decoded = varnic::decode(file, options);
  require(ok == decoded.ok(), "the loader succeeds exactly when the library decodes");
  if (!ok) {
    require(calls.prepared == 0, "a failed load hands over no picture");
    g_error_free(error);
    return 0;
  }
  require(calls.prepared == 1 && calls.pixbuf != nullptr, "a load hands over one picture");
  const varnic::Picture& picture = decoded.value().picture;
  require(gdk_pixbuf_get_width(calls.pixbuf) == static_cast<int>(picture.width) &&
              gdk_pixbuf_get_height(calls.pixbuf) == static_cast<int>(picture.height),
          "the pixbuf has the size of the reduced decode");
  if (d >= 2) {
    require(picture.width >= static_cast<unsigned>(calls.wanted_width) &&
                picture.height >= static_cast<unsigned>(calls.wanted_height),
            "a picture reduced for a smaller request still covers it");
  }
  const uint32_t channels = picture.format == varnic::PixelFormat::kGrey8 ? 1u : 3u;
  for (uint32_t y = 0; y < picture.height; ++y) {
    const guchar* row = gdk_pixbuf_get_pixels(calls.pixbuf) + y * static_cast<size_t>(gdk_pixbuf_get_rowstride(calls.pixbuf));
    for (uint32_t x = 0; x < picture.width * 3; ++x)
      require(row[x] == picture.pixels[(y * picture.width + x / 3) * channels + (channels == 3 ? x % 3 : 0)],
              "the pixbuf holds the library's pixels");
  }
  g_object_unref(calls.pixbuf);
  return 0;
}
