// Reading and writing a 4096 x 4096 image: `in >> A` and `out << A` against cfitsio's
// fits_read_img and fits_write_img with a float buffer, for BITPIX -32 and for BITPIX 16
// (read with BZERO 32768, the unsigned 16-bit convention).
//
// The reads also count the page faults of one read ("faults"): a read that maps the file or
// fills fresh storage pays for them in the kernel, at a price that differs much from one
// machine to the next.
//
// Files go to the directory named by ORV_BENCH_DIR (default /tmp); write times include
// getting the data to the file system, which for the orv writer means reserving the blocks
// and syncing them (the price of reporting a full disk as an error).
#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "orv/fits/fits.h"

namespace {

constexpr int kSide = 4096;
constexpr long kElements = static_cast<long>(kSide) * kSide;

std::string benchPath(const std::string& name) {
  const char* dir = std::getenv("ORV_BENCH_DIR");
  return std::string(dir ? dir : "/tmp") + "/orv_bench_" + name + ".fits";
}

orv::MArray<float, 2> testImage() {
  orv::MArray<float, 2> a(kSide, kSide);
  float* p = a.firstElement();
  for (long i = 0; i < kElements; ++i) p[i] = static_cast<float>((i * 7919) % 65536);
  return a;
}

// The image to write: values that BITPIX 16 holds (cfitsio refuses to overflow a short).
orv::MArray<float, 2> imageToWrite(int bitpix) {
  orv::MArray<float, 2> a = testImage();
  if (bitpix == 16) {
    float* p = a.firstElement();
    for (long i = 0; i < kElements; ++i) p[i] -= 32768.0f;
  }
  return a;
}

// The input files, made once: BITPIX -32, and BITPIX 16 with BZERO 32768.
const std::string& inputFile(int bitpix) {
  static const std::string f32 = [] {
    const std::string file = benchPath("in_f32");
    orv::FitsOut out(file);
    out << testImage();
    return file;
  }();
  static const std::string u16 = [] {
    const std::string file = benchPath("in_u16");
    orv::FitsOut out(file);
    out.setBitpixOut(16);
    out.setBzero(32768.0);
    out << imageToWrite(16);  // raw values of the unsigned data
    return file;
  }();
  return bitpix == 16 ? u16 : f32;
}

long pageFaults() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

// Counts the page faults of the timed loop as faults per read.
class FaultCounter {
 public:
  explicit FaultCounter(benchmark::State& state) : state_(state), start_(pageFaults()) {}
  ~FaultCounter() {
    state_.counters["faults"] =
        benchmark::Counter(static_cast<double>(pageFaults() - start_), benchmark::Counter::kAvgIterations);
  }

 private:
  benchmark::State& state_;
  long start_;
};

void orvReadNew(benchmark::State& state, int bitpix) {
  const std::string& file = inputFile(bitpix);
  FaultCounter faults(state);
  for (auto _ : state) {
    orv::FitsIn in(file, true);
    orv::MArray<float, 2> a;
    in >> a;
    benchmark::DoNotOptimize(a.firstElement());
  }
}

void orvReadInto(benchmark::State& state, int bitpix) {
  const std::string& file = inputFile(bitpix);
  orv::MArray<float, 2> a(kSide, kSide);
  a = 0.0f;  // resident, as an array in use is
  FaultCounter faults(state);
  for (auto _ : state) {
    orv::FitsIn in(file, true);
    in >> a;
    benchmark::DoNotOptimize(a.firstElement());
  }
}

void cfitsioRead(benchmark::State& state, int bitpix, bool allocate) {
  const std::string& file = inputFile(bitpix);
  std::unique_ptr<float[]> kept(new float[kElements]);
  std::fill(kept.get(), kept.get() + kElements, 0.0f);  // resident, as a buffer in use is
  FaultCounter faults(state);
  for (auto _ : state) {
    std::unique_ptr<float[]> fresh(allocate ? new float[kElements] : nullptr);
    float* buffer = allocate ? fresh.get() : kept.get();
    fitsfile* f = nullptr;
    int status = 0, anynul = 0;
    float nulval = 0;
    fits_open_file(&f, file.c_str(), READONLY, &status);
    fits_read_img(f, TFLOAT, 1, kElements, &nulval, buffer, &anynul, &status);
    fits_close_file(f, &status);
    if (status != 0) state.SkipWithError("cfitsio read failed");
    benchmark::DoNotOptimize(buffer);
  }
}

void orvWrite(benchmark::State& state, int bitpix) {
  const orv::MArray<float, 2> a = imageToWrite(bitpix);
  const std::string file = benchPath("out_orv");
  for (auto _ : state) {
    orv::FitsOut out(file);
    out.setBitpixOut(bitpix);
    out << a;
  }
}

void cfitsioWrite(benchmark::State& state, int bitpix) {
  const orv::MArray<float, 2> a = imageToWrite(bitpix);
  const std::string file = "!" + benchPath("out_cfitsio");
  long axes[2] = {kSide, kSide};
  for (auto _ : state) {
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_file(&f, file.c_str(), &status);
    fits_create_img(f, bitpix == 16 ? SHORT_IMG : FLOAT_IMG, 2, axes, &status);
    fits_write_img(f, TFLOAT, 1, kElements, a.firstElement(), &status);
    fits_close_file(f, &status);
    if (status != 0) state.SkipWithError("cfitsio write failed");
  }
}

BENCHMARK_CAPTURE(orvReadNew, f32, -32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cfitsioRead, f32_new_buffer, -32, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(orvReadInto, f32, -32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cfitsioRead, f32_kept_buffer, -32, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(orvReadNew, u16, 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cfitsioRead, u16_new_buffer, 16, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(orvReadInto, u16, 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cfitsioRead, u16_kept_buffer, 16, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(orvWrite, f32, -32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cfitsioWrite, f32, -32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(orvWrite, i16, 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cfitsioWrite, i16, 16)->Unit(benchmark::kMillisecond);

}  // namespace
