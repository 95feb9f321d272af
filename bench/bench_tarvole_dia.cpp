// Difference imaging over stars and over the field on a 2048 x 2048 pair: fit_dia with 100 stars
// beside the 200 bare kernel fits it makes (both passes, the same boxes), in the same run, so that
// the method's own overhead shows; fit_dia with 1,000 stars for the whole-run time; and
// fit_fielddia beside its one kernel fit over the default region.
//
// The reference products (about 1.7 GB per step) take a minute or more each to build. They are
// built once, on first use, under $ORV_BENCH_DIR (default /tmp)/tarvole_bench_dia/ and kept for
// later runs: a run finds them by the stamp file written after each step. Remove that directory
// after a change to the engine's reference step.
//
// Times are wall-clock times of the measured call alone (the copies of the image that a call
// rescales in place are made outside the measurement). Counters: per_star_ms (the call's time
// over its stars), bare_ms (the bare kernel fits of one call, timed in the same iterations),
// overhead_pct and overhead_cpu_pct (the call against them in wall-clock and in thread CPU
// time, the median over the iterations).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dia/product_boxes.h"
#include "numerics/random.h"
#include "tarvole/dia_engine.h"
#include "tarvole/fit_dia.h"
#include "tarvole/fit_fielddia.h"
#include "tarvole/masking.h"

namespace {

constexpr int side = 2048;
constexpr int lattice = 32;  // 32 x 32 positions, 62 px apart, of which the first 1,000 hold stars
constexpr int all_stars = 1000;
// The scene's name in the cache: a change of the scene below needs a new name.
constexpr const char* scene_name = "scene2048_1000_seed77_v1";

using Clock = std::chrono::steady_clock;

// Standard output swallowed while the methods print their tables (the benchmark's own report
// goes to standard output too, so the stream is restored afterwards).
class Quiet {
 public:
  Quiet() : saved_(std::cout.rdbuf(sink_.rdbuf())) {}
  ~Quiet() { std::cout.rdbuf(saved_); }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

 private:
  std::ostringstream sink_;
  std::streambuf* saved_;
};

// R: stars of sigma 1.5 on a sky of 200; I: R convolved with sigma 1.2, / 0.8, + 50; Poisson-like
// noise on both. Every star of the lattice lies at least 40 px from the edge. The absorption comes
// out about 1 % high on this scene (its reference is as noisy as the image): the check after each
// call only guards against a broken fit (the tests check the accuracy).
struct Scene {
  Image R, eR, I, eI;
  orv::MArray<double, 1> x, y;
};

const Scene& scene() {
  static const Scene s = [] {
    Scene f;
    f.R.makeReference(Image(side, side));
    f.I.makeReference(Image(side, side));
    f.R = 0.0f;
    f.I = 0.0f;
    f.x.makeReference(orv::MArray<double, 1>(all_stars));
    f.y.makeReference(orv::MArray<double, 1>(all_stars));
    long seed = -77;
    for (int k = 1; k <= all_stars; ++k) {
      f.x(k) = 40.0 + 62.0 * ((k - 1) % lattice) + 10.0 * ran3(seed);
      f.y(k) = 40.0 + 62.0 * ((k - 1) / lattice) + 10.0 * ran3(seed);
      const double flux = 20000.0 + 40000.0 * ran3(seed);
      const int cx = static_cast<int>(f.x(k)), cy = static_cast<int>(f.y(k));
      for (int py = cy - 12; py <= cy + 12; ++py)
        for (int px = cx - 12; px <= cx + 12; ++px) {
          const double r2 = (px - f.x(k)) * (px - f.x(k)) + (py - f.y(k)) * (py - f.y(k));
          f.R(px, py) += static_cast<float>(flux / (2 * M_PI * 2.25) * std::exp(-r2 / 4.5));
          f.I(px, py) += static_cast<float>(flux / (2 * M_PI * 3.69) * std::exp(-r2 / 7.38));
        }
    }
    for (int py = 1; py <= side; ++py)
      for (int px = 1; px <= side; ++px) {
        const double r = 200.0 + f.R(px, py);
        f.R(px, py) = static_cast<float>(r + std::sqrt(r) * rangau(seed));
        const double i = (200.0 + f.I(px, py)) / 0.8 + 50.0;
        f.I(px, py) = static_cast<float>(i + std::sqrt(i) * rangau(seed));
      }
    f.eR.makeReference(error_from_values(f.R));
    f.eI.makeReference(error_from_values(f.I));
    return f;
  }();
  return s;
}

// The run parameters of a method row (1 stars, 2 field), with the products of that row's
// reference step under the cache; the step runs when its stamp is missing.
Pliste prepared(int row) {
  const char* root = std::getenv("ORV_BENCH_DIR");
  const std::filesystem::path base = std::filesystem::path(root != nullptr ? root : "/tmp") / "tarvole_bench_dia";
  const std::string dir = (base / scene_name / (row == 1 ? "stars" : "field")).string() + "/";
  Pliste P;
  P.refdir = dir;
  P.outname = dir + "bI.fits";
  P.prefix = "b";
  P.ordsky = 0;
  P.region.setRange(1, 270, 1870);  // the default sampling region
  P.region.setRange(2, 280, 1880);
  const std::string stamp = dir + "complete";
  if (!std::filesystem::exists(stamp)) {
    std::filesystem::create_directories(dir);
    const Scene& s = scene();
    std::cerr << "building the reference products under " << dir << " (once)" << std::endl;
    bool done;
    {
      Quiet quiet;
      done = run_dia_reference_step(row, s.R, s.eR, P);
    }
    if (!done) {
      std::cerr << "the reference step failed" << std::endl;
      std::abort();
    }
    std::ofstream(stamp) << scene_name << "\n";
  }
  return P;
}

const Pliste& star_params() {
  static const Pliste P = prepared(1);
  return P;
}

const Pliste& field_params() {
  static const Pliste P = prepared(2);
  return P;
}

// Wall-clock and thread CPU seconds of a span.
struct Took {
  double wall = 0.0, cpu = 0.0;
};
class Span {
 public:
  Span() : wall_(Clock::now()), cpu_(thread_cpu()) {}
  Took took() const { return {std::chrono::duration<double>(Clock::now() - wall_).count(), thread_cpu() - cpu_}; }

