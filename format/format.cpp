// SPDX-License-Identifier: BSD-2-Clause
#include "format/format.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "utils/le_bytes.h"

namespace varnic::format {
namespace {

// The header as one table: groups of fields in file order, each repeated once, per channel, or
// per subband and channel. The writer, the parser and the offset lookups all walk it.
enum class Repeat { kOnce, kPerChannel, kPerSubbandAndChannel };
enum class Width { kShort, kOffset };  // 2 bytes; offsets 4 bytes (2 in version 2.3)

struct FieldGroup {
  Repeat repeat;
  Width width;
  std::array<HeaderField, 2> fields;  // band limits come in max/min pairs
  int field_count;
  int since_minor;  // present from this minor version on
};

constexpr FieldGroup kLayout[] = {
    {Repeat::kPerChannel, Width::kShort, {HeaderField::kDroppedLevels}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kHeaderLength}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kWidth}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kHeight}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kUsingMask}, 1, 3},
    {Repeat::kPerChannel, Width::kOffset, {HeaderField::kEndOffset}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kImageMode}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kTotalLevels}, 1, 3},
    {Repeat::kPerSubbandAndChannel, Width::kShort, {HeaderField::kBandMax, HeaderField::kBandMin}, 2, 3},
    {Repeat::kPerChannel, Width::kOffset, {HeaderField::kRestartOffset}, 1, 3},
    {Repeat::kPerChannel, Width::kShort, {HeaderField::kPixelOffset}, 1, 3},
    {Repeat::kPerSubbandAndChannel, Width::kShort, {HeaderField::kQuantStep}, 1, 3},
    {Repeat::kOnce, Width::kShort, {HeaderField::kCommentLength}, 1, 5},
};

struct Slot {
  HeaderField field;
  int channel;  // -1 for fields stored once
  int subband;
  std::size_t offset;
  std::size_t bytes;
};

// Calls visit(slot) for every field of a header of this version and level count, in file order;
// returns the offset after the last field (the comment bytes follow it in version 2.5).
template <class Visit>
std::size_t walk_layout(int minor_version, int total_levels, Visit&& visit) {
  std::size_t offset = kMagicSize;
  const int subbands = subband_count(total_levels < 0 ? 0 : total_levels);
  for (const FieldGroup& group : kLayout) {
    if (minor_version < group.since_minor) continue;
    const std::size_t bytes = group.width == Width::kOffset && minor_version >= 4 ? 4 : 2;
    const int rows = group.repeat == Repeat::kPerSubbandAndChannel ? subbands : 1;
    const bool once = group.repeat == Repeat::kOnce;
    for (int k = 0; k < rows; ++k) {
      for (int c = 0; c < (once ? 1 : kChannelCount); ++c) {
        for (int f = 0; f < group.field_count; ++f) {
          visit(Slot{group.fields[static_cast<std::size_t>(f)], once ? -1 : c, k, offset, bytes});
          offset += bytes;
        }
      }
    }
  }
  return offset;
}

// The header's numbers in the types the file gives them: sides and using-mask signed.
struct HeaderValues {
  CodecParams params;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t header_length = 0;
  std::uint16_t comment_length = 0;
};

// op(member) on the member of `values` that a slot stands for; one switch serves the writer and
// the parser.
template <class Values, class Op>
void with_field(Values& values, const Slot& slot, Op&& op) {
  auto channel = [&]() -> auto& { return values.params.channels[static_cast<std::size_t>(slot.channel)]; };
  const auto k = static_cast<std::size_t>(slot.subband);
  switch (slot.field) {
    case HeaderField::kDroppedLevels: op(channel().dropped_levels); return;
    case HeaderField::kHeaderLength: op(values.header_length); return;
    case HeaderField::kWidth: op(values.width); return;
    case HeaderField::kHeight: op(values.height); return;
    case HeaderField::kUsingMask: op(values.params.using_mask); return;
    case HeaderField::kEndOffset: op(channel().end_offset); return;
    case HeaderField::kImageMode: op(values.params.image_mode); return;
    case HeaderField::kTotalLevels: op(values.params.total_levels); return;
    case HeaderField::kBandMax: op(channel().band_max[k]); return;
    case HeaderField::kBandMin: op(channel().band_min[k]); return;
    case HeaderField::kRestartOffset: op(channel().restart_offset); return;
    case HeaderField::kPixelOffset: op(channel().pixel_offset); return;
    case HeaderField::kQuantStep: op(channel().quant_vector[k]); return;
    case HeaderField::kCommentLength: op(values.comment_length); return;
  }
}

