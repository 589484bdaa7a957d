// SPDX-License-Identifier: BSD-2-Clause
// Builds without libjpeg, libtiff, libwebp, Little CMS and libexif (the Windows programs, the web
// page, whose browser decodes photographs itself): JPEG, TIFF and WebP files are known by their
// first bytes and refused in words that say so; colours and EXIF are left as stored, with notices.
#include "imagefile/colour_profile.h"
#include "imagefile/formats.h"
#include "imagefile/notices.h"

namespace varnic::imagefile {

namespace formats {
namespace {

FileStatus not_built(std::string_view format, std::string& message) {
  message = "this build of varnic does not read " + std::string(format) + " pictures (convert it to PNG first)";
  return FileStatus::kFormatNotBuilt;
}

}  // namespace

FileStatus read_jpeg(Bytes, const ReadLimits&, LoadedPicture&, std::string& message) { return not_built("JPEG", message); }
FileStatus read_tiff(Bytes, const ReadLimits&, LoadedPicture&, std::string& message) { return not_built("TIFF", message); }
FileStatus read_webp(Bytes, const ReadLimits&, LoadedPicture&, std::string& message) { return not_built("WebP", message); }

}  // namespace formats

struct ColourConverter::Impl {};

ColourConverter::ColourConverter() = default;
ColourConverter::~ColourConverter() = default;
ColourConverter::ColourConverter(ColourConverter&&) noexcept = default;
ColourConverter& ColourConverter::operator=(ColourConverter&&) noexcept = default;

ColourConverter::Outcome ColourConverter::prepare(const ColourTags& tags, SampleLayout, std::string& source,
                                                  std::string& why) {
  if (says_srgb(tags)) return Outcome::kNothingToDo;
  source = tags.icc_profile.empty() && !tags.profile_unreadable
               ? notices::png_source(tags.gamma, tags.chromaticities.has_value())
               : notices::profile_source({});
  why = "this build has no colour management";
  return Outcome::kUnusable;
}

void ColourConverter::convert(const void*, std::uint8_t*, std::size_t) const {}

// The block is not parsed: its orientation stays unknown, and the notice says EXIF was dropped.
void read_exif(std::span<const std::uint8_t>, PhotoFacts& facts) { facts.exif = true; }

}  // namespace varnic::imagefile
