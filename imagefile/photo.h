// SPDX-License-Identifier: BSD-2-Clause
// What a photograph's file says beside its pixels, and the last step of every read, which makes
// the picture show what the file means: the sample values converted to sRGB from the file's colour
// profile (a .cod file has no place for one, and every reader shows it as sRGB), the stored rows
// turned as the EXIF orientation says, and one notice for each and for the metadata left behind.
//
// Readers only gather the facts (PhotoFacts); finish_photo applies them, so that each rule is
// written once for every format. Private to imagefile/.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imagefile/imagefile.h"

namespace varnic::imagefile {

// How the stored rows are turned for display: EXIF's and TIFF's own values 1..8.
enum class Orientation : std::uint8_t {
  kAsStored = 1,
  kMirrored = 2,     // left and right swapped
  kRotated180 = 3,
  kFlipped = 4,      // top and bottom swapped
  kTransposed = 5,   // rotated 90° clockwise, then mirrored
  kRotated90 = 6,    // rotated 90° clockwise
  kTransversed = 7,  // rotated 90° anticlockwise, then mirrored
  kRotated270 = 8,   // rotated 90° anticlockwise
};

// A value read from a file: 1..8, anything else as stored.
[[nodiscard]] Orientation orientation_from(unsigned value);
[[nodiscard]] bool swaps_sides(Orientation orientation);
// The orientation that undoes this one.
[[nodiscard]] Orientation inverse(Orientation orientation);

// CIE xy of a PNG cHRM chunk.
struct Chromaticities {
  double white_x = 0, white_y = 0;
  double red_x = 0, red_y = 0;
  double green_x = 0, green_y = 0;
  double blue_x = 0, blue_y = 0;
};

// ITU-R BT.709's primaries and D65, which sRGB uses.
inline constexpr Chromaticities kSrgbChromaticities = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};

// How a file says its sample values are to be read as colours; nothing said means sRGB.
struct ColourTags {
  std::vector<std::uint8_t> icc_profile;  // as embedded (JPEG segments joined, PNG inflated)
  bool profile_unreadable = false;        // a profile was there but could not be taken out
  bool srgb = false;                      // PNG sRGB chunk
  double gamma = 0;                       // PNG gAMA, the encoding exponent (0.45455 for 2.2); 0 none
  std::optional<Chromaticities> chromaticities;  // PNG cHRM
  bool applied = false;                   // the reader has converted already (CMYK) and said so
};

// Camera facts from EXIF for a one-line summary. Strings are printable UTF-8.
struct CameraFacts {
  std::string date_taken;  // as EXIF writes it, "2023:06:01 14:22:05"
  std::string make;
  std::string model;
  double exposure_seconds = 0;  // 0: not given, and so below
  double f_number = 0;
  double focal_length_mm = 0;
  std::uint32_t iso = 0;
};

// True when the tags leave the values as sRGB: nothing said, an sRGB chunk, or the gAMA of 1/2.2
// and sRGB's chromaticities (how many programs label sRGB; a pure power law would darken the
// shadows of those pictures).
[[nodiscard]] bool says_srgb(const ColourTags& tags);

struct PhotoFacts {
  Orientation orientation = Orientation::kAsStored;
  bool turned = false;  // the reader placed its rows turned already (place_row)
  ColourTags colour;
  bool exif = false;  // metadata blocks present in the file
  bool xmp = false;
  bool iptc = false;
  CameraFacts camera;
};

// What the caller wants done with those facts.
struct PhotoOptions {
  bool keep_orientation = false;  // encode the stored rows as they are
  bool keep_colours = false;      // keep the sample values whatever the profile says
};

// Colour, orientation and metadata notices after the reader's own, in that order. A picture the
// reader turned already is turned back only for keep_orientation. Throws
// std::bad_alloc (a quarter turn needs a bit a pixel).
void finish_photo(PictureBuffer& picture, const PhotoFacts& facts, const PhotoOptions& options,
                  std::vector<std::string>& notices);

// Puts row `y` (counted from the top) of a picture stored `width` x `height`, grey or blue-green-red,
// where `turned` (new_picture of the turned sides) holds it: a reader that decodes row by row turns
// the picture on the way, at the cost of a copy, where turning it afterwards moves every pixel
// along long cycles through memory.
void place_row(PictureBuffer& turned, Orientation orientation, std::uint32_t width, std::uint32_t height,
               std::uint32_t y, const std::uint8_t* row);

// Turns the picture in place. The buffer must have room for the turned rows' padding: new_picture
// reserves it, so that a turn never holds the picture twice.
void orient_picture(PictureBuffer& picture, Orientation orientation);

// A longest line of at most format::kMaxCommentLength bytes: "taken 2023-06-01 14:22:05, Canon
// EOS R5, 1/250 s, f/4, ISO 200, 35 mm"; empty when EXIF gave none of it.
[[nodiscard]] std::string camera_summary(const CameraFacts& camera);

// Reads the orientation and camera facts of an EXIF block (TIFF-structured, with or without the
// "Exif\0\0" of a JPEG segment) into `facts` and marks EXIF present. A damaged block yields what
// could be read. Builds without an EXIF library only mark it present.
void read_exif(std::span<const std::uint8_t> block, PhotoFacts& facts);

// EXIF texts such as the make are a few dozen bytes; a summary keeps at most this much of each.
inline constexpr std::size_t kMaxExifTextBytes = 64;

// EXIF text as a summary may show it: printable, valid UTF-8, cut at `max_bytes` on a character
// boundary, surrounding blanks and trailing NULs gone; bytes that are not UTF-8 read as Latin-1.
[[nodiscard]] std::string clean_exif_text(std::span<const std::uint8_t> text, std::size_t max_bytes);

// Sides within what a .cod file holds and pixels within the limit: kPictureSides, or
// kPictureTooLarge with `message` naming the numbers.
FileStatus check_picture_size(std::uint64_t width, std::uint64_t height, const ReadLimits& limits,
                              std::string& message);

// Whether a Photoshop image-resource block (JPEG APP13 after its "Photoshop 3.0\0", TIFF tag
// 34377) holds an IPTC record (resource 0x0404).
[[nodiscard]] bool photoshop_has_iptc(std::span<const std::uint8_t> resources);

}  // namespace varnic::imagefile
