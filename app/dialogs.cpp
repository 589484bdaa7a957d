// SPDX-License-Identifier: BSD-2-Clause
// The dialogs and the commands that open them: Resize, Comments, About, Properties, Easy Setup,
// Master Setup, and the help viewer.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string>

#include "app/app.h"
#include "resources/resources.h"

namespace varnic::app {

namespace id = resources::control;

namespace {

std::string format_int(long long value) { return std::to_string(value); }

// Every value followed by one blank.
std::string format_number_list(const std::uint16_t* values, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += std::to_string(values[i]) + " ";
  return out;
}


// Display sizes typed by the user: a negative number stores 0, otherwise the low 16 bits.
std::uint16_t typed_display_size(std::string_view text) {
  const long long value = parse_leading_integer(text);
  return value < 0 ? 0 : static_cast<std::uint16_t>(value & 0xFFFF);
}

class ResizeController final : public platform::DialogController {
 public:
  explicit ResizeController(AppState& state) : state_(state) {}
  void on_init(platform::Dialog& d) override {
    d.set_text(id::kResizeWidth, format_int(state_.display_width));
    d.set_text(id::kResizeHeight, format_int(state_.display_height));
  }
  void on_command(platform::Dialog& d, int control) override {
    if (control == id::kOk) {
      state_.display_width = typed_display_size(d.text(id::kResizeWidth, 79));
      state_.display_height = typed_display_size(d.text(id::kResizeHeight, 79));
      d.end(0);
    } else if (control == id::kCancel) {
      d.end(0);
    }
  }

 private:
  AppState& state_;
};

class CommentsController final : public platform::DialogController {
 public:
  explicit CommentsController(AppState& state) : state_(state) {}
  void on_init(platform::Dialog& d) override { d.set_text(id::kCommentText, varnic::displayable_text(state_.comment)); }
  void on_command(platform::Dialog& d, int control) override {
    if (control == id::kOk) {
      state_.comment = d.text(id::kCommentText, varnic::kMaxCommentBytes);
      d.end(0);
    } else if (control == id::kCancel) {
      d.end(0);
    }
  }

 private:
  AppState& state_;
};

class AboutController final : public platform::DialogController {
 public:
  void on_init(platform::Dialog&) override {}
  // Only the OK button closes it; Escape does nothing.
  void on_command(platform::Dialog& d, int control) override {
    if (control == id::kOk) d.end(0);
  }
};

class InformationController final : public platform::DialogController {
 public:
  explicit InformationController(InformationTexts texts) : texts_(std::move(texts)) {}
  void on_init(platform::Dialog& d) override {
    d.set_text(id::kInfoFileName, texts_.file_name);
    d.set_text(id::kInfoCompressed, texts_.compressed);
    d.set_text(id::kInfoDecompressed, texts_.decompressed);
    d.set_text(id::kInfoOriginal, texts_.original);
    d.set_text(id::kInfoDisplay, texts_.display);
    d.set_text(id::kInfoRatio, texts_.ratio);
    d.set_text(id::kInfoTotalTime, texts_.total);
    d.set_text(id::kInfoEntropyTime, texts_.entropy);
    d.set_text(id::kInfoWaveletTime, texts_.wavelet);
    d.set_text(id::kInfoColourTime, texts_.colour);
  }
  // Exit, and the Escape key although the dialog has no Cancel button.
  void on_command(platform::Dialog& d, int control) override {
    if (control == id::kOk || control == id::kCancel) d.end(0);
  }

 private:
  InformationTexts texts_;
};

class EasySetupController final : public platform::DialogController {
 public:
  // The dialog works on a copy: only OK and Test, which derive the settings, put it in force, so
  // that a cancelled dialog shows, when reopened, what compresses.
  explicit EasySetupController(Application& app) : app_(app), working_(app.params()) {}

