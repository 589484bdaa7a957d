// The page decodes and encodes PNG with the browser's own codec; the command-line tool's libpng
// reader and writer are not built for WebAssembly. These take their place in the link and refuse.
#include "picture_io.h"

namespace varnic::cli {

Result<LoadedPicture> read_png(std::span<const std::uint8_t>, const Limits&) {
  return {Status::kInvalidArgument, "PNG pictures are decoded by the browser on this page"};
}

Result<std::vector<std::uint8_t>> write_png(const Picture&) {
  return {Status::kInvalidArgument, "PNG pictures are encoded by the browser on this page"};
}

}  // namespace varnic::cli
