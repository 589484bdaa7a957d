// SPDX-License-Identifier: BSD-2-Clause
// Qt image-format plugin for .cod pictures: with libqcod.so in a plugin path's imageformats/,
// QImageReader and QImageWriter (and so every Qt program that opens or saves pictures) read and
// write the format under the name "cod".
//
// Reading gives Format_RGB888 for colour files and Format_Grayscale8 for grey ones, with the pixels
// `varnic-cli decompress` gives. A scaled read decodes at the smallest reduced size that still
// covers the request and scales the rest of the way. Writing takes QImageWriter's quality (0..99,
// default 50) and gives the bytes `varnic-cli compress -q` gives for the same picture file.
#pragma once

#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

#include "varnic/varnic.h"

namespace varnic::viewers {

class CodImageHandler : public QImageIOHandler {
 public:
  bool canRead() const override;
  bool read(QImage* image) override;
  bool write(const QImage& image) override;
  QVariant option(ImageOption option) const override;
  void setOption(ImageOption option, const QVariant& value) override;
  bool supportsOption(ImageOption option) const override;

  // By the format's three letters, without consuming them.
  static bool can_read(QIODevice* device);

 private:
  // Reads the whole file once (the decoder needs all of it) and its header; false on failure.
  bool load() const;

  mutable std::vector<std::uint8_t> bytes_;
  mutable std::optional<Info> info_;
  mutable bool load_failed_ = false;
  QSize scaled_size_;
  int quality_ = -1;  // QImageWriter's "not set"
};

class CodImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "cod.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

}  // namespace varnic::viewers
