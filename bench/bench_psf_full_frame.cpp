// Whole-frame PSF operations (P = 5, radius 4) on the fields of
// bench/psf_measure_reference.py: 1024 x 1024 with 250 stars ("find") and
// 4096 x 4096 with 4000 stars ("find4096"), each call the first in a fresh
// process. The program runs itself once per measurement; the child reads the
// field, builds the PSF, then times one call and reports its peak resident
// memory (getrusage) and what the process held before the call (the field
// and the PSF). Measured:
// - find against DAOStarFinder (fwhm of the PSF, threshold 5 sigma of the
//   background) on the same field, timed by the script (best of 3);
// - mapping_full_best_source;
// - mapping_full against the reference, nchi_calc called cell by cell into
//   fresh maps, also in a fresh process (1024 x 1024 only: the maps of a
//   4096 x 4096 frame take 10 GB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "bench/psf_bench_field.h"
#include "orv/fits/fits.h"
#include "psf/korven_lib.h"

namespace {

constexpr int kSubpixel = 5;
constexpr double kRadius = 4.0;

double peakResidentMB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// The child: one call of `op` on the field in dir; prints "seconds peak_MB
// before_MB result" on standard error (standard output takes the call's own
// lines).
int runChild(const std::string& op, const std::string& dir) {
  orv::MArray<float, 2> image, error;
  {
    orv::FitsIn in(dir + "/image.fits");
    in >> image;
    orv::FitsIn err(dir + "/error.fits");
    err >> error;
  }
  const psf p = benchFieldPsf();
  const double before = peakResidentMB();
  double result = 0;
  const auto start = std::chrono::steady_clock::now();
  if (op == "find") {
    orv::MArray<double, 1> x, y, flux;
    p.find(image, error, x, y, flux, 5.0, 1e3, kRadius, "bench", 0);
    result = x.numElements();
  } else if (op == "best_source") {
    orv::MArray<double, 2> nchi, flux, eflux, source;
    std::ostringstream table;
    p.mapping_full_best_source(image, error, nchi, flux, eflux, source, 5.0, 1e3, kRadius, 0.0, table, 0);
    for (int q = nchi.first(2); q <= nchi.last(2); ++q)
      for (int i = nchi.first(1); i <= nchi.last(1); ++i) result += nchi(i, q) > 0 && nchi(i, q) <= 1e3;
  } else if (op == "mapping_full") {
    orv::MArray<double, 2> nchi, flux, eflux;
    p.mapping_full(image, error, nchi, flux, eflux, kRadius, 0);
    result = nchi(nchi.length(1) / 2, nchi.length(2) / 2);
  } else if (op == "cell_by_cell") {
    // nchi_calc at every cell position inside the edge rule, into fresh maps.
    const int NX = kSubpixel * image.length(1), NY = kSubpixel * image.length(2), B = p.get_boxlen();
    orv::MArray<double, 2> nchi(NX, NY), flux(NX, NY), eflux(NX, NY);
    nchi = 0.0;
    flux = 0.0;
    eflux = 0.0;
    for (int i = 1; i <= NX; ++i) {
      const double px = static_cast<double>(i - 1) / kSubpixel + 1 - static_cast<double>(kSubpixel / 2) / kSubpixel;
      const long ix = std::lrint(px);
      if (ix < 1 + B || ix > image.length(1) - B) continue;
      for (int j = 1; j <= NY; ++j) {
        const double py =
            static_cast<double>(j - 1) / kSubpixel + 1 - static_cast<double>(kSubpixel / 2) / kSubpixel;
        const long iy = std::lrint(py);
        if (iy < 1 + B || iy > image.length(2) - B) continue;
        nchi(i, j) = p.nchi_calc(image, error, px, py, flux(i, j), eflux(i, j), kRadius, 0);
      }
    }
    result = nchi(NX / 2, NY / 2);
  } else {
    return 2;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%.6f %.1f %.1f %.17g\n", seconds, peakResidentMB(), before, result);
  return 0;
}

// A field written once per size by the reference script, with its timings.
struct Field {
  std::string dir;
  std::map<std::string, double> reference;
};

const Field& field(int side) {
  static std::map<int, Field> fields;
  static struct Cleanup {
    ~Cleanup() {
      for (const auto& [side, f] : fields) std::system(("rm -rf " + f.dir).c_str());
    }
  } cleanup;
  auto it = fields.find(side);
  if (it != fields.end()) return it->second;
  Field f;
  f.dir = "/tmp/orv_bench_full_frame_" + std::to_string(side) + "_" + std::to_string(getpid());
  f.reference = runScriptIn("psf_measure_reference.py", f.dir, side == 1024 ? "find" : "find4096");
  return fields.emplace(side, f).first->second;
}

struct ChildReport {
  double seconds = 0, peakMB = 0, beforeMB = 0, result = 0;
  bool ok = false;
};

// Runs this program as a child for one call; its standard output is dropped.
ChildReport runInFreshProcess(const std::string& op, int side) {
  const Field& f = field(side);
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ChildReport r;
  if (n <= 0) return r;
  self[n] = '\0';
  const std::string command = std::string(self) + " --child " + op + " " + f.dir + " 2>&1 >/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  char line[256];
  while (pipe && std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    if (in >> r.seconds >> r.peakMB >> r.beforeMB >> r.result) r.ok = true;
  }
  if (pipe && pclose(pipe) != 0) r.ok = false;
  return r;
}

void report(benchmark::State& state, const ChildReport& r, const char* resultName) {
  if (!r.ok) {
    state.SkipWithError("the child process failed");
    return;
  }
  state.SetIterationTime(r.seconds);
  state.counters["seconds"] = r.seconds;
  state.counters["peak_RSS_MB"] = r.peakMB;
  state.counters["RSS_before_MB"] = r.beforeMB;
  state.counters[resultName] = r.result;
}

void BM_FindFreshProcess(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  ChildReport r;
  for (auto _ : state) {
    r = runInFreshProcess("find", side);
    report(state, r, "found");
  }
  const auto& ref = field(side).reference;
  const auto dao = ref.find("daofind_s");
  if (!r.ok || dao == ref.end()) return;
  state.counters["daofind_s"] = dao->second;
  state.counters["daofind_found"] = ref.at("daofind_found");
  state.counters["ratio_time_vs_daofind"] = r.seconds / dao->second;
}

void BM_BestSourceFreshProcess(benchmark::State& state) {
  for (auto _ : state) report(state, runInFreshProcess("best_source", static_cast<int>(state.range(0))), "minima");
}

void BM_MappingFullFreshProcess(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  ChildReport r, cells;
  for (auto _ : state) {
    r = runInFreshProcess("mapping_full", side);
    report(state, r, "centre_nchi");
  }
  cells = runInFreshProcess("cell_by_cell", side);
  if (!r.ok || !cells.ok) return;
  state.counters["cell_by_cell_s"] = cells.seconds;
  state.counters["cell_by_cell_peak_RSS_MB"] = cells.peakMB;
  state.counters["speedup"] = cells.seconds / r.seconds;
  state.counters["same_centre_nchi"] = cells.result == r.result;
}

BENCHMARK(BM_FindFreshProcess)->Arg(1024)->Arg(4096)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BestSourceFreshProcess)
    ->Arg(1024)
    ->Arg(4096)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MappingFullFreshProcess)->Arg(1024)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return runChild(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
