// SPDX-License-Identifier: BSD-2-Clause
// compare: PSNR over RGB and over luma, and the largest difference, of two pictures.
#include <cmath>

#include "batch.h"
#include "metrics.h"
#include "text.h"

namespace varnic::cli {

int run_compare(const std::string& first, const std::string& second, const Limits& limits, Console console) {
  Picture pictures[2];
  const std::string* paths[2] = {&first, &second};
  if (first == kStandardStream && second == kStandardStream) {
    console.err << "varnic-cli: standard input (-) can be only one of the two pictures\n";
    return kExitUsage;
  }
  for (int k = 0; k < 2; ++k) {
    const std::string& path = *paths[k];
    Result<std::vector<std::uint8_t>> bytes = read_input(path, limits);
    if (!bytes) {
      console.err << "varnic-cli: " << printable(path) << ": " << bytes.message() << '\n';
      return exit_code_for(bytes.status());
    }
    Result<PictureFile> loaded = read_input_picture(bytes.value(), path, limits, true);
    if (!loaded) {
      console.err << "varnic-cli: " << printable(path) << ": " << loaded.message() << '\n';
      return exit_code_for(loaded.status());
    }
    pictures[k] = std::move(loaded).value().picture;
  }
  Result<Comparison> comparison = compare_pictures(pictures[0], pictures[1]);
  if (!comparison) {
    console.err << "varnic-cli: " << printable(first) << ", " << printable(second) << ": " << comparison.message() << '\n';
    return kExitBadInput;
  }
  const Comparison& c = comparison.value();
  auto db = [](double v) { return std::isinf(v) ? std::string("inf") : format("%.2f", v); };
  console.out << "PSNR RGB " << db(c.psnr_rgb) << " dB, PSNR Y " << db(c.psnr_y) << " dB, max difference "
              << c.max_difference << '\n';
  return kExitOk;
}

}  // namespace varnic::cli
