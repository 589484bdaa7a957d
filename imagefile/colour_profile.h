// SPDX-License-Identifier: BSD-2-Clause
// Sample values to sRGB through Little CMS 2, perceptual intent: from an embedded ICC profile, or
// from the profile a PNG's gAMA and cHRM chunks describe. Colour comes out as 8-bit blue-green-red,
// grey as 8-bit grey with sRGB's tone curve. Builds without the library convert nothing. Private
// to imagefile/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imagefile/photo.h"

namespace varnic::imagefile {

// The samples a converter reads, each 8 bits unless said otherwise.
enum class SampleLayout : std::uint8_t {
  kGrey,
  kBgr,
  kCmyk,          // 0 no ink
  kCmykInverted,  // 255 no ink: Adobe's CMYK JPEG files
  kCmyk16,        // 16-bit, native byte order, 0 no ink
};

class ColourConverter {
 public:
  enum class Outcome : std::uint8_t {
    kNothingToDo,  // the tags say sRGB (or say nothing)
    kReady,
    kUnusable,     // a profile that cannot be used for these samples, or no library
  };

  ColourConverter();
  ~ColourConverter();
  ColourConverter(ColourConverter&&) noexcept;
  ColourConverter& operator=(ColourConverter&&) noexcept;

  // `source` names the description the values come from (notices::profile_source or
  // png_source); for kUnusable, `why` says what is wrong with it.
  Outcome prepare(const ColourTags& tags, SampleLayout layout, std::string& source, std::string& why);
  // `pixels` samples of the prepared layout into grey or blue-green-red; `in` may be `out` when
  // both take as many bytes a pixel.
  void convert(const void* in, std::uint8_t* out, std::size_t pixels) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnic::imagefile
