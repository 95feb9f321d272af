// Tests the kernel and background fit: recovery of known kernels, fixed flux, background
// orders, the cell grid, circular cells, the usable-pixel threshold, failures, and the
// agreement of the solution with an independent least-squares solve in numpy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "dia/product_boxes.h"
#include "dia/product_names.h"
#include "tests/dia/dia_fixtures.h"

namespace {

using dia_test::Model;
using Image = orv::MArray<float, 2>;
using Kernel = orv::MArray<double, 2>;  // indexed −17 … 17

constexpr int kSide = 200;

using dia_test::region;

Model withBackground(int bg) {
  Model m;
  m.bg_order = bg;
  return m;
}

// The reference: a star field with tiny errors, its products made once per background order.
struct Reference {
  dia_test::StarField field{kSide, kSide, 21, 60};
  std::string dir;
  explicit Reference(int bg) : dir(test_support::programScratchDir("kern_ref" + std::to_string(bg))) {
    field.error = 0.001f;
    std::unique_ptr<diffima> e(dia_test::makeEngine(withBackground(bg), dir));
    util::Region whole = region(0, 0, 0, 0);
    if (e->calc_reference(field.image, field.error, whole, 0, "") != 0) ADD_FAILURE() << "calc_reference";
  }
  ~Reference() { std::filesystem::remove_all(dir); }
};

// Each test runs in a process of its own: only the products it asks for are made.
Reference& reference(int bg) {
  if (bg == 1) {
    static Reference r1(1);
    return r1;
  }
  static Reference r0(0);
  return r0;
}

// a·(R ⋆ K) + background(x, y) in double, where the footprint fits; a·R + background elsewhere.
template <class Background>
Image makeImage(const Image& R, const Kernel& K, double a, Background background) {
  Image I(kSide, kSide);
  const int h = 17;
  for (int y = 1; y <= kSide; ++y)
    for (int x = 1; x <= kSide; ++x) {
      double v = R(x, y);
      if (x > h && x <= kSide - h && y > h && y <= kSide - h) {
        v = 0;
        for (int j = -h; j <= h; ++j)
          for (int i = -h; i <= h; ++i) {
            const double u = i / 17.5, w = j / 17.5;
            if (u * u + w * w < 1.0) v += K(i, j) * R(x + i, y + j);
          }
      }
      I(x, y) = static_cast<float>(a * v + background(x, y));
    }
  return I;
}

Kernel basisKernel(int p) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, ""));
  Kernel k(orv::Range(-17, 17), orv::Range(-17, 17));
  for (int y = -17; y <= 17; ++y)
    for (int x = -17; x <= 17; ++x) k(x, y) = e->basis(x, y, p);
  return k;
}

Kernel gaussian(double sigma) {
  Kernel k(orv::Range(-17, 17), orv::Range(-17, 17));
  double sum = 0;
  for (int y = -17; y <= 17; ++y)
    for (int x = -17; x <= 17; ++x) {
      const double u = x / 17.5, w = y / 17.5;
      k(x, y) = u * u + w * w < 1.0 ? std::exp(-(x * x + y * y) / (2 * sigma * sigma)) : 0.0;
      sum += k(x, y);
    }
  for (int y = -17; y <= 17; ++y)
    for (int x = -17; x <= 17; ++x) k(x, y) /= sum;
  return k;
}

Kernel delta() {
  Kernel k(orv::Range(-17, 17), orv::Range(-17, 17));
  k = 0.0;
  k(0, 0) = 1.0;
  return k;
}

using dia_test::setStamp;

Image constantImage(double v) {
  Image e(kSide, kSide);
  e = static_cast<float>(v);
  return e;
}

// A fresh fitting object as the sky program makes it, the stamp equal to the area.
std::unique_ptr<diffima> fit(const Image& I, const Image& eI, int x0, int x1, int y0, int y1, bool circ,
                             Model m = Model{}, int lef = 0) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(m, reference(std::max(m.bg_order, 0)).dir));
  setStamp(*e, x0 == 0 ? 1 : x0, x1 == 0 ? kSide : x1, y0 == 0 ? 1 : y0, y1 == 0 ? kSide : y1);
  util::Region area = region(x0, x1, y0, y1);
  EXPECT_EQ(e->calc_kern(I, eI, area, lef, circ, 0, 0), 0);
  return e;
}