  void on_init(platform::Dialog& d) override {
    d.set_scroll_range(id::kQualityBar, codec::kMinQuality, codec::kMaxQuality);
    d.set_scroll_range(id::kColourBar, codec::kMinQuality, codec::kMaxQuality);
    d.set_scroll_position(id::kQualityBar, working_.quality_factor);
    d.set_scroll_position(id::kColourBar, working_.color_quality);
    d.set_text(id::kQualityEdit, format_int(working_.quality_factor));
    d.set_text(id::kColourEdit, format_int(working_.color_quality));
    d.combo_insert(id::kImageType, 0, "Other");
    d.combo_insert(id::kImageType, 1, "Landscape");
    d.combo_insert(id::kImageType, 2, "Faces");
    d.combo_select(id::kImageType, working_.image_type);
  }

  void on_scroll(platform::Dialog& d, const platform::ScrollEvent& e) override {
    std::int16_t* field = nullptr;
    int edit = 0;
    if (e.control == id::kQualityBar) {
      field = &working_.quality_factor;
      edit = id::kQualityEdit;
    } else if (e.control == id::kColourBar) {
      field = &working_.color_quality;
      edit = id::kColourEdit;
    } else {
      return;
    }
    int step = 0;
    switch (e.code) {
      case platform::ScrollCode::kLineLeft: step = -1; break;
      case platform::ScrollCode::kLineRight: step = 1; break;
      case platform::ScrollCode::kPageLeft: step = -10; break;
      case platform::ScrollCode::kPageRight: step = 10; break;
      case platform::ScrollCode::kLeftEnd: step = -10; break;
      case platform::ScrollCode::kRightEnd: step = 10; break;
      case platform::ScrollCode::kThumbPosition:
      case platform::ScrollCode::kThumbTrack: {
        const int width = e.client_width > 0 ? e.client_width : 1;
        const int position = static_cast<int>(e.pointer_x * 100.0 / width);
        step = position - *field;
        break;
      }
      case platform::ScrollCode::kOther: break;
    }
    move_to(d, e.control, edit, *field + step);
  }

  // A whole number 0..99 typed into the quality edit moves the slider there.
  void on_text_changed(platform::Dialog& d, int control) override {
    if (control != id::kQualityEdit) return;
    const std::string text = d.text(control, 80);
    std::size_t begin = text.find_first_not_of(" \t");
    std::size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) return;
    const std::string digits = text.substr(begin, end - begin + 1);
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos) return;
    const int value = std::stoi(digits);
    working_.quality_factor = static_cast<std::int16_t>(value);
    d.set_scroll_position(id::kQualityBar, value);
  }

  void on_command(platform::Dialog& d, int control) override {
    if (control == id::kEasyOk) {
      if (!take_image_type(d)) return;
      working_.quality_factor = typed_quality(d.text(id::kQualityEdit, 80));
      working_.color_quality = typed_quality(d.text(id::kColourEdit, 80));
      const format::StatusCode status = codec::derive_params_from_quality(working_);
      if (status == format::StatusCode::kOk) {
        app_.params() = working_;
        d.end(0);
      } else {
        d.message_box(format::message(status), "ERROR");
      }
    } else if (control == id::kEasyTest) {
      if (!take_image_type(d)) return;
      test(d);
    } else if (control == id::kEasyReset) {
      // The controls show the values the compression uses.
      move_to(d, id::kQualityBar, id::kQualityEdit, 50);
      move_to(d, id::kColourBar, id::kColourEdit, 50);
      d.combo_select(id::kImageType, 0);
      working_.image_type = 0;
      test(d);
    } else if (control == id::kCancel) {
      d.end(0);
    }
  }

 private:
  void move_to(platform::Dialog& d, int bar, int edit, int value) {
    const int clamped = std::clamp(value, codec::kMinQuality, codec::kMaxQuality);
    if (bar == id::kQualityBar) working_.quality_factor = static_cast<std::int16_t>(clamped);
    if (bar == id::kColourBar) working_.color_quality = static_cast<std::int16_t>(clamped);
    d.set_scroll_position(bar, clamped);
    d.set_text(edit, format_int(clamped));
  }

