// Profile fits: the model derivatives against finite differences, fmoffat
// against scipy's curve_fit, its status and output rules, and fgauss's centre.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <numbers>
#include <sstream>
#include <string>

#include "numerics/random.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

constexpr double kFree = 12345.0;
constexpr double kPi = std::numbers::pi;

orv::MArray<double, 1> vec(std::initializer_list<double> v) {
  orv::MArray<double, 1> a(static_cast<int>(v.size()));
  int i = 1;
  for (double x : v) a(i++) = x;
  return a;
}

// A fitter object only to call funcs.
template <class Model>
struct ModelProbe {
  orv::MArray<double, 1> one = vec({1.0});
  orv::MArray<double, 1> a;
  orv::MArray<int, 1> ia;
  Model model;
  explicit ModelProbe(orv::MArray<double, 1> start)
      : a(start), ia(start.length(1)), model(one, one, one, one, a, (ia = 1, ia)) {}
};

// Every derivative of the model at parameters p against a central difference
// with step 1e-5 (relative), 1e-6 relative agreement.
template <class Model>
void checkDerivatives(const std::vector<double>& p) {
  const int m = static_cast<int>(p.size());
  const double points[][2] = {{0.3, -0.2}, {2.0, 1.0}, {-3.0, 2.5}, {1.5, -4.0}};
  orv::MArray<double, 1> a(m);
  for (int l = 1; l <= m; ++l) a(l) = p[l - 1];
  ModelProbe<Model> probe(a);
  for (const auto& pt : points) {
    double y0;
    orv::MArray<double, 1> d(m), scratch(m);
    ASSERT_EQ(probe.model.funcs(pt[0], pt[1], a, y0, d), 0);
    for (int l = 1; l <= m; ++l) {
      const double h = 1e-5 * std::max(1.0, std::fabs(a(l)));
      orv::MArray<double, 1> up(m), down(m);
      up = a;
      down = a;
      up(l) += h;
      down(l) -= h;
      double yu, yd;
      probe.model.funcs(pt[0], pt[1], up, yu, scratch);
      probe.model.funcs(pt[0], pt[1], down, yd, scratch);
      const double fd = (yu - yd) / (2 * h);
      EXPECT_NEAR(d(l), fd, 1e-6 * std::max(1.0, std::fabs(fd))) << "parameter " << l << " of " << m;
    }
  }
}

TEST(PsfProfileModels, DerivativesMatchCentralDifferences) {
  // Moffat: sky, amplitude, a3, a4, x, y, angle, beta, slopes.
  const std::vector<std::vector<double>> moffat = {
      {10, 500, 0.4, 0.3, 0.2, -0.3, 0.3, 1.5, 0.02, -0.01},
      {0, 80, 0.25, 0.6, -1.1, 0.7, 2.0, 3.0, 0, 0},
      {5, 1e3, 0.9, 0.5, 0.4, 0.1, -0.7, 6.0, 0.1, 0.2},
  };
  for (const auto& p : moffat) checkDerivatives<Class_moffat_fit>(p);
  const std::vector<std::vector<double>> gauss = {{3, 200, 0.3, 0.1, 0.2, -0.3, 0.4},
                                                  {0, 50, 0.05, 0.5, -1.0, 0.5, 1.9}};
  for (const auto& p : gauss) checkDerivatives<Class_gauss_fit>(p);
  // Far out the profile underflows: the plane alone, its derivatives only;
  // a profile that would overflow fails the model.
  orv::MArray<double, 1> a = vec({2, 100, 1e3, 1e3, 0, 0, 0, 50, 0.5, 0.25});
  ModelProbe<Class_moffat_fit> probe(a);
  orv::MArray<double, 1> d(10);
  double yfit;
  ASSERT_EQ(probe.model.funcs(4, 8, a, yfit, d), 0);
  EXPECT_EQ(yfit, 2 + 0.5 * 4 + 0.25 * 8);
  for (int l = 2; l <= 8; ++l) EXPECT_EQ(d(l), 0.0);
  EXPECT_EQ(d(9), 4.0);
  EXPECT_EQ(d(10), 8.0);
  orv::MArray<double, 1> b = vec({2, 100, 1e3, 1e3, 0, 0, 0, -50, 0, 0});
  EXPECT_EQ(probe.model.funcs(4, 8, b, yfit, d), -1);
}

