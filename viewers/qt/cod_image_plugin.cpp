// SPDX-License-Identifier: BSD-2-Clause
#include "viewers/qt/cod_image_plugin.h"

#include <QIODevice>
#include <QImage>
#include <QVariant>

#include <new>

#include "viewers/cod_view.h"

namespace varnic::viewers {

namespace {

// A device of unknown size (a socket, a pipe) is read in pieces of this size, so the buffer grows
// with what actually arrives rather than with what a size field claims.
constexpr qint64 kReadChunkBytes = qint64{1} << 20;

// Reads what is left of `device`, refusing to hold more than `limit` bytes.
bool read_bounded(QIODevice* device, std::uint64_t limit, std::vector<std::uint8_t>& out) {
  if (!device->isSequential()) {
    const qint64 left = device->size() - device->pos();
    if (left < 0 || static_cast<std::uint64_t>(left) > limit) return false;
    out.reserve(static_cast<std::size_t>(left));
  }
  std::vector<char> chunk(static_cast<std::size_t>(kReadChunkBytes));
  for (;;) {
    const qint64 n = device->read(chunk.data(), kReadChunkBytes);
    if (n < 0) return false;
    if (n == 0) return true;
    if (out.size() + static_cast<std::uint64_t>(n) > limit) return false;
    out.insert(out.end(), chunk.data(), chunk.data() + n);
  }
}

// The picture as the encoder takes it, converted as varnic-cli converts picture files: grey
// formats and palettes of greys only stay grey, transparency is blended over white. Null when
// memory runs out.
QImage encodable(const QImage& image) {
  const bool grey = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16 ||
                    (image.colorCount() > 0 && image.isGrayscale());
  if (grey) return image.convertToFormat(QImage::Format_Grayscale8);
  if (!image.hasAlphaChannel()) return image.convertToFormat(QImage::Format_RGB888);
  const QImage straight = image.convertToFormat(QImage::Format_RGBA8888);
  QImage out(image.size(), QImage::Format_RGB888);
  if (straight.isNull() || out.isNull()) return {};
  for (int y = 0; y < out.height(); ++y) {
    const uchar* src = straight.constScanLine(y);
    uchar* dst = out.scanLine(y);
    for (int x = 0; x < out.width(); ++x, src += 4, dst += 3) {
      for (int c = 0; c < 3; ++c) dst[c] = varnic::blend_over_white(src[c], src[3]);  // as varnic-cli reads a PNG
    }
  }
  return out;
}

}  // namespace

bool CodImageHandler::can_read(QIODevice* device) {
  if (device == nullptr) return false;
  const std::string_view signature = varnic::cod_signature();
  const QByteArray head = device->peek(static_cast<qint64>(signature.size()));
  return std::string_view(head.constData(), static_cast<std::size_t>(head.size())) == signature;
}

bool CodImageHandler::canRead() const {
  if (info_ || can_read(device())) {
    setFormat("cod");
    return true;
  }
  return false;
}

bool CodImageHandler::load() const {
  if (info_) return true;
  if (load_failed_ || device() == nullptr) return false;
  load_failed_ = true;
  try {
    if (!read_bounded(device(), max_file_bytes(), bytes_)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  Result<Info> probed = probe(bytes_, kLimits);
  if (!probed) return false;
  info_ = std::move(probed).value();
  load_failed_ = false;
  return true;
}

bool CodImageHandler::read(QImage* image) {
  if (!load()) return false;
  const bool scaled = scaled_size_.isValid() && !scaled_size_.isEmpty();
  // Size alone would name the handler's option here.
  const viewers::PictureSize wanted = scaled ? viewers::PictureSize{static_cast<std::uint32_t>(scaled_size_.width()),
                                                      static_cast<std::uint32_t>(scaled_size_.height())}
                                      : viewers::PictureSize{};
  const int reduce = choose_reduce(*info_, wanted);
  const viewers::PictureSize size = reduced_size(*info_, reduce);
  const QImage::Format format = info_->grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
  // Qt's allocation limit first, so an oversized picture is refused before it is decoded. The
  // decode holds nothing but this picture and a share of it, so a scaled read costs what its
  // picture does.
  QImage out;
  if (!allocateImage(QSize(static_cast<int>(size.width), static_cast<int>(size.height)), format, &out)) return false;
  if (!decode_into(bytes_, reduce, out.bits(), static_cast<std::size_t>(out.bytesPerLine()), false)) return false;
  std::vector<std::uint8_t>().swap(bytes_);  // the header facts stay for the size options
  if (scaled && out.size() != scaled_size_) {
    out = out.scaled(scaled_size_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(format);
    if (out.isNull()) return false;
  }
  *image = std::move(out);
  return true;
}

bool CodImageHandler::write(const QImage& image) {
  if (image.isNull() || device() == nullptr) return false;
  const QImage picture = encodable(image);
  if (picture.isNull()) return false;
  PictureView view;
  view.data = picture.constBits();
  view.width = static_cast<std::uint32_t>(picture.width());
  view.height = static_cast<std::uint32_t>(picture.height());
  view.stride = static_cast<std::size_t>(picture.bytesPerLine());
  view.format = picture.format() == QImage::Format_Grayscale8 ? PixelFormat::kGrey8 : PixelFormat::kRgb24;
  EncodeOptions options;
  options.quality = save_quality(quality_);
  options.threads = kThreads;
  options.limits = kLimits;
  const Result<Encoded> encoded = encode(view, options);
  if (!encoded) return false;
  const std::vector<std::uint8_t>& bytes = encoded.value().bytes;
  const auto size = static_cast<qint64>(bytes.size());
  return device()->write(reinterpret_cast<const char*>(bytes.data()), size) == size;
}

QVariant CodImageHandler::option(ImageOption option) const {
  switch (option) {
    case Size:
      if (!load()) return {};
      return QSize(static_cast<int>(info_->width), static_cast<int>(info_->height));
    case ImageFormat:
      if (!load()) return {};
      return info_->grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    case ScaledSize:
      return scaled_size_;
    case Quality:
      return quality_;
    default:
      return {};
  }
}

void CodImageHandler::setOption(ImageOption option, const QVariant& value) {
  if (option == ScaledSize) scaled_size_ = value.toSize();
  if (option == Quality) quality_ = value.toInt();
}

bool CodImageHandler::supportsOption(ImageOption option) const {
  return option == Size || option == ImageFormat || option == ScaledSize || option == Quality;
}

QImageIOPlugin::Capabilities CodImagePlugin::capabilities(QIODevice* device, const QByteArray& format) const {
  if (format == "cod") return CanRead | CanWrite;
  if (!format.isEmpty() || device == nullptr || !device->isOpen()) return {};
  if (device->isReadable() && CodImageHandler::can_read(device)) return CanRead;
  return {};
}

QImageIOHandler* CodImagePlugin::create(QIODevice* device, const QByteArray& format) const {
  auto* handler = new CodImageHandler;
  handler->setDevice(device);
  handler->setFormat(format);
  return handler;
}

}  // namespace varnic::viewers