void store(std::uint8_t* at, std::size_t bytes, std::uint32_t value) {
  if (bytes == 4) {
    utils::store_u32(at, value);
  } else {
    utils::store_u16(at, value);
  }
}

// A field read from the file: signed members take the 16-bit value sign-extended, unsigned ones
// zero-extended (2.3's 2-byte offsets included).
template <class Member>
Member widen(const std::uint8_t* at, std::size_t bytes) {
  if (bytes == 4) return static_cast<Member>(utils::load_u32(at));
  const std::uint16_t raw = utils::load_u16(at);
  if constexpr (std::is_signed_v<Member>) {
    return static_cast<Member>(static_cast<std::int16_t>(raw));
  } else {
    return static_cast<Member>(raw);
  }
}

bool channel_is_coded(const CodecParams& params, Channel channel) {
  return channel == Channel::kY || params.image_mode == kImageModeColour;
}

// Offsets of one coded plane: its table must fit in the file, and the two segment offsets, where
// set, must lie after the table and inside the file, the restart no later than the end.
// `count_at(offset)` gives the symbol count stored there, or -1 when it cannot be read.
template <typename CountAt>
StatusCode check_plane_layout(std::uint64_t file_size, const FileHeader& header, Channel channel,
                              bool followed_by_plane, CountAt&& count_at) {
  const std::size_t start = plane_start(header, channel);
  if (start >= file_size) return StatusCode::kFileBadOffset;
  const int count = count_at(start);
  if (count < 0) return StatusCode::kFileTruncated;
  if (count == 0) return StatusCode::kFileZeroSymbols;
  const std::uint64_t table_end = start + 1 + static_cast<std::uint64_t>(count);
  if (table_end > file_size) return StatusCode::kFileBadOffset;
  const ChannelParams& cp = header.params.channel(channel);
  if (cp.end_offset != 0 || followed_by_plane) {
    // The next plane starts at this plane's end, so it must follow the table.
    if (cp.end_offset < table_end || cp.end_offset > file_size) return StatusCode::kFileBadOffset;
  }
  if (cp.restart_offset != 0) {
    if (cp.restart_offset < table_end || cp.restart_offset > file_size) return StatusCode::kFileBadOffset;
    if (cp.end_offset != 0 && cp.restart_offset > cp.end_offset) return StatusCode::kFileBadOffset;
  }
  return StatusCode::kOk;
}

}  // namespace

bool has_family_magic(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kFamilyBytes && std::equal(kCurrentMagic.begin(), kCurrentMagic.begin() + kFamilyBytes, bytes.begin());
}

StatusCode check_version(std::span<const std::uint8_t> file) {
  if (file.size() < kMagicSize || !has_family_magic(file)) return StatusCode::kNotCompressedFile;
  const auto major = static_cast<std::int8_t>(file[kMajorDigitOffset]);
  const auto minor = static_cast<std::int8_t>(file[kMinorDigitOffset]);
  if (major != kMagic[kMajorDigitOffset] || minor < kOldestMinorDigit) return StatusCode::kVersionTooLow;
  if (minor > kMagic[kMinorDigitOffset]) return StatusCode::kVersionTooHigh;
  return StatusCode::kOk;
}

void append_symbol_table(const SymbolTable& table, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(table.count));
  out.insert(out.end(), table.values.begin(), table.values.begin() + table.count);
}

StatusCode read_symbol_table(std::span<const std::uint8_t> file, std::size_t start, SymbolTable& table,
                             std::size_t& position) {
  if (start >= file.size()) return StatusCode::kFileBadOffset;
  const int count = file[start];
  if (count == 0) return StatusCode::kFileZeroSymbols;
  if (file.size() - start - 1 < static_cast<std::size_t>(count)) return StatusCode::kFileBadOffset;
  table.count = count;
  std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(start) + 1, count, table.values.begin());
  position = start + 1 + static_cast<std::size_t>(count);
  return StatusCode::kOk;
}

std::size_t field_offset(int minor_version, int total_levels, HeaderField field, Channel channel, int subband) {
  std::size_t found = 0;
  const int c = static_cast<int>(channel);
  walk_layout(minor_version, total_levels, [&](const Slot& slot) {
    if (slot.field == field && slot.subband == subband && (slot.channel < 0 || slot.channel == c)) found = slot.offset;
  });
  return found;
}

