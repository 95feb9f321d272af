// libFuzzer target: the light-curve text reader (Lightcurve::read) on arbitrary bytes must end
// in a curve or an orv::IOException, never in a crash, a hang or a sanitizer report; a curve
// read is written back as a table.
//
// The first input byte selects magnitudes and the optional nchi, boxval and file-name columns;
// the rest is the file.
#include <cstddef>
#include <cstdint>

#include "lightcurve/pellib.h"
#include "orv/fits/ascio.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string file = fuzz_support::scratchName("fuzz_lightcurve_text", ".txt");
  static const std::string outFile = fuzz_support::scratchName("fuzz_lightcurve_text", ".out.txt");
  fuzz_support::writeBytes(file, data + 1, size - 1);
  const uint8_t control = data[0];
  // Column 0 means absent; otherwise one of the columns 3..5 (or a column far out, 9).
  static const int columns[] = {0, 3, 4, 5, 0, 4, 5, 9};
  const bool magnitudes = (control & 1) != 0;
  const int nchi = columns[(control >> 1) & 7];
  const int boxval = columns[(control >> 4) & 3];
  const int names = columns[((control >> 6) & 3) + 4];
  try {
    Lightcurve lc;
    lc.read(file, magnitudes, nchi, boxval, names);
    lc.write(outFile, nchi != 0, boxval != 0, names != 0, (control & 0x80) != 0);
  } catch (const orv::IOException&) {
  }
  return 0;
}
