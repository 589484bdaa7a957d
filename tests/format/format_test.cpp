// SPDX-License-Identifier: BSD-2-Clause
// What the file layout and the picture layout add to the conformance files: a written header
// parses back with its comment and signed fields, and row sizes do not overflow.
#include "format/format.h"

#include <gtest/gtest.h>

#include "utils/picture_layout.h"

namespace varnic::format {
namespace {

TEST(FormatTest, WrittenHeaderParsesBackWithItsCommentAndSignedFields) {
  CodecParams p;
  p.total_levels = 2;
  p.image_width = 9;
  p.image_height = 8;
  p.image_mode = kImageModeGrey;
  p.using_mask = -3;
  p.channels[0].dropped_levels = 1;
  p.channels[0].band_max[6] = -300;
  p.channels[0].quant_vector[6] = 125;
  std::vector<std::uint8_t> file;
  append_header(p, "hi", file);
  file.insert(file.end(), {1, kSymbolBias});  // a one-symbol table and no segments
  FileHeader h;
  ASSERT_EQ(parse_header(file, kDefaultPixelLimit, h), StatusCode::kOk);
  EXPECT_EQ(h.comment, "hi");
  EXPECT_EQ(h.data_start, file.size() - 2);
  EXPECT_EQ(std::vector<std::int64_t>({h.params.using_mask, h.params.padded_width, h.params.channels[0].band_max[6],
                               h.params.channels[0].quant_vector[6], h.params.channels[0].dropped_levels}),
            std::vector<std::int64_t>({-3, 12, -300, 125, 1}));
}

TEST(PictureLayoutTest, RowsArePaddedToFourBytesWithoutOverflow) {
  const struct {
    std::uint32_t width, height;
    std::uint16_t bits;
    std::size_t padding, picture_bytes;
  } rows[] = {{5, 3, 24, 1, 48}, {5, 5, 8, 3, 40}, {4, 2, 24, 0, 24}, {32767, 32767, 24, 3, std::size_t{98304} * 32767}};
  for (const auto& r : rows) {
    const utils::RowGeometry g = utils::row_geometry(r.width, r.height, r.bits);
    EXPECT_EQ(g.row_padding, r.padding) << r.width;
    EXPECT_EQ(g.picture_bytes, r.picture_bytes) << r.width;
  }
  EXPECT_FLOAT_EQ(utils::elapsed_seconds({5, 900}, {7, 100}), 1.2f);
}

}  // namespace
}  // namespace varnic::format
