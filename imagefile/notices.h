// SPDX-License-Identifier: BSD-2-Clause
// Every notice a picture reader gives, worded in one place: the command-line tool, the library's
// callers and the web page show the same sentences. A notice is one line, lower case first, no
// full stop; it says what was done to the picture and why.
#pragma once

#include <string>
#include <string_view>

#include "imagefile/photo.h"

namespace varnic::imagefile::notices {

// "16-bit samples reduced to 8 bits" (`bits` significant bits, 9..16).
std::string samples_reduced(int bits);
// "colour palette expanded to 24-bit colour"
std::string palette_expanded();
// "8-bit colour palette expanded to 24-bit colour": a bitmap's or Targa's
std::string eight_bit_palette_expanded();
// "ICC colour profile dropped (pixel values kept as stored)": a bitmap's, which is not read
std::string profile_dropped();
// "transparency removed by blending over white"
std::string transparency_blended();
// "2 extra samples a pixel left out"
std::string extra_samples_left_out(unsigned count);
// "the first of 3 pages read, 2 left out"
std::string pages_left_out(unsigned pages);
// "the JPEG data are damaged (<library's words>): parts of the picture may be wrong"
std::string damaged_data(std::string_view format, std::string_view why);

// Where a file's colours are described: `profile_source("Display P3")` gives
// "its ICC profile \"Display P3\"" ("its unnamed ICC profile" for ""), `png_source` "its gamma
// 1.00 and chromaticities", "its gamma 1.00" or "its chromaticities".
std::string profile_source(std::string_view description);
std::string png_source(double gamma, bool chromaticities);
// "colours converted to sRGB from its ICC profile \"Display P3\"" ("grey levels ..." for grey).
std::string colour_converted(bool grey, std::string_view source);
// "sample values kept as stored, not converted to sRGB from its ICC profile \"Display P3\""
std::string colour_kept(std::string_view source);
// "its ICC profile \"X\" not used (why): sample values kept as stored"
std::string colour_unusable(std::string_view source, std::string_view why);
// "CMYK converted to sRGB through its ICC profile \"U.S. Web Coated (SWOP) v2\""
std::string cmyk_converted(std::string_view source);

// "rotated 90° clockwise as its EXIF orientation says"
std::string rotated(Orientation orientation);
// "stored rows kept, not rotated 90° clockwise as its EXIF orientation says"
std::string orientation_kept(Orientation orientation);

// "EXIF, XMP and IPTC metadata dropped (a .cod file keeps only the pixels and a comment)"; empty
// when there were none.
std::string metadata_dropped(bool exif, bool xmp, bool iptc);

}  // namespace varnic::imagefile::notices
