// SPDX-License-Identifier: BSD-2-Clause
// Header parsing: refusal of every field outside the format's limits, each with its own status
// and the header untouched (the library's probe tests read the facts of each version), and what
// opening a file changes in the settings.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "test_util.h"

namespace varnic::decoder {
namespace {

TEST(HeaderTest, BadMagicsAndFieldsOutsideTheirLimitsAreRefusedByName) {
  using Change = std::function<void(std::vector<std::uint8_t>&)>;
  auto u16 = [](std::size_t at, std::uint32_t v) -> Change { return [=](auto& f) { store_u16(f, at, v); }; };
  auto u32 = [](std::size_t at, std::uint32_t v) -> Change { return [=](auto& f) { store_u32(f, at, v); }; };
  auto magic = [](const char* m) -> Change { return [=](auto& f) { std::memcpy(f.data(), m, 8); }; };
  const std::size_t restart_at = 38 + 12 * 16;
  const struct { const char* file; Change change; StatusCode want; std::uint64_t limit = kDefaultPixelLimit; std::size_t data_start = 0; } rows[] = {
      {"tiny_9x5_g_q30", magic("QVT2.4aZ"), StatusCode::kOk},
      {"tiny_9x5_g_q30", magic("QVT2.5xZ"), StatusCode::kOk},  // byte 6 is not examined
      {"tiny_9x5_g_q30", magic("QVT3.0aZ"), StatusCode::kVersionTooLow},
      {"tiny_9x5_g_q30", magic("QVT2.2aZ"), StatusCode::kVersionTooLow},
      {"tiny_9x5_g_q30", magic("QVT1.5aZ"), StatusCode::kVersionTooLow},
      {"tiny_9x5_g_q30", magic("QVT2.6aZ"), StatusCode::kVersionTooHigh},
      {"tiny_9x5_g_q30", magic("QVT2\x2e\xb5" "aZ"), StatusCode::kVersionTooLow},  // digits are signed
      {"tiny_9x5_g_q30", magic("QVS2.5aZ"), StatusCode::kNotCompressedFile},
      {"tiny_9x5_g_q30", magic("qvt2.5aZ"), StatusCode::kNotCompressedFile},
      {"tiny_9x5_g_q30", [](auto& f) { f.resize(7); }, StatusCode::kNotCompressedFile},
      {"astronaut_q50", u16(36, 0), StatusCode::kFileBadTotalLevels},
      {"astronaut_q50", u16(36, 11), StatusCode::kFileBadTotalLevels},
      {"astronaut_q50", u16(36, 0xffff), StatusCode::kFileBadTotalLevels},
      {"astronaut_q50", u16(34, 622), StatusCode::kFileBadImageMode},
      {"astronaut_q50", u16(34, 0), StatusCode::kFileBadImageMode},
      {"astronaut_q50", u16(16, 0), StatusCode::kFileBadWidth},
      {"astronaut_q50", u16(16, 0x8000), StatusCode::kFileBadWidth},
      {"astronaut_q50", u16(18, 0xffff), StatusCode::kFileBadHeight},
      {"astronaut_q50", u16(8, 5), StatusCode::kFileBadDroppedLevels},
      {"astronaut_q50", u16(8, 4), StatusCode::kOk},
      {"astronaut_q50", u16(10, 0xffff), StatusCode::kFileBadDroppedLevels},
      {"astronaut_q50", u16(12, 0x7fff), StatusCode::kFileBadDroppedLevels},
      // 256 x 192 pads to 256 x 256 at 8 levels, below the 512 they need (zeros make room for the
      // 9 more subband rows).
      {"astronaut_q50", [](auto& f) { f.insert(f.begin() + 346, 18 * 9, 0), store_u16(f, 36, 8); }, StatusCode::kFilePaddedTooSmall},
      {"astronaut_q50", u16(344, 2048), StatusCode::kFileCommentTooLong},
      {"astronaut_q50", u16(344, 0xffff), StatusCode::kFileCommentTooLong},
      // Offsets outside the file, or before the data they follow.
      {"astronaut_q50", u32(22, 0xffffffff), StatusCode::kFileBadOffset},
      {"astronaut_q50", u32(22, 0), StatusCode::kFileBadOffset},
      {"astronaut_q50", u32(26, 100), StatusCode::kFileBadOffset},
      {"astronaut_q50", [](auto& f) { store_u32(f, 30, static_cast<std::uint32_t>(f.size() + 1)); }, StatusCode::kFileBadOffset},
      {"astronaut_q50", u32(restart_at, 347), StatusCode::kFileBadOffset},
      {"astronaut_q50", [=](auto& f) { store_u32(f, restart_at + 4, load_u32(f, 26) + 1); }, StatusCode::kFileBadOffset},
      {"astronaut_q50", u32(restart_at, 0), StatusCode::kOk},  // no second segment
      {"astronaut_q50", u16(14, 100), StatusCode::kFileBadOffset},
      {"astronaut_q50", u16(14, 0xffff), StatusCode::kFileBadOffset},
      {"astronaut_q50", u16(14, 0), StatusCode::kOk, kDefaultPixelLimit, 346},  // the data follow the fields
      {"astronaut_comment", u16(14, 0), StatusCode::kOk, kDefaultPixelLimit, 346 + 11},
      {"astronaut_comment_v23", u16(14, 0), StatusCode::kOk, kDefaultPixelLimit, 346 - 14},
      {"astronaut_q50", [](auto& f) { f[346] = 0; }, StatusCode::kFileZeroSymbols},
      {"astronaut_q50", [](auto& f) { f[load_u32(f, 26)] = 0; }, StatusCode::kFileZeroSymbols},
      {"astronaut_q50", [](auto& f) { f.resize(100); }, StatusCode::kFileTruncated},
      {"astronaut_q50", [](auto& f) { f.resize(37); }, StatusCode::kFileTruncated},
      {"astronaut_q50", [](auto&) {}, StatusCode::kOk, 256 * 192},
      {"astronaut_q50", [](auto&) {}, StatusCode::kFilePictureTooLarge, 256 * 192 - 1},
      // 60 bytes declaring the largest picture: refused by the default limit before anything else.
      {"astronaut_q50", [](auto& f) {
         f.resize(38 + 12 * 4 + 18 + 6 * 4 + 2);
         std::fill(f.begin() + 60, f.end(), 0);
         for (const auto& [at, v] : {std::pair<std::size_t, std::uint32_t>{16, 32767}, {18, 32767}, {36, 1}, {10, 0}, {12, 0}, {14, 0}}) store_u16(f, at, v);
       }, StatusCode::kFilePictureTooLarge},
      // Grey files ignore the chrominance fields; uncoded files are never read past the header.
      {"tiny_9x5_g_q30", [](auto& f) { store_u16(f, 10, 0x7fff), store_u32(f, 26, 0xffffffff); }, StatusCode::kOk},
      {"astronaut_comment_noZ", [](auto& f) { f[346 + 11] = 0, store_u32(f, 22, 0xffffff); }, StatusCode::kOk},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    auto file = read_cod(rows[i].file);
    rows[i].change(file);
    FileHeader h;
    h.comment = "untouched";
    EXPECT_EQ(parse_header(file, rows[i].limit, h), rows[i].want) << "row " << i << " of " << rows[i].file;
    EXPECT_EQ(h.comment == "untouched", rows[i].want != StatusCode::kOk) << "header written on failure, row " << i;
    EXPECT_TRUE(rows[i].data_start == 0 || h.data_start == rows[i].data_start) << "row " << i;
    // Read piece by piece, as info reads a file, the answer is the same from a few small reads.
    std::size_t read_bytes = 0;
    const ReadAt read = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
      read_bytes += out.size();
      if (offset > file.size() || out.size() > file.size() - offset) return false;
      std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
      return true;
    };
    FileHeader pieces;
    EXPECT_EQ(parse_header(read, file.size(), rows[i].limit, pieces), rows[i].want) << "row " << i;
    EXPECT_EQ(pieces.comment, rows[i].want == StatusCode::kOk ? h.comment : "") << "row " << i;
    EXPECT_LE(read_bytes, std::size_t{8192}) << "row " << i;
  }
}

TEST(HeaderTest, OpeningOverwritesOnlyWhatTheFileCarries) {
  FileHeader h;
  ASSERT_EQ(parse_header(read_cod("astronaut_L3_drop"), kDefaultPixelLimit, h), StatusCode::kOk);
  CodecParams s;
  s.quality_factor = 77;
  s.threshold_vector[0] = 123;
  s.channel(Channel::kQ).quant_vector[10] = 55;  // past 3 * 3 + 1 entries
  apply_file_settings(h, s);
  EXPECT_EQ(std::vector<std::int64_t>({s.total_levels, s.image_width, s.padded_height, s.channels[0].dropped_levels,
                               s.channels[2].dropped_levels, s.channels[1].quant_vector[9], s.channels[2].end_offset}),
            std::vector<std::int64_t>({3, 256, 192, 1, 2, h.params.channels[1].quant_vector[9], 7034}));
  EXPECT_EQ(std::vector<std::int64_t>({s.quality_factor, s.threshold_vector[0], s.channels[2].quant_vector[10]}),
            std::vector<std::int64_t>({77, 123, 55}));
}

}  // namespace
}  // namespace varnic::decoder