TEST(DiaCalcKern, RecoversKnownKernels) {
  const Image& R = reference(0).field.image;
  struct Case {
    const char* name;
    Kernel K;
    double factorTolerance, constantTolerance;
  };
  const Case cases[] = {
      {"flux basis", basisKernel(2), 1e-4, 0.02},
      {"delta", delta(), 1e-4, 0.02},
      {"gaussian 1.7", gaussian(1.7), 2e-3, 0.1},
  };
  const double a = 1.37, b = 25.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Image I = makeImage(R, c.K, a, [&](int, int) { return b; });
    const Image eI = constantImage(1.0);
    struct Area {
      int x0, x1, y0, y1;
      bool circ;
      int lef;
    };
    for (const Area& area : {Area{0, 0, 0, 0, false, 0}, Area{30, 130, 28, 128, true, 1000}}) {
      std::unique_ptr<diffima> e =
          fit(I, eI, area.x0, area.x1, area.y0, area.y1, area.circ, Model{}, area.lef);
      EXPECT_NEAR(e->factor, a, c.factorTolerance);
      EXPECT_NEAR(e->constant, b, c.constantTolerance);
      EXPECT_GT(e->factor_err, 0.0);
      // The kernel sum before normalisation is the flux coefficient.
      EXPECT_NEAR(e->cell_factor(1), e->coef(2, 1), 1e-9);
      double sum = 0;
      for (int y = -17; y <= 17; ++y)
        for (int x = -17; x <= 17; ++x) sum += e->kern(x, y, 1);
      EXPECT_NEAR(sum, 1.0, 1e-12);
    }
  }
}

TEST(DiaCalcKern, NoisePullsAndResiduals) {
  const Image& R = reference(0).field.image;
  const Kernel K = gaussian(1.3);
  const double a = 0.8, b = 40.0;
  const Image clean = makeImage(R, K, a, [&](int, int) { return b; });
  std::mt19937 gen(2024);
  std::normal_distribution<double> noise(0.0, 3.0);
  const Image eI = constantImage(3.0);
  std::vector<double> pulls;
  double rmsSum = 0;
  const int trials = 40;
  for (int t = 0; t < trials; ++t) {
    Image I(kSide, kSide);
    for (int y = 1; y <= kSide; ++y)
      for (int x = 1; x <= kSide; ++x) I(x, y) = static_cast<float>(clean(x, y) + noise(gen));
    std::unique_ptr<diffima> e = fit(I, eI, 50, 150, 50, 150, true, Model{}, 1000);
    pulls.push_back((e->factor - a) / e->factor_err);
    // Residual on the fitted pixels of the inner area: the model from image_r and kern.
    Kernel k(orv::Range(-17, 17), orv::Range(-17, 17));
    for (int y = -17; y <= 17; ++y)
      for (int x = -17; x <= 17; ++x) k(x, y) = e->kern(x, y, 1);
    const Image model = convolve2d_circ(k, R);
    double sq = 0;
    long n = 0;
    for (int y = e->my0 + 17; y <= e->my1 - 17; ++y)
      for (int x = e->mx0 + 17; x <= e->mx1 - 17; ++x) {
        if (!e->imask(x, y)) continue;
        const double r = I(x, y) - (e->factor * model(x, y) + e->constant);
        sq += r * r;
        ++n;
      }
    rmsSum += std::sqrt(sq / n);
  }
  double mean = 0, var = 0;
  for (double p : pulls) mean += p / trials;
  for (double p : pulls) var += (p - mean) * (p - mean) / (trials - 1);
  EXPECT_NEAR(mean, 0.0, 0.4);
  EXPECT_GT(std::sqrt(var), 0.7);
  EXPECT_LT(std::sqrt(var), 1.4);
  EXPECT_NEAR(rmsSum / trials, 3.0, 0.15);
}

