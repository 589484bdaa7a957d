// SPDX-License-Identifier: BSD-2-Clause
// EXIF blocks through libexif: the orientation and the camera facts of a summary (photo.h).
#include <libexif/exif-data.h>

#include <cstring>
#include <vector>

#include "imagefile/photo.h"

namespace varnic::imagefile {
namespace {

constexpr std::uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// A JPEG segment holds at most 64 KiB; cameras that write EXIF elsewhere stay far below this.
// A larger block is reported as present but not parsed.
constexpr std::size_t kMaxExifBytes = std::size_t{4} << 20;

ExifEntry* find(ExifData* exif, ExifIfd ifd, ExifTag tag) { return exif_content_get_entry(exif->ifd[ifd], tag); }

std::string text_of(ExifData* exif, ExifIfd ifd, ExifTag tag) {
  const ExifEntry* e = find(exif, ifd, tag);
  if (e == nullptr || e->format != EXIF_FORMAT_ASCII || e->data == nullptr) return {};
  return clean_exif_text({e->data, e->size}, kMaxExifTextBytes);
}

double rational_of(ExifData* exif, ExifIfd ifd, ExifTag tag) {
  const ExifEntry* e = find(exif, ifd, tag);
  if (e == nullptr || e->format != EXIF_FORMAT_RATIONAL || e->components < 1 || e->size < 8 || e->data == nullptr)
    return 0;
  const ExifRational r = exif_get_rational(e->data, exif_data_get_byte_order(exif));
  return r.denominator == 0 ? 0 : static_cast<double>(r.numerator) / r.denominator;
}

unsigned short_of(ExifData* exif, ExifIfd ifd, ExifTag tag) {
  const ExifEntry* e = find(exif, ifd, tag);
  if (e == nullptr || e->format != EXIF_FORMAT_SHORT || e->components < 1 || e->size < 2 || e->data == nullptr)
    return 0;
  return exif_get_short(e->data, exif_data_get_byte_order(exif));
}

}  // namespace

void read_exif(std::span<const std::uint8_t> block, PhotoFacts& facts) {
  facts.exif = true;
  if (block.size() > kMaxExifBytes) return;
  // libexif wants the block as a JPEG segment holds it, after "Exif\0\0".
  std::vector<std::uint8_t> segment;
  if (block.size() < sizeof kExifHeader || std::memcmp(block.data(), kExifHeader, sizeof kExifHeader) != 0) {
    segment.assign(kExifHeader, kExifHeader + sizeof kExifHeader);
    segment.insert(segment.end(), block.begin(), block.end());
    block = segment;
  }
  ExifData* exif = exif_data_new();
  if (exif == nullptr) return;
  // Read the block as it stands: no entries added or "fixed".
  exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(exif, block.data(), static_cast<unsigned>(block.size()));
  facts.orientation = orientation_from(short_of(exif, EXIF_IFD_0, EXIF_TAG_ORIENTATION));
  CameraFacts& camera = facts.camera;
  camera.date_taken = text_of(exif, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
  if (camera.date_taken.empty()) camera.date_taken = text_of(exif, EXIF_IFD_0, EXIF_TAG_DATE_TIME);
  camera.make = text_of(exif, EXIF_IFD_0, EXIF_TAG_MAKE);
  camera.model = text_of(exif, EXIF_IFD_0, EXIF_TAG_MODEL);
  camera.exposure_seconds = rational_of(exif, EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME);
  camera.f_number = rational_of(exif, EXIF_IFD_EXIF, EXIF_TAG_FNUMBER);
  camera.focal_length_mm = rational_of(exif, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH);
  camera.iso = short_of(exif, EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS);
  exif_data_unref(exif);
}

}  // namespace varnic::imagefile