 private:
  static double thread_cpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  }
  Clock::time_point wall_;
  double cpu_;
};

// The first n stars of the scene, every 10th for n = 100 so that they spread over the image.
void star_subset(int n, orv::MArray<double, 1>& x, orv::MArray<double, 1>& y) {
  const Scene& s = scene();
  const int step = all_stars / n;
  x.makeReference(orv::MArray<double, 1>(n));
  y.makeReference(orv::MArray<double, 1>(n));
  for (int k = 1; k <= n; ++k) x(k) = s.x(k * step), y(k) = s.y(k * step);
}

// The image and its error rescaled by the true absorption, as the second pass sees them (how
// long a kernel fit takes depends on how well the kernel fits).
struct Rescaled {
  Image I, eI;
};
const Rescaled& rescaled() {
  static const Rescaled r = [] {
    const Scene& s = scene();
    Rescaled out{Image(s.I.getShape()), Image(s.eI.getShape())};
    out.I = s.I * 0.8f;
    out.eI = s.eI * 0.8f;
    return out;
  }();
  return r;
}

// Seconds of the kernel fits fit_dia makes, bare: both passes on the same boxes, one engine per
// star and pass, the second on the rescaled image; like fit_dia, the engines share the product
// files, opened once.
Took bare_star_fits(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const Pliste& P) {
  const Scene& s = scene();
  const Rescaled& r = rescaled();
  const Span span;
  const auto products = std::make_shared<dia_products::ProductBoxes>();
  for (double scale : {0.0, 1.0})
    for (int k = 1; k <= x.length(1); ++k) {
      util::Region box(2);
      box.setRange(1, static_cast<int>(x(k) - 50.0), static_cast<int>(x(k) + 50.0));
      box.setRange(2, static_cast<int>(y(k) - 50.0), static_cast<int>(y(k) + 50.0));
      auto engine = make_dia_engine(0, scale, P);
      engine->products = products;
      set_dia_stamp(*engine, box.getStart(1), box.getEnd(1), box.getStart(2), box.getEnd(2));
      if (scale == 0.0)
        engine->calc_kern(s.I, s.eI, box, 1000, true, 0, 0);
      else
        engine->calc_kern(r.I, r.eI, box, 1000, true, 0, 0);
      benchmark::DoNotOptimize(engine->factor);
    }
  return span.took();
}