TEST(DiaCalcKern, AgreesWithNumpyLeastSquares) {
  const Reference& ref = reference(0);
  const Image I =
      makeImage(ref.field.image, gaussian(1.7), 1.1, [](int x, int y) { return 10.0 + 0.01 * x + 0.02 * y; });
  Image eI = constantImage(2.0);
  for (int x = 40; x <= 60; ++x) eI(x, 70) = 0.5f;  // uneven weights
  std::unique_ptr<diffima> e = fit(I, eI, 0, 0, 0, 0, false);
  orv::writeFitsImage(ref.dir + "I.fits", I);
  orv::writeFitsImage(ref.dir + "eI.fits", eI);
  std::ostringstream s;
  s << "D='" << ref.dir << "'\nM=(" << e->mx0 << "," << e->mx1 << "," << e->my0 << "," << e->my1 << ")\n"
    << R"(
import numpy as np
from astropy.io import fits
g=lambda n: fits.getdata(D+n).astype(float)[M[2]-1:M[3],M[0]-1:M[1]]
I=g('I.fits'); E=g('eI.fits'); Vr=g('e2.image_r.fits'); rm=g('rmask_calc.fits')
use=(rm!=0)&(E>0)&(I!=0)
T=[g('bb0000.fits')]+[g('cc%04d.fits'%q) for q in range(1,51)]
A=np.array([t[use] for t in T]).T
w=np.sqrt(1/(Vr[use]+E[use]**2))
coef=np.linalg.lstsq(A*w[:,None],I[use]*w,rcond=None)[0]
model=A@coef
print(repr(coef[1]), repr(coef[0]), repr(np.abs(model).max()), ' '.join(repr(v) for v in model[::997]))
)";
  const std::vector<double> py = test_support::numbersIn(test_support::runPython(s.str()).out);
  ASSERT_GT(py.size(), 4u);
  EXPECT_NEAR(e->coef(2, 1), py[0], 1e-6 * std::fabs(py[0]));
  EXPECT_NEAR(e->factor, py[0], 1e-6 * std::fabs(py[0]));
  // The model at the same pixels, from the fitted coefficients and the product files.
  std::vector<Image> T;
  T.push_back(orv::readFitsImage<float>(ref.dir + "bb0000.fits"));
  for (int q = 1; q <= 50; ++q) {
    char name[32];
    std::snprintf(name, sizeof name, "cc%4.4i.fits", q);
    T.push_back(orv::readFitsImage<float>(ref.dir + name));
  }
  size_t k = 0, m = 3;
  for (int y = e->my0; y <= e->my1; ++y)
    for (int x = e->mx0; x <= e->mx1; ++x) {
      if (!e->imask(x, y)) continue;
      if (k++ % 997 != 0) continue;
      double model = 0;
      for (int p = 1; p <= 51; ++p) model += e->coef(p, 1) * T[p - 1](x, y);
      ASSERT_LT(m, py.size());
      EXPECT_NEAR(model, py[m], 1e-6 * py[2]);
      ++m;
    }
  EXPECT_EQ(m, py.size());
}

TEST(DiaCalcKern, FixedFluxAndBackgroundOrders) {
  const Image& R = reference(0).field.image;
  const Image eI = constantImage(1.0);
  {  // Fixed flux: the flux coefficient is exactly 1, its error 0.
    const Image I = makeImage(R, gaussian(1.5), 1.0, [](int, int) { return 5.0; });
    Model m;
    m.scale = 1.0;
    std::unique_ptr<diffima> e = fit(I, eI, 30, 130, 30, 130, true, m, 1000);
    EXPECT_EQ(e->coef(2, 1), 1.0);
    EXPECT_EQ(e->factor_err, 0.0);
    EXPECT_NEAR(e->factor, 1.0, 1e-9);
    EXPECT_NEAR(e->constant, 5.0, 0.1);
  }
  {  // No background: constant 0, error 1e10.
    const Image I = makeImage(R, gaussian(1.5), 0.9, [](int, int) { return 0.0; });
    std::unique_ptr<diffima> e = fit(I, eI, 0, 0, 0, 0, false, withBackground(-1));
    EXPECT_EQ(e->constant, 0.0);
    EXPECT_EQ(e->constant_err, 1e10);
    EXPECT_NEAR(e->factor, 0.9, 2e-3);
  }
  {  // A plane: the constant is the plane at the integer-halved centre of the rectangle.
    auto plane = [](int x, int y) { return 20.0 + 0.05 * x - 0.03 * y; };
    const Image I = makeImage(reference(1).field.image, delta(), 1.2, plane);
    std::unique_ptr<diffima> e = fit(I, eI, 20, 135, 22, 131, false, withBackground(1));
    EXPECT_EQ(e->mx0, 20);
    EXPECT_NEAR(e->constant, plane((20 + 135) / 2, (22 + 131) / 2), 0.02);
    EXPECT_NEAR(e->factor, 1.2, 1e-4);
  }
}