  bool take_image_type(platform::Dialog& d) {
    const int selection = d.combo_selection(id::kImageType);
    if (selection < 0 || selection > 2) {
      d.message_box("Image type wrong!!!", "ERROR");
      return false;
    }
    working_.image_type = static_cast<std::int16_t>(selection);
    return true;
  }

  // Out-of-range numbers stay out of range (they are not wrapped into 16 bits) so that the
  // derivation refuses them.
  static std::int16_t typed_quality(std::string_view text) {
    const long long value = parse_leading_integer(text);
    return static_cast<std::int16_t>(std::clamp<long long>(value, -32768, 32767));
  }

  void test(platform::Dialog& d) {
    const format::StatusCode status = codec::derive_params_from_quality(working_);
    if (status != format::StatusCode::kOk) {
      d.message_box(format::message(status), "ERROR");
      return;
    }
    app_.params() = working_;
    app_.dispatch(kCmdCompress);
  }

  Application& app_;
  format::CodecParams working_;
};

// Reads up to `count` whitespace-separated numbers for the hidden mask fields, which nothing but
// this dialog uses: missing numbers are 0, anything unreadable ends the list.
void parse_mask_list(const std::string& text, int count, std::array<std::uint16_t, format::kMaxSubbands>& out) {
  std::array<std::uint16_t, format::kMaxSubbands> values{};
  std::size_t p = 0;
  for (int n = 0; n < count && n < format::kMaxSubbands; ++n) {
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
    if (p >= text.size() || !std::isdigit(static_cast<unsigned char>(text[p]))) break;
    long long v = 0;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
      v = std::min<long long>(v * 10 + (text[p] - '0'), 65535);
      ++p;
    }
    values[static_cast<std::size_t>(n)] = static_cast<std::uint16_t>(v);
  }
  out = values;
}

class MasterSetupController final : public platform::DialogController {
 public:
  MasterSetupController(AppState& state, format::CodecParams& params, bool picture_loaded)
      : state_(state), params_(params), picture_loaded_(picture_loaded) {}

  void on_init(platform::Dialog& d) override {
    const int levels = params_.total_levels;
    const int subbands = format::subband_count(levels);
    d.set_text(id::kSetupStretchWidth, format_int(state_.display_width));
    d.set_text(id::kSetupStretchHeight, format_int(state_.display_height));
    d.set_text(id::kSetupImageWidth, format_int(params_.image_width));
    d.set_text(id::kSetupImageHeight, format_int(params_.image_height));
    d.set_text(id::kSetupALevels, format_int(params_.channels[0].dropped_levels));
    d.set_text(id::kSetupBLevels, format_int(params_.channels[1].dropped_levels));
    d.set_text(id::kSetupCLevels, format_int(params_.channels[2].dropped_levels));
    d.set_text(id::kSetupTotalLevels, format_int(levels));
    static constexpr int kVectors[3] = {id::kSetupVectorA, id::kSetupVectorB, id::kSetupVectorC};
    static constexpr int kMasks[3] = {id::kSetupMaskY, id::kSetupMaskI, id::kSetupMaskQ};
    for (int c = 0; c < 3; ++c) {
      const auto& channel = params_.channels[static_cast<std::size_t>(c)];
      d.set_text(kVectors[c], format_number_list(channel.quant_vector.data(), subbands));
      d.set_text(kMasks[c], format_number_list(state_.setup.mask_factors[static_cast<std::size_t>(c)].data(), subbands));
    }
    d.set_text(id::kSetupThresholds, format_number_list(params_.threshold_vector.data(), std::min(levels + 1, format::kThresholdEntries)));
    d.set_text(id::kSetupUsingMask, format_int(params_.using_mask));
    if (params_.using_mask != 0) d.set_text(id::kSetupMaskThresholds, state_.setup.mask_threshold_text);
  }

