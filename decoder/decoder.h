// Decoding of .cod streams into coefficient planes, and the integer inverse
// wavelet that turns planes back into samples.
//
// Stream layout (all integers little-endian, offsets from the first byte):
//   0   magic "QVT2.5aZ": byte 3 major digit '2', byte 5 minor digit '3'..'5';
//       coefficients are decoded only when byte 7 is 'Z'.
//   8   header: dropped levels Y I Q, HeaderLength, width, height, UsingMask,
//       EndOffset Y I Q (u32; u16 in 2.3), ImageMode, TotalLevels L,
//       3L+1 rows of BandMax/BandMin for Y I Q, RestartOffset Y I Q
//       (u32; u16 in 2.3), PixelOffset Y I Q, 3L+1 rows of QuantVector Y I Q,
//       and in 2.5 only CommentLength and the comment bytes.
//   8 + HeaderLength (or right after the last field when it is 0): the Y
//       plane, then I at Y's EndOffset and Q at I's EndOffset. A plane is a
//       count N, N symbol bytes (value + 128), then two arithmetic-coded
//       segments, the second starting at RestartOffset and holding exactly the
//       finest coded level.
//
// Everything here is safe on any bytes: the header is validated (and the
// picture size checked against the caller's pixel limit) before anything is
// allocated, and reads past the end of the data see zeros.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/format.h"
#include "codec/params.h"
#include "codec/plane.h"
#include "codec/status.h"

namespace varnic::decoder {

using codec::Channel;
using codec::Status;

using Magic = std::array<std::uint8_t, codec::kMagicSize>;
// What the encoder writes, and what the display assumes for encoder planes.
inline constexpr Magic kCurrentMagic = {'Q', 'V', 'T', '2', '.', '5', 'a', 'Z'};
// Default refusal threshold for the declared picture size, so that a tiny
// file cannot ask for gigabytes of planes (3 planes of 2 bytes per sample).
inline constexpr std::uint64_t kDefaultPixelLimit = std::uint64_t{1} << 28;

struct DecodeLimits {
  // Width x height above this is refused before anything is allocated.
  std::uint64_t max_pixels_ = kDefaultPixelLimit;
};

// A validated header.
struct FileHeader {
  Magic magic_{};
  // The file's settings: levels, sizes (padded size computed), mode,
  // UsingMask and the per-channel dropped levels, band limits, pixel offsets,
  // quantization vectors and offsets. Fields the file does not carry keep
  // their defaults.
  codec::CodecParams params_;
  std::string comment_;  // raw bytes, version 2.5 only
  std::uint16_t header_length_ = 0;
  std::size_t y_data_start_ = 0;  // offset of the Y plane's symbol count