TEST(DiaCalcKern, CellGridCirclesAndThreshold) {
  // A cheap model: one Gaussian, half sizes 2, background order 0 (mat 2, threshold 20).
  Model small;
  small.d = {0};
  small.sig = {1.5};
  small.half[0] = small.half[1] = 2;
  const std::string dir = test_support::programScratchDir("kern_grid");
  dia_test::StarField field(230, 200, 4, 80);
  {
    std::unique_ptr<diffima> e(dia_test::makeEngine(small, dir));
    util::Region whole = region(0, 0, 0, 0);
    ASSERT_EQ(e->calc_reference(field.image, field.error, whole, 0, ""), 0);
  }
  const Image& I = field.image;
  Image eI(field.error);
  {  // nx = ny = 3 on x 100 … 200: steps of 34, columns at 100, 134, 168.
    std::unique_ptr<diffima> e(dia_test::makeEngine(small, dir));
    setStamp(*e, 1, 230, 1, 200);
    util::Region area = region(100, 200, 50, 150);
    ASSERT_EQ(e->calc_kern(I, eI, area, 0, false, 3, 3), 0);
    EXPECT_EQ(e->lefx, 34);
    EXPECT_EQ(e->lefy, 34);
    EXPECT_EQ(e->cell_factor.length(1), 9);
    const std::string table = dir + "table.txt";
    {
      std::ofstream os(table);
      e->write_table(os, "star");
    }
    std::ifstream in(table);
    std::vector<std::pair<int, int>> corners;
    std::string line;
    while (std::getline(in, line)) {
      EXPECT_EQ(line.size(), 15u * 8 + 45) << line;
      std::istringstream words(line);
      int c, x0, y0;
      words >> c >> x0 >> y0;
      EXPECT_EQ(c, static_cast<int>(corners.size()) + 1);
      corners.push_back({x0, y0});
    }
    const std::vector<std::pair<int, int>> expected = {
        {100, 50}, {100, 84}, {100, 118}, {134, 50}, {134, 84}, {134, 118}, {168, 50}, {168, 84}, {168, 118}};
    EXPECT_EQ(corners, expected);
    for (int c = 1; c <= 9; ++c) EXPECT_GT(e->cell_factor(c), 0.5) << c;
  }
  {  // Exactly 10·mat usable pixels: not fitted; one more: fitted.
    for (int usable : {20, 21}) {
      Image eSparse(230, 200);
      eSparse = 0.0f;
      for (int k = 0; k < usable; ++k) eSparse(60 + k % 7, 60 + k / 7) = 3.0f;
      std::unique_ptr<diffima> e(dia_test::makeEngine(small, dir));
      setStamp(*e, 1, 230, 1, 200);
      util::Region area = region(50, 80, 50, 80);
      e->calc_kern(I, eSparse, area, 0, false, 0, 0);
      EXPECT_EQ(e->good(1), usable);
      if (usable == 20)
        EXPECT_EQ(e->factor, 0.0);
      else
        EXPECT_NE(e->factor, 0.0);
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(DiaCalcKern, StarBoxWithCircularCell) {
  // A star at (58, 100) ± 50 reaches beyond the margin: fit area x 18 … 108, y 50 … 150, one
  // cell of 91 × 101 pixels, circle of radius 50.5 (from the y extent) about (63, 100).
  const Image& R = reference(0).field.image;
  const Image I = makeImage(R, gaussian(1.2), 1.05, [](int, int) { return 3.0; });
  std::unique_ptr<diffima> e = fit(I, constantImage(1.0), 8, 108, 50, 150, true, Model{}, 1000);
  EXPECT_EQ(e->mx0, 18);
  EXPECT_EQ(e->mx1, 108);
  EXPECT_EQ(e->my0, 50);
  EXPECT_EQ(e->my1, 150);
  EXPECT_EQ(e->cell_factor.length(1), 1);
  long inside = 0;
  for (int y = 50; y <= 150; ++y)
    for (int x = 18; x <= 108; ++x) {
      const double r2 = (x - 63.0) * (x - 63.0) + (y - 100.0) * (y - 100.0);
      if (r2 >= 50.5 * 50.5) {
        EXPECT_FALSE(e->imask(x, y)) << x << "," << y;
      } else {
        inside += e->imask(x, y);
      }
    }
  EXPECT_EQ(e->good(1), inside);
  EXPECT_TRUE(e->imask(63, 50));
  EXPECT_TRUE(e->imask(18, 100));
  EXPECT_NEAR(e->factor, 1.05, 2e-3);
}

TEST(DiaCalcKern, SharedProductFilesGiveTheSameFits) {
  // Star boxes fitted one after another by engines that share the open product files, free
  // and fixed flux, boxes overlapping and apart: each fit equals that of an engine on its own.
  const Image& R = reference(0).field.image;
  const Image I = makeImage(R, gaussian(1.3), 0.9, [](int x, int) { return 2.0 + 0.01 * x; });
  const Image eI = constantImage(1.0);
  const auto shared = std::make_shared<dia_products::ProductBoxes>();
  struct Box {
    int x0, x1, y0, y1;
  };
  for (double scale : {0.0, 1.0})
    for (const Box& b : {Box{20, 120, 30, 130}, Box{60, 160, 50, 150}, Box{8, 108, 90, 190}}) {
      Model m;
      m.scale = scale;
      std::unique_ptr<diffima> alone = fit(I, eI, b.x0, b.x1, b.y0, b.y1, true, m, 1000);
      std::unique_ptr<diffima> e(dia_test::makeEngine(m, reference(0).dir));
      e->products = shared;
      setStamp(*e, b.x0, b.x1, b.y0, b.y1);
      util::Region area = region(b.x0, b.x1, b.y0, b.y1);
      ASSERT_EQ(e->calc_kern(I, eI, area, 1000, true, 0, 0), 0);
      EXPECT_NE(e->factor, 0.0);
      EXPECT_EQ(e->factor, alone->factor);
      EXPECT_EQ(e->factor_err, alone->factor_err);
      EXPECT_EQ(e->constant, alone->constant);
      EXPECT_EQ(e->constant_err, alone->constant_err);
      for (int p = 1; p <= e->mat; ++p) EXPECT_EQ(e->coef(p, 1), alone->coef(p, 1)) << p;
    }
}

// A copy of the products of reference(bg) in a directory of its own; only the files named in
// `keep` (names without a directory) when it is not empty.
std::string productCopy(int bg, const std::vector<std::string>& keep = {}) {
  const std::string dir = test_support::programScratchDir("product_copy");
  for (const auto& entry : std::filesystem::directory_iterator(reference(bg).dir)) {
    const std::string name = entry.path().filename();
    if (keep.empty() || std::find(keep.begin(), keep.end(), name) != keep.end())
      std::filesystem::copy_file(entry.path(), dir + name);
  }
  return dir;
}

TEST(DiaCalcKern, FitsReadOnlyTheListedProducts) {
  // With only the files of fitProducts beside it, a fit is the one with all products.
  const Image& R = reference(1).field.image;
  const Image I = makeImage(R, gaussian(1.3), 0.9, [](int x, int) { return 2.0 + 0.01 * x; });
  const Image eI = constantImage(1.0);
  std::unique_ptr<diffima> all = fit(I, eI, 20, 150, 30, 170, true, withBackground(1), 1000);
  std::unique_ptr<diffima> e(dia_test::makeEngine(withBackground(1), ""));
  const std::vector<std::string> read = dia_files::fitProducts("", 1, e->mat - e->nbg, true);
  EXPECT_EQ(read.size(), 2u + 3u + 50u);
  e->refpath = productCopy(1, read);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(e->refpath), std::filesystem::directory_iterator()),
      static_cast<long>(read.size()));
  setStamp(*e, 20, 150, 30, 170);
  util::Region area = region(20, 150, 30, 170);
  ASSERT_EQ(e->calc_kern(I, eI, area, 1000, true, 0, 0), 0);
  EXPECT_NE(e->factor, 0.0);
  EXPECT_EQ(e->factor, all->factor);
  EXPECT_EQ(e->factor_err, all->factor_err);
  EXPECT_EQ(e->constant, all->constant);
  EXPECT_EQ(e->constant_err, all->constant_err);
  std::filesystem::remove_all(e->refpath);
}

TEST(DiaCalcKern, RefusalsAndPrintedState) {
  const Image& R = reference(0).field.image;
  const Image eI = constantImage(1.0);
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, reference(0).dir));
  util::Region empty = region(100, 100, 0, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(e->calc_kern(R, eI, empty, 0, false, 0, 0), -1);  // stampxy as constructed
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "wrong stampxy in diffima\n");
  setStamp(*e, 1, kSide, 1, kSide);
  testing::internal::CaptureStderr();
  EXPECT_EQ(e->calc_kern(R, eI, empty, 0, false, 0, 0), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("wrong area in diffima\n"), std::string::npos);
  EXPECT_EQ(e->factor, 0.0);
  std::ofstream none(test_support::programScratchDir("no_table") + "t.txt");
  e->write_table(none, "x");  // before a fit: nothing, no crash
  // After a fit at verbosity 0 standard output is in general notation.
  // Bounds the region leaves at 0 keep the values of the call before.
  std::cout << std::fixed;
  util::Region whole = region(18, 183, 18, 183);
  EXPECT_EQ(e->calc_kern(makeImage(R, delta(), 1.0, [](int, int) { return 0.0; }), eI, whole, 0, false, 0, 0),
            0);
  EXPECT_EQ(std::cout.flags() & std::ios::floatfield, std::ios::fmtflags(0));
  EXPECT_NEAR(e->factor, 1.0, 1e-4);
}

