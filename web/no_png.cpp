// SPDX-License-Identifier: BSD-2-Clause
// libpng is not built for WebAssembly: the page reads PNG with its own reader (png_reader.h, fed by
// the browser's inflation) and writes it with the browser's encoder. This PNG entry of the
// registry knows the signature and refuses the rest.
#include "imagefile/formats.h"

namespace varnic::imagefile::formats {

bool sniff_png(Bytes bytes) {
  return bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G';
}

FileStatus read_png(Bytes, const ReadLimits&, LoadedPicture&, std::string& message) {
  message = "PNG pictures are read by the page's own reader";
  return FileStatus::kNotPng;
}

namespace {

class RefusingPngWriter final : public RowFileWriter {
 public:
  bool top_down() const override { return true; }
  bool rgb() const override { return true; }
  FileStatus begin(std::uint32_t, std::uint32_t, bool, std::string& message) override {
    message = "PNG pictures are encoded by the browser on this page";
    return FileStatus::kCannotWrite;
  }
  bool row(std::span<const std::uint8_t>) override { return false; }
  bool finish() override { return false; }
};

}  // namespace

std::unique_ptr<RowFileWriter> png_row_writer(const ByteWriter&, const WriteSettings&) {
  return std::make_unique<RefusingPngWriter>();
}

}  // namespace varnic::imagefile::formats
