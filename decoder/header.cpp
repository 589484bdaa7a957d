// Version check, header parsing for versions 2.3 to 2.5, and validation.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "decoder/decoder.h"

namespace varnic::decoder {
namespace {

// Little-endian fields at a cursor; the caller has checked that they fit.
class FieldReader {
 public:
  FieldReader(std::span<const std::uint8_t> file, std::size_t position)
      : file_(file), position_(position) {}

  std::uint16_t u16() {
    const std::uint16_t v = static_cast<std::uint16_t>(file_[position_] | (file_[position_ + 1] << 8));
    position_ += 2;
    return v;
  }
  std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
  std::uint32_t u32() {
    const std::uint32_t lo = u16();
    const std::uint32_t hi = u16();
    return lo | (hi << 16);
  }
  // 2.3 stores offsets in 2 bytes, later versions in 4.
  std::uint32_t offset(bool wide) { return wide ? u32() : u16(); }
  std::size_t position() const { return position_; }

 private:
  std::span<const std::uint8_t> file_;
  std::size_t position_;
};

bool channel_is_coded(const codec::CodecParams& params, Channel channel) {
  return channel == Channel::kY || params.image_mode_ == codec::kImageModeColour;
}

// Offsets of one coded plane: its table must fit in the file, and the two
// segment offsets, where set, must lie after the table and inside the file,
// the restart no later than the end.
Status check_plane_layout(std::span<const std::uint8_t> file, const FileHeader& header,
                          Channel channel, bool followed_by_plane) {
  const std::size_t start = plane_start(header, channel);
  if (start >= file.size()) return Status::kFileBadOffset;
  const std::size_t count = file[start];
  if (count == 0) return Status::kFileZeroSymbols;
  const std::size_t table_end = start + 1 + count;
  if (table_end > file.size()) return Status::kFileBadOffset;
  const codec::ChannelParams& cp = header.params_.channel(channel);
  if (cp.end_offset_ != 0 || followed_by_plane) {
    // The next plane starts at this plane's end, so it must follow the table.
    if (cp.end_offset_ < table_end || cp.end_offset_ > file.size()) return Status::kFileBadOffset;
  }
  if (cp.restart_offset_ != 0) {
    if (cp.restart_offset_ < table_end || cp.restart_offset_ > file.size()) {
      return Status::kFileBadOffset;
    }
    if (cp.end_offset_ != 0 && cp.restart_offset_ > cp.end_offset_) return Status::kFileBadOffset;
  }
  return Status::kOk;
}

}  // namespace

std::size_t plane_start(const FileHeader& header, Channel channel) {
  switch (channel) {
    case Channel::kY:
      return header.y_data_start_;
    case Channel::kI:
      return header.params_.channel(Channel::kY).end_offset_;
    case Channel::kQ:
      return header.params_.channel(Channel::kI).end_offset_;
  }
  return header.y_data_start_;
}

Status parse_file_header(std::span<const std::uint8_t> file, const DecodeLimits& limits,
                         FileHeader& out) {
  VARNIC_RETURN_IF_ERROR(codec::CheckVersion(file));

  FileHeader h;
  std::copy_n(file.begin(), codec::kMagicSize, h.magic_.begin());
  const int minor = h.minor_version();
  const bool wide = minor >= 4;
  const bool has_comment = minor >= 5;
  codec::CodecParams& p = h.params_;
  codec::ChannelParams& y = p.channel(Channel::kY);
  codec::ChannelParams& i = p.channel(Channel::kI);
  codec::ChannelParams& q = p.channel(Channel::kQ);

  // The fields up to TotalLevels do not depend on the level count.
  if (file.size() < codec::ComputeHeaderLayout(minor, 0).band_limits) return Status::kFileTruncated;
  FieldReader r(file, codec::kMagicSize);
  y.dropped_levels_ = r.i16();
  i.dropped_levels_ = r.i16();
  q.dropped_levels_ = r.i16();
  h.header_length_ = r.u16();
  const std::int32_t width = r.i16();
  const std::int32_t height = r.i16();
  p.using_mask_ = r.i16();
  y.end_offset_ = r.offset(wide);
  i.end_offset_ = r.offset(wide);
  q.end_offset_ = r.offset(wide);
  p.image_mode_ = r.u16();
  const std::uint16_t levels = r.u16();
  if (levels < 1 || levels > codec::kMaxFileLevels) return Status::kFileBadTotalLevels;
  p.total_levels_ = levels;

  const std::size_t subbands = static_cast<std::size_t>(codec::SubbandCount(levels));
  if (file.size() < codec::ComputeHeaderLayout(minor, levels).fixed_end) {
    return Status::kFileTruncated;
  }
  for (std::size_t k = 0; k < subbands; ++k) {
    for (codec::ChannelParams* c : {&y, &i, &q}) {
      c->band_max_[k] = r.i16();
      c->band_min_[k] = r.i16();
    }
  }
  y.restart_offset_ = r.offset(wide);
  i.restart_offset_ = r.offset(wide);
  q.restart_offset_ = r.offset(wide);
  y.pixel_offset_ = r.i16();
  i.pixel_offset_ = r.i16();
  q.pixel_offset_ = r.i16();
  for (std::size_t k = 0; k < subbands; ++k) {
    for (codec::ChannelParams* c : {&y, &i, &q}) c->quant_vector_[k] = r.u16();
  }
  std::size_t fields_end = r.position();
  if (has_comment) {
    const std::size_t length = r.u16();
    if (length > codec::kMaxCommentLength) return Status::kFileCommentTooLong;
    if (file.size() - r.position() < length) return Status::kFileTruncated;
    h.comment_.assign(reinterpret_cast<const char*>(file.data() + r.position()), length);
    fields_end = r.position() + length;
  }

  if (p.image_mode_ != codec::kImageModeGrey && p.image_mode_ != codec::kImageModeColour) {
    return Status::kFileBadImageMode;
  }
  if (width < 1 || width > codec::kMaxFileSide) return Status::kFileBadWidth;
  if (height < 1 || height > codec::kMaxFileSide) return Status::kFileBadHeight;
  for (Channel c : {Channel::kY, Channel::kI, Channel::kQ}) {
    if (!channel_is_coded(p, c)) continue;
    const std::int32_t d = p.channel(c).dropped_levels_;
    if (d < 0 || d >= levels) return Status::kFileBadDroppedLevels;
  }
  p.image_width_ = static_cast<std::uint32_t>(width);
  p.image_height_ = static_cast<std::uint32_t>(height);
  codec::ComputePaddedSize(p);
  // Every synthesis step needs a low band of at least 2 x 2.
  const std::uint32_t min_side = std::uint32_t{2} << levels;
  if (p.padded_width_ < min_side || p.padded_height_ < min_side) {
    return Status::kFilePaddedTooSmall;
  }
  if (std::uint64_t{p.image_width_} * p.image_height_ > limits.max_pixels_) {
    return Status::kFilePictureTooLarge;
  }

  if (h.header_length_ != 0) {
    // The header length may point past the fields (room for extensions) but
    // not back into them.
    h.y_data_start_ = codec::kMagicSize + std::size_t{h.header_length_};
    if (h.y_data_start_ < fields_end) return Status::kFileBadOffset;
  } else {
    h.y_data_start_ = fields_end;
  }

  if (h.has_coefficients()) {
    const bool colour = p.image_mode_ == codec::kImageModeColour;
    VARNIC_RETURN_IF_ERROR(check_plane_layout(file, h, Channel::kY, colour));
    if (colour) {
      VARNIC_RETURN_IF_ERROR(check_plane_layout(file, h, Channel::kI, true));
      VARNIC_RETURN_IF_ERROR(check_plane_layout(file, h, Channel::kQ, false));
    }
  }

  out = std::move(h);
  return Status::kOk;
}

void apply_file_settings(const FileHeader& header, codec::CodecParams& settings) {
  const codec::CodecParams& file = header.params_;
  settings.total_levels_ = file.total_levels_;
  settings.image_width_ = file.image_width_;
  settings.image_height_ = file.image_height_;
  settings.image_mode_ = file.image_mode_;
  settings.using_mask_ = file.using_mask_;
  settings.padded_width_ = file.padded_width_;
  settings.padded_height_ = file.padded_height_;
  settings.plane_size_ = file.plane_size_;
  const auto subbands = static_cast<std::size_t>(codec::SubbandCount(file.total_levels_));
  for (int c = 0; c < codec::kChannelCount; ++c) {
    const codec::ChannelParams& from = file.channels_[c];
    codec::ChannelParams& to = settings.channels_[c];
    to.dropped_levels_ = from.dropped_levels_;
    to.end_offset_ = from.end_offset_;
    to.restart_offset_ = from.restart_offset_;
    to.pixel_offset_ = from.pixel_offset_;
    std::copy_n(from.band_max_.begin(), subbands, to.band_max_.begin());
    std::copy_n(from.band_min_.begin(), subbands, to.band_min_.begin());
    std::copy_n(from.quant_vector_.begin(), subbands, to.quant_vector_.begin());
  }
}

Status parse_plane_header(std::span<const std::uint8_t> file, const FileHeader& header,
                          Channel channel, SymbolTable& table, std::size_t& position) {
  const std::size_t start = plane_start(header, channel);
  if (start >= file.size()) return Status::kFileBadOffset;
  const int count = file[start];
  if (count == 0) return Status::kFileZeroSymbols;
  if (file.size() - start - 1 < static_cast<std::size_t>(count)) return Status::kFileBadOffset;
  table.count_ = count;
  std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(start) + 1, count, table.values_.begin());
  position = start + 1 + static_cast<std::size_t>(count);
  return Status::kOk;
}

}  // namespace varnic::decoder
