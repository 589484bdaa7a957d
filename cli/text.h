// SPDX-License-Identifier: BSD-2-Clause
// How the tool prints text that comes from files and file systems: comments and names are bytes,
// which may hold control characters (an escape sequence, a newline that would split a log line)
// or be no UTF-8 at all.
#pragma once

#include <string>
#include <string_view>

namespace varnic::cli {

// A JSON string literal that keeps every byte: valid UTF-8 as it is, control characters, '"' and
// '\' escaped, and each byte that is no part of valid UTF-8 as the escape \udcXX (XX the byte),
// the lone surrogate Python's "surrogateescape" gives it: os.fsencode of the string read back is
// the original name.
[[nodiscard]] std::string json_string(std::string_view bytes);

// A name for a terminal or a log line: as it is when it is UTF-8 without control characters,
// otherwise quoted and escaped as json_string does, so that nothing in it reaches the terminal raw.
[[nodiscard]] std::string printable(std::string_view bytes);

}  // namespace varnic::cli
