// SPDX-License-Identifier: BSD-2-Clause
// Shared bodies of the registry's input targets. PNG and PNM: the reader of one format on arbitrary
// bytes, the picture checked, written back in the same format and read again, which must give the
// same pixels. JPEG, TIFF and WebP: the reader and the colour and orientation step after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/imagefile_checks.h"
#include "imagefile/registry.h"

namespace varnic::fuzz {

inline void check_registry_reader(const std::uint8_t* data, std::size_t size, FileKind kind) {
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

// Body of the JPEG, TIFF and WebP targets, which have no writer to go back through: the reader on
// arbitrary bytes, then the last step of a read (colours, orientation, notices) with the file's
// instructions followed and with them ignored.
inline void check_photo_reader(const std::uint8_t* data, std::size_t size, FileKind kind) {
  const imf::ReadLimits limits{kPixelLimit};
  imf::LoadedPicture loaded;
  std::string message;
  const imf::FileStatus status = imf::find_format(kind)->read({data, size}, limits, loaded, message);
  if (status != imf::FileStatus::kOk) {
    require(status != imf::FileStatus::kOutOfMemory, "no allocation failure within the pixel limit");
    require(*imf::status_message(status) != '\0', "a failure says why");
    return;
  }
  check_picture(loaded.picture);
  for (const bool keep : {true, false}) {
    imf::PhotoOptions options;
    options.keep_orientation = options.keep_colours = keep;
    imf::PictureBuffer picture = loaded.picture;
    std::vector<std::string> notices;
    imf::finish_photo(picture, loaded.facts, options, notices);
    check_picture(picture);
    // A reader that placed its rows turned already hands over the turned picture; keeping the
    // orientation then turns it back.
    const bool turned = imf::swaps_sides(loaded.facts.orientation) && (loaded.facts.turned ? keep : !keep);
    require(picture.width == (turned ? loaded.picture.height : loaded.picture.width), "a turn swaps the sides");
    for (const std::string& notice : notices) require(!notice.empty(), "a notice says something");
  }
  require(imf::camera_summary(loaded.facts.camera).size() <= format::kMaxCommentLength, "a summary fits a comment");
}

}  // namespace varnic::fuzz
