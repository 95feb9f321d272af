// libFuzzer target: the header pass of the sky program on arbitrary bytes — an image read with
// its header as the program reads it (text after the END card let pass, its BSCALE and BZERO
// applied), then written by the result stage with that header, the coefficient cards and the
// corrected pixels — must end in an output file that reads back unscaled, or in an
// orv::FitsException, never in a crash, a hang or a sanitizer report.
//
// The first input byte selects the coefficients and the centre; the rest is the image file.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>

#include "orv/fits/fits.h"
#include "tarvole/method_contract.h"
#include "tarvole/result_stage.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string file = fuzz_support::scratchName("fuzz_tarvole_header", ".fits");
  static const std::string outFile = fuzz_support::scratchName("fuzz_tarvole_header", ".out.fits");
  fuzz_support::writeBytes(file, data + 1, size - 1);
  const uint8_t control = data[0];
  try {
    orv::FitsIn in(file, false, true);
    Image I;
    in >> I;
    if (I.isEmpty() || I.first(1) != 1 || I.first(2) != 1) return 0;
    Image eI(I.length(1), I.length(2)), R(I.length(1), I.length(2)), eR(I.length(1), I.length(2));
    eI = 1.0f;
    R = 2.0f;
    eR = 1.0f;
    Image A(I.length(1), I.length(2)), S(I.length(1), I.length(2));
    A = (control & 1) != 0 ? 1.5f : blank_value;
    S = 0.25f;
    Coefficients c(6);
    static const double values[] = {1.5, -2.0, 0.0, std::numeric_limits<double>::quiet_NaN()};
    for (int k = 1; k <= 6; ++k) c(k) = values[(control >> (k % 4)) & 3];
    Pliste P;
    P.outname = outFile;
    P.cx = (control & 0x40) != 0 ? 1 : -5;
    P.cy = 1;
    result_stage(R, eR, I, eI, R, I, A, S, c, "ref.fits", file, in, P);
    orv::FitsIn back(outFile, true);
    Image written;
    back >> written;
    if (written.length(1) != I.length(1) || written.length(2) != I.length(2)) __builtin_trap();
    // The output's float data hold physical values: no scaling of the input is left behind.
    if (back.getBscale() != 1.0 || back.getBzero() != 0.0) __builtin_trap();
  } catch (const orv::FitsException&) {
  }
  return 0;
}
