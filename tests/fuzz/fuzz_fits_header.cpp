// libFuzzer target: reading FITS headers from arbitrary bytes must end in a
// header or an orv::FitsException, never in a crash, a hang or a sanitizer
// report. Not part of the normal build; configure with clang and ORV_FUZZ:
//
//   CXX=clang++ CC=clang cmake -S . -B build-fuzz -DORV_FUZZ=ON -DORV_TESTS=OFF
//   cmake --build build-fuzz --target fuzz_fits_header
//   build-fuzz/tests/fuzz/fuzz_fits_header -max_len=20000 -max_total_time=600
//
// The first input byte selects the reader's flags and the header offset; the
// rest is the file.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "orv/fits/fits_header.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void exercise(orv::FitsHeader& header) {
  // Everything a reader or writer does with a header once it is read.
  const util::Region full = header.getFullRegion();
  header.testRegion(full);
  orv::FitsHeader copy(header, true, false);
  std::ostringstream description;
  copy.describeSelf(description);
  const std::string text = copy.writeHeader(true);
  if (text.size() % 2880 != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  static const std::string file = fuzz_support::scratchName("fuzz_fits_header", ".fits");
  fuzz_support::writeBytes(file, data + 1, size - 1);
  const bool quiet = true;
  const bool allJunk = (control & 1) != 0;
  const long offset = (control & 2) != 0 ? 2880L * ((control >> 2) & 3) : 0L;
  try {
    if (offset == 0) {
      orv::FitsHeader header(file, quiet, allJunk);
      exercise(header);
    } else {
      orv::FitsHeader header(file, quiet, allJunk, offset);
      exercise(header);
    }
  } catch (const orv::FitsException&) {
  }
  return 0;
}
