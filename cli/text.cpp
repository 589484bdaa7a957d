// SPDX-License-Identifier: BSD-2-Clause
#include "text.h"

#include <cstdio>

#include "varnic/rules.h"

namespace varnic::cli {
namespace {

bool control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// U+0080..U+009F: terminals take some of them (U+009B, the one-character CSI) as commands.
bool c1_control(std::string_view sequence) {
  return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
         static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

}  // namespace

std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const std::size_t length = utf8_sequence_length(bytes);
    const auto c = static_cast<unsigned char>(bytes[0]);
    char escape[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (control(c)) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (length > 0 && c1_control(bytes.substr(0, length))) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(bytes[1]));
      out += escape;
      bytes.remove_prefix(length);
      continue;
    } else if (length > 0) {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
      continue;
    } else {
      std::snprintf(escape, sizeof escape, "\\udc%02x", c);
      out += escape;
    }
    bytes.remove_prefix(1);
  }
  out += '"';
  return out;
}

std::string printable(std::string_view bytes) {
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const std::size_t length = utf8_sequence_length(rest);
    if (length == 0 || control(static_cast<unsigned char>(rest[0])) || c1_control(rest.substr(0, length)))
      return json_string(bytes);
    rest.remove_prefix(length);
  }
  return std::string(bytes);
}

}  // namespace varnic::cli
