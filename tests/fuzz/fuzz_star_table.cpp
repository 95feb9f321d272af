// libFuzzer target: the star table of the sky program (option -t) read from arbitrary bytes must
// end in two position columns of one length or an orv::IOException, never in a crash, a hang or
// a sanitizer report. The input is the table.
#include <cstddef>
#include <cstdint>

#include "orv/fits/ascio.h"
#include "tarvole/star_table.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = fuzz_support::scratchName("fuzz_star_table", ".txt");
  fuzz_support::writeBytes(file, data, size);
  try {
    orv::MArray<double, 1> x, y;
    read_star_table(file, x, y);
    // The method indexes both columns with the same star numbers.
    if (x.first(1) != y.first(1) || x.last(1) != y.last(1)) __builtin_trap();
    double sum = 0.0;
    for (int i = x.first(1); i <= x.last(1); ++i) sum += x(i) + y(i);
    (void)sum;
  } catch (const orv::IOException&) {
  }
  return 0;
}
