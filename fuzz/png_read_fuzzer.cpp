// The command-line tool's PNG input (libpng under our memory source, conversions of 16-bit,
// alpha and palette pictures) on arbitrary bytes.
#include "fuzz/cli_reader_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_cli_reader(data, size, varnic::cli::read_png, varnic::cli::write_png);
  return 0;
}