std::size_t plane_start(const FileHeader& header, Channel channel) {
  switch (channel) {
    case Channel::kY: return header.data_start;
    case Channel::kI: return header.params.channel(Channel::kY).end_offset;
    case Channel::kQ: return header.params.channel(Channel::kI).end_offset;
  }
  return header.data_start;
}

namespace {

// `head` is the file's first bytes, all of them or at least max_header_bytes(); the sizes checked
// are the whole file's.
template <typename CountAt>
StatusCode parse_header_from(std::span<const std::uint8_t> head, std::uint64_t file_size, std::uint64_t max_pixels,
                             FileHeader& out, CountAt&& count_at) {
  const std::span<const std::uint8_t> file = head;
  VARNIC_RETURN_IF_ERROR(check_version(head));
  FileHeader h;
  std::copy_n(file.begin(), kMagicSize, h.magic.begin());
  const int minor = h.minor_version();

  // The fields up to the level count do not depend on it.
  if (file_size < field_offset(minor, 0, HeaderField::kBandMax)) return StatusCode::kFileTruncated;
  const std::uint16_t levels = utils::load_u16(file.data() + field_offset(minor, 0, HeaderField::kTotalLevels));
  if (levels < 1 || levels > kMaxFileLevels) return StatusCode::kFileBadTotalLevels;
  const std::size_t fields_end = walk_layout(minor, levels, [](const Slot&) {});
  if (file_size < fields_end) return StatusCode::kFileTruncated;

  HeaderValues v;
  walk_layout(minor, levels, [&](const Slot& slot) {
    with_field(v, slot, [&](auto& member) {
      member = widen<std::remove_reference_t<decltype(member)>>(file.data() + slot.offset, slot.bytes);
    });
  });
  h.header_length = v.header_length;
  std::size_t header_end = fields_end;
  if (minor >= 5) {
    if (v.comment_length > kMaxCommentLength) return StatusCode::kFileCommentTooLong;
    if (file_size - fields_end < v.comment_length) return StatusCode::kFileTruncated;
    h.comment.assign(reinterpret_cast<const char*>(file.data() + fields_end), v.comment_length);
    header_end += v.comment_length;
  }

  CodecParams& p = v.params;
  if (p.image_mode != kImageModeGrey && p.image_mode != kImageModeColour) return StatusCode::kFileBadImageMode;
  if (v.width < 1 || v.width > kMaxSide) return StatusCode::kFileBadWidth;
  if (v.height < 1 || v.height > kMaxSide) return StatusCode::kFileBadHeight;
  for (Channel c : {Channel::kY, Channel::kI, Channel::kQ}) {
    if (!channel_is_coded(p, c)) continue;
    const std::int32_t d = p.channel(c).dropped_levels;
    if (d < 0 || d >= levels) return StatusCode::kFileBadDroppedLevels;
  }
  p.image_width = static_cast<std::uint32_t>(v.width);
  p.image_height = static_cast<std::uint32_t>(v.height);
  compute_padded_size(p);
  // Every synthesis step needs a low band of at least 2 x 2.
  const std::uint32_t min_side = std::uint32_t{2} << levels;
  if (p.padded_width < min_side || p.padded_height < min_side) return StatusCode::kFilePaddedTooSmall;
  if (std::uint64_t{p.image_width} * p.image_height > max_pixels) return StatusCode::kFilePictureTooLarge;
  h.params = p;

  if (h.header_length != 0) {
    // The header length may point past the fields (room for extensions) but not back into them.
    h.data_start = kMagicSize + std::size_t{h.header_length};
    if (h.data_start < header_end) return StatusCode::kFileBadOffset;
  } else {
    h.data_start = header_end;
  }

  if (h.has_coefficients()) {
    const bool colour = h.is_colour();
    VARNIC_RETURN_IF_ERROR(check_plane_layout(file_size, h, Channel::kY, colour, count_at));
    if (colour) {
      VARNIC_RETURN_IF_ERROR(check_plane_layout(file_size, h, Channel::kI, true, count_at));
      VARNIC_RETURN_IF_ERROR(check_plane_layout(file_size, h, Channel::kQ, false, count_at));
    }
  }
  out = std::move(h);
  return StatusCode::kOk;
}

// The longest header of any version: the fields at the most levels, then the longest comment.
std::size_t max_header_bytes() {
  std::size_t longest = 0;
  for (int minor = kOldestMinorDigit - '0'; minor <= kMagic[kMinorDigitOffset] - '0'; ++minor)
    longest = std::max(longest, walk_layout(minor, kMaxFileLevels, [](const Slot&) {}));
  return longest + kMaxCommentLength;
}

}  // namespace

