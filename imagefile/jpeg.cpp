// SPDX-License-Identifier: BSD-2-Clause
// JPEG through libjpeg-turbo, from memory. Grey stays grey; YCbCr and RGB files are decoded as
// blue-green-red straight into the picture buffer's rows (bottom row last in the file, first in
// the buffer); CMYK goes through its ICC profile one row at a time. The segments beside the
// picture give the facts: EXIF and XMP (APP1), the ICC profile in any number of APP2 segments,
// IPTC inside Photoshop's APP13.
//
// libjpeg reports errors by longjmp: everything that must survive one lives in a heap record
// reached through a pointer set before setjmp, and no object with a destructor is made after it.
#include <cstdio>  // jpeglib.h needs FILE
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagefile/colour_profile.h"
#include "imagefile/formats.h"
#include "imagefile/notices.h"

namespace varnic::imagefile::formats {
namespace {

// Each progressive scan passes over the whole coefficient buffer, so thousands of tiny scans cost
// minutes; no encoder writes more than a few dozen (libjpeg-turbo's own fuzzers stop at 500).
constexpr int kMaxScans = 500;
// Huffman coding spends at least one bit on each 8x8 block's DC value, so a file with fewer bits
// than its largest component has blocks cannot hold the picture it declares. (Arithmetic coding
// can go below a bit a block; such files are rare and not checked.)
constexpr std::uint64_t kMinBitsPerBlock = 1;
// libjpeg's working memory: a progressive file keeps every coefficient, 2 bytes a sample, up to
// 4 components at full resolution; sequential files need a few rows. Beyond this (on top of a
// margin for its tables) it stops instead of growing.
constexpr std::uint64_t kWorkBytesPerPixel = 8;
constexpr std::uint64_t kWorkMarginBytes = std::uint64_t{64} << 20;

constexpr std::uint8_t kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";             // with its NUL
constexpr char kXmpExtensionSignature[] = "http://ns.adobe.com/xmp/extension/";
constexpr char kPhotoshopSignature[] = "Photoshop 3.0";
constexpr unsigned kIccMarker = JPEG_APP0 + 2;

struct JpegReadState {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  bool created = false;         // set after setjmp: a member, not a local, to survive the longjmp
  std::string error;            // the first error's text
  bool ended_early = false;     // libjpeg met the end of the data inside the picture
  std::string damage;           // the first warning of damaged coded data
  std::vector<std::uint8_t> cmyk_row;
  std::vector<std::uint8_t> stored_row;  // a row before it is placed in a turned picture
  ColourConverter converter;
  LoadedPicture result;
};

JpegReadState* state_of(j_common_ptr cinfo) { return static_cast<JpegReadState*>(cinfo->client_data); }

void on_error(j_common_ptr cinfo) {
  JpegReadState* s = state_of(cinfo);
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  if (s->error.empty()) s->error = text;
  std::longjmp(s->jump, 1);
}

// Warnings (level -1) are kept: a premature end refuses the file, damage gives a notice; trace
// messages (level >= 0) are not wanted.
void on_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  JpegReadState* s = state_of(cinfo);
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF: s->ended_early = true; break;
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
      if (s->damage.empty()) {
        char text[JMSG_LENGTH_MAX];
        (*cinfo->err->format_message)(cinfo, text);
        s->damage = text;
      }
      break;
    default: break;  // about segments beside the picture (JFIF version, a bad ICC segment, ...)
  }
}

void print_nothing(j_common_ptr) {}

void count_scans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    JpegReadState* s = state_of(cinfo);
    if (s->error.empty()) s->error = "more than " + std::to_string(kMaxScans) + " scans";
    std::longjmp(s->jump, 1);
  }
}

bool starts_with(const jpeg_saved_marker_ptr m, const void* signature, std::size_t size) {
  return m->data_length >= size && std::memcmp(m->data, signature, size) == 0;
}

void gather_facts(j_decompress_ptr cinfo, PhotoFacts& facts) {
  bool exif_read = false;
  bool icc = false;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && starts_with(m, kExifSignature, sizeof kExifSignature)) {
      if (!exif_read) read_exif({m->data, m->data_length}, facts);  // the first block is the picture's
      exif_read = true;
    } else if (m->marker == JPEG_APP0 + 1 && (starts_with(m, kXmpSignature, sizeof kXmpSignature) ||
                                              starts_with(m, kXmpExtensionSignature, sizeof kXmpExtensionSignature))) {
      facts.xmp = true;
    } else if (m->marker == JPEG_APP0 + 13 && starts_with(m, kPhotoshopSignature, sizeof kPhotoshopSignature)) {
      facts.iptc |= photoshop_has_iptc({m->data + sizeof kPhotoshopSignature,
                                        m->data_length - sizeof kPhotoshopSignature});
    } else if (m->marker == kIccMarker) {
      icc = true;
    }
  }
  if (!icc) return;
  // libjpeg joins the numbered segments and checks that none is missing.
  JOCTET* profile = nullptr;
  unsigned int length = 0;
  if (jpeg_read_icc_profile(cinfo, &profile, &length) && profile != nullptr) {
    facts.colour.icc_profile.assign(profile, profile + length);
  } else {
    facts.colour.profile_unreadable = true;
  }
  std::free(profile);
}

}  // namespace

