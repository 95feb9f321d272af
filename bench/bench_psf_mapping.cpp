// The whole-image chi map (P = 5, radius 3.5) of a noisy star field: mapping_full
// against nchi_calc called cell by cell at the cell positions into fresh maps,
// as mapping_full did before (the reference, kept here). The maps take 3 P²
// doubles per pixel (630 MB at 1024²), and first touching fresh pages is slow
// on some machines, so the reference reports its allocation and cell loop
// apart. mapping_full reports the speed-up over the whole reference
// ("speedup") and over its cell loop alone ("speedup_vs_cells_only", our
// allocation still counted), and whether the three maps are equal bit for bit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>

#include "numerics/random.h"
#include "psf/korven_lib.h"

namespace {

constexpr int kSubpixel = 5;
constexpr double kRadius = 3.5;

// A Gaussian PSF (FWHM about 2.5 px) on a fine grid of 7 cells per pixel,
// R = B = 5, tabulated for P = 5.
const psf& testPsf() {
  static const psf p = [] {
    psf q(5, 5, 7, 0);
    const int N = q.get_slen();
    for (int j = -N; j <= N; ++j)
      for (int i = -N; i <= N; ++i) {
        const double u = i / 7.0, v = j / 7.0;
        q.get_psf()(i, j) = std::exp(-(u * u + v * v) / (2 * 1.1 * 1.1)) / 49.0;
        q.get_epsf()(i, j) = 1e-4;
      }
    q.calc_base(kSubpixel, 0);
    return q;
  }();
  return p;
}

struct Field {
  orv::MArray<float, 2> image, error;
};

// side x side pixels of sky noise (sigma 3) with a star every 40 pixels or so.
const Field& field(int side) {
  static std::map<int, Field> fields;
  auto it = fields.find(side);
  if (it != fields.end()) return it->second;
  Field f{orv::MArray<float, 2>(side, side), orv::MArray<float, 2>(side, side)};
  long seed = -31;
  for (int j = 1; j <= side; ++j)
    for (int i = 1; i <= side; ++i) f.image(i, j) = static_cast<float>(3 * rangau(seed));
  orv::MArray<float, 2> e2(side, side);
  e2 = 3.0f;
  for (int k = 0; k < side * side / 1600; ++k)
    testPsf().add_psf(f.image, e2, 10 + (side - 20) * ran3(seed), 10 + (side - 20) * ran3(seed),
                      200 + 2e4 * ran3(seed), -1e20, -1, 0);
  f.error = 3.0f;
  return fields.emplace(side, f).first->second;
}

struct Maps {
  orv::MArray<double, 2> nchi, flux, eflux;
  double seconds = 0, cellSeconds = 0;

  // Fresh maps of nx x ny cells, all 0.
  void allocate(int nx, int ny) {
    for (orv::MArray<double, 2>* a : {&nchi, &flux, &eflux}) {
      a->makeReference(orv::MArray<double, 2>(nx, ny));
      *a = 0.0;
    }
  }
};
std::map<int, Maps> references;

// Runs f with standard output discarded (the map operations print their
// allocation lines).
template <class F>
void quietly(F f) {
  std::ostringstream sink;
  std::streambuf* old = std::cout.rdbuf(sink.rdbuf());
  f();
  std::cout.rdbuf(old);
}

bool bitEqual(const orv::MArray<double, 2>& a, const orv::MArray<double, 2>& b) {
  return a.numElements() == b.numElements() &&
         std::memcmp(a.firstElement(), b.firstElement(), sizeof(double) * a.numElements()) == 0;
}

// The reference: nchi_calc at every cell position inside the edge rule, the
// cells 1/P pixel apart and centred on the pixels, into fresh maps.
void BM_NchiCalcCellByCell(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Field& f = field(side);
  const psf& p = testPsf();
  const int P = kSubpixel, B = p.get_boxlen(), NX = P * side, NY = P * side;
  Maps& m = references[side];
  std::int64_t passes = 0;
  const auto start = std::chrono::steady_clock::now();
  double cellSeconds = 0;
  for (auto _ : state) {
    m.allocate(NX, NY);
    const auto cellStart = std::chrono::steady_clock::now();
    for (int i = 1; i <= NX; ++i) {
      const double px = static_cast<double>(i - 1) / P + 1 - static_cast<double>(P / 2) / P;
      const long ix = std::lrint(px);
      if (ix < 1 + B || ix > side - B) continue;
      for (int j = 1; j <= NY; ++j) {
        const double py = static_cast<double>(j - 1) / P + 1 - static_cast<double>(P / 2) / P;
        const long iy = std::lrint(py);
        if (iy < 1 + B || iy > side - B) continue;
        m.nchi(i, j) = p.nchi_calc(f.image, f.error, px, py, m.flux(i, j), m.eflux(i, j), kRadius, 0);
      }
    }
    cellSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - cellStart).count();
    benchmark::DoNotOptimize(m.nchi.firstElement());
    ++passes;
  }
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / passes;
  m.cellSeconds = cellSeconds / passes;
  state.counters["alloc_s"] = m.seconds - m.cellSeconds;
  state.counters["ns_per_cell"] = 1e9 * m.seconds / (static_cast<double>(NX) * NY);
}

void BM_MappingFull(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Field& f = field(side);
  const psf& p = testPsf();
  orv::MArray<double, 2> nchi, flux, eflux;
  std::int64_t passes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    quietly([&] { p.mapping_full(f.image, f.error, nchi, flux, eflux, kRadius, 0); });
    benchmark::DoNotOptimize(nchi.firstElement());
    ++passes;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / passes;
  state.counters["ns_per_cell"] = 1e9 * seconds / (static_cast<double>(nchi.length(1)) * nchi.length(2));
  const auto it = references.find(side);
  if (it == references.end() || it->second.seconds == 0) return;
  state.counters["cell_by_cell_s"] = it->second.seconds;
  state.counters["speedup"] = it->second.seconds / seconds;
  state.counters["speedup_vs_cells_only"] = it->second.cellSeconds / seconds;
  state.counters["maps_bit_equal"] =
      bitEqual(nchi, it->second.nchi) && bitEqual(flux, it->second.flux) && bitEqual(eflux, it->second.eflux);
}

BENCHMARK(BM_NchiCalcCellByCell)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);
// Several passes: the first call in a process may wait for the system to gather huge pages.
BENCHMARK(BM_MappingFull)->Arg(256)->Arg(1024)->MinTime(5.0)->Unit(benchmark::kMillisecond);

}  // namespace
