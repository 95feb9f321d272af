// Analytic PSFs against numpy, the local-surface matrices against numpy's
// inverse, and the sub-pixel redistribution of star stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

constexpr double kPi = std::numbers::pi;

TEST(PsfAnalytic, EveryCellEqualsNumpy) {
  const std::string dir = test_support::programScratchDir("psf_analytic");
  struct Case {
    bool moffat;
    int subgrid;
    double fx, fy, angle, beta;
  };
  const Case cases[] = {{false, 1, 2.0, 3.0, 0.3, 0},  {false, 4, 1.5, 2.5, -0.7, 0},
                        {false, 5, 3.0, 2.0, 1.2, 0},  {true, 1, 2.0, 2.5, 0.2, 2.5},
                        {true, 4, 1.8, 3.0, 0.9, 3.5}, {true, 5, 2.5, 1.5, -0.4, 4.0}};
  for (const Case& c : cases) {
    psf p(2, 2, c.subgrid, 0);
    testing::internal::CaptureStdout();
    if (c.moffat)
      p.generate_moffat(c.fx, c.fy, c.angle, c.beta, 0);
    else
      p.generate_gauss(c.fx, c.fy, c.angle, 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    const int N = p.get_slen();
    std::ostringstream script;
    script << std::setprecision(17) << "import numpy as np\nS, N, fx, fy, phi, beta = " << c.subgrid << ", "
           << N << ", " << c.fx << ", " << c.fy << ", " << c.angle << ", " << c.beta << "\n"
           << "moffat = " << (c.moffat ? "True" : "False") << R"(
i, j = np.meshgrid(np.arange(-N, N + 1), np.arange(-N, N + 1), indexing='ij')
u = np.cos(phi) * i + np.sin(phi) * j
v = np.cos(phi) * j - np.sin(phi) * i
if moffat:
    c = 2 * np.sqrt(2.0 ** (1 / beta) - 1)
    g = (1 + (c * u / (fx * S))**2 + (c * v / (fy * S))**2) ** (-beta)
else:
    sx, sy = fx * S / 2.3548200450309493, fy * S / 2.3548200450309493
    g = np.exp(-(u**2 / (2 * sx**2) + v**2 / (2 * sy**2)))
h = S // 2
norm = g[N - h:N + h + 1, N - h:N + h + 1].sum()
print(repr(norm))
for a in range(2 * N + 1):
    print(' '.join(repr(float(x)) for x in g[a] / norm))
)";
    const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, script.str()));
    ASSERT_EQ(ref.size(), 1u + (2 * N + 1) * (2 * N + 1));
    EXPECT_EQ(printed.rfind(c.moffat ? "" : "norm=", 0), 0u);
    EXPECT_NEAR(test_support::numbersIn(c.moffat ? printed : printed.substr(5)).at(0), ref[0], 1e-5 * ref[0]);
    std::size_t k = 1;
    double centralSum = 0;
    for (int i = -N; i <= N; ++i) {
      for (int j = -N; j <= N; ++j, ++k) {
        EXPECT_NEAR(p.get_psf()(i, j), ref[k], 1e-12 * ref[k]) << i << "," << j;
        EXPECT_EQ(p.get_epsf()(i, j), 1.0);
        if (std::abs(i) <= c.subgrid / 2 && std::abs(j) <= c.subgrid / 2) centralSum += p.get_psf()(i, j);
      }
    }
    EXPECT_NEAR(centralSum, 1.0, 1e-14);
  }
  // Half maximum of the Moffat at F1/2; an angle of pi/2 exchanges the axes.
  psf m(2, 2, 5, 0);
  testing::internal::CaptureStdout();
  m.generate_moffat(2, 2, 0, 3, 0);
  psf a(2, 2, 5, 0), b(2, 2, 5, 0);
  a.generate_gauss(1.5, 3.0, 0, 0);
  b.generate_gauss(3.0, 1.5, kPi / 2, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_NEAR(m.get_psf()(5, 0), 0.5 * m.get_psf()(0, 0), 1e-15);
  EXPECT_NEAR(a.get_psf()(7, 2), b.get_psf()(7, 2), 1e-15);
}

