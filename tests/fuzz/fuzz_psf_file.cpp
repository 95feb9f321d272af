// libFuzzer target: the PSF file readers (psf::read_psf and psf::readfits_psf) on arbitrary
// bytes must end in a PSF, the size warning or an orv::FitsException, never in a crash, a hang
// or a sanitizer report.
//
// The first input byte selects the reader, the size of the object's fine grid and whether the
// error image is a copy of the PSF image; the rest holds the PSF image and, unless copied, the
// error image (split as fuzz_support::splitInTwo says).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "orv/fits/fits.h"
#include "psf/korven_lib.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Every cell the object holds after a read, summed: the sanitizers see each one touched.
double touch(const orv::MArray<double, 2>& a) {
  double sum = 0.0;
  if (a.isEmpty()) return sum;
  for (int y = a.first(2); y <= a.last(2); ++y)
    for (int x = a.first(1); x <= a.last(1); ++x) sum += a(x, y);
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Relative names in a directory of this process: the readers put "e." before the base name.
  if (!fuzz_support::inScratchDir("fuzz_psf_file")) return 0;
  const uint8_t control = data[0];
  const bool oversampled = (control & 1) != 0;
  const bool sameError = (control & 2) != 0;
  const int analyt = (control >> 2) & 7;
  const int subgrid = 1 + ((control >> 5) & 3) * 2;
  psf p(2, analyt, subgrid, 0);
  char tag[32];
  std::snprintf(tag, sizeof tag, "psf_%4.4i_", subgrid);
  const std::string name = "p.fits";
  const std::string file = oversampled ? std::string(tag) + name : name;
  const fuzz_support::TwoParts parts = sameError
                                           ? fuzz_support::TwoParts{data + 1, size - 1, data + 1, size - 1}
                                           : fuzz_support::splitInTwo(data + 1, size - 1);
  fuzz_support::writeBytes(file, parts.first, parts.firstSize);
  fuzz_support::writeBytes("e." + file, parts.second, parts.secondSize);
  try {
    if (oversampled)
      p.readfits_psf(name);
    else
      p.read_psf(name);
    const orv::MArray<double, 2> fine = p.get_psf(), error = p.get_epsf();
    if (fine.first(1) != -p.get_slen() || fine.last(1) != p.get_slen() || error.last(2) != fine.last(2))
      __builtin_trap();
    (void)(touch(fine) + touch(error));
  } catch (const orv::FitsException&) {
  }
  return 0;
}
