// SPDX-License-Identifier: BSD-2-Clause
// The encoder against the conformance vectors: every manifest case must give the expected .cod
// byte for byte (or be refused), and the stage dumps of the small picture must match plane for
// plane.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "codec/line_analysis.h"
#include "codec/quantize.h"
#include "codec/zerotrees.h"
#include "imagefile/imagefile.h"
#include "test_picture.h"

namespace varnic::codec {
namespace {

// Just enough JSON for the manifest: flat objects of strings, numbers, bools.
std::string Field(const std::string& object, const std::string& key) {
  std::size_t at = object.find("\"" + key + "\"");
  if (at == std::string::npos) return {};
  at = object.find_first_not_of(' ', object.find(':', at) + 1);
  if (object[at] == '"') return object.substr(at + 1, object.find('"', at + 1) - at - 1);
  return object.substr(at, object.find_first_of(",}\n", at) - at);
}

// The manifest's cases made from a picture (the others are derived files: the decoder's business).
std::vector<std::string> LoadManifest() {
  const std::vector<std::uint8_t> raw = ReadFile(kConformanceDir + "manifest.json");
  const std::string text(raw.begin(), raw.end());
  std::vector<std::string> cases;
  for (std::size_t at = text.find("\"cases\""); (at = text.find('{', at)) != std::string::npos; at = text.find('}', at)) {
    const std::string object = text.substr(at, text.find('}', at) - at + 1);
    if (!Field(object, "case").empty() && !Field(object, "picture").empty()) cases.push_back(object);
  }
  return cases;
}

// The command-line options the manifest uses: -q, --type, --levels, --dropped a,b,c, --comment.
CodecParams SettingsFor(const std::string& options, std::string& comment) {
  CodecParams p = default_codec_params();
  std::istringstream in(options);
  std::string opt, value;
  int dropped[3] = {-1, -1, -1};
  while (in >> opt >> value) {
    if (opt == "-q") p.quality_factor = static_cast<std::int16_t>(std::stoi(value));
    else if (opt == "--type") p.image_type = value == "landscape" ? 1 : value == "faces" ? 2 : 0;
    else if (opt == "--levels") p.total_levels = static_cast<std::uint16_t>(std::stoi(value));
    else if (opt == "--dropped") std::sscanf(value.c_str(), "%d,%d,%d", &dropped[0], &dropped[1], &dropped[2]);
    else if (opt == "--comment") comment = value;
    else ADD_FAILURE() << "unknown option " << opt;
  }
  EXPECT_EQ(derive_params_from_quality(p), StatusCode::kOk);
  format::compute_padded_size(p);
  for (std::size_t c = 0; c < 3; ++c) {
    if (dropped[c] >= 0) p.channels[c].dropped_levels = dropped[c];
  }
  return p;
}

struct Picture {
  imagefile::PictureBuffer buffer;
  PictureRows view;
};

Picture ReadPicture(const std::string& name) {
  Picture p;
  EXPECT_EQ(imagefile::read_bitmap(ReadFile(kConformanceDir + "pics/" + name), p.buffer), imagefile::FileStatus::kOk);
  p.view = {p.buffer.pixels.data(), p.buffer.pixels.size(), static_cast<std::uint32_t>(p.buffer.width),
            static_cast<std::uint32_t>(p.buffer.height), static_cast<std::uint16_t>(p.buffer.bits_per_pixel)};
  return p;
}

TEST(EncoderConformanceTest, EveryManifestCaseIsByteIdenticalOrRefused) {
  const std::vector<std::string> cases = LoadManifest();
  ASSERT_GE(cases.size(), 17u);
  for (const std::string& c : cases) {
    SCOPED_TRACE(Field(c, "case"));
    std::string comment;
    const CodecParams settings = SettingsFor(Field(c, "options"), comment);
    const Picture picture = ReadPicture(Field(c, "picture"));
    for (const int threads : {1, 2}) {
      EncodeRequest options;
      options.comment = comment;
      options.threads = threads;
      EncodedPicture out;
      const StatusCode status = encode_picture(picture.view, settings, options, out);
      if (Field(c, "refused") == "true") {
        EXPECT_EQ(status, StatusCode::kPictureTooSmall);
        continue;
      }
      ASSERT_EQ(status, StatusCode::kOk) << message(status);
      const std::vector<std::uint8_t> expected = ReadFile(kConformanceDir + "cod/" + Field(c, "case") + ".cod");
      EXPECT_EQ(std::to_string(expected.size()), Field(c, "cod_bytes"));
      ASSERT_EQ(out.stream.size(), expected.size());
      const auto diff = std::mismatch(out.stream.begin(), out.stream.end(), expected.begin());
      EXPECT_TRUE(diff.first == out.stream.end()) << "first difference at byte " << (diff.first - out.stream.begin());
    }
  }
}

template <class T>
std::vector<T> ReadStage(const std::string& name) {
  const std::vector<std::uint8_t> raw = ReadFile(kConformanceDir + "stages/small_64x48_q50." + name);
  std::vector<T> values(raw.size() / sizeof(T));
  std::memcpy(values.data(), raw.data(), values.size() * sizeof(T));  // little-endian host
  return values;
}

// Points at the stage that broke when the bytes above differ.
TEST(EncoderConformanceTest, StagesOfTheSmallPictureMatch) {
  const Picture picture = ReadPicture("astronaut_64x48.bmp");
  std::string comment;
  CodecParams working;
  ASSERT_EQ(make_working_params(SettingsFor("-q 50", comment), 64, 48, kImageModeColour, working), StatusCode::kOk);
  ASSERT_EQ(working.plane_size, 64u * 64u);
  const int levels = working.total_levels;
  for (int c = 0; c < 3; ++c) {
    const std::string stem = "yiq"[c] + std::string();
    SCOPED_TRACE(stem);
    std::vector<float> rows(64 * 64);
    for (std::uint32_t r = 0; r < 64; ++r) {
      channel_row_to_float(picture.view, picture.view.bottom_row(std::min(r, 47u)), c, {128, 128, 128}, 64, &rows[r * 64]);
    }
    EXPECT_EQ(std::vector<std::int16_t>(rows.begin(), rows.end()), ReadStage<std::int16_t>(stem + "_samples.i16"));
    // Every band row the line analysis hands out, put in its place in the pyramid.
    std::vector<float> floats(rows.size());
    LineAnalysis analysis;
    analysis.start(64, 64, levels, working.threshold_vector.data(),
                   [&](int k, std::uint32_t row, const float* p, std::uint32_t n) {
                     const BandRect band = subband_rect(64, 64, levels, k);
                     std::copy_n(p, n, &floats[(band.row + row) * 64 + band.col]);
                   });
    for (std::uint32_t r = 0; r < 64; ++r) analysis.push(&rows[r * 64]);
    const std::vector<float> expected_floats = ReadStage<float>(stem + "_float.f32");
    ASSERT_EQ(floats.size(), expected_floats.size());
    EXPECT_EQ(std::memcmp(floats.data(), expected_floats.data(), floats.size() * sizeof(float)), 0);
    format::ChannelParams& cp = working.channel(static_cast<format::Channel>(c));
    SymbolPlane codes;
    ASSERT_EQ(codes.allocate(64, 64), StatusCode::kOk);
    ASSERT_EQ(quantize_channel_rows(picture.view, c, working, cp, codes), StatusCode::kOk);
    auto widened = [&codes] { return std::vector<std::int16_t>(codes.data(), codes.data() + codes.size()); };
    EXPECT_EQ(widened(), ReadStage<std::int16_t>(stem + "_quantized.i16"));
    mark_zerotree_codes(codes, levels, cp.dropped_levels);
    EXPECT_EQ(widened(), ReadStage<std::int16_t>(stem + "_marked.i16"));
  }
}

}  // namespace
}  // namespace varnic::codec
