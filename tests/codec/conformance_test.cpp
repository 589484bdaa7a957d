// The encoder against the conformance vectors: every manifest case must give
// the expected .cod byte for byte (or be refused), and the stage dumps of the
// small picture must match plane for plane.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "codec/encoder.h"
#include "codec/forward_wavelet.h"
#include "test_picture.h"
#include "imagefile/imagefile.h"

namespace varnic::codec {
using namespace ::varnic::format;
using namespace ::varnic::utils;
namespace {

const std::string kDir = std::string(VARNIC_TEST_DATA) + "/conformance/";

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Case {
  std::string name, picture, options;
  bool refused = false;
  long bytes = -1;
};

// Just enough JSON for the manifest: flat objects of strings, numbers, bools.
std::string Field(const std::string& object, const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  std::size_t at = object.find(quoted);
  if (at == std::string::npos) return {};
  at = object.find(':', at) + 1;
  while (object[at] == ' ') ++at;
  if (object[at] == '"') {
    const std::size_t end = object.find('"', at + 1);
    return object.substr(at + 1, end - at - 1);
  }
  const std::size_t end = object.find_first_of(",}\n", at);
  return object.substr(at, end - at);
}

std::vector<Case> LoadManifest() {
  const std::vector<std::uint8_t> raw = ReadFile(kDir + "manifest.json");
  const std::string text(raw.begin(), raw.end());
  std::vector<Case> cases;
  std::size_t at = text.find("\"cases\"");
  while ((at = text.find('{', at)) != std::string::npos) {
    const std::size_t end = text.find('}', at);
    const std::string object = text.substr(at, end - at + 1);
    at = end;
    Case c;
    c.name = Field(object, "case");
    c.picture = Field(object, "picture");
    if (c.name.empty() || c.picture.empty()) continue;  // derived files: the decoder's business
    c.options = Field(object, "options");
    c.refused = Field(object, "refused") == "true";
    const std::string bytes = Field(object, "cod_bytes");
    if (!bytes.empty()) c.bytes = std::stol(bytes);
    cases.push_back(c);
  }
  return cases;
}

// The command-line options the manifest uses: -q, --type, --levels,
// --dropped a,b,c and --comment.
CodecParams SettingsFor(const std::string& options, std::string& comment) {
  CodecParams p = default_codec_params();
  std::istringstream in(options);
  std::string opt;
  int dropped[3] = {-1, -1, -1};
  while (in >> opt) {
    std::string value;
    in >> value;
    if (opt == "-q") {
      p.quality_factor = static_cast<std::int16_t>(std::stoi(value));
    } else if (opt == "--type") {
      p.image_type = value == "landscape" ? 1 : value == "faces" ? 2 : 0;
    } else if (opt == "--levels") {
      p.total_levels = static_cast<std::uint16_t>(std::stoi(value));
    } else if (opt == "--dropped") {
      std::sscanf(value.c_str(), "%d,%d,%d", &dropped[0], &dropped[1], &dropped[2]);
    } else if (opt == "--comment") {
      comment = value;
    } else {
      ADD_FAILURE() << "unknown option " << opt;
    }
  }
  EXPECT_EQ(derive_params_from_quality(p), StatusCode::kOk);
  format::compute_padded_size(p);
  for (int c = 0; c < 3; ++c) {
    if (dropped[c] >= 0) p.channels[c].dropped_levels = dropped[c];
  }
  return p;
}

imagefile::PictureBuffer ReadPicture(const std::string& name) {
  imagefile::PictureBuffer picture;
  const auto bytes = ReadFile(kDir + "pics/" + name);
  EXPECT_EQ(imagefile::read_bitmap(bytes, picture), imagefile::FileStatus::kOk) << name;
  return picture;
}

PictureRows ViewOf(const imagefile::PictureBuffer& picture) {
  return {picture.pixels.data(), picture.pixels.size(), static_cast<std::uint32_t>(picture.width),
          static_cast<std::uint32_t>(picture.height),
          static_cast<std::uint16_t>(picture.bits_per_pixel)};
}

TEST(EncoderConformanceTest, EveryManifestCaseIsByteIdenticalOrRefused) {
  const std::vector<Case> cases = LoadManifest();
  ASSERT_GE(cases.size(), 17u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string comment;
    const CodecParams settings = SettingsFor(c.options, comment);
    const imagefile::PictureBuffer picture = ReadPicture(c.picture);
    for (const int threads : {1, 2}) {
      EncodeRequest options;
      options.comment = comment;
      options.threads = threads;
      EncodedPicture out;
      const StatusCode status = encode_picture(ViewOf(picture), settings, options, out);
      if (c.refused) {
        EXPECT_EQ(status, StatusCode::kPictureTooSmall);
        continue;
      }
      ASSERT_EQ(status, StatusCode::kOk) << message(status);
      const std::vector<std::uint8_t> expected = ReadFile(kDir + "cod/" + c.name + ".cod");
      EXPECT_EQ(static_cast<long>(expected.size()), c.bytes);
      ASSERT_EQ(out.stream.size(), expected.size());
      const auto diff = std::mismatch(out.stream.begin(), out.stream.end(), expected.begin());
      EXPECT_TRUE(diff.first == out.stream.end())
          << "first difference at byte " << (diff.first - out.stream.begin());
    }
  }
}

template <class T>
std::vector<T> ReadStage(const std::string& name) {
  const std::vector<std::uint8_t> raw = ReadFile(kDir + "stages/small_64x48_q50." + name);
  std::vector<T> values(raw.size() / sizeof(T));
  std::memcpy(values.data(), raw.data(), values.size() * sizeof(T));  // little-endian host
  return values;
}

TEST(EncoderConformanceTest, StagesOfTheSmallPictureMatch) {
  const imagefile::PictureBuffer picture = ReadPicture("astronaut_64x48.bmp");
  std::string comment;
  const CodecParams settings = SettingsFor("-q 50", comment);
  CodecParams working;
  ASSERT_EQ(make_working_params(settings, 64, 48, kImageModeColour, working), StatusCode::kOk);
  ASSERT_EQ(working.plane_size, 64u * 64u);
  std::array<CoefficientPlane, 3> planes;
  for (auto& plane : planes) ASSERT_EQ(plane.allocate(64, 64), StatusCode::kOk);
  std::vector<float> row(64);
  for (int c = 0; c < 3; ++c) {
    for (std::uint32_t r = 0; r < 64; ++r) {
      channel_row_to_float(ViewOf(picture), c, {128, 128, 128}, 64, r, row.data());
      std::copy(row.begin(), row.end(), planes[static_cast<std::size_t>(c)].row(r));
    }
  }

  const char* letters[3] = {"y", "i", "q"};
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(letters[c]);
    const std::string stem = letters[c];
    EXPECT_EQ(planes[c].samples(), ReadStage<std::int16_t>(stem + "_samples.i16"));

    const std::vector<float> floats =
        transform_to_float(planes[c], working.total_levels, working.threshold_vector.data());
    const std::vector<float> expected_floats = ReadStage<float>(stem + "_float.f32");
    ASSERT_EQ(floats.size(), expected_floats.size());
    EXPECT_EQ(std::memcmp(floats.data(), expected_floats.data(), floats.size() * sizeof(float)), 0);

    quantize_channel(planes[c], floats.data(), working.total_levels, working.channels[c]);
    EXPECT_EQ(planes[c].samples(), ReadStage<std::int16_t>(stem + "_quantized.i16"));

    mark_zerotrees(planes[c], working.total_levels, working.channels[c].dropped_levels);
    EXPECT_EQ(planes[c].samples(), ReadStage<std::int16_t>(stem + "_marked.i16"));
  }
}

}  // namespace
}  // namespace varnic::codec