TEST(PsfAnalytic, VerboseWritesAndFitsThePixelGrid) {
  const std::string dir = test_support::programScratchDir("psf_analytic_verbose");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  psf p(3, 3, 5, 0);
  testing::internal::CaptureStdout();
  p.generate_gauss(2.0, 2.0, 0.0, 3);
  const std::string gaussOut = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  p.generate_moffat(2.0, 2.5, 0.2, 3.0, 3);
  const std::string moffatOut = testing::internal::GetCapturedStdout();
  std::cout << std::defaultfloat << std::setprecision(6);
  EXPECT_NE(gaussOut.find("amplitude="), std::string::npos) << gaussOut;
  // The centred Gaussian is found at the centre; the Moffat row has 13 fields.
  const std::vector<double> fit = test_support::numbersIn(gaussOut.substr(gaussOut.find("x=") + 2));
  EXPECT_NEAR(fit.at(0), 0.0, 1e-9) << gaussOut;
  const std::string row = moffatOut.substr(moffatOut.find('\n') + 1);
  EXPECT_EQ(row.find('\n'), 13u * 12) << moffatOut;
  for (const char* f : {"psftest00.fits", "e.psftest00.fits"}) psf_test::expectFitsverifyClean(f);
  std::filesystem::current_path(previous);
}

TEST(PsfDivvy, InverseMatricesEqualNumpy) {
  const std::string dir = test_support::programScratchDir("psf_erzeuge");
  const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, R"(
import numpy as np
for k in range(3):
    m = 2 * k + 1
    M = np.zeros((m * m, m * m))
    for p in range(1, m + 1):
        for q in range(1, m + 1):
            M[0, (p - 1) * m + q - 1] = 1.0 / (p * q)
    r = 0
    for dy in range(-k, k + 1):
        for dx in range(-k, k + 1):
            if dx == 0 and dy == 0: continue
            r += 1
            for p in range(1, m + 1):
                for q in range(1, m + 1):
                    M[r, (p - 1) * m + q - 1] = (dy + 0.5) ** (p - 1) * (dx + 0.5) ** (q - 1)
    print(' '.join(repr(float(x)) for x in np.linalg.inv(M).ravel()))
)"));
  psf p(2, 2, 5, 2);
  std::size_t at = 0;
  for (int k = 0; k <= 2; ++k) {
    const int n = (2 * k + 1) * (2 * k + 1);
    orv::MArray<double, 2> M(n, n);
    EXPECT_EQ(p.erzeuge_M(M, k), 0);
    ASSERT_GE(ref.size(), at + n * n);
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= n; ++c, ++at)
        EXPECT_NEAR(M(r, c), ref[at], 1e-10 * std::max(1.0, std::fabs(ref[at])));
  }
}

// A stamp indexed -R..R and its error.
struct Stamp {
  orv::MArray<float, 2> img, err;
  explicit Stamp(int R)
      : img(orv::Range(-R, R), orv::Range(-R, R)), err(orv::Range(-R, R), orv::Range(-R, R)) {
    err = 1.0f;
  }
};

const double kUnshifted[7] = {0, 5, 0, 0, 5, 0, 0};

