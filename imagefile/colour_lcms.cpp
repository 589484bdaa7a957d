// SPDX-License-Identifier: BSD-2-Clause
// ColourConverter over Little CMS 2 (colour_profile.h). Each converter has its own context, so
// that converters on several threads share nothing, and the context keeps the library's first
// complaint for the notice.
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "imagefile/colour_profile.h"
#include "imagefile/notices.h"

namespace varnic::imagefile {

struct ColourConverter::Impl {
  std::string error;  // the context's user data: lives as long as the context
  cmsContext context = nullptr;
  cmsHTRANSFORM transform = nullptr;
  // Grey goes through a table of the 256 levels: Little CMS's optimized grey transforms are off by
  // up to 7 levels near black for steep curves (a linear profile into sRGB's).
  std::array<std::uint8_t, 256> grey_levels{};
  bool grey = false;

  Impl() : context(cmsCreateContext(nullptr, &error)) {}
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    if (transform != nullptr) cmsDeleteTransform(transform);
    if (context != nullptr) cmsDeleteContext(context);
  }
};

namespace {

// A profile description is shown in a notice: long ones are cut.
constexpr std::size_t kMaxDescriptionBytes = 80;
// A profile whose transform moves no sample of a 9-level lattice by more than this is sRGB under
// another name (phones embed such copies): converting would only add rounding and a notice.
constexpr int kIdentityTolerance = 1;

struct Profile {
  cmsHPROFILE handle = nullptr;
  Profile() = default;
  explicit Profile(cmsHPROFILE h) : handle(h) {}
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;
  ~Profile() {
    if (handle != nullptr) cmsCloseProfile(handle);
  }
};

void record_error(cmsContext context, cmsUInt32Number, const char* text) {
  auto* error = static_cast<std::string*>(cmsGetContextUserData(context));
  if (error != nullptr && error->empty() && text != nullptr) *error = text;
}

std::string description_of(cmsHPROFILE profile) {
  char text[256] = {};
  if (cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text) == 0) return {};
  return clean_exif_text({reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)}, kMaxDescriptionBytes);
}

// A profile's signatures are whatever 32 bits its file holds: they are read as numbers, since a
// value no enumerator names would be out of the enumeration's range.
std::string_view space_name(std::uint32_t space) {
  switch (space) {
    case cmsSigRgbData: return "RGB";
    case cmsSigGrayData: return "grey";
    case cmsSigCmykData: return "CMYK";
    case cmsSigLabData: return "Lab";
    default: return "other";
  }
}

cmsToneCurve* srgb_curve(cmsContext context) {
  // IEC 61966-2-1: Y = ((X + 0.055) / 1.055)^2.4 above 0.04045, X / 12.92 below.
  const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  return cmsBuildParametricToneCurve(context, 4, parameters);
}

