// SPDX-License-Identifier: BSD-2-Clause
// The last step of every read (photo.h) and the helpers the photograph readers share.
#include "imagefile/photo.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "imagefile/colour_profile.h"
#include "imagefile/formats.h"
#include "imagefile/notices.h"
#include "imagefile/registry.h"

namespace varnic::imagefile {
namespace {

std::string format_number(const char* pattern, double value) {
  char text[48];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// "1/250 s" below a second (the denominator rounded), "2.5 s" above.
std::string exposure_text(double seconds) {
  if (seconds < 1) return "1/" + format_number("%.0f", 1 / seconds) + " s";
  return format_number("%.4g", seconds) + " s";
}

// The length of the UTF-8 sequence starting at `p` (at most `left` bytes), 0 when it is not one.
std::size_t utf8_length(const std::uint8_t* p, std::size_t left) {
  const std::uint8_t b = p[0];
  const std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || n > left) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and values above U+10FFFF are not UTF-8 either.
  if (n == 2 && b < 0xC2) return 0;
  if (n == 3 && ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] >= 0xA0))) return 0;
  if (n == 4 && ((b == 0xF0 && p[1] < 0x90) || b > 0xF4 || (b == 0xF4 && p[1] >= 0x90))) return 0;
  return n;
}

// A PNG gAMA within 1% of 1/2.2 is taken for sRGB's curve.
constexpr double kSrgbGamma = 1 / 2.2;
constexpr double kSrgbGammaTolerance = 0.01 * kSrgbGamma;
// cHRM values are stored in units of 1/100000; libpng takes 0.001 as "the same" too.
constexpr double kChromaticityTolerance = 0.001;

bool near(double a, double b) { return std::fabs(a - b) <= kChromaticityTolerance; }

}  // namespace

bool says_srgb(const ColourTags& tags) {
  if (!tags.icc_profile.empty() || tags.profile_unreadable) return false;
  if (tags.srgb) return true;
  const bool srgb_gamma = tags.gamma <= 0 || std::fabs(tags.gamma - kSrgbGamma) <= kSrgbGammaTolerance;
  if (!tags.chromaticities) return srgb_gamma;
  const Chromaticities& c = *tags.chromaticities;
  const Chromaticities& s = kSrgbChromaticities;
  return srgb_gamma && near(c.white_x, s.white_x) && near(c.white_y, s.white_y) && near(c.red_x, s.red_x) &&
         near(c.red_y, s.red_y) && near(c.green_x, s.green_x) && near(c.green_y, s.green_y) &&
         near(c.blue_x, s.blue_x) && near(c.blue_y, s.blue_y);
}

namespace formats {

bool sniff_jpeg(Bytes bytes) { return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF; }

bool sniff_tiff(Bytes bytes) {
  // Classic TIFF (42) and BigTIFF (43), either byte order.
  if (bytes.size() < 4) return false;
  const bool intel = bytes[0] == 'I' && bytes[1] == 'I' && bytes[3] == 0 && (bytes[2] == 42 || bytes[2] == 43);
  const bool motorola = bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && (bytes[3] == 42 || bytes[3] == 43);
  return intel || motorola;
}

bool sniff_webp(Bytes bytes) {
  return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(bytes.data() + 8, "WEBP", 4) == 0;
}

}  // namespace formats

FileStatus check_picture_size(std::uint64_t width, std::uint64_t height, const ReadLimits& limits,
                              std::string& message) {
  if (width == 0 || height == 0 || width > static_cast<std::uint64_t>(format::kMaxSide) ||
      height > static_cast<std::uint64_t>(format::kMaxSide))
    return FileStatus::kPictureSides;
  if (width * height > limits.max_pixels) {
    message = pixel_limit_message(width, height, limits.max_pixels);
    return FileStatus::kPictureTooLarge;
  }
  return FileStatus::kOk;
}