// The literal sum of the surface over the basis columns for every sub-cell:
// the division must agree with it to 1e-12 of the stamp's peak.
TEST(PsfDivvy, FactorisedIntegrationEqualsTheLiteralSum) {
  const int R = 3, S = 5, K = 2, Q = 5 * S, N = R * S + S / 2;
  Stamp st(R);
  double peak = 0;
  for (int j = -R; j <= R; ++j)
    for (int i = -R; i <= R; ++i) {
      st.img(i, j) =
          static_cast<float>(100 * std::exp(-0.3 * (i - 0.2) * (i - 0.2) - 0.5 * j * j) + 2 + 0.1 * i);
      peak = std::max<double>(peak, st.img(i, j));
    }
  psf p(R, R, S, K);
  orv::MArray<double, 2> out(orv::Range(-N, N), orv::Range(-N, N)),
      eout(orv::Range(-N, N), orv::Range(-N, N));
  const double a[7] = {0, 5, 0, 0, 5, -1.3, 0.7};
  p.divvy(st.img, st.err, out, eout, a, 0);

  std::vector<orv::MArray<double, 2>> Minv;
  for (int k = 0; k <= K; ++k) {
    const int n = (2 * k + 1) * (2 * k + 1);
    Minv.emplace_back(n, n);
    p.erzeuge_M(Minv.back(), k);
  }
  orv::MArray<double, 2> sum(orv::Range(-N, N), orv::Range(-N, N)),
      count(orv::Range(-N, N), orv::Range(-N, N));
  sum = 0.0;
  count = 0.0;
  auto pixel = [&](int i, int j) {
    return (std::abs(i) > R || std::abs(j) > R) ? 0.0 : double(st.img(i, j));
  };
  for (int iy = -R; iy <= R; ++iy) {
    for (int ix = -R; ix <= R; ++ix) {
      int k = K;
      for (int d = 1; d <= K && k == K; ++d)
        for (int c = -d; c <= d; ++c)
          if (pixel(ix + c, iy - d) == 0 || pixel(ix + c, iy + d) == 0 || pixel(ix - d, iy + c) == 0 ||
              pixel(ix + d, iy + c) == 0)
            k = std::min(k, d - 1);
      const int m = 2 * k + 1;
      std::vector<double> b{pixel(ix, iy)};
      for (int dy = -k; dy <= k; ++dy)
        for (int dx = -k; dx <= k; ++dx)
          if (dx || dy) b.push_back(pixel(ix + dx, iy + dy));
      std::vector<double> coef(m * m, 0.0);
      for (int r = 0; r < m * m; ++r)
        for (int c = 0; c < m * m; ++c) coef[r] += Minv[k](r + 1, c + 1) * b[c];
      for (int t = 1; t <= Q; ++t) {
        for (int s = 1; s <= Q; ++s) {
          double f = 0;
          for (int pp = 1; pp <= m; ++pp)
            for (int q = 1; q <= m; ++q)
              f += coef[(pp - 1) * m + q - 1] *
                   (std::pow(s / double(Q), q) - std::pow((s - 1) / double(Q), q)) *
                   (std::pow(t / double(Q), pp) - std::pow((t - 1) / double(Q), pp)) / (pp * q);
          const double X = (s - 1) * (1.0 / Q) - 0.5 + 0.5 * (1.0 / Q),
                       Y = (t - 1) * (1.0 / Q) - 0.5 + 0.5 * (1.0 / Q);
          const double u = a[1] * (ix + X) + a[5] + 0.5, v = a[4] * (iy + Y) + a[6] + 0.5;
          const int fx = static_cast<int>(u < 0 ? u - 1 : u), fy = static_cast<int>(v < 0 ? v - 1 : v);
          if (std::abs(fx) > N || std::abs(fy) > N) continue;
          sum(fx, fy) += f;
          count(fx, fy) += 1;
        }
      }
    }
  }
  int compared = 0;
  for (int j = -N; j <= N; ++j)
    for (int i = -N; i <= N; ++i) {
      if (count(i, j) == 0) continue;
      // The landing of a sub-cell on a cell border may differ in the last bit of
      // its coordinate; compare cells whose counts agree with a whole pixel.
      if (count(i, j) != 25) continue;
      ++compared;
      EXPECT_NEAR(out(i, j), sum(i, j) / (count(i, j) / (Q * Q)) / (S * S), 1e-12 * peak) << i << "," << j;
    }
  EXPECT_GT(compared, 500);
}