// Seconds of the one kernel fit of fit_fielddia, bare: the region 270:1870,280:1880, box
// length 1601.
Took bare_field_fit(const Pliste& P) {
  const Scene& s = scene();
  const Span span;
  util::Region region(2);
  region.setRange(1, 270, 1870);
  region.setRange(2, 280, 1880);
  auto engine = make_dia_engine(P.ordsky, 0.0, P);
  set_dia_stamp(*engine, 270, 1870, 280, 1880);
  engine->calc_kern(s.I, s.eI, region, 1601, false, 0, 0);
  benchmark::DoNotOptimize(engine->factor);
  engine.reset();
  return span.took();
}

// The method's and the bare fits' times per iteration; with bare fits, iterations alternate
// which of the two runs first, so that neither always finds the other's files in the cache. The
// overhead is the median over the iterations of the method's time against the bare fits' time
// of the same iteration, which keeps the load of a shared machine out of the comparison.
struct Timing {
  std::vector<Took> method, bare;
  void report(benchmark::State& state, int stars) const {
    double wall = 0.0, bare_wall = 0.0;
    for (const Took& t : method) wall += t.wall;
    for (const Took& t : bare) bare_wall += t.wall;
    const double n = static_cast<double>(method.size());
    if (stars > 0) state.counters["per_star_ms"] = 1e3 * wall / n / stars;
    if (bare.size() != method.size() || bare.empty()) return;
    state.counters["bare_ms"] = 1e3 * bare_wall / n;
    state.counters["overhead_pct"] = 100.0 * median_ratio([](const Took& t) { return t.wall; });
    state.counters["overhead_cpu_pct"] = 100.0 * median_ratio([](const Took& t) { return t.cpu; });
  }
  template <class Of>
  double median_ratio(Of of) const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < method.size(); ++i) ratios.push_back(of(method[i]) / of(bare[i]) - 1.0);
    std::sort(ratios.begin(), ratios.end());
    const std::size_t m = ratios.size();
    return m % 2 == 1 ? ratios[m / 2] : 0.5 * (ratios[m / 2 - 1] + ratios[m / 2]);
  }
};

// fit_dia over n stars; for 100 stars beside the 200 bare kernel fits it makes.
void BM_FitDia(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool with_bare = n <= 100;
  const Scene& s = scene();
  Pliste P = star_params();
  orv::MArray<double, 1> x, y;
  star_subset(n, x, y);
  Image I(s.I.getShape()), eI(s.eI.getShape()), A(s.I.getShape()), S(s.I.getShape());
  orv::MArray<double, 1> c(6);
  Timing timing;
  bool bare_first = true;
  for (auto _ : state) {
    if (with_bare && bare_first) timing.bare.push_back(bare_star_fits(x, y, P));
    I = s.I;
    eI = s.eI;
    A = blank_value;
    S = blank_value;
    P.fit_failed = false;
    const Span span;
    {
      Quiet quiet;
      fit_dia(s.R, s.eR, I, eI, A, S, x, y, c, P);
    }
    const Took t = span.took();
    state.SetIterationTime(t.wall);
    timing.method.push_back(t);
    if (with_bare && !bare_first) timing.bare.push_back(bare_star_fits(x, y, P));
    bare_first = !bare_first;
    if (P.fit_failed || std::abs(c(1) - 0.8) > 0.02)
      state.SkipWithError(("fit_dia gave the absorption " + std::to_string(c(1)) + (P.fit_failed ? ", failed" : "")).c_str());
  }
  timing.report(state, n);
}

// fit_fielddia beside its one bare kernel fit.
void BM_FitFielddia(benchmark::State& state) {
  const Scene& s = scene();
  Pliste P = field_params();
  Image A(s.I.getShape()), S(s.I.getShape());
  orv::MArray<double, 1> c(6);
  Timing timing;
  bool bare_first = true;
  for (auto _ : state) {
    if (bare_first) timing.bare.push_back(bare_field_fit(P));
    A = blank_value;
    S = blank_value;
    P.fit_failed = false;
    const Span span;
    {
      Quiet quiet;
      fit_fielddia(s.R, s.eR, s.I, s.eI, A, S, c, P);
    }
    const Took t = span.took();
    state.SetIterationTime(t.wall);
    timing.method.push_back(t);
    if (!bare_first) timing.bare.push_back(bare_field_fit(P));
    bare_first = !bare_first;
    if (P.fit_failed || std::abs(c(1) - 0.8) > 0.02)
      state.SkipWithError(("fit_fielddia gave the absorption " + std::to_string(c(1)) + (P.fit_failed ? ", failed" : "")).c_str());
  }
  timing.report(state, 0);
}

}  // namespace

BENCHMARK(BM_FitDia)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_FitDia)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FitFielddia)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);