StatusCode parse_header(std::span<const std::uint8_t> file, std::uint64_t max_pixels, FileHeader& out) {
  return parse_header_from(file, file.size(), max_pixels, out, [&](std::size_t offset) { return int{file[offset]}; });
}

StatusCode parse_header(const ReadAt& read, std::uint64_t file_size, std::uint64_t max_pixels, FileHeader& out) {
  std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(file_size, max_header_bytes())));
  if (!read(0, head)) return StatusCode::kFileTruncated;
  const auto count_at = [&](std::size_t offset) {
    std::uint8_t count = 0;
    return read(offset, std::span(&count, 1)) ? int{count} : -1;
  };
  return parse_header_from(head, file_size, max_pixels, out, count_at);
}

void apply_file_settings(const FileHeader& header, CodecParams& settings) {
  const CodecParams& file = header.params;
  settings.total_levels = file.total_levels;
  settings.image_width = file.image_width;
  settings.image_height = file.image_height;
  settings.image_mode = file.image_mode;
  settings.using_mask = file.using_mask;
  settings.padded_width = file.padded_width;
  settings.padded_height = file.padded_height;
  settings.plane_size = file.plane_size;
  const auto subbands = static_cast<std::size_t>(subband_count(file.total_levels));
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    const ChannelParams& from = file.channels[c];
    ChannelParams& to = settings.channels[c];
    to.dropped_levels = from.dropped_levels;
    to.end_offset = from.end_offset;
    to.restart_offset = from.restart_offset;
    to.pixel_offset = from.pixel_offset;
    std::copy_n(from.band_max.begin(), subbands, to.band_max.begin());
    std::copy_n(from.band_min.begin(), subbands, to.band_min.begin());
    std::copy_n(from.quant_vector.begin(), subbands, to.quant_vector.begin());
  }
}

void append_header(const CodecParams& params, std::string_view comment, std::vector<std::uint8_t>& out) {
  constexpr int kMinor = kCurrentMagic[kMinorDigitOffset] - '0';
  HeaderValues v;
  v.params = params;
  v.width = static_cast<std::int32_t>(params.image_width);
  v.height = static_cast<std::int32_t>(params.image_height);
  for (ChannelParams& c : v.params.channels) c.end_offset = c.restart_offset = 0;
  v.comment_length = static_cast<std::uint16_t>(comment.size());
  const std::size_t fields_end = walk_layout(kMinor, params.total_levels, [](const Slot&) {});
  v.header_length = static_cast<std::uint16_t>(fields_end + comment.size() - kMagicSize);

  const std::size_t start = out.size();
  out.resize(start + fields_end);
  std::copy(kCurrentMagic.begin(), kCurrentMagic.end(), out.begin() + static_cast<std::ptrdiff_t>(start));
  std::uint8_t* base = out.data() + start;
  walk_layout(kMinor, params.total_levels, [&](const Slot& slot) {
    with_field(std::as_const(v), slot, [&](const auto& member) {
      store(base + slot.offset, slot.bytes, static_cast<std::uint32_t>(member));
    });
  });
  out.insert(out.end(), comment.begin(), comment.end());
}

void patch_band_limits(std::span<std::uint8_t> stream, const CodecParams& params, Channel channel) {
  constexpr int kMinor = kCurrentMagic[kMinorDigitOffset] - '0';
  const int levels = params.total_levels;
  const ChannelParams& cp = params.channel(channel);
  for (int k = 0; k < subband_count(levels); ++k) {
    const auto i = static_cast<std::size_t>(k);
    utils::store_u16(stream.data() + field_offset(kMinor, levels, HeaderField::kBandMax, channel, k),
                     static_cast<std::uint16_t>(cp.band_max[i]));
    utils::store_u16(stream.data() + field_offset(kMinor, levels, HeaderField::kBandMin, channel, k),
                     static_cast<std::uint16_t>(cp.band_min[i]));
  }
}

void patch_plane_offsets(std::span<std::uint8_t> stream, int total_levels, Channel channel, std::uint32_t restart,
                         std::uint32_t end) {
  constexpr int kMinor = kCurrentMagic[kMinorDigitOffset] - '0';
  utils::store_u32(stream.data() + field_offset(kMinor, total_levels, HeaderField::kRestartOffset, channel), restart);
  utils::store_u32(stream.data() + field_offset(kMinor, total_levels, HeaderField::kEndOffset, channel), end);
}

}  // namespace varnic::format