  void on_command(platform::Dialog& d, int control) override {
    if (control == id::kCancel) {
      d.end(0);
      return;
    }
    if (control != id::kOk) return;

    // Everything is read and checked before anything is stored.
    codec::FullSettings settings;
    settings.total_levels = parse_leading_integer(d.text(id::kSetupTotalLevels, 80));
    settings.dropped_levels[0] = parse_leading_integer(d.text(id::kSetupALevels, 80));
    settings.dropped_levels[1] = parse_leading_integer(d.text(id::kSetupBLevels, 80));
    settings.dropped_levels[2] = parse_leading_integer(d.text(id::kSetupCLevels, 80));
    if (settings.total_levels < codec::kMinLevels || settings.total_levels > codec::kMaxLevels) {
      return refuse(d, format::StatusCode::kTotalLevelsOutOfRange);
    }
    static constexpr int kVectors[3] = {id::kSetupVectorA, id::kSetupVectorB, id::kSetupVectorC};
    static constexpr codec::NumberListField kFields[3] = {codec::NumberListField::kQuantVectorA,
                                                          codec::NumberListField::kQuantVectorB,
                                                          codec::NumberListField::kQuantVectorC};
    for (int c = 0; c < 3; ++c) {
      const format::StatusCode s = codec::parse_number_list(d.text(kVectors[c], 200), kFields[c], settings.quant_vectors[static_cast<std::size_t>(c)]);
      if (s != format::StatusCode::kOk) return refuse(d, s);
    }
    const std::string threshold_text = d.text(id::kSetupThresholds, 200);
    {
      const format::StatusCode s = codec::parse_number_list(threshold_text, codec::NumberListField::kThresholdVector, settings.thresholds);
      if (s != format::StatusCode::kOk) return refuse(d, s);
    }
    {
      const format::StatusCode s = codec::validate_full_settings(settings);
      if (s != format::StatusCode::kOk) return refuse(d, s);
    }
    const long long width = parse_leading_integer(d.text(id::kSetupImageWidth, 80));
    const long long height = parse_leading_integer(d.text(id::kSetupImageHeight, 80));
    // The picture buffers are laid out for the picture's size: with a picture loaded the hidden
    // size fields cannot change it.
    const bool size_ok = picture_loaded_
                             ? (width == static_cast<long long>(params_.image_width) && height == static_cast<long long>(params_.image_height))
                             : (width >= 1 && width <= format::kMaxSide && height >= 1 && height <= format::kMaxSide);
    if (!size_ok) {
      d.message_box("imagewidth and Imageheight must give the picture's size!!!", "ERROR");
      return;
    }

    format::CodecParams updated = params_;
    {
      const format::StatusCode s = codec::apply_full_settings(settings, updated);
      if (s != format::StatusCode::kOk) return refuse(d, s);
    }
    updated.image_width = static_cast<std::uint32_t>(width);
    updated.image_height = static_cast<std::uint32_t>(height);
    const int subbands = format::subband_count(static_cast<int>(settings.total_levels));
    static constexpr int kMasks[3] = {id::kSetupMaskY, id::kSetupMaskI, id::kSetupMaskQ};
    SetupFields fields = state_.setup;
    for (int c = 0; c < 3; ++c) parse_mask_list(d.text(kMasks[c], 200), subbands, fields.mask_factors[static_cast<std::size_t>(c)]);
    updated.using_mask = static_cast<std::int32_t>(std::clamp<long long>(parse_leading_integer(d.text(id::kSetupUsingMask, 80)), -32768, 32767));
    fields.threshold_text = std::string(varnic::cut_utf8(threshold_text, 50));
    if (updated.using_mask != 0) fields.mask_threshold_text = d.text(id::kSetupMaskThresholds, 50);
    format::compute_padded_size(updated);

    params_ = updated;
    state_.setup = std::move(fields);
    state_.display_width = typed_display_size(d.text(id::kSetupStretchWidth, 80));
    state_.display_height = typed_display_size(d.text(id::kSetupStretchHeight, 80));
    d.end(0);
  }

