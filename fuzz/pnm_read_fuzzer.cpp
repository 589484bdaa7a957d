// The command-line tool's PNM input (P2, P3, P5, P6 headers, comments, maxval scaling) on
// arbitrary bytes.
#include "fuzz/cli_reader_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnic::fuzz::check_cli_reader(data, size, varnic::cli::read_pnm, varnic::cli::write_pnm);
  return 0;
}
