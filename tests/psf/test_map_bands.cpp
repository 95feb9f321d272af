// find and mapping_full_best_source compute and reduce the whole-image maps
// band by band of rows: their results equal, bit for bit, the reductions of
// the whole maps of mapping_full, on a field of several bands with stars on
// the band edges and on the image border.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "orv/lanes.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"
#include "tests/psf/psf_fixtures.h"

namespace {

using psf_test::Star;

constexpr int kSide = 70;

// Stars on the first and last pixel rows of bands, between bands, and on
// the image border, on a noisy field of several bands.
struct BandField : testing::Test {
  static_assert(kSide > 3 * psf_maps::kBandPixelRows, "the field spans several bands");
  const psf p = psf_test::gaussianTestPsf(3, 3, 5, 0.0005, false);
  orv::MArray<float, 2> image, error;
  orv::MArray<double, 2> nchi, flux, eflux;
  int NX = 0, NY = 0;

  const std::vector<Star> stars = {{20.3, kEdge + 0.4, 3000},    {40.0, kEdge + 1.0, 900},
                                   {9.6, 2 * kEdge + 0.5, 2500}, {55.2, 2 * kEdge + 0.9, 1500},
                                   {30.0, 3 * kEdge + 0.2, 700}, {1.4, 40.0, 4000},
                                   {kSide - 0.3, 25.5, 4000},    {35.5, 1.2, 3000},
                                   {50.1, kSide - 0.6, 3500},    {kSide - 3.5, kSide - 3.5, 2000}};
  static constexpr double kEdge = psf_maps::kBandPixelRows;

  void SetUp() override {
    psf_test::starField(p, kSide, 2.0, stars, -17, image, error);
    error(22, 3 * psf_maps::kBandPixelRows) = -1;  // an unusable pixel on a band edge
    mapWhole();
  }
  void mapWhole() {
    testing::internal::CaptureStdout();
    p.mapping_full(image, error, nchi, flux, eflux, 3.0, 0);
    testing::internal::GetCapturedStdout();
    NX = nchi.length(1);
    NY = nchi.length(2);
  }

  // The cells with nchi <= 1e6 that are strict local minima of the smoothed
  // whole map, first axis outer.
  std::vector<std::pair<int, int>> minima() const {
    orv::MArray<double, 2> binned(NX, NY);
    binned = 0.0;
    for (int j = 2; j < NY; ++j)
      for (int i = 2; i < NX; ++i) {
        if (nchi(i, j) == 0) continue;
        double sum = 0;
        int count = 0;
        for (int dj = -2; dj <= 2; ++dj)
          for (int di = -2; di <= 2; ++di) {
            const int ii = i + di, jj = j + dj;
            if (di * di + dj * dj > 4 || ii < 1 || ii > NX || jj < 1 || jj > NY || nchi(ii, jj) == 0)
              continue;
            sum += nchi(ii, jj);
            ++count;
          }
        binned(i, j) = sum / count;
      }
    std::vector<std::pair<int, int>> out;
    for (int i = 2; i < NX; ++i)
      for (int j = 2; j < NY; ++j) {
        if (nchi(i, j) == 0 || nchi(i, j) > 1e6) continue;
        bool minimum = true;
        for (int dj = -1; dj <= 1; ++dj)
          for (int di = -1; di <= 1; ++di) {
            const double n = binned(i + di, j + dj);
            if ((di != 0 || dj != 0) && !(binned(i, j) < n || n == 0)) minimum = false;
          }
        if (minimum) out.emplace_back(i, j);
      }
    return out;
  }

  // The largest snr that keeps the faintest of the minima that snr 5 keeps:
  // a star right on the threshold.
  double edgeSnr(const std::vector<std::pair<int, int>>& cells) const {
    double edge = 1e300;
    for (const auto& [i, j] : cells)
      if (5.0 * eflux(i, j) <= flux(i, j)) {
        double s = flux(i, j) / eflux(i, j);
        while (s * eflux(i, j) > flux(i, j)) s = std::nextafter(s, 0.0);
        edge = std::min(edge, s);
      }
    return edge;
  }