 private:
  void refuse(platform::Dialog& d, format::StatusCode status) { d.message_box(format::message(status), "ERROR"); }

  AppState& state_;
  format::CodecParams& params_;
  bool picture_loaded_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

InformationTexts format_information(const AppState& state, const format::CodecParams& params) {
  InformationTexts t;
  char buffer[128];
  t.file_name = state.file_title;
  std::snprintf(buffer, sizeof buffer, "%d X %d", static_cast<int>(params.image_width), static_cast<int>(params.image_height));
  t.original = buffer;
  std::snprintf(buffer, sizeof buffer, "%d X %d", static_cast<int>(state.display_width), static_cast<int>(state.display_height));
  t.display = buffer;
  std::snprintf(buffer, sizeof buffer, "%lu(Bytes)", static_cast<unsigned long>(state.compressed_size));
  t.compressed = buffer;
  std::snprintf(buffer, sizeof buffer, "%lu(Bytes)", static_cast<unsigned long>(state.geometry.picture_bytes));
  t.decompressed = buffer;
  if (state.compressed_size == 0) {
    t.ratio = "--- (:1)";  // nothing compressed or opened: no ratio to show
  } else {
    const double bitmap_file = static_cast<double>(state.geometry.picture_bytes) + 54.0 +
                               4.0 * static_cast<double>(state.display_header.info.colours_used);
    std::snprintf(buffer, sizeof buffer, "%2.1f (:1)", bitmap_file / static_cast<double>(state.compressed_size));
    t.ratio = buffer;
  }
  auto seconds = [&](float value) {
    std::snprintf(buffer, sizeof buffer, "%2.2f(second)", static_cast<double>(value));
    return std::string(buffer);
  };
  t.total = seconds(state.total_time);
  t.entropy = seconds(state.entropy_decode_time);
  t.wavelet = seconds(state.wavelet_time);
  t.colour = seconds(state.colour_quant_time);
  return t;
}

int Application::run_dialog(resources::DialogId dialog, platform::DialogController& controller) {
  return platform_.run_dialog(resources::dialog(dialog), controller);
}


void Application::resize() {
  ResizeController controller(state_);
  (void)run_dialog(resources::DialogId::kResize, controller);
  show_stretched();
}

void Application::properties() {
  InformationController controller(format_information(state_, params_));
  (void)run_dialog(resources::DialogId::kInformation, controller);
}

void Application::easy_setup() {
  EasySetupController controller(*this);
  (void)run_dialog(resources::DialogId::kEasySetup, controller);
}

void Application::master_setup() {
  MasterSetupController controller(state_, params_, !state_.picture_buffer.empty());
  (void)run_dialog(resources::DialogId::kMasterSetup, controller);
}

void Application::comments() {
  CommentsController controller(state_);
  (void)run_dialog(resources::DialogId::kComments, controller);
}

void Application::about() {
  AboutController controller;
  (void)run_dialog(resources::DialogId::kAbout, controller);
}

void Application::help_contents() { platform_.show_help(resources::help_title(), resources::help_text()); }

long long parse_leading_integer(std::string_view text) {
  std::size_t p = 0;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || text[p] == '\n' || text[p] == '\r' ||
                             text[p] == '\v' || text[p] == '\f')) {
    ++p;
  }
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  long long value = 0;
  constexpr long long kCeiling = 1LL << 40;  // far beyond any field, and no overflow
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    value = std::min(value * 10 + (text[p] - '0'), kCeiling);
    ++p;
  }
  return negative ? -value : value;
}


}  // namespace varnic::app
