// SPDX-License-Identifier: BSD-2-Clause
// Files for the tests that run the built tool.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace varnic::cli::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
inline const std::string kData = VARNIC_TEST_DATA;

inline Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
inline std::string read_text(const fs::path& path) {
  const Bytes b = read_file(path);
  return std::string(b.begin(), b.end());
}
inline void write_file(const fs::path& path, std::string_view bytes) { std::ofstream(path, std::ios::binary) << bytes; }
inline void write_file(const fs::path& path, const Bytes& bytes) {
  write_file(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace varnic::cli::testing
