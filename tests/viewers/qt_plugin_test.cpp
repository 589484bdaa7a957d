// SPDX-License-Identifier: BSD-2-Clause
// The installed Qt image-format plugin through QImageReader and QImageWriter: discovery, the
// pictures of the conformance files, scaled reads by reduced decoding, saves that match varnic-cli
// byte for byte, and damaged files.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "varnic/varnic.h"

namespace {

const QString kData = QStringLiteral(VARNIC_TEST_DATA "/");
// Qt reads its plugin path on first use: the scratch install's.
const bool kScratchPlugins = setenv("QT_PLUGIN_PATH", VARNIC_QT_PLUGINS, 1) == 0;

QByteArray read_file(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// No format given: the plugin must claim the bytes by their magic.
QImage read_bytes(const QByteArray& bytes, QSize scaled = {}) {
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer);
  if (scaled.isValid()) reader.setScaledSize(scaled);
  return reader.read();
}

TEST(QtPluginTest, IsListedForReadingAndWriting) {
  EXPECT_TRUE(QImageReader::supportedImageFormats().contains("cod"));
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-varnic-cod"));
  EXPECT_TRUE(QImageWriter::supportedImageFormats().contains("cod"));
}

TEST(QtPluginTest, ReadsTheDecodedPicturesAndScaledReadsByReducedDecoding) {
  for (const char* name : {"astronaut_q50", "astronaut_comment_v23", "astronaut_comment_noZ", "camera_q90",
                           "odd_37x21_q50", "tiny_9x5_g_q30"}) {
    SCOPED_TRACE(name);
    const QByteArray cod = read_file(kData + "conformance/cod/" + name + ".cod");
    const std::vector<std::uint8_t> bytes(cod.begin(), cod.end());
    const QImage reference(kData + "conformance/decoded/" + name + ".bmp");
    EXPECT_EQ(QImageReader(kData + "conformance/cod/" + name + ".cod").size(), reference.size());
    const QImage image = read_bytes(cod);
    EXPECT_EQ(image.format(), varnic::probe(bytes).value().grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB888), reference.convertToFormat(QImage::Format_RGB888));

    // Exactly the half size is the reduced decode itself; a size between reduced sizes is met too.
    varnic::DecodeOptions half;
    half.reduce = 1;
    const varnic::Picture expected = varnic::decode(bytes, half).value().picture;
    const QImage small = read_bytes(cod, QSize(static_cast<int>(expected.width), static_cast<int>(expected.height)));
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < small.height(); ++y)
      pixels.insert(pixels.end(), small.constScanLine(y), small.constScanLine(y) + expected.stride());
    EXPECT_EQ(pixels, expected.pixels);
    EXPECT_EQ(read_bytes(cod, QSize(7, 4)).size(), QSize(7, 4));
  }
}

TEST(QtPluginTest, SavesTheBytesOfTheCommandLineToolAndReadsThemBack) {
  QImage translucent = QImage(kData + "astronaut_512.bmp").convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < translucent.height(); ++y)
    for (int x = 0; x < translucent.width(); ++x)
      translucent.setPixel(x, y, translucent.pixel(x, y) & (static_cast<QRgb>(x) << 24 | 0xFFFFFF));
  const QString png = QString::fromStdString(testing::TempDir()) + "translucent.png";
  ASSERT_TRUE(translucent.save(png));
  // Quality -1 is QImageWriter's default.
  const std::pair<QString, int> cases[] = {{kData + "astronaut_512.bmp", -1}, {kData + "camera_512_grey.bmp", 90}, {png, 10}};
  for (const auto& [source, quality] : cases) {
    SCOPED_TRACE(source.toStdString());
    const QImage picture(source);
    QBuffer written;
    written.open(QIODevice::WriteOnly);
    QImageWriter writer(&written, "cod");
    writer.setQuality(quality);
    ASSERT_TRUE(writer.write(picture)) << writer.errorString().toStdString();

    const std::string cli_out = testing::TempDir() + "cli.cod";
    const std::string command = std::string(VARNIC_CLI) + " compress --quiet -f -q " +
                                std::to_string(quality < 0 ? 50 : quality) + " -o " + cli_out + " " + source.toStdString();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(written.data() == read_file(QString::fromStdString(cli_out)));

    const QImage back = read_bytes(written.data());
    EXPECT_EQ(back.size(), picture.size());
    EXPECT_EQ(back.format(), picture.isGrayscale() ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  }
}

TEST(QtPluginTest, DamagedFilesGiveANullImageAndAnError) {
  const QByteArray good = read_file(kData + "conformance/cod/astronaut_q50.cod");
  QByteArray huge = good;  // 32767 x 32767 declared: past the pixel limit
  huge[16] = huge[18] = char(0xFF);
  huge[17] = huge[19] = char(0x7F);
  for (const QByteArray& bytes : {good.left(good.size() / 2), huge, good.left(12)}) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "cod");
    EXPECT_TRUE(reader.read().isNull());
    EXPECT_FALSE(reader.errorString().isEmpty());
  }
}

}  // namespace