TEST(DiaCalcKernDeathTest, UnusableProductsAreNamed) {
  // A product that is missing, or too small for the boxes read from it, is named with what
  // makes it; the run ends with status 1.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Image eI = constantImage(1.0);
  const std::string missing = productCopy(0), small = productCopy(0);
  std::filesystem::remove(missing + "cc0010.fits");
  orv::writeFitsImage(small + "cc0010.fits", Image(50, 50));
  struct Unusable {
    std::string dir;
    const char* cause;
  };
  for (const Unusable& u : {Unusable{missing, "cannot open file '.*cc0010.fits' for reading"},
                            Unusable{small, "is no subarray of \\[1:50,1:50\\]"}}) {
    SCOPED_TRACE(u.cause);
    std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, u.dir));
    setStamp(*e, 1, kSide, 1, kSide);
    util::Region whole = region(0, 0, 0, 0);
    EXPECT_EXIT(e->calc_kern(eI, eI, whole, 0, false, 0, 0), testing::ExitedWithCode(1),
                std::string("^reference product [^ ]*/cc0010.fits cannot be used \\(.*") + u.cause +
                    ".*\\): the reference step makes the products; run it again\n$");
  }
  std::filesystem::remove_all(missing);
  std::filesystem::remove_all(small);
}

TEST(DiaCalcKernDeathTest, MissingProductsEndWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Image eI = constantImage(1.0);
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, "/nonexistent/dir/"));
  setStamp(*e, 1, kSide, 1, kSide);
  util::Region whole = region(0, 0, 0, 0);
  EXPECT_EXIT(e->calc_kern(eI, eI, whole, 0, false, 0, 0), testing::ExitedWithCode(1),
              "cannot open file '/nonexistent/dir/rmask_calc.fits' for reading");
}

}  // namespace