struct Truth {
  double sky, amp, a3, a4, xc, yc, angle, beta, sx, sy;
};

// A point-sampled elliptical Moffat on a tilted sky, indices -h..h.
void moffatStamp(const Truth& t, int h, double noise, double errorValue, orv::MArray<double, 2>& img,
                 orv::MArray<double, 2>& err) {
  img.makeReference(orv::MArray<double, 2>(orv::Range(-h, h), orv::Range(-h, h)));
  err.makeReference(orv::MArray<double, 2>(orv::Range(-h, h), orv::Range(-h, h)));
  long seed = -11;
  for (int i = -h; i <= h; ++i) {
    for (int j = -h; j <= h; ++j) {
      const double dx = i - t.xc, dy = j - t.yc;
      const double u = dx * std::cos(t.angle) + dy * std::sin(t.angle);
      const double v = dy * std::cos(t.angle) - dx * std::sin(t.angle);
      const double m = t.amp * std::pow(1 + t.a3 * t.a3 * u * u + t.a4 * t.a4 * v * v, -t.beta);
      img(i, j) = t.sky + t.sx * i + t.sy * j + m + noise * rangau(seed);
      err(i, j) = errorValue;
    }
  }
}

// fmoffat against curve_fit of an independent coding of the model, same
// sample pixels, same start values, all ten parameters free.
TEST(PsfFmoffat, AgreesWithScipyCurveFit) {
  const std::string dir = test_support::programScratchDir("psf_fmoffat");
  struct Case {
    Truth truth;
    double noise;
  };
  const Case cases[] = {{{20, 800, 0.45, 0.3, 0.3, -0.2, 0.4, 2.5, 0.3, -0.2}, 0.0},
                        {{20, 800, 0.45, 0.3, 0.3, -0.2, 0.4, 2.5, 0.3, -0.2}, 2.0},
                        {{5, 300, 0.3, 0.5, -0.6, 0.4, -0.5, 4.0, 0, 0.1}, 1.0}};
  const psf p;
  for (const Case& c : cases) {
    orv::MArray<double, 2> img, err;
    moffatStamp(c.truth, 8, c.noise, c.noise > 0 ? c.noise : 1.0, img, err);
    double sky = kFree, sx = kFree, sy = kFree, x = 100.0, y = 50.0;
    double amp, a3, a4, angle, beta, chi;
    const int status =
        p.fmoffat(img, err, sky, sx, sy, 1.0, 8.0, 0.5, 20.0, x, y, amp, a3, a4, angle, beta, chi, 0);
    ASSERT_EQ(status, 0);
    {
      std::ofstream out(dir + "/stamp.txt");
      out << std::setprecision(17);
      for (int i = -8; i <= 8; ++i)
        for (int j = -8; j <= 8; ++j) out << i << " " << j << " " << img(i, j) << " " << err(i, j) << "\n";
    }
    const std::string script = R"(
import numpy as np
from scipy.optimize import curve_fit
i, j, z, e = np.loadtxt('stamp.txt', unpack=True)
x0, y0 = 0.0, 0.0   # the centre offsets of a start at (100, 50)
r = 8.0
use = (z != 0) & (e > 0) & ((i - x0)**2 + (j - y0)**2 <= r * (r + 1))
xs, ys, zs, es = i[use], j[use], z[use], e[use]
k = np.argmax(z)   # first maximum in scan order (i outer, j inner)
fmin, fmax = 0.5, 20.0
a3 = 1.1305 / ((fmin + fmax) / 2)
p0 = [z.min(), z.max() - z.min(), a3, a3 + 0.1, i[k], j[k], 10.0, 3.0, 0.01, 0.01]
def model(X, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10):
    x, y = X
    dx, dy = x - a5, y - a6
    u = dx * np.cos(a7) + dy * np.sin(a7)
    v = dy * np.cos(a7) - dx * np.sin(a7)
    return a1 + a9 * x + a10 * y + a2 * (1 + (a3 * u)**2 + (a4 * v)**2) ** (-a8)
p, cov = curve_fit(model, (xs, ys), zs, p0=p0, sigma=es, absolute_sigma=True, maxfev=100000,
                   xtol=1e-14, ftol=1e-14)
perr = np.sqrt(np.diag(cov))
chi = np.sqrt(np.sum(((model((xs, ys), *p) - zs) / es)**2) / (len(zs) - 10))
p[2], p[3] = abs(p[2]), abs(p[3])
p[6] = np.fmod(p[6], np.pi); p[6] = np.fmod(p[6] + np.pi, np.pi)
if np.pi / 4 < p[6] < 3 * np.pi / 4:
    p[2], p[3] = p[3], p[2]; perr[2], perr[3] = perr[3], perr[2]; p[6] -= np.pi / 2
if p[6] >= 3 * np.pi / 4: p[6] -= np.pi
print(' '.join(repr(float(v)) for v in p), ' '.join(repr(float(v)) for v in perr), repr(float(chi)))
)";
    const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, script));
    ASSERT_EQ(ref.size(), 21u);
    const double ours[10] = {sky, amp, a3, a4, x, y, angle, beta, sx, sy};
    const double truth[10] = {c.truth.sky, c.truth.amp,   c.truth.a3,   c.truth.a4, c.truth.xc,
                              c.truth.yc,  c.truth.angle, c.truth.beta, c.truth.sx, c.truth.sy};
    for (int l = 0; l < 10; ++l) {
      const double tolerance = std::max(1e-4 * std::fabs(ref[l]), 0.02 * ref[10 + l]);
      EXPECT_NEAR(ours[l], ref[l], tolerance + 1e-9) << "parameter " << l + 1 << " noise " << c.noise;
      if (c.noise == 0) {
        EXPECT_NEAR(ours[l], truth[l], 1e-4 * std::max(1.0, std::fabs(truth[l])));
      }
    }
    if (c.noise > 0) {
      EXPECT_NEAR(chi, ref[20], 1e-3 * ref[20]);
    }
  }
}

