// SPDX-License-Identifier: BSD-2-Clause
// How the tool prints text that comes from files and file systems: comments and names are bytes,
// which may hold control characters or be no UTF-8 at all.
#pragma once

#include <string>
#include <string_view>

namespace varnic::cli {

// A JSON string literal for arbitrary bytes: valid UTF-8 is kept, other bytes are read as
// Latin-1 (as the desktop program shows such comments), control characters are escaped.
[[nodiscard]] std::string json_string(std::string_view bytes);

}  // namespace varnic::cli