std::string clean_exif_text(std::span<const std::uint8_t> text, std::size_t max_bytes) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && text[i] != 0;) {
    const std::size_t n = utf8_length(&text[i], text.size() - i);
    char piece[4];
    std::size_t size = n;
    if (n == 0) {  // a byte that is not UTF-8, read as Latin-1
      piece[0] = static_cast<char>(0xC0 | text[i] >> 6);
      piece[1] = static_cast<char>(0x80 | (text[i] & 0x3F));
      size = 2;
    } else {
      std::memcpy(piece, &text[i], n);
    }
    // C0 and C1 controls (U+0080..U+009F) become blanks.
    const bool control = (size == 1 && (text[i] < 0x20 || text[i] == 0x7F)) ||
                         (size == 2 && static_cast<unsigned char>(piece[0]) == 0xC2 &&
                          static_cast<unsigned char>(piece[1]) < 0xA0);
    if (control) piece[0] = ' ', size = 1;
    if (out.size() + size > max_bytes) break;
    out.append(piece, size);
    i += n == 0 ? 1 : n;
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string camera_summary(const CameraFacts& camera) {
  std::vector<std::string> parts;
  if (camera.date_taken.size() >= 10) {
    // EXIF's "YYYY:MM:DD HH:MM:SS" with the date's colons as dashes.
    std::string date = camera.date_taken;
    if (date[4] == ':' && date[7] == ':') date[4] = date[7] = '-';
    parts.push_back("taken " + date);
  }
  // Most models repeat the make ("Canon" + "Canon EOS R5").
  const bool repeated = !camera.make.empty() && camera.model.compare(0, camera.make.size(), camera.make) == 0;
  const std::string& make = repeated ? camera.model : camera.make;
  const std::string& model = repeated ? std::string() : camera.model;
  if (!make.empty() || !model.empty()) parts.push_back(make.empty() ? model : model.empty() ? make : make + " " + model);
  if (camera.exposure_seconds > 0 && std::isfinite(camera.exposure_seconds) && camera.exposure_seconds < 1e6)
    parts.push_back(exposure_text(camera.exposure_seconds));
  if (camera.f_number > 0 && camera.f_number < 1000) parts.push_back("f/" + format_number("%.3g", camera.f_number));
  if (camera.iso > 0) parts.push_back("ISO " + std::to_string(camera.iso));
  if (camera.focal_length_mm > 0 && camera.focal_length_mm < 1e5)
    parts.push_back(format_number("%.3g", camera.focal_length_mm) + " mm");
  std::string line;
  for (const std::string& part : parts) line += (line.empty() ? "" : ", ") + part;
  // The parts are short (texts of kMaxExifTextBytes): the cut is a guard only.
  return clean_exif_text({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()}, format::kMaxCommentLength);
}

bool photoshop_has_iptc(std::span<const std::uint8_t> resources) {
  // Each resource: "8BIM", a 16-bit id, a Pascal name padded to even length, a 32-bit size and
  // the data padded to even length, all big-endian.
  std::size_t at = 0;
  while (resources.size() - at >= 12 && std::memcmp(&resources[at], "8BIM", 4) == 0) {
    const unsigned id = unsigned{resources[at + 4]} << 8 | resources[at + 5];
    if (id == 0x0404) return true;
    std::size_t p = at + 6;
    p += (std::size_t{resources[p]} + 2) & ~std::size_t{1};
    if (resources.size() < p + 4) return false;
    const std::uint64_t size = std::uint64_t{resources[p]} << 24 | std::uint64_t{resources[p + 1]} << 16 |
                               std::uint64_t{resources[p + 2]} << 8 | resources[p + 3];
    p += 4;
    if (size > resources.size() - p) return false;
    at = p + static_cast<std::size_t>((size + 1) & ~std::uint64_t{1});
    if (at > resources.size()) return false;
  }
  return false;
}

void finish_photo(PictureBuffer& picture, const PhotoFacts& facts, const PhotoOptions& options,
                  std::vector<std::string>& notices) {
  const bool grey = picture.bits_per_pixel == 8;
  if (!facts.colour.applied) {
    ColourConverter converter;
    std::string source;
    std::string why;
    switch (converter.prepare(facts.colour, grey ? SampleLayout::kGrey : SampleLayout::kBgr, source, why)) {
      case ColourConverter::Outcome::kNothingToDo: break;
      case ColourConverter::Outcome::kUnusable: notices.push_back(notices::colour_unusable(source, why)); break;
      case ColourConverter::Outcome::kReady:
        if (options.keep_colours) {
          notices.push_back(notices::colour_kept(source));
          break;
        }
        const std::size_t stride = picture.geometry().stride;
        for (std::size_t y = 0; y < static_cast<std::size_t>(picture.height); ++y) {
          std::uint8_t* row = picture.pixels.data() + y * stride;
          converter.convert(row, row, static_cast<std::size_t>(picture.width));
        }
        notices.push_back(notices::colour_converted(grey, source));
        break;
    }
  }
  if (facts.orientation != Orientation::kAsStored) {
    if (options.keep_orientation) {
      if (facts.turned) orient_picture(picture, inverse(facts.orientation));
      notices.push_back(notices::orientation_kept(facts.orientation));
    } else {
      if (!facts.turned) orient_picture(picture, facts.orientation);
      notices.push_back(notices::rotated(facts.orientation));
    }
  }
  if (std::string dropped = notices::metadata_dropped(facts.exif, facts.xmp, facts.iptc); !dropped.empty())
    notices.push_back(std::move(dropped));
}

}  // namespace varnic::imagefile
