// SPDX-License-Identifier: BSD-2-Clause
// Shared body of the PNG and PNM input targets: the registry's reader of one format on arbitrary
// bytes, the picture checked, written back in the same format and read again, which must give the
// same pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/imagefile_checks.h"
#include "imagefile/registry.h"

namespace varnic::fuzz {

inline void check_registry_reader(const std::uint8_t* data, std::size_t size, imf::FileKind kind) {
  const imf::FormatEntry& entry = *imf::find_format(kind);
  const imf::ReadLimits limits{kPixelLimit};
  imf::LoadedPicture loaded;
  std::string message;
  const imf::FileStatus status = entry.read(std::span<const std::uint8_t>(data, size), limits, loaded, message);
  if (status != imf::FileStatus::kOk) {
    require(status != imf::FileStatus::kOutOfMemory, "no allocation failure within the pixel limit");
    require(*imf::status_message(status) != '\0', "a failure says why");
    return;
  }
  check_picture(loaded.picture);
  require(loaded.picture.image_mode != format::kImageModePalette, "the reader gives grey or colour");

  std::vector<std::uint8_t> written;
  require(imf::write_picture(imf::rows_of(loaded.picture), kind, {}, written, &message) == imf::FileStatus::kOk,
          "an accepted picture can be written");
  imf::LoadedPicture again;
  require(entry.read(written, limits, again, message) == imf::FileStatus::kOk, "a written picture reads back");
  require(again.picture.width == loaded.picture.width && again.picture.height == loaded.picture.height &&
              again.picture.image_mode == loaded.picture.image_mode && again.picture.pixels == loaded.picture.pixels,
          "a written picture reads back unchanged");
  require(again.notices.empty(), "our own output needs no conversion");
}

}  // namespace varnic::fuzz
