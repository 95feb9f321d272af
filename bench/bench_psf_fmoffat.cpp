// One Moffat fit on a 17 x 17 stamp (all ten parameters free) against scipy's
// curve_fit of the same model with its analytic Jacobian from the same start
// values, timed by bench/psf_fmoffat_reference.py (best of 20).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>

#include "numerics/random.h"
#include "psf/korven_lib.h"

namespace {

constexpr double kFree = 12345.0;

struct Stamp {
  orv::MArray<double, 2> img{orv::Range(-8, 8), orv::Range(-8, 8)};
  orv::MArray<double, 2> err{orv::Range(-8, 8), orv::Range(-8, 8)};
  double referenceSeconds = 0;
};

const Stamp& stamp() {
  static const Stamp s = [] {
    Stamp out;
    long seed = -3;
    const double c = std::cos(0.4), sn = std::sin(0.4);
    for (int i = -8; i <= 8; ++i)
      for (int j = -8; j <= 8; ++j) {
        const double dx = i - 0.3, dy = j + 0.2, u = c * dx + sn * dy, v = c * dy - sn * dx;
        out.img(i, j) =
            20 + 0.3 * i - 0.2 * j + 800 * std::pow(1 + 0.2 * u * u + 0.09 * v * v, -2.5) + 2 * rangau(seed);
        out.err(i, j) = 2.0;
      }
    // The start values fmoffat takes: minimum, maximum and its position.
    double lo = 1e100, hi = -1e100;
    int imax = 0, jmax = 0;
    const std::string file = "/tmp/orv_bench_fmoffat_" + std::to_string(getpid()) + ".txt";
    std::ofstream text(file);
    text << std::setprecision(17);
    for (int i = -8; i <= 8; ++i)
      for (int j = -8; j <= 8; ++j) {
        const double v = out.img(i, j);
        lo = std::min(lo, v);
        if (v > hi) {
          hi = v;
          imax = i;
          jmax = j;
        }
        text << i << " " << j << " " << v << " " << out.err(i, j) << "\n";
      }
    text.close();
    const double a3 = 1.1305 / ((0.5 + 20.0) / 2);
    std::ostringstream command;
    command << std::setprecision(17) << "/usr/bin/python3 " ORV_SOURCE_DIR "/bench/psf_fmoffat_reference.py "
            << file << " " << lo << " " << hi - lo << " " << a3 << " " << a3 + 0.1 << " " << imax << " "
            << jmax << " 10.0 3.0 0.01 0.01";
    FILE* pipe = popen(command.str().c_str(), "r");
    char line[256];
    while (pipe && std::fgets(line, sizeof line, pipe)) {
      std::istringstream in(line);
      std::string name;
      double seconds;
      if (in >> name >> seconds) out.referenceSeconds = seconds;
    }
    if (pipe) pclose(pipe);
    std::remove(file.c_str());
    return out;
  }();
  return s;
}

void BM_FmoffatVsCurveFit(benchmark::State& state) {
  const Stamp& s = stamp();
  const psf p;
  std::int64_t iterations = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    double sky = kFree, sx = kFree, sy = kFree, x = 0, y = 0, amp, a3, a4, angle, beta, chi;
    const int status =
        p.fmoffat(s.img, s.err, sky, sx, sy, 1.0, 8.0, 0.5, 20.0, x, y, amp, a3, a4, angle, beta, chi, 0);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(amp);
    ++iterations;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / iterations;
  if (s.referenceSeconds > 0) {
    state.counters["scipy_s"] = s.referenceSeconds;
    state.counters["ratio_vs_scipy"] = s.referenceSeconds / seconds;
  }
}

BENCHMARK(BM_FmoffatVsCurveFit)->Unit(benchmark::kMicrosecond);

}  // namespace