TEST(PsfDivvy, FluxSymmetryOrdersAndMasks) {
  const int R = 3, S = 5, N = R * S + S / 2;
  orv::MArray<double, 2> out(orv::Range(-N, N), orv::Range(-N, N)),
      eout(orv::Range(-N, N), orv::Range(-N, N));
  // K = 0 on a uniform stamp: every covered cell 1/25, also when shifted.
  // The last mapping has cross terms (a slight rotation): the general landing path.
  for (double shift : {0.0, -0.5, 1.7, 0.25}) {
    psf p(R, R, S, 0);
    Stamp st(R);
    st.img = 1.0f;
    const double cross = shift == 0.25 ? 0.3 : 0.0;
    const double a[7] = {0, 5, cross, -cross, 5, shift, 0};
    p.divvy(st.img, st.err, out, eout, a, 0);
    int covered = 0;
    for (int j = -N; j <= N; ++j)
      for (int i = -N; i <= N; ++i)
        if (out(i, j) != 0) {
          ++covered;
          EXPECT_NEAR(out(i, j), 1.0 / 25, 1e-15) << shift << " " << i << "," << j;
        }
    EXPECT_GE(covered, (2 * N - 2) * (2 * N - 2));
  }
  // K = 2, unshifted: fine cells sum to the stamp sum; a symmetric stamp gives a symmetric grid.
  psf p(R, R, S, 2);
  Stamp st(R);
  double total = 0;
  for (int j = -R; j <= R; ++j)
    for (int i = -R; i <= R; ++i)
      total += st.img(i, j) = static_cast<float>(50 * std::exp(-0.4 * (i * i + j * j)) + 1);
  p.divvy(st.img, st.err, out, eout, kUnshifted, 0);
  EXPECT_NEAR(orv::sum(out), total, 1e-10 * total);
  for (int j = -N; j <= N; ++j)
    for (int i = -N; i <= N; ++i) {
      EXPECT_NEAR(out(i, j), out(-i, -j), 1e-12 * 50);
      EXPECT_NEAR(out(i, j), out(j, i), 1e-12 * 50);
    }
  // A ramp along x: order-0 pixels (outermost, or with a zero neighbour) are
  // flat across their five cells, higher orders rise with the ramp.
  for (int j = -R; j <= R; ++j)
    for (int i = -R; i <= R; ++i) st.img(i, j) = static_cast<float>(10 + i);
  st.img(0, 3) = 0.0f;  // pixel (0, 2) has a zero direct neighbour
  p.divvy(st.img, st.err, out, eout, kUnshifted, 0);
  struct Pixel {
    int i, j;
    bool flat;
  };
  for (const Pixel& px : {Pixel{-3, 0, true}, Pixel{3, -1, true}, Pixel{0, 2, true}, Pixel{-2, 0, false},
                          Pixel{1, 1, false}, Pixel{0, 0, false}}) {
    const double left = out(5 * px.i - 2, 5 * px.j), right = out(5 * px.i + 2, 5 * px.j);
    if (px.flat)
      EXPECT_NEAR(left, right, 1e-12) << px.i << "," << px.j;
    else
      EXPECT_GT(right - left, 0.01) << px.i << "," << px.j;
  }
  // A masked pixel (value 0, error -1) leaves its cells at 0 with error -1.
  st.img = 3.0f;
  st.img(1, -1) = 0.0f;
  st.err(1, -1) = -1.0f;
  p.divvy(st.img, st.err, out, eout, kUnshifted, 0);
  for (int j = -7; j <= -3; ++j)
    for (int i = 3; i <= 7; ++i) {
      EXPECT_EQ(out(i, j), 0.0);
      EXPECT_EQ(eout(i, j), -1.0);
    }
  EXPECT_GT(out(0, 0), 0.0);
}

TEST(PsfDivvy, VerboseLinesAndCountFile) {
  const std::string dir = test_support::programScratchDir("psf_divvy_verbose");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  const int R = 2, S = 3, N = R * S + S / 2;
  psf p(R, R, S, 1);
  Stamp st(R);
  st.img = 2.0f;
  orv::MArray<double, 2> out(orv::Range(-N, N), orv::Range(-N, N)),
      eout(orv::Range(-N, N), orv::Range(-N, N));
  testing::internal::CaptureStdout();
  p.divvy(st.img, st.err, out, eout, kUnshifted, 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(std::filesystem::exists("count.fits"));
  testing::internal::CaptureStdout();
  p.divvy(st.img, st.err, out, eout, kUnshifted, 4);
  const std::string text = testing::internal::GetCapturedStdout();
  std::cout << std::setprecision(6);
  EXPECT_EQ(text.rfind("-2...2\n-2...2\n-7...7\n-7...7\nGroesse integ_basis: " +
                           std::to_string(15 * 15 * 9 * 2) + "\n\n    ended after ",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find(" sec\nsum :      49.99999999999"), std::string::npos) << text;
  psf_test::expectFitsverifyClean("count.fits");
  std::filesystem::current_path(previous);
}

}  // namespace