FileStatus read_jpeg(Bytes bytes, const ReadLimits& limits, LoadedPicture& out, std::string& message) {
  if (!sniff_jpeg(bytes)) return FileStatus::kJpegCorrupt;
  auto state = std::make_unique<JpegReadState>();
  JpegReadState* const s = state.get();
  j_decompress_ptr const cinfo = &s->cinfo;
  cinfo->err = jpeg_std_error(&s->errors);
  s->errors.error_exit = on_error;
  s->errors.emit_message = on_message;
  s->errors.output_message = print_nothing;
  cinfo->client_data = s;
  if (setjmp(s->jump)) {
    if (s->created) jpeg_destroy_decompress(cinfo);
    if (s->error.empty()) return FileStatus::kJpegCorrupt;
    message = std::string(status_message(FileStatus::kJpegCorrupt)) + ": " + s->error;
    return s->error.find("Insufficient memory") != std::string::npos ? FileStatus::kOutOfMemory
                                                                      : FileStatus::kJpegCorrupt;
  }
  jpeg_create_decompress(cinfo);
  s->created = true;
  s->progress.progress_monitor = count_scans;
  cinfo->progress = &s->progress;
  jpeg_mem_src(cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  for (const int marker : {JPEG_APP0 + 1, JPEG_APP0 + 2, JPEG_APP0 + 13}) jpeg_save_markers(cinfo, marker, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);

  auto refuse = [cinfo](FileStatus status) {
    jpeg_destroy_decompress(cinfo);
    return status;
  };
  if (const FileStatus size = check_picture_size(cinfo->image_width, cinfo->image_height, limits, message);
      size != FileStatus::kOk)
    return refuse(size);
  std::uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c)
    blocks = std::max(blocks, std::uint64_t{cinfo->comp_info[c].width_in_blocks} * cinfo->comp_info[c].height_in_blocks);
  if (!cinfo->arith_code && blocks * kMinBitsPerBlock > std::uint64_t{bytes.size()} * 8) {
    message = "the JPEG file is too short for the " + std::to_string(cinfo->image_width) + "x" +
              std::to_string(cinfo->image_height) + " picture it declares";
    return refuse(FileStatus::kJpegTruncated);
  }
  const std::uint64_t work =
      std::uint64_t{cinfo->image_width} * cinfo->image_height * kWorkBytesPerPixel + kWorkMarginBytes;
  cinfo->mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(work, LONG_MAX));

  bool grey = false;
  bool cmyk = false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo->out_color_space = JCS_GRAYSCALE;
      grey = true;
      break;
    case JCS_YCbCr:
    case JCS_RGB: cinfo->out_color_space = JCS_EXT_BGR; break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      message = "JPEG pictures of " + std::to_string(cinfo->num_components) +
                " components in no known colour space are not read";
      return refuse(FileStatus::kPhotoLayout);
  }
  gather_facts(cinfo, s->result.facts);
  if (cmyk) {
    // Photoshop, which writes nearly every CMYK JPEG, stores the samples inverted.
    std::string source;
    std::string why;
    const SampleLayout layout = cinfo->saw_Adobe_marker ? SampleLayout::kCmykInverted : SampleLayout::kCmyk;
    if (s->converter.prepare(s->result.facts.colour, layout, source, why) != ColourConverter::Outcome::kReady) {
      if (!s->result.facts.colour.icc_profile.empty())
        message = std::string(status_message(FileStatus::kCmykWithoutProfile)) + "; " +
                  notices::colour_unusable(source, why);
      return refuse(FileStatus::kCmykWithoutProfile);
    }
    s->result.facts.colour.applied = true;
    s->result.notices.push_back(notices::cmyk_converted(source));
  }

  jpeg_start_decompress(cinfo);
  // A turned picture (most portrait photographs from phones) is turned row by row on the way in.
  const Orientation orientation = s->result.facts.orientation;
  const bool turn = orientation != Orientation::kAsStored;
  const std::uint32_t width = cinfo->output_width;
  const std::uint32_t height = cinfo->output_height;
  PictureBuffer& picture = s->result.picture;
  FileStatus made = swaps_sides(orientation) ? new_picture(height, width, grey, true, picture)
                                             : new_picture(width, height, grey, true, picture);
  try {
    if (cmyk) s->cmyk_row.resize(std::size_t{width} * 4);
    if (turn) s->stored_row.resize(std::size_t{width} * (grey ? 1 : 3));
  } catch (const std::bad_alloc&) {
    made = FileStatus::kOutOfMemory;
  }
  if (made != FileStatus::kOk) {
    message = "out of memory reading the JPEG picture";
    return refuse(made);
  }
  s->result.facts.turned = turn;
  const std::size_t stride = picture.geometry().stride;
  while (cinfo->output_scanline < height) {
    const std::uint32_t y = cinfo->output_scanline;
    std::uint8_t* row = turn ? s->stored_row.data() : picture.pixels.data() + (height - 1 - y) * stride;
    JSAMPROW target = cmyk ? s->cmyk_row.data() : row;
    if (jpeg_read_scanlines(cinfo, &target, 1) != 1) break;
    if (cmyk) s->converter.convert(s->cmyk_row.data(), row, width);
    if (turn) place_row(picture, orientation, width, height, y, row);
  }
  if (!s->ended_early) jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  if (s->ended_early) return FileStatus::kJpegTruncated;
  if (!s->damage.empty()) s->result.notices.push_back(notices::damaged_data("JPEG", s->damage));
  out = std::move(s->result);
  return FileStatus::kOk;
}

}  // namespace varnic::imagefile::formats
