// SPDX-License-Identifier: BSD-2-Clause
// One road from a .cod file to pixels, run in a process of its own by bound_test under a limit of
// address space: what the program has mapped once it has read the file and the header, plus 4
// bytes per pixel of the picture the road makes plus 64 MiB. The road must give its picture, every
// byte 128 (the test's files decode flat, mid-grey).
//   bound_road decode|rows REDUCE FILE     the library's decode / decode_rows
//   bound_road read 0 FILE                 the library's read_picture
//   bound_road pixbuf|qt|qt-limited SIDE FILE
//                                          the gdk-pixbuf loader / the Qt plugin (its allocation limit
//                                          lifted, or kept), whole (SIDE 0) or asked for SIDE x SIDE
// Exit status: 0 the picture, 1 wrong pixels, 2 the road failed (or Qt's own limit refused the
// read), 3 a bad command line.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(VARNIC_BOUND_PIXBUF)
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif
#if defined(VARNIC_BOUND_QT)
#include <QImage>
#include <QImageReader>
#endif

#include "varnic/varnic.h"
#include "viewers/cod_view.h"

namespace {

constexpr std::uint64_t kBytesPerPixel = 4;
constexpr std::uint64_t kSlack = std::uint64_t{64} << 20;

std::uint64_t mapped_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Whether every byte of `rows` rows of `row_bytes` bytes, `stride` apart, is mid-grey.
bool flat(const std::uint8_t* rows, std::size_t stride, std::size_t row_bytes, std::size_t height) {
  for (std::size_t y = 0; y < height; ++y)
    for (std::size_t x = 0; x < row_bytes; ++x)
      if (rows[y * stride + x] != 128) return false;
  return true;
}

int picture_status(const varnic::Picture& p) {
  return flat(p.pixels.data(), p.stride(), std::size_t{p.width} * static_cast<std::size_t>(bytes_per_pixel(p.format)), p.height) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 3;
  const std::string road = argv[1];
  const int arg = std::atoi(argv[2]);
  std::ifstream in(argv[3], std::ios::binary);
  const std::vector<std::uint8_t> file(std::istreambuf_iterator<char>(in), {});
  const varnic::Result<varnic::Info> info = varnic::probe(file);
  if (!info) return 3;
  const bool viewer = road == "pixbuf" || road == "qt" || road == "qt-limited";
  const int reduce = viewer ? varnic::viewers::choose_reduce(info.value(), {static_cast<std::uint32_t>(arg), static_cast<std::uint32_t>(arg)})
                     : road == "read" ? 0 : arg;
  const varnic::viewers::PictureSize size = varnic::viewers::reduced_size(info.value(), reduce);
  const std::uint64_t limit = mapped_bytes() + kBytesPerPixel * size.width * size.height + kSlack;
  const rlimit as{limit, limit};
  if (setrlimit(RLIMIT_AS, &as) != 0) return 3;

  varnic::DecodeOptions options;
  options.reduce = reduce;
  if (road == "decode") {
    const varnic::Result<varnic::Decoded> decoded = varnic::decode(file, options);
    return decoded ? picture_status(decoded.value().picture) : 2;
  }
  if (road == "rows") {
    bool grey = true;
    varnic::RowReceiver receiver;
    receiver.rows = [&](std::uint32_t, std::span<const std::uint8_t> pixels) {
      grey = grey && flat(pixels.data(), 0, pixels.size(), 1);
      return true;
    };
    return varnic::decode_rows(file, options, receiver) ? (grey ? 0 : 1) : 2;
  }
  if (road == "read") {
    const varnic::Result<varnic::PictureFile> read = varnic::read_picture(file, argv[3]);
    return read ? picture_status(read.value().picture) : 2;
  }
#if defined(VARNIC_BOUND_PIXBUF)
  if (road == "pixbuf") {
    GError* error = nullptr;
    GdkPixbuf* p = arg > 0 ? gdk_pixbuf_new_from_file_at_size(argv[3], arg, arg, &error) : gdk_pixbuf_new_from_file(argv[3], &error);
    if (p == nullptr) return 2;
    const int status = flat(gdk_pixbuf_get_pixels(p), static_cast<std::size_t>(gdk_pixbuf_get_rowstride(p)),
                            3 * static_cast<std::size_t>(gdk_pixbuf_get_width(p)), static_cast<std::size_t>(gdk_pixbuf_get_height(p)))
                           ? 0 : 1;
    g_object_unref(p);
    return status;
  }
#endif
#if defined(VARNIC_BOUND_QT)
  if (road == "qt" || road == "qt-limited") {
    if (road == "qt") QImageReader::setAllocationLimit(0);
    QImageReader reader(QString::fromLocal8Bit(argv[3]));
    if (arg > 0) reader.setScaledSize(QSize(arg, arg));
    const QImage image = reader.read();
    if (image.isNull()) return 2;
    const std::size_t bytes = image.format() == QImage::Format_Grayscale8 ? 1 : 3;
    return flat(image.constBits(), static_cast<std::size_t>(image.bytesPerLine()), bytes * static_cast<std::size_t>(image.width()),
                static_cast<std::size_t>(image.height()))
               ? 0 : 1;
  }
#endif
  return 3;
}
