// libFuzzer target: the raw light-curve readers (Lightcurve::read_binary for double records,
// read_binary_float for float records) on arbitrary bytes must end in a curve, never in a crash,
// a hang or a sanitizer report; a curve read is written back as a table with every column.
//
// The first input byte selects the record type and magnitudes; the rest is the file.
#include <cstddef>
#include <cstdint>

#include "lightcurve/pellib.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string file = fuzz_support::scratchName("fuzz_lightcurve_raw", ".bin");
  static const std::string outFile = fuzz_support::scratchName("fuzz_lightcurve_raw", ".out.txt");
  fuzz_support::writeBytes(file, data + 1, size - 1);
  const uint8_t control = data[0];
  const bool magnitudes = (control & 2) != 0;
  Lightcurve lc;
  if ((control & 1) != 0)
    lc.read_binary_float(file, magnitudes);
  else
    lc.read_binary(file, magnitudes);
  if (lc.length != lc.JD.length(1) || lc.length != lc.flux.length(1) || lc.length != lc.error.length(1))
    __builtin_trap();
  lc.write(outFile, true, true, true, (control & 4) != 0);
  return 0;
}
