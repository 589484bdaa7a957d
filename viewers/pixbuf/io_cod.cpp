// SPDX-License-Identifier: BSD-2-Clause
// gdk-pixbuf loader for .cod pictures: every program that loads pictures through gdk-pixbuf (image
// viewers, file managers, gdk-pixbuf-thumbnailer) opens them as RGB pixbufs with the pixels
// `varnic-cli decompress` gives.
//
// Only the incremental entry points are provided; gdk-pixbuf routes whole-file loads through them
// too. The file is buffered whole (the decoder needs all of it) up to the largest file a picture
// within the library's pixel limit can have. The size callback runs once the file is complete: when
// the caller asks for a smaller picture (a thumbnail), the decode stops its synthesis early at the
// smallest size that still covers the request, and gdk-pixbuf scales the rest of the way. The rows
// go straight into the pixbuf, the only picture held.
#include <glib.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include "viewers/cod_view.h"

namespace {

namespace vw = varnic::viewers;

struct LoadContext {
  GdkPixbufModuleSizeFunc size_func = nullptr;
  GdkPixbufModulePreparedFunc prepared_func = nullptr;
  GdkPixbufModuleUpdatedFunc updated_func = nullptr;
  gpointer user_data = nullptr;
  std::vector<std::uint8_t> bytes;
};

GdkPixbufError error_code(varnic::Status status) {
  switch (status) {
    case varnic::Status::kNotCompressedFile:
    case varnic::Status::kVersionTooLow:
    case varnic::Status::kVersionTooHigh:
      return GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    case varnic::Status::kInvalidFile:
      return GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    case varnic::Status::kLimitExceeded:
    case varnic::Status::kOutOfMemory:
      return GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
    case varnic::Status::kOk:
    case varnic::Status::kInvalidArgument:
    case varnic::Status::kPictureTooSmall:
    case varnic::Status::kCancelled:
    case varnic::Status::kInternalError:
    case varnic::Status::kFileError:
      return GDK_PIXBUF_ERROR_FAILED;
  }
  return GDK_PIXBUF_ERROR_FAILED;
}

void set_error(GError** error, GdkPixbufError code, const char* message) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
}

bool fail_with(GError** error, varnic::Status status, const std::string& message) {
  set_error(error, error_code(status), message.c_str());
  return false;
}

bool finish(const LoadContext& context, GError** error) {
  const varnic::Result<varnic::Info> probed = varnic::probe(context.bytes, vw::kLimits);
  if (!probed) return fail_with(error, probed.status(), probed.message());
  const varnic::Info& info = probed.value();

  // The picture sides fit a 16-bit field, so they fit gint.
  int width = static_cast<int>(info.width);
  int height = static_cast<int>(info.height);
  if (context.size_func != nullptr) context.size_func(&width, &height, context.user_data);
  // A caller that only wanted the size (gdk_pixbuf_get_file_info) answers with 0 x 0.
  if (width <= 0 || height <= 0) {
    set_error(error, GDK_PIXBUF_ERROR_FAILED, "the caller asked for an empty picture");
    return false;
  }

  const int reduce = vw::choose_reduce(info, {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)});
  const vw::PictureSize size = vw::reduced_size(info, reduce);
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, static_cast<int>(size.width), static_cast<int>(size.height));
  if (pixbuf == nullptr) {
    set_error(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory for the picture");
    return false;
  }
  const varnic::Result<varnic::Info> decoded =
      vw::decode_into(context.bytes, reduce, gdk_pixbuf_get_pixels(pixbuf),
                      static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf)), true);
  if (!decoded) {
    g_object_unref(pixbuf);
    return fail_with(error, decoded.status(), decoded.message());
  }
  if (context.prepared_func != nullptr) context.prepared_func(pixbuf, nullptr, context.user_data);
  if (context.updated_func != nullptr)
    context.updated_func(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf), context.user_data);
  g_object_unref(pixbuf);
  return true;
}

gpointer begin_load(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
                    GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data, GError** error) {
  auto* context = new (std::nothrow) LoadContext;
  if (context == nullptr) {
    set_error(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to start loading");
    return nullptr;
  }
  context->size_func = size_func;
  context->prepared_func = prepared_func;
  context->updated_func = updated_func;
  context->user_data = user_data;
  return context;
}

gboolean load_increment(gpointer data, const guchar* buf, guint size, GError** error) {
  auto* context = static_cast<LoadContext*>(data);
  if (context->bytes.size() + size > vw::max_file_bytes()) {
    set_error(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
              "the file is larger than any picture within the pixel limit can be");
    return FALSE;
  }
  try {
    context->bytes.insert(context->bytes.end(), buf, buf + size);
  } catch (const std::bad_alloc&) {
    set_error(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to hold the file");
    return FALSE;
  }
  return TRUE;
}

gboolean stop_load(gpointer data, GError** error) {
  const std::unique_ptr<LoadContext> context(static_cast<LoadContext*>(data));
  try {
    return finish(*context, error) ? TRUE : FALSE;
  } catch (const std::bad_alloc&) {
    set_error(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to decode the picture");
    return FALSE;
  }
}

// The format's three letters; the version digits after them are checked when loading, so that a
// file of a newer version is refused with a message rather than left to other loaders.
const std::string kPrefix(varnic::cod_signature());
GdkPixbufModulePattern kSignature[] = {
    {const_cast<char*>(kPrefix.c_str()), nullptr, 100},
    {nullptr, nullptr, 0},
};
// The image/ type, and its alias for systems whose MIME database predates it.
const gchar* kMimeTypes[] = {"image/x-varnic-cod", "application/x-varnic-cod", nullptr};
const gchar* kExtensions[] = {"cod", nullptr};

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->begin_load = begin_load;
  module->stop_load = stop_load;
  module->load_increment = load_increment;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  info->name = const_cast<gchar*>("cod");
  info->signature = kSignature;
  info->description = const_cast<gchar*>("Varnic wavelet-compressed picture");
  info->mime_types = const_cast<gchar**>(kMimeTypes);
  info->extensions = const_cast<gchar**>(kExtensions);
  // Every load has its own context and the library keeps no global state.
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("BSD-2-Clause");
}

}  // extern "C"
