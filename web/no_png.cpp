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

FileStatus write_png(const codec::PictureRows&, const WriteSettings&, Out&, std::string& message) {
  message = "PNG pictures are encoded by the browser on this page";
  return FileStatus::kCannotWrite;
}

}  // namespace varnic::imagefile::formats
