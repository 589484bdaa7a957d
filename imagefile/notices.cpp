// SPDX-License-Identifier: BSD-2-Clause
// The notice texts (notices.h). The web page's script words its own notices the same way.
#include "imagefile/notices.h"

#include <cstdio>

namespace varnic::imagefile::notices {
namespace {

// What an orientation does to the stored rows, as a phrase.
std::string_view turn_phrase(Orientation orientation) {
  switch (orientation) {
    case Orientation::kAsStored: return "kept as stored";
    case Orientation::kMirrored: return "mirrored left to right";
    case Orientation::kRotated180: return "rotated 180°";
    case Orientation::kFlipped: return "flipped top to bottom";
    case Orientation::kTransposed: return "rotated 90° clockwise and mirrored left to right";
    case Orientation::kRotated90: return "rotated 90° clockwise";
    case Orientation::kTransversed: return "rotated 90° anticlockwise and mirrored left to right";
    case Orientation::kRotated270: return "rotated 90° anticlockwise";
  }
  return "kept as stored";
}

}  // namespace

std::string samples_reduced(int bits) { return std::to_string(bits) + "-bit samples reduced to 8 bits"; }

std::string palette_expanded() { return "colour palette expanded to 24-bit colour"; }

std::string eight_bit_palette_expanded() { return "8-bit colour palette expanded to 24-bit colour"; }

std::string profile_dropped() { return "ICC colour profile dropped (pixel values kept as stored)"; }

std::string transparency_blended() { return "transparency removed by blending over white"; }

std::string extra_samples_left_out(unsigned count) {
  return std::to_string(count) + (count == 1 ? " extra sample" : " extra samples") + " a pixel left out";
}

std::string pages_left_out(unsigned pages) {
  return "the first of " + std::to_string(pages) + " pages read, " + std::to_string(pages - 1) + " left out";
}

std::string damaged_data(std::string_view format, std::string_view why) {
  return "the " + std::string(format) + " data are damaged (" + std::string(why) +
         "): parts of the picture may be wrong";
}

std::string profile_source(std::string_view description) {
  if (description.empty()) return "its unnamed ICC profile";
  return "its ICC profile \"" + std::string(description) + "\"";
}

std::string png_source(double gamma, bool chromaticities) {
  char number[32];
  std::snprintf(number, sizeof number, "%.2f", gamma > 0 ? 1 / gamma : 0.0);
  if (gamma <= 0) return "its chromaticities";
  return "its gamma " + std::string(number) + (chromaticities ? " and chromaticities" : "");
}

std::string colour_converted(bool grey, std::string_view source) {
  return std::string(grey ? "grey levels" : "colours") + " converted to sRGB from " + std::string(source);
}

std::string colour_kept(std::string_view source) {
  return "sample values kept as stored, not converted to sRGB from " + std::string(source);
}

std::string colour_unusable(std::string_view source, std::string_view why) {
  return std::string(source) + " not used (" + std::string(why) + "): sample values kept as stored";
}

std::string cmyk_converted(std::string_view source) { return "CMYK converted to sRGB through " + std::string(source); }

std::string rotated(Orientation orientation) {
  return std::string(turn_phrase(orientation)) + " as its EXIF orientation says";
}

std::string orientation_kept(Orientation orientation) {
  return "stored rows kept, not " + std::string(turn_phrase(orientation)) + " as its EXIF orientation says";
}

std::string metadata_dropped(bool exif, bool xmp, bool iptc) {
  std::string names[3];
  int count = 0;
  if (exif) names[count++] = "EXIF";
  if (xmp) names[count++] = "XMP";
  if (iptc) names[count++] = "IPTC";
  if (count == 0) return {};
  std::string list = names[0];
  for (int i = 1; i < count; ++i) list += (i == count - 1 ? " and " : ", ") + names[i];
  return list + " metadata dropped (a .cod file keeps only the pixels and a comment)";
}

}  // namespace varnic::imagefile::notices