TEST(PsfFmoffat, StatusTableAndOutputs) {
  const psf p;
  struct Case {
    const char* what;
    Truth truth;
    double errorValue, betaMin, betaMax, fwhmMin, fwhmMax;
    int usable;  // pixels kept nearest the centre, 0 = all
    int expected;
  };
  const Truth star{10, 500, 0.45, 0.3, 0.2, -0.1, 0.3, 2.5, 0, 0};
  const Case cases[] = {
      {"good", star, 1.0, 1.0, 8.0, 0.5, 20.0, 0, 0},
      {"FWHM above the bound", star, 1.0, 1.0, 8.0, 0.5, 2.0, 0, -3},
      {"beta above the bound", star, 1.0, 1.0, 2.0, 0.5, 20.0, 0, -4},
      {"amplitude not significant",
       {10, 2, 0.45, 0.3, 0.2, -0.1, 0.3, 2.5, 0, 0},
       1e3,
       1.0,
       8.0,
       0.5,
       20.0,
       0,
       -6},
      {"centre outside", {10, 500, 0.45, 0.3, 9.5, 0.0, 0.3, 2.5, 0, 0}, 1.0, 1.0, 8.0, 0.5, 40.0, 0, -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orv::MArray<double, 2> img, err;
    moffatStamp(c.truth, 6, 0.0, c.errorValue, img, err);
    double sky = kFree, sx = kFree, sy = kFree, x = 20.0, y = 30.0;
    double amp = -7, a3 = -7, a4 = -7, angle = -7, beta = -7, chi = -7;
    const int status = p.fmoffat(img, err, sky, sx, sy, c.betaMin, c.betaMax, c.fwhmMin, c.fwhmMax, x, y, amp,
                                 a3, a4, angle, beta, chi, 0);
    EXPECT_EQ(status, c.expected);
    EXPECT_NE(chi, -7);
    if (status == 0) {
      EXPECT_NEAR(x, c.truth.xc, 1e-6);
      EXPECT_NEAR(beta, c.truth.beta, 1e-6);
      EXPECT_NEAR(sky, c.truth.sky, 1e-6);
    } else {
      // Only chi is written; x and y are the offsets from the nearest pixel.
      EXPECT_EQ(amp, -7);
      EXPECT_EQ(beta, -7);
      EXPECT_EQ(sky, kFree);
      EXPECT_EQ(x, 0.0);
      EXPECT_EQ(y, 0.0);
    }
  }
}

TEST(PsfFmoffat, SampleSizeAngleAndVerboseRow) {
  const psf p;
  // 9 usable pixels give -2 (or a check's status), 10 give 0 (plane and beta held).
  for (int kept : {9, 10}) {
    orv::MArray<double, 2> img, err;
    moffatStamp({0, 500, 0.6, 0.5, 0.1, 0.05, 0.2, 2.5, 0, 0}, 4, 0.0, 1.0, img, err);
    const int order[][2] = {{0, 0}, {1, 0},   {-1, 0}, {0, 1},  {0, -1},
                            {1, 1}, {-1, -1}, {1, -1}, {-1, 1}, {2, 0}};
    orv::MArray<double, 2> kept_img(orv::Range(-4, 4), orv::Range(-4, 4));
    kept_img = 0.0;
    for (int k = 0; k < kept; ++k) kept_img(order[k][0], order[k][1]) = img(order[k][0], order[k][1]);
    double sky = 0, sx = 0, sy = 0, x = 0, y = 0, amp, a3, a4, angle, beta, chi;
    const int status =
        p.fmoffat(kept_img, err, sky, sx, sy, 2.5, 2.5, 0.5, 20.0, x, y, amp, a3, a4, angle, beta, chi, 0);
    if (kept == 9)
      EXPECT_NE(status, 0);
    else
      EXPECT_EQ(status, 0);
  }
  // Fitted angles of 100 and 150 degrees come back as 10 (axes exchanged) and -30.
  struct AngleCase {
    double degrees, expected;
    bool exchanged;
  };
  for (const AngleCase& c : {AngleCase{100, 10, true}, AngleCase{150, -30, false}}) {
    orv::MArray<double, 2> img, err;
    const Truth t{5, 400, 0.5, 0.3, 0.1, 0.1, c.degrees * kPi / 180, 3.0, 0, 0};
    moffatStamp(t, 7, 0.0, 1.0, img, err);
    double sky = kFree, sx = kFree, sy = kFree, x = 0, y = 0, amp, a3, a4, angle, beta, chi;
    ASSERT_EQ(p.fmoffat(img, err, sky, sx, sy, 1.0, 8.0, 0.5, 20.0, x, y, amp, a3, a4, angle, beta, chi, 0),
              0);
    EXPECT_NEAR(angle * 180 / kPi, c.expected, 1e-6);
    EXPECT_NEAR(a3, c.exchanged ? t.a4 : t.a3, 1e-7);
    EXPECT_NEAR(a4, c.exchanged ? t.a3 : t.a4, 1e-7);
  }
  // Both slopes 0: the sky starts at the sky argument (here the free marker)
  // and is fitted (the verbose rows show the start); verbose 3 prints one row
  // of 13 fields of width 12.
  orv::MArray<double, 2> img, err;
  moffatStamp({7, 300, 0.5, 0.4, 0, 0, 0.1, 3.0, 0, 0}, 6, 0.0, 1.0, img, err);
  double sky = kFree, sx = 0, sy = 0, x = 3.0, y = -2.0, amp, a3, a4, angle, beta, chi;
  testing::internal::CaptureStdout();
  p.fmoffat(img, err, sky, sx, sy, 1.0, 8.0, 0.5, 20.0, x, y, amp, a3, a4, angle, beta, chi, 4);
  std::string out = testing::internal::GetCapturedStdout();
  std::istringstream lines(out);
  std::string title, start, last;
  std::getline(lines, title);
  std::getline(lines, start);
  EXPECT_NEAR(test_support::numbersIn(start).at(0), kFree, 1e-6) << start;

  sky = kFree, sx = kFree, sy = kFree, x = 3.0, y = -2.0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(p.fmoffat(img, err, sky, sx, sy, 1.0, 8.0, 0.5, 20.0, x, y, amp, a3, a4, angle, beta, chi, 3), 0);
  out = testing::internal::GetCapturedStdout();
  std::cout << std::defaultfloat << std::setprecision(6);
  ASSERT_EQ(out.size(), 13u * 12 + 1) << out;
  const std::vector<double> row = test_support::numbersIn(out);
  ASSERT_EQ(row.size(), 13u);
  int inCircle = 0;
  for (int i = -6; i <= 6; ++i)
    for (int j = -6; j <= 6; ++j) inCircle += i * i + j * j <= 42;
  EXPECT_EQ(row[2], inCircle);
  EXPECT_NEAR(row[3], 7.0, 0.006);    // sky at the centre
  EXPECT_NEAR(row[6], 300.0, 0.006);  // amplitude
  EXPECT_NEAR(row[7], 3.0, 0.006);    // x in the image
  EXPECT_NEAR(row[8], -2.0, 0.006);
  EXPECT_NEAR(row[12], 3.0, 0.006);  // beta
}

// fgauss on sky-free Gaussian stamps: the centre to 1e-3 pixel of the truth
// and of photutils' centroid_2dg; the sample circle is strict.
TEST(PsfFgauss, CentreAndStrictCircle) {
  const std::string dir = test_support::programScratchDir("psf_fgauss");
  const psf p;
  const double centres[][2] = {{0.3, -0.2}, {-0.45, 0.1}, {0.0, 0.4}};
  double fitted[3][2];
  for (int k = 0; k < 3; ++k) {
    const auto& c = centres[k];
    orv::MArray<double, 2> img(orv::Range(-6, 6), orv::Range(-6, 6)),
        err(orv::Range(-6, 6), orv::Range(-6, 6));
    std::ofstream out(dir + "/g" + std::to_string(k) + ".txt");
    out << std::setprecision(17);
    for (int j = -6; j <= 6; ++j) {
      for (int i = -6; i <= 6; ++i) {
        const double dx = i - c[0], dy = j - c[1];
        const double u = dx * std::cos(0.3) + dy * std::sin(0.3), v = dy * std::cos(0.3) - dx * std::sin(0.3);
        img(i, j) = 1000 * std::exp(-(0.35 * u * u + 0.2 * v * v));
        err(i, j) = 1.0;
        out << img(i, j) << (i == 6 ? "\n" : " ");
      }
    }
    out.close();
    double x = 40.0, y = 60.0, amp;
    EXPECT_EQ(p.fgauss(img, err, x, y, amp, 0.0, 0), 0);
    EXPECT_NEAR(x, c[0], 1e-3);
    EXPECT_NEAR(y, c[1], 1e-3);
    fitted[k][0] = x;
    fitted[k][1] = y;
  }
  const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, R"(
import numpy as np
from photutils.centroids import centroid_2dg
for k in range(3):
    print(*centroid_2dg(np.loadtxt('g%d.txt' % k)))
)"));
  ASSERT_EQ(ref.size(), 6u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(fitted[k][0], ref[2 * k] - 6, 1e-3);
    EXPECT_NEAR(fitted[k][1], ref[2 * k + 1] - 6, 1e-3);
  }
  // r = 4: r(r + 1) = 20. Ten usable pixels, one of them at distance² 20:
  // the Gaussian fit has only nine; at distance² 17 it has ten.
  for (int far : {2, 1}) {
    orv::MArray<double, 2> img(orv::Range(-4, 4), orv::Range(-4, 4)),
        err(orv::Range(-4, 4), orv::Range(-4, 4));
    img = 0.0;
    err = 1.0;
    const int pixels[][2] = {{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};
    for (const auto& px : pixels) img(px[0], px[1]) = 100 * std::exp(-0.5 * (px[0] * px[0] + px[1] * px[1]));
    img(4, far) = 0.01;
    double x = 0, y = 0, amp;
    EXPECT_EQ(p.fgauss(img, err, x, y, amp, 0.0, 0), far == 2 ? -1 : 0);
  }
  // An empty sample runs no fit.
  orv::MArray<double, 2> zero(orv::Range(-3, 3), orv::Range(-3, 3));
  zero = 0.0;
  double x = 5.2, y = 1.0, amp = 3;
  EXPECT_EQ(p.fgauss(zero, zero, x, y, amp, 0.0, 0), -1);
  double sky = kFree, sx = kFree, sy = kFree, a3, a4, angle, beta, chi = -1;
  EXPECT_EQ(p.fmoffat(zero, zero, sky, sx, sy, 1.0, 5.0, 0.5, 9.0, x, y, amp, a3, a4, angle, beta, chi, 0),
            -2);
  EXPECT_EQ(chi, 0.0);
}

}  // namespace
