// SPDX-License-Identifier: BSD-2-Clause
// info: the header facts of .cod files, as text or as one JSON object a line.
#include <algorithm>
#include <sstream>

#include "batch.h"
#include "text.h"

namespace varnic::cli {
namespace {

std::string info_text(const std::string& path, const Info& info) {
  std::ostringstream s;
  s << printable(path) << '\n';
  s << "  version      " << info.version_major << '.' << info.version_minor
    << (info.coded ? "" : " (coefficients not coded: decodes flat)") << '\n';
  s << "  size         " << info.width << " x " << info.height << ", " << (info.grey ? "grey (8-bit)" : "colour (24-bit)")
    << '\n';
  s << "  levels       " << info.levels << '\n';
  s << "  dropped      Y " << info.dropped[0];
  if (!info.grey) s << ", I " << info.dropped[1] << ", Q " << info.dropped[2];
  s << '\n';
  const char* names[3] = {"Y", "I", "Q"};
  for (int c = 0; c < (info.grey ? 1 : 3); ++c) {
    s << "  steps " << names[c] << "      ";
    for (std::size_t k = 0; k < info.steps[static_cast<std::size_t>(c)].size(); ++k)
      s << (k == 0 ? "" : " ") << format("%.4g", info.steps[static_cast<std::size_t>(c)][k]);
    s << '\n';
  }
  s << "  comment      " << (info.comment.empty() ? std::string("(none)") : json_string(displayable_text(info.comment))) << '\n';
  s << "  file         " << info.file_bytes << " bytes: header " << info.header_bytes << ", Y " << info.plane_bytes[0];
  if (!info.grey) s << ", I " << info.plane_bytes[1] << ", Q " << info.plane_bytes[2];
  s << '\n';
  s << "  ratio        " << ratio_text(info.ratio)
    << " (against a " << info.bitmap_bytes << "-byte bitmap)\n";
  return s.str();
}

std::string info_json(const std::string& path, const Info& info) {
  std::ostringstream s;
  s << "{\"file\":" << json_string(path) << ",\"version\":\"" << info.version_major << '.' << info.version_minor
    << "\",\"coded\":" << (info.coded ? "true" : "false") << ",\"width\":" << info.width
    << ",\"height\":" << info.height << ",\"mode\":\"" << (info.grey ? "grey" : "colour")
    << "\",\"levels\":" << info.levels << ",\"dropped\":{\"y\":" << info.dropped[0] << ",\"i\":" << info.dropped[1]
    << ",\"q\":" << info.dropped[2] << "},\"comment\":" << json_string(info.comment)
    << ",\"file_bytes\":" << info.file_bytes << ",\"header_bytes\":" << info.header_bytes
    << ",\"stream_bytes\":{\"y\":" << info.plane_bytes[0] << ",\"i\":" << info.plane_bytes[1]
    << ",\"q\":" << info.plane_bytes[2] << "},\"bitmap_bytes\":" << info.bitmap_bytes
    << ",\"ratio\":" << format("%.4f", info.ratio) << "}";
  return s.str();
}


}  // namespace

int run_info(const std::vector<std::string>& inputs, bool json, const Limits& limits, Console console) {
  int worst = kExitOk;
  for (const std::string& input : inputs) {
    Result<Info> info = probe_input(input, limits);
    if (!info) {
      console.err << "varnic-cli: " << printable(input) << ": " << info.message() << '\n';
      worst = std::max(worst, exit_code_for(info.status()));
      continue;
    }
    if (json) {
      console.out << info_json(input, info.value()) << '\n';
    } else {
      console.out << info_text(input, info.value());
    }
  }
  return worst;
}

}  // namespace varnic::cli
