// SPDX-License-Identifier: BSD-2-Clause
#include "text.h"

#include <cstdio>

#include "varnic/rules.h"

namespace varnic::cli {

std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const std::size_t length = utf8_sequence_length(bytes);
    const unsigned char c = static_cast<unsigned char>(bytes[0]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (length > 0) {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
      continue;
    } else {  // a stray byte: its Latin-1 character in UTF-8
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
    bytes.remove_prefix(1);
  }
  out += '"';
  return out;
}

}  // namespace varnic::cli
