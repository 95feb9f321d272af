// Difference imaging's hot loops, each beside its plain reference loop in the same run:
// the footprint correlation of a 2048² image with a kernel of the sky program's basis
// (parameter 39: σ 3, x², about 970 non-zero taps) against the per-pixel loop, outputs
// asserted identical; the reference step on 1024² and 2048² references beside the 100
// correlations with convolve2d_circ and the 101 frame writes it replaces, and the largest
// difference of its products; the 2048² parts alone; the footprint spread of the masks against the
// plain per-pixel spread.
//
// Reference products go to a directory under ORV_BENCH_DIR (default /tmp), removed afterwards.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "dia/basis_correlation.h"
#include "dia/dia.h"
#include "dia/footprint_spread.h"
#include "dia/normal_matrix.h"
#include "dia/product_names.h"
#include "orv/fits/fits_image.h"
#include "tests/dia/dia_plain_correlation.h"

namespace {

constexpr int kSide = 2048;

orv::MArray<float, 2> starField(int nx, int ny) {
  orv::MArray<float, 2> a(nx, ny);
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(90.0f, 110.0f);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = u(gen);
  return a;
}

const orv::MArray<float, 2>& image2048() {
  static const orv::MArray<float, 2> a = starField(kSide, kSide);
  return a;
}

// The sky program's model: d = (6, 4, 2, 0), σ = (1, 3, 9, 0.1), half sizes 17.
diffima* skyModel(int bgOrder, const std::string& refpath) {
  orv::MArray<int, 1> d(4);
  orv::MArray<double, 1> sig(4);
  const int degrees[4] = {6, 4, 2, 0};
  const double sigmas[4] = {1.0, 3.0, 9.0, 0.1};
  for (int i = 1; i <= 4; ++i) d(i) = degrees[i - 1], sig(i) = sigmas[i - 1];
  const int half[2] = {17, 17};
  return new diffima(d, sig, half, 0, bgOrder, 1, 0.0, refpath, false);
}

const orv::MArray<double, 2>& kernel39() {
  static const orv::MArray<double, 2> k = [] {
    std::unique_ptr<diffima> e(skyModel(0, ""));
    orv::MArray<double, 2> k(35, 35);
    for (int y = -17; y <= 17; ++y)
      for (int x = -17; x <= 17; ++x) k(x + 18, y + 18) = e->basis(x, y, 39);
    return k;
  }();
  return k;
}

long nonZeroTaps() {
  long n = 0;
  for (int y = -17; y <= 17; ++y)
    for (int x = -17; x <= 17; ++x) {
      const float u = x / 17.5f, v = y / 17.5f;
      n += (u * u + v * v < 1.0f && static_cast<float>(kernel39()(x + 18, y + 18)) != 0.0f);
    }
  return n;
}

void report(benchmark::State& state) {
  const double pixels = static_cast<double>(kSide - 34) * (kSide - 34);
  state.counters["s_per_pixel"] =
      benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["taps_per_s"] = benchmark::Counter(pixels * static_cast<double>(nonZeroTaps()),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Convolve2dCirc(benchmark::State& state) {
  for (auto _ : state) {
    orv::MArray<float, 2> r = convolve2d_circ(kernel39(), image2048());
    benchmark::DoNotOptimize(r.firstElement());
  }
  report(state);
}
BENCHMARK(BM_Convolve2dCirc)->Unit(benchmark::kMillisecond);

void BM_Convolve2dCircPlainLoop(benchmark::State& state) {
  orv::MArray<float, 2> plain;
  for (auto _ : state) {
    plain.makeReference(dia_test::plainCorrelation(kernel39(), image2048()));
    benchmark::DoNotOptimize(plain.firstElement());
  }
  report(state);
  const orv::MArray<float, 2> fast = convolve2d_circ(kernel39(), image2048());
  if (std::memcmp(fast.firstElement(), plain.firstElement(), sizeof(float) * fast.numElements()) != 0)
    state.SkipWithError("blocked and plain correlations differ");
}
BENCHMARK(BM_Convolve2dCircPlainLoop)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

namespace {

std::string benchDirectory(const std::string& name) {
  const char* dir = std::getenv("ORV_BENCH_DIR");
  const std::string path =
      std::string(dir ? dir : "/tmp") + "/orv_bench_dia_" + name + "_" + std::to_string(getpid()) + "/";
  std::filesystem::create_directories(path);
  return path;
}

const orv::MArray<float, 2>& error2048() {
  static const orv::MArray<float, 2> e = [] {
    orv::MArray<float, 2> a(kSide, kSide);
    a = 10.0f;
    return a;
  }();
  return e;
}

// A reference and its error image of side n, made once per side.
const orv::MArray<float, 2>& referenceOfSide(int n) {
  static std::map<int, orv::MArray<float, 2>> images;
  auto found = images.find(n);
  if (found == images.end()) found = images.emplace(n, n == kSide ? image2048() : starField(n, n)).first;
  return found->second;
}

const orv::MArray<float, 2>& errorOfSide(int n) {
  static std::map<int, orv::MArray<float, 2>> images;
  auto found = images.find(n);
  if (found == images.end()) {
    orv::MArray<float, 2> e(n, n);
    e = 10.0f;
    found = images.emplace(n, e).first;
  }
  return found->second;
}

// The whole reference step with the sky model (background order 0): 106 files, on a reference
// of side state.range(0).
void BM_CalcReference(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string dir = benchDirectory("reference");
  // The reference and its error image exist before the clock starts, as the caller's images do.
  const orv::MArray<float, 2>& reference = referenceOfSide(n);
  const orv::MArray<float, 2>& error = errorOfSide(n);
  for (auto _ : state) {
    std::unique_ptr<diffima> e(skyModel(0, dir));
    util::Region whole(2);
    whole.setRange(1, 0, 0);
    whole.setRange(2, 0, 0);
    if (e->calc_reference(reference, error, whole, 0, "") != 0)
      state.SkipWithError("calc_reference failed");
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CalcReference)->Unit(benchmark::kMillisecond)->Iterations(1)->Arg(1024)->Arg(2048);

// What the reference step replaces, side by side: its 100 correlations with convolve2d_circ
// (basis and squared basis of the 50 kernel parameters) and its 101 float frames written.
void BM_CalcReferenceTwoDimensional(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string dir = benchDirectory("two_dimensional");
  std::unique_ptr<diffima> e(skyModel(0, ""));
  const orv::MArray<float, 2>& reference = referenceOfSide(n);
  const orv::MArray<float, 2>& error = errorOfSide(n);
  for (auto _ : state) {
    for (int p = 2; p <= e->mat; ++p) {
      orv::MArray<float, 2> g = convolve2d_circ(
          orv::MArray<double, 2>(e->basis, orv::Range::all(), orv::Range::all(), p), reference);
      orv::MArray<float, 2> h = convolve2d_circ(
          orv::MArray<double, 2>(e->quad_basis, orv::Range::all(), orv::Range::all(), p), error);
      benchmark::DoNotOptimize(g.firstElement());
      benchmark::DoNotOptimize(h.firstElement());
    }
    for (int f = 0; f < 101; ++f) {
      orv::FitsOut out(dir + "frame" + std::to_string(f) + ".fits");
      out << reference;
    }
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CalcReferenceTwoDimensional)->Unit(benchmark::kMillisecond)->Iterations(1)->Arg(1024)->Arg(2048);

// The products of the one-dimensional passes against convolve2d_circ on the same reference:
// the largest difference over all image products as a fraction of their largest value, the
// same for the variance products (here from a variance image of the reference's values). At
// the pixel of the largest difference both are also compared with the footprint correlation
// summed in double (the *_exact counters, same fraction): convolve2d_circ sums in float and
// strays from it by itself.
void BM_BasisPassesAgainstTwoDimensional(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::unique_ptr<diffima> e(skyModel(0, ""));
  const orv::MArray<float, 2>& image = referenceOfSide(n);
  double worst[2] = {0.0, 0.0}, largest[2] = {0.0, 0.0};
  struct Worst {
    int p = 0, x = 0, y = 0;
    double fast = 0.0, plain = 0.0;
  } at[2];
  for (auto _ : state) {
    dia_basis::BasisCorrelator passes(*e, image, image);
    for (int p = 2; p <= e->mat; ++p)
      for (int v = 0; v < 2; ++v) {
        const orv::MArray<float, 2> fast = v ? passes.variance(p) : passes.image(p);
        const orv::MArray<float, 2> plain = convolve2d_circ(
            orv::MArray<double, 2>(v ? e->quad_basis : e->basis, orv::Range::all(), orv::Range::all(), p),
            image);
        for (int y = 1; y <= n; ++y)
          for (int x = 1; x <= n; ++x) {
            const double a = fast(x, y), b = plain(x, y);
            largest[v] = std::max(largest[v], std::fabs(b));
            if (std::fabs(a - b) > worst[v]) worst[v] = std::fabs(a - b), at[v] = Worst{p, x, y, a, b};
          }
      }
  }
  state.counters["image_difference"] = worst[0] / largest[0];
  state.counters["variance_difference"] = worst[1] / largest[1];
  for (int v = 0; v < 2; ++v) {
    const orv::MArray<double, 3>& kernels = v ? e->quad_basis : e->basis;
    double exact = 0.0;
    for (int j = -e->hy; j <= e->hy; ++j)
      for (int i = -e->hx; i <= e->hx; ++i)
        if (e->quad(i, j)) exact += kernels(i, j, at[v].p) * image(at[v].x + i, at[v].y + j);
    const std::string family = v ? "variance" : "image";
    state.counters[family + "_passes_exact"] = std::fabs(at[v].fast - exact) / largest[v];
    state.counters[family + "_2d_exact"] = std::fabs(at[v].plain - exact) / largest[v];
  }
}
BENCHMARK(BM_BasisPassesAgainstTwoDimensional)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Arg(1024)
    ->Arg(2048);

// The masks and modified reference alone: one basis function of half size 17.
void BM_CalcReferenceMasks(benchmark::State& state) {
  const std::string dir = benchDirectory("masks");
  orv::MArray<int, 1> d(1);
  orv::MArray<double, 1> sig(1);
  d(1) = 0;
  sig(1) = 1.0;
  const int half[2] = {17, 17};
  for (auto _ : state) {
    diffima e(d, sig, half, 0, -1, 1, 0.0, dir, false);
    util::Region whole(2);
    whole.setRange(1, 0, 0);
    whole.setRange(2, 0, 0);
    e.calc_reference(image2048(), error2048(), whole, 0, "");
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CalcReferenceMasks)->Unit(benchmark::kMillisecond)->Iterations(1);

// Its parts done directly: the 100 correlations of the sky model (basis and squared basis)
// and 101 float frames written with FitsOut.
void BM_ReferenceCorrelations(benchmark::State& state) {
  std::unique_ptr<diffima> e(skyModel(0, ""));
  for (auto _ : state)
    for (int p = 2; p <= e->mat; ++p) {
      orv::MArray<float, 2> g = convolve2d_circ(
          orv::MArray<double, 2>(e->basis, orv::Range::all(), orv::Range::all(), p), image2048());
      orv::MArray<float, 2> h = convolve2d_circ(
          orv::MArray<double, 2>(e->quad_basis, orv::Range::all(), orv::Range::all(), p), image2048());
      benchmark::DoNotOptimize(g.firstElement());
      benchmark::DoNotOptimize(h.firstElement());
    }
}
BENCHMARK(BM_ReferenceCorrelations)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ReferenceWrites(benchmark::State& state) {
  const std::string dir = benchDirectory("writes");
  for (auto _ : state)
    for (int f = 0; f < 101; ++f) {
      orv::FitsOut out(dir + "frame" + std::to_string(f) + ".fits");
      out << image2048();
    }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReferenceWrites)->Unit(benchmark::kMillisecond)->Iterations(1);

// The footprint spread on a 2048² frame whose left half is bad.
const orv::MArray<bool, 2>& footprint17() {
  static const orv::MArray<bool, 2> q = [] {
    orv::MArray<bool, 2> a(orv::Range(-17, 17), orv::Range(-17, 17));
    for (int y = -17; y <= 17; ++y)
      for (int x = -17; x <= 17; ++x) a(x, y) = (x / 17.5) * (x / 17.5) + (y / 17.5) * (y / 17.5) < 1.0;
    return a;
  }();
  return q;
}

bool leftHalfBad(int x, int) { return x <= kSide / 2; }

orv::MArray<short, 2> onesMask() {
  orv::MArray<short, 2> m(kSide, kSide);
  m = 1;
  return m;
}

void BM_FootprintSpread(benchmark::State& state) {
  orv::MArray<short, 2> mask = onesMask();
  const dia_spread::Box box{18, kSide - 17, 18, kSide - 17};
  for (auto _ : state) dia_spread::spreadBad(mask, box, box, leftHalfBad, footprint17());
  benchmark::DoNotOptimize(mask.firstElement());
}
BENCHMARK(BM_FootprintSpread)->Unit(benchmark::kMillisecond);

void BM_FootprintSpreadPlainLoop(benchmark::State& state) {
  orv::MArray<short, 2> mask = onesMask();
  const orv::MArray<bool, 2>& quad = footprint17();
  for (auto _ : state)
    for (int y = 18; y <= kSide - 17; ++y)
      for (int x = 18; x <= kSide - 17; ++x) {
        if (!leftHalfBad(x, y)) continue;
        for (int dy = -17; dy <= 17; ++dy)
          for (int dx = -17; dx <= 17; ++dx) {
            const int tx = x + dx, ty = y + dy;
            if (quad(dx, dy) && tx >= 18 && tx <= kSide - 17 && ty >= 18 && ty <= kSide - 17)
              mask(tx, ty) = 0;
          }
      }
  orv::MArray<short, 2> fast = onesMask();
  const dia_spread::Box box{18, kSide - 17, 18, kSide - 17};
  dia_spread::spreadBad(fast, box, box, leftHalfBad, quad);
  if (std::memcmp(fast.firstElement(), mask.firstElement(), sizeof(short) * fast.numElements()) != 0)
    state.SkipWithError("spreads differ");
}
BENCHMARK(BM_FootprintSpreadPlainLoop)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

namespace {

// The normal-matrix sums of the kernel fit: mat 51 plus the image column over a 1024² rectangle.
constexpr int kMat = 51;
constexpr int kRect = 1024;

struct FitInputs {
  orv::MArray<float, 3> T{kRect, kRect, kMat + 1};  // basis values, the image last
  orv::MArray<double, 2> W{kRect, kRect};
  FitInputs() {
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int p = 1; p <= kMat + 1; ++p)
      for (int y = 1; y <= kRect; ++y)
        for (int x = 1; x <= kRect; ++x) T(x, y, p) = u(gen);
    for (int y = 1; y <= kRect; ++y)
      for (int x = 1; x <= kRect; ++x) W(x, y) = 1.0 / (1.0 + (x + y) % 7);
  }
};

const FitInputs& fitInputs() {
  static const FitInputs f;
  return f;
}

// The packed buffer is made once: its first touch by the system is not part of the sums.
dia_normal::PackedBasis& packedBuffer() {
  static dia_normal::PackedBasis packed(kMat + 1, static_cast<std::size_t>(kRect) * kRect);
  return packed;
}

std::vector<double> packedSums() {
  const FitInputs& in = fitInputs();
  dia_normal::PackedBasis& packed = packedBuffer();
  // As the fit packs: the offsets of the usable pixels, then one gather per basis image.
  std::vector<std::ptrdiff_t> offsets(static_cast<std::size_t>(kRect) * kRect);
  for (int y = 1, k = 0; y <= kRect; ++y)
    for (int x = 1; x <= kRect; ++x) offsets[k++] = (x - 1) * in.T.stride(1) + (y - 1) * in.T.stride(2);
  for (int p = 1; p <= kMat + 1; ++p) packed.gatherRow(p - 1, &in.T(1, 1, p), offsets);
  for (int y = 1, k = 0; y <= kRect; ++y)
    for (int x = 1; x <= kRect; ++x) packed.weights()[k++] = in.W(x, y);
  std::vector<double> sums((kMat + 1) * (kMat + 1), 0.0);
  packed.addWeightedProducts(sums);
  return sums;
}

// Packing included: the fit packs the usable pixels of each rectangle before summing.
// A warm-up call makes the buffer.
void BM_NormalMatrix(benchmark::State& state) {
  packedSums();
  for (auto _ : state) {
    std::vector<double> sums = packedSums();
    benchmark::DoNotOptimize(sums.data());
  }
  state.counters["products_per_s"] = benchmark::Counter(static_cast<double>(kMat) * kMat * kRect * kRect,
                                                        benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_NormalMatrix)->Unit(benchmark::kMillisecond);

// The sums alone, on values packed beforehand.
void BM_NormalMatrixSumsOnly(benchmark::State& state) {
  packedSums();
  for (auto _ : state) {
    std::vector<double> sums((kMat + 1) * (kMat + 1), 0.0);
    packedBuffer().addWeightedProducts(sums);
    benchmark::DoNotOptimize(sums.data());
  }
  state.counters["products_per_s"] = benchmark::Counter(static_cast<double>(kMat) * kMat * kRect * kRect,
                                                        benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_NormalMatrixSumsOnly)->Unit(benchmark::kMillisecond);

// The plain loop: i, j outer over both triangles, pixels inner, in double.
void BM_NormalMatrixPlainLoop(benchmark::State& state) {
  const FitInputs& in = fitInputs();
  orv::MArray<double, 2> mm(kMat, kMat);
  for (auto _ : state) {
    mm = 0.0;
    for (int i = 1; i <= kMat; ++i)
      for (int j = 1; j <= kMat; ++j) {
        double sum = 0.0;
        for (int y = 1; y <= kRect; ++y)
          for (int x = 1; x <= kRect; ++x) sum += in.W(x, y) * in.T(x, y, i) * in.T(x, y, j);
        mm(i, j) += sum;
      }
    benchmark::DoNotOptimize(mm.firstElement());
  }
  state.counters["products_per_s"] = benchmark::Counter(static_cast<double>(kMat) * kMat * kRect * kRect,
                                                        benchmark::Counter::kIsIterationInvariantRate);
  // Elements agree within 1e-12 of the sum of magnitudes of their terms.
  const std::vector<double> sums = packedSums();
  for (int i = 1; i <= kMat; ++i)
    for (int j = i; j <= kMat; ++j) {
      double magnitude = 0.0;
      for (int y = 1; y <= kRect; ++y)
        for (int x = 1; x <= kRect; ++x) magnitude += std::fabs(in.W(x, y) * in.T(x, y, i) * in.T(x, y, j));
      if (std::fabs(sums[(i - 1) * (kMat + 1) + (j - 1)] - mm(i, j)) > 1e-12 * magnitude) {
        state.SkipWithError("normal matrices differ");
        return;
      }
    }
}
BENCHMARK(BM_NormalMatrixPlainLoop)->Unit(benchmark::kMillisecond)->Iterations(1);

// One star-box fit (101² box, circular cell) on the products of a 256² reference, and the
// FITS reads that its stopwatch times: the mask, the variance and the 51 basis images.
struct StarProducts {
  std::string dir = benchDirectory("star");
  orv::MArray<float, 2> image = starField(256, 256);
  orv::MArray<float, 2> error{256, 256};
  StarProducts() {
    error = 10.0f;
    std::unique_ptr<diffima> e(skyModel(0, dir));
    util::Region whole(2);
    whole.setRange(1, 0, 0);
    whole.setRange(2, 0, 0);
    e->calc_reference(image, error, whole, 0, "");
  }
  ~StarProducts() { std::filesystem::remove_all(dir); }
};

StarProducts& starProducts() {
  static StarProducts p;
  return p;
}

void BM_StarBoxFit(benchmark::State& state) {
  StarProducts& p = starProducts();
  for (auto _ : state) {
    std::unique_ptr<diffima> e(skyModel(0, p.dir));
    e->stampxy.makeReference(orv::MArray<int, 3>(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 1)));
    e->stampxy(1, 0, 1) = 78, e->stampxy(1, 1, 1) = 178, e->stampxy(2, 0, 1) = 78, e->stampxy(2, 1, 1) = 178;
    util::Region box(2);
    box.setRange(1, 78, 178);
    box.setRange(2, 78, 178);
    e->calc_kern(p.image, p.error, box, 1000, true, 0, 0);
    benchmark::DoNotOptimize(e->factor);
  }
}
BENCHMARK(BM_StarBoxFit)->Unit(benchmark::kMillisecond);

void BM_StarBoxFitReadsOnly(benchmark::State& state) {
  StarProducts& p = starProducts();
  for (auto _ : state) {
    auto mask = orv::readFitsBox<short>(p.dir + "rmask_calc.fits", 78, 178, 78, 178);
    auto vr = orv::readFitsBox<float>(p.dir + "e2.image_r.fits", 61, 195, 61, 195);
    auto bb = orv::readFitsBox<float>(p.dir + "bb0000.fits", 78, 178, 78, 178);
    for (int q = 1; q <= 50; ++q) {
      auto cc = orv::readFitsBox<float>(dia_files::basisImageName(p.dir, q), 78, 178, 78, 178);
      benchmark::DoNotOptimize(cc.firstElement());
    }
    benchmark::DoNotOptimize(mask.firstElement());
  }
}
BENCHMARK(BM_StarBoxFitReadsOnly)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// A 2048² field fit (one cell, background order 0: 51 products), made once.
struct FieldFit {
  std::string dir = benchDirectory("field");
  std::unique_ptr<diffima> engine;
  FieldFit() {
    {
      std::unique_ptr<diffima> ref(skyModel(0, dir));
      util::Region whole(2);
      whole.setRange(1, 0, 0);
      whole.setRange(2, 0, 0);
      ref->calc_reference(image2048(), error2048(), whole, 0, "");
    }
    engine.reset(skyModel(0, dir));
    engine->stampxy.makeReference(orv::MArray<int, 3>(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 1)));
    engine->stampxy(1, 0, 1) = 1, engine->stampxy(1, 1, 1) = kSide;
    engine->stampxy(2, 0, 1) = 1, engine->stampxy(2, 1, 1) = kSide;
    util::Region whole(2);
    whole.setRange(1, 0, 0);
    whole.setRange(2, 0, 0);
    engine->calc_kern(image2048(), error2048(), whole, 0, false, 0, 0);
  }
  ~FieldFit() { std::filesystem::remove_all(dir); }
};

FieldFit& fieldFit() {
  static FieldFit f;
  return f;
}

void BM_ConvolveImageMode(benchmark::State& state) {
  FieldFit& f = fieldFit();
  for (auto _ : state) {
    orv::MArray<float, 2> rk, dif;
    f.engine->convolve(image2048(), rk, dif, 1);
    benchmark::DoNotOptimize(rk.firstElement());
  }
}
BENCHMARK(BM_ConvolveImageMode)->Unit(benchmark::kMillisecond)->Iterations(3);

// The reads alone: the reference and mask over their areas, then the 51 products whole.
void BM_ConvolveReadsAlone(benchmark::State& state) {
  FieldFit& f = fieldFit();
  const diffima& e = *f.engine;
  for (auto _ : state) {
    auto r = orv::readFitsBox<float>(f.dir + "image_r.fits", e.bx0, e.bx1, e.by0, e.by1);
    auto m = orv::readFitsBox<short>(f.dir + "rmask_conv.fits", e.mx0, e.mx1, e.my0, e.my1);
    benchmark::DoNotOptimize(r.firstElement());
    benchmark::DoNotOptimize(m.firstElement());
    auto bb = orv::readFitsImage<float>(f.dir + "bb0000.fits");
    benchmark::DoNotOptimize(bb.firstElement());
    for (int q = 1; q <= 50; ++q) {
      auto cc = orv::readFitsImage<float>(dia_files::basisImageName(f.dir, q));
      benchmark::DoNotOptimize(cc.firstElement());
    }
  }
}
BENCHMARK(BM_ConvolveReadsAlone)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
