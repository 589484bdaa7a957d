// SPDX-License-Identifier: BSD-2-Clause
// Plain main() for fuzz targets in builds without libFuzzer: feeds each file named on the command
// line (a directory means every regular file in it, in name order) to the target once. The corpus
// replay tests run it under whatever sanitizers the build has; a crash or abort fails the test, and
// the name printed just before it is the culprit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool read_file(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int a = 1; a < argc; ++a) {
    const std::filesystem::path arg(argv[a]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      if (ec) {
        std::fprintf(stderr, "fuzz runner: cannot list %s\n", argv[a]);
        return 2;
      }
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else {
      inputs.push_back(arg);
    }
  }
  // A replay over nothing would pass without testing anything: a missing corpus is an error.
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIR... (no inputs found)\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> bytes;
  for (const auto& path : inputs) {
    if (!read_file(path, bytes)) {
      std::fprintf(stderr, "fuzz runner: cannot read %s\n", path.c_str());
      return 2;
    }
    std::fprintf(stderr, "running %s (%zu bytes)\n", path.c_str(), bytes.size());
    // An empty vector's data() may be null; libFuzzer never passes null, so neither do we.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "fuzz runner: %zu inputs ran\n", inputs.size());
  return 0;
}