  int minor_version() const { return magic_[codec::kMinorDigitOffset] - '0'; }
  // Coefficients are decoded only for 'Z' files; others reconstruct flat.
  bool has_coefficients() const { return magic_[codec::kCodedFlagOffset] == codec::kCodedFlag; }
  bool is_colour() const { return params_.image_mode_ == codec::kImageModeColour; }
};

// Version check (codec::CheckVersion), field parsing by the file's version, and validation of
// every field that sizes an allocation or steers a read: TotalLevels 1..10,
// ImageMode 61/62, sides 1..32767, dropped levels of coded planes 0..L-1,
// comment at most 2047 bytes, padded sides at least 2^(L+1), the pixel
// limit, and for files with coefficients the plane offsets and symbol counts.
// `out` is written only on success.
Status parse_file_header(std::span<const std::uint8_t> file, const DecodeLimits& limits,
                         FileHeader& out);

// Copies what the file carries into the program's settings, the way opening
// a file overwrites them: levels, sizes (and padded size), mode, UsingMask,
// and per channel the dropped levels, offsets, pixel offset and the first
// 3L+1 band limits and quantization steps. Quality, image type, thresholds,
// mask factors and the vector entries past 3L+1 keep the caller's values.
void apply_file_settings(const FileHeader& header, codec::CodecParams& settings);

// A plane's symbol list: symbol j (1..count) is the value values_[j-1] - 128.
struct SymbolTable {
  int count_ = 0;  // 1..255
  std::array<std::uint8_t, 256> values_{};
};

// Offset of a channel's symbol count: Y after the header, I at Y's EndOffset,
// Q at I's EndOffset.
std::size_t plane_start(const FileHeader& header, Channel channel);

// Reads the channel's symbol table at plane_start(); `position` is left just
// after it. A count of 0 or a table past the end of the file is refused.
Status parse_plane_header(std::span<const std::uint8_t> file, const FileHeader& header,
                          Channel channel, SymbolTable& table, std::size_t& position);

// Arithmetic-decodes one plane from `position` (just after its table) into
// `plane` (zero-filled, padded size): zerotrees expanded, values dequantized,
// levels past the coded ones left zero. Never fails: a damaged stream gives
// damaged values.
void decode_plane_coefficients(std::span<const std::uint8_t> file, const FileHeader& header,
                               Channel channel, const SymbolTable& table, std::size_t position,
                               codec::CoefficientPlane& plane);

// Writes `marker` over the descendants of (y, x) for the steps first..end-1:
// at the n-th of them the block of side 2^n at (2^n y, 2^n x).
void fill_zero_tree(codec::CoefficientPlane& plane, std::uint32_t y, std::uint32_t x,
                    int first_step, std::int16_t marker, int end_step);

// The three planes of a picture in the order Y, I, Q; grey uses Y only.
using PlaneSet = std::array<codec::CoefficientPlane, codec::kChannelCount>;

// Table and coefficients of one channel into `plane`, which must already be
// allocated; coefficients only for 'Z' files.
Status decode_plane(std::span<const std::uint8_t> file, const FileHeader& header,
                    Channel channel, codec::CoefficientPlane& plane);

struct DecodedPlanes {
  FileHeader header_;
  PlaneSet planes_;
};

// Header, allocation and every coded plane. `out` is replaced only on
// success, so a failure leaves the caller's previous planes alone.
Status decode_planes(std::span<const std::uint8_t> file, const DecodeLimits& limits,
                     DecodedPlanes& out);

// Dequantization multipliers of one subband, float32 as the format defines
// them: up for q > 0, down for q <= 0; both 0 when the quantization value is 0.
struct BandScale {
  float up_ = 0.0f;
  float down_ = 0.0f;
};
BandScale band_scale(std::int16_t band_max, std::int16_t band_min, std::int16_t quant);

// q times the multiplier in double, truncated toward zero; a result outside
// int16 (hostile files only) keeps its low 16 bits.
inline std::int16_t dequantize_value(int q, BandScale scale) {
  const double product = q > 0 ? q * static_cast<double>(scale.up_)
                               : q * static_cast<double>(scale.down_);
  return static_cast<std::int16_t>(static_cast<std::int32_t>(product));
}

// In-place dequantization of a plane that holds the encoder's quantized (and
// zerotree-marked) values: markers become 0, every subband is rescaled with
// the channel's band limits and quantization vector.
void dequantize_plane(codec::CoefficientPlane& plane, const codec::CodecParams& params,
                      Channel channel);

// One synthesis level on the top-left rows x cols of a plane (both even, at
// least 4): low band plus the three detail quarters become a region of twice
// the size. `work` must hold synthesis_work_size(rows, cols) values.
void synthesis_step(std::int16_t* plane, std::size_t stride, int rows, int cols,
                    std::int16_t* work);
// The same with every detail coefficient taken as zero; the detail quarters
// are not read. `work` as for synthesis_step.
void upsample_step(std::int16_t* plane, std::size_t stride, int rows, int cols,
                   std::int16_t* work);
// Work values a step on rows x cols needs: a strip of columns and a row.
std::size_t synthesis_work_size(int rows, int cols);

// Step k (0 = coarsest) of a channel: a full synthesis for coded levels,
// upsampling for dropped ones. `work` is grown as needed and can be reused
// across steps and planes; the overloads without it allocate their own.
Status synthesize_level(codec::CoefficientPlane& plane, const codec::CodecParams& params,
                        Channel channel, int step, std::vector<std::int16_t>& work);
Status synthesize_level(codec::CoefficientPlane& plane, const codec::CodecParams& params,
                        Channel channel, int step);
// All steps of a channel, coarsest first.
Status synthesize_plane(codec::CoefficientPlane& plane, const codec::CodecParams& params,
                        Channel channel, std::vector<std::int16_t>& work);
Status synthesize_plane(codec::CoefficientPlane& plane, const codec::CodecParams& params,
                        Channel channel);

}  // namespace varnic::decoder
