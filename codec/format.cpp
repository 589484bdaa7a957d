#include "codec/format.h"

namespace varnic::codec {

HeaderLayout ComputeHeaderLayout(int minor_version, int total_levels) {
  HeaderLayout h;
  h.minor_version = minor_version;
  h.offset_width = minor_version == 3 ? 2 : 4;
  const std::size_t subbands = 3 * static_cast<std::size_t>(total_levels < 0 ? 0 : total_levels) + 1;
  h.end_offsets = kEndOffsetsOffset;
  h.image_mode = h.end_offsets + 3 * h.offset_width;
  h.total_levels = h.image_mode + 2;
  h.band_limits = h.total_levels + 2;
  h.restart_offsets = h.band_limits + 12 * subbands;
  h.pixel_offsets = h.restart_offsets + 3 * h.offset_width;
  h.quant_rows = h.pixel_offsets + 6;
  const std::size_t after_quant = h.quant_rows + 6 * subbands;
  if (minor_version >= 5) {
    h.comment_length = after_quant;
    h.fixed_end = after_quant + 2;
  } else {
    h.comment_length = 0;
    h.fixed_end = after_quant;
  }
  return h;
}

Status CheckVersion(std::span<const std::uint8_t> file) {
  if (file.size() < kMagicSize || file[0] != 'Q' || file[1] != 'V' || file[2] != 'T') {
    return Status::kNotCompressedFile;
  }
  const auto major = static_cast<std::int8_t>(file[kMajorDigitOffset]);
  const auto minor = static_cast<std::int8_t>(file[kMinorDigitOffset]);
  if (major != '2' || minor < '3') return Status::kVersionTooLow;
  if (minor > '5') return Status::kVersionTooHigh;
  return Status::kOk;
}

}  // namespace varnic::codec
