// libFuzzer target: reading FITS images (header and data) from arbitrary bytes must end in
// arrays or an orv::FitsException, never in a crash, a hang, a read outside the file or a
// sanitizer report. Not part of the normal build; configure with clang and ORV_FUZZ, make
// the seed corpus and run it:
//
//   CXX=clang++ CC=clang cmake -S . -B build-fuzz -DORV_FUZZ=ON -DORV_TESTS=OFF
//   cmake --build build-fuzz --target fuzz_fits_read fuzz_corpus
//   build-fuzz/tests/fuzz/fuzz_fits_read -max_len=40000 -max_total_time=600 build-fuzz/tests/fuzz/corpus
//
// The first input byte selects what is done with the file (whole read, region read, tile
// walk, extension walk, raw copy); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "orv/fits/fits.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

template <class T, int N>
void readWhole(orv::FitsIn& in) {
  orv::MArray<T, N> a;
  in >> a;
}

template <int N>
void readTiles(orv::FitsIn& in) {
  orv::MArray<float, N> a;
  if constexpr (N == 1) a.makeReference(orv::MArray<float, 1>(7));
  if constexpr (N == 2) a.makeReference(orv::MArray<float, 2>(5, 3));
  for (int i = 0; i < 4; ++i) in >> a;
}

void readAnyRank(orv::FitsIn& in, bool asShort) {
  switch (in.getNaxis()) {
    case 1:
      return asShort ? readWhole<short, 1>(in) : readWhole<float, 1>(in);
    case 2:
      return asShort ? readWhole<short, 2>(in) : readWhole<float, 2>(in);
    case 3:
      return asShort ? readWhole<short, 3>(in) : readWhole<float, 3>(in);
    default:
      delete[] in.getDataArray(float());
  }
}

// A small box inside the image, chosen by the control byte.
util::Region someRegion(const orv::FitsIn& in, uint8_t control) {
  util::Region r(static_cast<unsigned long>(in.getNaxis()));
  for (int d = 1; d <= in.getNaxis(); ++d) {
    const int n = in.getNaxis(d);
    if (n < 1) {  // an empty axis holds no region; let the reader refuse 1:1
      r.setRange(d, 1, 1);
      continue;
    }
    const int start = 1 + (control * 7 + d) % n;
    const int end = std::min(n, start + (control >> 4) % 5);
    r.setRange(d, start, end);
  }
  return r;
}

void exercise(const std::string& file, uint8_t control, const std::string& outFile) {
  orv::FitsIn in(file, true, (control & 0x80) != 0);
  switch (control & 7) {
    case 0:
      return readAnyRank(in, false);
    case 1:
      return readAnyRank(in, true);
    case 2:
      in.setRegion(someRegion(in, control));
      return readAnyRank(in, false);
    case 3:
      return in.getNaxis() >= 2 ? readTiles<2>(in) : readTiles<1>(in);
    case 4: {
      orv::FitsExtensionIn ext(file, true);
      for (unsigned long n = 1; n <= 3; ++n) {
        orv::FitsIn e = ext.getExtension(n);
        readAnyRank(e, (control & 8) != 0);
      }
      return;
    }
    case 5: {
      if (in.getNaxis() > 0) in.setRegion(someRegion(in, control));
      orv::FitsOut out(outFile, in, true, true);
      out.copyData(in);
      orv::FitsIn back(outFile, true);
      return readAnyRank(back, false);
    }
    default: {
      in.setRegion(someRegion(in, control));
      std::unique_ptr<short[]> values(in.getDataArray(short()));
      in.resetRegion();
      return readAnyRank(in, true);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const std::string file = fuzz_support::scratchName("fuzz_fits_read", ".fits");
  static const std::string outFile = fuzz_support::scratchName("fuzz_fits_read", ".out.fits");
  fuzz_support::writeBytes(file, data + 1, size - 1);
  try {
    exercise(file, data[0], outFile);
  } catch (const orv::FitsException&) {
  }
  return 0;
}