// The profile a PNG's gAMA and cHRM describe; a missing one is sRGB's.
cmsHPROFILE png_profile(cmsContext context, const ColourTags& tags, bool grey) {
  const Chromaticities c = tags.chromaticities.value_or(kSrgbChromaticities);
  cmsToneCurve* curve = tags.gamma > 0 ? cmsBuildGamma(context, 1 / tags.gamma) : srgb_curve(context);
  if (curve == nullptr) return nullptr;
  const cmsCIExyY white = {c.white_x, c.white_y, 1.0};
  cmsHPROFILE profile = nullptr;
  if (grey) {
    profile = cmsCreateGrayProfileTHR(context, &white, curve);
  } else {
    const cmsCIExyYTRIPLE primaries = {{c.red_x, c.red_y, 1.0}, {c.green_x, c.green_y, 1.0}, {c.blue_x, c.blue_y, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    profile = cmsCreateRGBProfileTHR(context, &white, &primaries, curves);
  }
  cmsFreeToneCurve(curve);
  return profile;
}

cmsUInt32Number input_format(SampleLayout layout) {
  switch (layout) {
    case SampleLayout::kGrey: return TYPE_GRAY_8;
    case SampleLayout::kBgr: return TYPE_BGR_8;
    case SampleLayout::kCmyk: return TYPE_CMYK_8;
    case SampleLayout::kCmykInverted: return TYPE_CMYK_8_REV;
    case SampleLayout::kCmyk16: return TYPE_CMYK_16;
  }
  return TYPE_BGR_8;
}

// Whether an 8-bit grey or colour transform leaves every sample of a lattice where it was.
bool moves_nothing(cmsHTRANSFORM transform, bool grey) {
  constexpr int kLevels = 9;  // 0, 32, ..., 224, 255
  auto level = [](int i) { return static_cast<std::uint8_t>(std::min(255, i * 32)); };
  std::vector<std::uint8_t> in;
  for (int r = 0; r < kLevels; ++r) {
    if (grey) {
      in.push_back(level(r));
      continue;
    }
    for (int g = 0; g < kLevels; ++g)
      for (int b = 0; b < kLevels; ++b) in.insert(in.end(), {level(b), level(g), level(r)});
  }
  std::vector<std::uint8_t> out(in.size());
  cmsDoTransform(transform, in.data(), out.data(), static_cast<cmsUInt32Number>(grey ? in.size() : in.size() / 3));
  for (std::size_t i = 0; i < in.size(); ++i)
    if (std::abs(int{in[i]} - int{out[i]}) > kIdentityTolerance) return false;
  return true;
}

}  // namespace

ColourConverter::ColourConverter() = default;
ColourConverter::~ColourConverter() = default;
ColourConverter::ColourConverter(ColourConverter&&) noexcept = default;
ColourConverter& ColourConverter::operator=(ColourConverter&&) noexcept = default;

ColourConverter::Outcome ColourConverter::prepare(const ColourTags& tags, SampleLayout layout, std::string& source,
                                                  std::string& why) {
  impl_.reset();
  const bool grey = layout == SampleLayout::kGrey;
  const bool cmyk = !grey && layout != SampleLayout::kBgr;
  if (tags.icc_profile.empty()) {
    if (tags.profile_unreadable) {
      source = notices::profile_source({});
      why = "it cannot be read from the file";
      return Outcome::kUnusable;
    }
    if (cmyk) {
      source = "its samples";
      why = "CMYK without an ICC profile";
      return Outcome::kUnusable;
    }
    if (says_srgb(tags)) return Outcome::kNothingToDo;
  }

  auto impl = std::make_unique<Impl>();
  if (impl->context == nullptr) throw std::bad_alloc();
  cmsSetLogErrorHandlerTHR(impl->context, record_error);
  Profile input;
  if (!tags.icc_profile.empty()) {
    input.handle = cmsOpenProfileFromMemTHR(impl->context, tags.icc_profile.data(),
                                            static_cast<cmsUInt32Number>(tags.icc_profile.size()));
    if (input.handle == nullptr) {
      source = notices::profile_source({});
      why = impl->error.empty() ? "it is damaged" : impl->error;
      return Outcome::kUnusable;
    }
    source = notices::profile_source(description_of(input.handle));
    const auto space = static_cast<std::uint32_t>(cmsGetColorSpace(input.handle));
    const std::uint32_t wanted = grey ? cmsSigGrayData : cmyk ? cmsSigCmykData : cmsSigRgbData;
    if (space != wanted) {
      why = "it describes " + std::string(space_name(space)) + " samples, the picture has " +
            std::string(space_name(wanted)) + " ones";
      return Outcome::kUnusable;
    }
    const auto kind = static_cast<std::uint32_t>(cmsGetDeviceClass(input.handle));
    if (kind == cmsSigLinkClass || kind == cmsSigAbstractClass || kind == cmsSigNamedColorClass) {
      why = "it is not a profile of a picture's colours";
      return Outcome::kUnusable;
    }
  } else {
    input.handle = png_profile(impl->context, tags, grey);
    source = notices::png_source(tags.gamma, tags.chromaticities.has_value());
    if (input.handle == nullptr) {
      why = impl->error.empty() ? "the values are out of range" : impl->error;
      return Outcome::kUnusable;
    }
  }

  Profile output;
  if (grey) {
    cmsToneCurve* curve = srgb_curve(impl->context);
    if (curve != nullptr) output.handle = cmsCreateGrayProfileTHR(impl->context, cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
  } else {
    output.handle = cmsCreate_sRGBProfileTHR(impl->context);
  }
  if (output.handle == nullptr) throw std::bad_alloc();
  impl->transform = cmsCreateTransformTHR(impl->context, input.handle, input_format(layout), output.handle,
                                          grey ? TYPE_GRAY_8 : TYPE_BGR_8, INTENT_PERCEPTUAL,
                                          grey ? cmsFLAGS_NOOPTIMIZE : 0);
  if (impl->transform == nullptr) {
    why = impl->error.empty() ? "Little CMS cannot convert from it" : impl->error;
    return Outcome::kUnusable;
  }
  if (!cmyk && moves_nothing(impl->transform, grey)) return Outcome::kNothingToDo;
  if (grey) {
    std::array<std::uint8_t, 256> levels;
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<std::uint8_t>(i);
    cmsDoTransform(impl->transform, levels.data(), impl->grey_levels.data(), 256);
    impl->grey = true;
  }
  impl_ = std::move(impl);
  return Outcome::kReady;
}

void ColourConverter::convert(const void* in, std::uint8_t* out, std::size_t pixels) const {
  if (impl_ == nullptr) return;
  if (impl_->grey) {
    const auto* levels = static_cast<const std::uint8_t*>(in);
    for (std::size_t i = 0; i < pixels; ++i) out[i] = impl_->grey_levels[levels[i]];
    return;
  }
  cmsDoTransform(impl_->transform, in, out, static_cast<cmsUInt32Number>(pixels));
}

}  // namespace varnic::imagefile