  // find with snr lists the minima whose flux passes, bit for bit.
  void expectFind(const std::vector<std::pair<int, int>>& cells, double snr, std::size_t least) const {
    std::vector<std::tuple<double, double, double>> expected;
    for (const auto& [i, j] : cells)
      if (snr * eflux(i, j) <= flux(i, j)) expected.emplace_back((i + 2) / 5, (j + 2) / 5, flux(i, j));
    ASSERT_GE(expected.size(), least) << snr;
    orv::MArray<double, 1> x, y, f;
    testing::internal::CaptureStdout();
    p.find(image, error, x, y, f, snr, 1e6, 3.0, "bands", 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(x.numElements(), static_cast<int>(expected.size())) << snr;
    for (int k = 1; k <= x.numElements(); ++k) {
      EXPECT_EQ(x(k), std::get<0>(expected[k - 1])) << snr << " " << k;
      EXPECT_EQ(y(k), std::get<1>(expected[k - 1])) << snr << " " << k;
      EXPECT_EQ(f(k), std::get<2>(expected[k - 1])) << snr << " " << k;
    }
  }
};

// snr 5 leaves a few cells that can be stars, 0 makes every computed cell
// one (the unusable too), the edge puts a star on the threshold; on every
// processor path this machine runs.
TEST_F(BandField, FindEqualsTheReductionOfTheWholeMaps) {
  const std::vector<std::pair<int, int>> cells = minima();
  for (const orv::lanes::Path path : orv::lanes::runnable()) {
    SCOPED_TRACE(orv::lanes::pathName(path));
    orv::lanes::PathOverride only(path);
    expectFind(cells, 5.0, 10);
    expectFind(cells, 0.0, 10);
    expectFind(cells, edgeSnr(cells), 1);
  }
}

// Without noise and background every term of a star's flux sum is positive,
// so the flux of a star on the threshold leaves no slack to the bound that
// spares find the sums of the cells that cannot be stars; with the threshold
// at the best flux / eflux about the faintest star, its best cell is the only
// one there that can be a star.
TEST_F(BandField, FindKeepsAStarOnTheThresholdOfANoiselessField) {
  image = 0.0f;
  orv::MArray<float, 2> e2(kSide, kSide);
  for (const Star& s : stars) {
    e2 = 2.0f;
    p.add_psf(image, e2, s.x, s.y, s.flux, -1e20, -1, 0);
  }
  mapWhole();
  const Star& faintest = stars[4];
  const int ci = static_cast<int>(std::lround(5 * faintest.x)) - 2;
  const int cj = static_cast<int>(std::lround(5 * faintest.y)) - 2;
  std::vector<std::pair<int, int>> about;
  for (int i = ci - 10; i <= ci + 10; ++i)
    for (int j = cj - 10; j <= cj + 10; ++j)
      if (nchi(i, j) != 0) about.emplace_back(i, j);
  double snr = 0;
  for (const auto& [i, j] : about) {
    double s = flux(i, j) / eflux(i, j);
    while (s * eflux(i, j) > flux(i, j)) s = std::nextafter(s, 0.0);
    snr = std::max(snr, s);
  }
  const std::vector<std::pair<int, int>> cells = minima();
  int near = 0;
  for (const auto& [i, j] : cells)
    near += std::abs(i - ci) <= 10 && std::abs(j - cj) <= 10 && snr * eflux(i, j) <= flux(i, j);
  ASSERT_EQ(near, 1);  // the faintest star is found only on the threshold
  for (const orv::lanes::Path path : orv::lanes::runnable()) {
    SCOPED_TRACE(orv::lanes::pathName(path));
    orv::lanes::PathOverride only(path);
    expectFind(cells, snr, 1);
  }
}

TEST_F(BandField, BestSourceEqualsTheReductionOfTheWholeMaps) {
  // Best cell of every pixel, then the sign rule.
  orv::MArray<double, 2> best(orv::Range(0, kSide + 1), orv::Range(0, kSide + 1)), bestFlux(kSide, kSide),
      bestEflux(kSide, kSide);
  best = 0.0;
  bestFlux = 0.0;
  bestEflux = 0.0;
  for (int p = 1; p <= kSide; ++p)
    for (int q = 1; q <= kSide; ++q) {
      double low = 1e100;
      for (int i = 5 * p - 4; i <= 5 * p; ++i)
        for (int j = 5 * q - 4; j <= 5 * q; ++j)
          if (nchi(i, j) < low) {
            low = nchi(i, j);
            best(p, q) = low;
            bestFlux(p, q) = flux(i, j);
            bestEflux(p, q) = eflux(i, j);
          }
    }
  orv::MArray<double, 2> n, fl, ef, source;
  std::ostringstream table;
  testing::internal::CaptureStdout();
  p.mapping_full_best_source(image, error, n, fl, ef, source, 5.0, 1e6, 3.0, 0.0, table, 1);
  testing::internal::GetCapturedStdout();
  int selected = 0;
  for (int q = 1; q <= kSide; ++q)
    for (int p = 1; p <= kSide; ++p) {
      const double c = best(p, q);
      bool lower = false;
      for (int dq = -1; dq <= 1; ++dq)
        for (int dp = -1; dp <= 1; ++dp) {
          const double v = best(p + dp, q + dq);
          if ((dp != 0 || dq != 0) && v > 0 && v < c) lower = true;
        }
      ASSERT_EQ(n(p, q), lower ? -c : c) << p << "," << q;
      ASSERT_EQ(fl(p, q), bestFlux(p, q)) << p << "," << q;
      ASSERT_EQ(ef(p, q), bestEflux(p, q)) << p << "," << q;
      selected += !lower && c > 0 && std::fabs(fl(p, q)) >= 5.0 * ef(p, q);
    }
  ASSERT_GE(selected, 5);
  const std::string rows = table.str();
  EXPECT_EQ(static_cast<int>(std::count(rows.begin(), rows.end(), '\n')), selected);
}

}  // namespace
