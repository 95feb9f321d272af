// The psf object and its pixel-grid tables: sizes, shared storage, binning,
// calc_base, and the tables against numpy block sums of random fine grids.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

TEST(PsfObject, ConstructionGivesZeroArraysOfTheDerivedRanges) {
  struct Case {
    int boxlen, analyt, subgrid, interpolation, slen;
  };
  const Case cases[] = {{3, 8, 5, 2, 42}, {3, 8, 4, 2, 34}, {1, 0, 1, 0, 0}};
  for (const Case& c : cases) {
    psf p(c.boxlen, c.analyt, c.subgrid, c.interpolation);
    EXPECT_EQ(p.get_slen(), c.slen);
    EXPECT_EQ(p.get_boxlen(), c.boxlen);
    EXPECT_EQ(p.get_interpolation(), c.interpolation);
    EXPECT_EQ(p.get_subpixel(), 0);
    for (const orv::MArray<double, 2>& a : {p.get_psf(), p.get_epsf()}) {
      EXPECT_EQ(a.first(1), -c.slen);
      EXPECT_EQ(a.last(2), c.slen);
      double absSum = 0;
      for (int j = -c.slen; j <= c.slen; ++j)
        for (int i = -c.slen; i <= c.slen; ++i) absSum += std::fabs(a(i, j));
      EXPECT_EQ(absSum, 0.0);
    }
    for (const orv::MArray<double, 2>& a : {p.get_binned_psf(), p.get_ebinned_psf()}) {
      EXPECT_EQ(a.first(1), -c.analyt);
      EXPECT_EQ(a.last(2), c.analyt);
      EXPECT_EQ(a(c.analyt, -c.analyt), 0.0);
    }
    EXPECT_TRUE(p.get_all_binned_psf().isEmpty());
  }
  psf empty;
  EXPECT_EQ(empty.get_slen(), 0);
  EXPECT_TRUE(empty.get_psf().isEmpty());
}

TEST(PsfObject, GettersAndTableWritersShareStorage) {
  psf p(3, 2, 5, 2);
  p.get_binned_psf()(1, -1) = 7.0;
  EXPECT_EQ(p.get_binned_psf()(1, -1), 7.0);
  p.get_psf()(0, 0) = 2.0;
  p.get_epsf()(0, 0) = 4.0;
  orv::MArray<double, 4> t(orv::Range(-1, 1), orv::Range(-1, 1), orv::Range(-2, 2), orv::Range(-2, 2));
  t = 0.5;
  p.write_all_binned_psf(t);
  p.write_all_ebinned_psf(t);
  p.write_all_e2binned_psf(t);
  t(1, -1, 2, 0) = 3.0;
  EXPECT_EQ(p.get_all_binned_psf()(1, -1, 2, 0), 3.0);
  EXPECT_EQ(p.get_all_e2binned_psf().getData(), t.getData());
  // set_subgrid changes _slen at once; the fine grid keeps its ranges.
  p.set_subgrid(4);
  EXPECT_EQ(p.get_slen(), 2 * 4 + 2);
  EXPECT_EQ(p.get_psf().last(1), 12);
}

TEST(PsfObject, NormalizeFactorAndNorm) {
  psf p(1, 1, 3, 0);
  p.get_psf()(0, 0) = 1.5;
  p.get_psf()(2, -1) = 0.5;
  p.get_epsf()(0, 0) = 0.4;
  p.normalize_psf();
  EXPECT_EQ(p.get_psf()(0, 0), 0.75);
  EXPECT_EQ(p.get_epsf()(0, 0), 0.2);
  p.factor(4.0);
  EXPECT_EQ(p.get_psf()(2, -1), 1.0);
  testing::internal::CaptureStdout();
  p.print_norm_psf();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " psf-norm = 4\n");

  // A sum of 0 or one that is not finite leaves the grid as it is.
  for (double poison : {-3.0, double(NAN)}) {
    psf q(1, 1, 3, 0);
    q.get_psf()(0, 0) = 3.0;
    q.get_psf()(1, 1) = poison;
    q.get_epsf()(0, 0) = 1.0;
    testing::internal::CaptureStdout();
    q.normalize_psf();
    EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
    EXPECT_EQ(q.get_psf()(0, 0), 3.0);
    EXPECT_EQ(q.get_epsf()(0, 0), 1.0);
  }
}

// A fine grid of ones with errors 1.
psf flatPsf(int analyt, int subgrid) {
  psf p(1, analyt, subgrid, 0);
  p.get_psf() = 1.0;
  p.get_epsf() = 1.0;
  return p;
}

TEST(PsfBinning, PixelsCollectTheirFineCellsAtTheRoundedOffset) {
  // Column -2 (and -1 for larger shifts) reaches outside the fine grid and is
  // 0 with error 0; every other pixel holds (2h + 1)² cells.
  struct Case {
    int subgrid;
    double dx, dy;
    int emptyColumnsLow, emptyColumnsHigh, emptyRowsLow, emptyRowsHigh;
  };
  const Case cases[] = {
      {5, 0.0, 0.0, 0, 0, 0, 0},  {5, 0.2, 0.0, 1, 0, 0, 0},     // 0.2·5 + 0.5 = 1.5 -> 1 cell
      {5, -0.1, 0.0, 0, 0, 0, 0},                                // t = 0.0 -> 0
      {5, -0.3, 0.0, 0, 1, 0, 0},                                // t = -1.0 -> -2.0 -> -2
      {5, 0.0, 0.1, 0, 0, 1, 0},                                 // 0.5 + 0.5 = 1 -> 1 cell
      {4, 0.0, 0.0, 0, 0, 0, 0},  {4, 0.0, -0.125, 0, 0, 0, 0},  // t = 0: no offset
      {4, 0.3, 0.0, 1, 0, 0, 0},
  };
  const int R = 2;
  for (const Case& c : cases) {
    psf p = flatPsf(R, c.subgrid);
    p.binning(c.dx, c.dy);
    const int h = c.subgrid / 2;
    const double full = (2 * h + 1) * (2 * h + 1);
    for (int i = -R; i <= R; ++i) {
      for (int j = -R; j <= R; ++j) {
        const bool empty = (i == -R && c.emptyColumnsLow) || (i == R && c.emptyColumnsHigh) ||
                           (j == -R && c.emptyRowsLow) || (j == R && c.emptyRowsHigh);
        SCOPED_TRACE("S " + std::to_string(c.subgrid) + " dx " + std::to_string(c.dx) + " dy " +
                     std::to_string(c.dy) + " pixel " + std::to_string(i) + "," + std::to_string(j));
        EXPECT_EQ(p.get_binned_psf()(i, j), empty ? 0.0 : full);
        EXPECT_EQ(p.get_ebinned_psf()(i, j), empty ? 0.0 : std::sqrt(full));
      }
    }
  }
}

TEST(PsfBinning, ZeroCellOrBadErrorExcludesTheWholePixel) {
  // A bad cell at the fine cell 5, 5 lies in pixel (1, 1) for S = 5; for
  // S = 4 the cell 6, 6 is shared by pixels (1, 1), (1, 2), (2, 1), (2, 2).
  struct Case {
    int subgrid, cell;
    bool zeroValue;
    std::vector<std::pair<int, int>> emptyPixels;
  };
  const Case cases[] = {
      {5, 5, true, {{1, 1}}}, {5, 5, false, {{1, 1}}}, {4, 6, true, {{1, 1}, {1, 2}, {2, 1}, {2, 2}}}};
  const int R = 2;
  for (const Case& c : cases) {
    psf p = flatPsf(R, c.subgrid);
    if (c.zeroValue)
      p.get_psf()(c.cell, c.cell) = 0.0;
    else
      p.get_epsf()(c.cell, c.cell) = -1.0;
    p.binning(0, 0);
    for (int i = -R; i <= R; ++i) {
      for (int j = -R; j <= R; ++j) {
        bool empty = false;
        for (const auto& e : c.emptyPixels) empty = empty || (e.first == i && e.second == j);
        EXPECT_EQ(p.get_binned_psf()(i, j) == 0.0, empty) << c.subgrid << " " << i << "," << j;
      }
    }
  }
}

TEST(PsfCalcBase, WarningsStillBuildTablesAndTheLastShiftStays) {
  struct Case {
    int subpixel, subgrid;
    std::string out, err;
    int firstShift;
  };
  const Case cases[] = {{4, 5, "error: please use an odd subpixel value!\n", "", -2},
                        {5, 5, "", " _subpixel >= _subgrid !!!!!\n", -2},
                        {3, 5, "", "", -1}};
  for (const Case& c : cases) {
    psf p = flatPsf(2, c.subgrid);
    for (int j = -10; j <= 10; ++j)
      for (int i = -12; i <= 12; ++i) p.get_psf()(i, j) = 1.0 + 0.01 * i + 0.001 * j;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    p.calc_base(c.subpixel, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(p.get_subpixel(), c.subpixel);
    const orv::MArray<double, 4> t = p.get_all_binned_psf();
    EXPECT_EQ(t.first(1), c.firstShift);
    EXPECT_EQ(t.last(2), -c.firstShift);
    EXPECT_EQ(t.first(3), -2);
    const int last = -c.firstShift;
    for (int i = -2; i <= 2; ++i)
      for (int j = -2; j <= 2; ++j) EXPECT_EQ(p.get_binned_psf()(i, j), t(last, last, i, j));
  }
  // P < 1 changes nothing.
  psf p = flatPsf(2, 5);
  p.calc_base(3, 0);
  const orv::MArray<double, 4> before = p.get_all_binned_psf();
  testing::internal::CaptureStdout();
  p.calc_base(0, 0);
  EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
  EXPECT_EQ(p.get_subpixel(), 3);
  EXPECT_EQ(p.get_all_binned_psf().getData(), before.getData());
}

// Random fine grids written by numpy (float32, a few zero cells and zero
// errors), read back and tabulated: every slice of the three tables equals the
// numpy block sums at o(sx/P), errors in quadrature.
TEST(PsfCalcBase, TablesEqualNumpyBlockSums) {
  const std::string dir = test_support::programScratchDir("psf_tables");
  struct Case {
    int subgrid, subpixel, analyt;
  };
  const Case cases[] = {{4, 3, 3}, {5, 3, 3}, {5, 5, 2}, {7, 3, 2}, {7, 5, 3}};
  for (const Case& c : cases) {
    const std::string script = R"(
import numpy as np
from astropy.io import fits
S, P, R = )" + std::to_string(c.subgrid) +
                               "," + std::to_string(c.subpixel) + "," + std::to_string(c.analyt) + R"(
N = R * S + S // 2
rng = np.random.default_rng(S * 100 + P * 10 + R)
psf = rng.uniform(0.1, 1.0, (2 * N + 1, 2 * N + 1)).astype(np.float32)   # [y, x]
err = rng.uniform(0.01, 0.1, (2 * N + 1, 2 * N + 1)).astype(np.float32)
psf[rng.integers(0, 2 * N + 1, 3), rng.integers(0, 2 * N + 1, 3)] = 0
err[rng.integers(0, 2 * N + 1, 2), rng.integers(0, 2 * N + 1, 2)] = 0
fits.writeto('p.fits', psf, overwrite=True)
fits.writeto('e.p.fits', err, overwrite=True)
def o(d):
    t = d * S + 0.5
    if t < 0: t = t - 1
    return int(t)
q = 1.0 / P
h = S // 2
p64 = psf.astype(np.float64); e64 = err.astype(np.float64)
for sx in range(-(P // 2), P // 2 + 1):
  for sy in range(-(P // 2), P // 2 + 1):
    ox, oy = o(sx * q), o(sy * q)
    for i in range(-R, R + 1):
      for j in range(-R, R + 1):
        x0, x1 = S * i - ox - h, S * i - ox + h
        y0, y1 = S * j - oy - h, S * j - oy + h
        v = e = 0.0
        if x0 >= -N and x1 <= N and y0 >= -N and y1 <= N:
          bp = p64[y0 + N:y1 + N + 1, x0 + N:x1 + N + 1]
          be = e64[y0 + N:y1 + N + 1, x0 + N:x1 + N + 1]
          if np.all(bp != 0) and np.all(be > 0):
            v = bp.sum(); e = np.sqrt((be * be).sum())
        print(sx, sy, i, j, repr(v), repr(e))
)";
    const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, script));
    const int H = c.subpixel / 2, R = c.analyt;
    ASSERT_EQ(ref.size(), 6u * (2 * H + 1) * (2 * H + 1) * (2 * R + 1) * (2 * R + 1));
    psf p(2, R, c.subgrid, 0);
    p.read_psf(dir + "/p.fits");
    p.calc_base(c.subpixel, 0);
    const orv::MArray<double, 4> t = p.get_all_binned_psf(), e = p.get_all_ebinned_psf(),
                                 e2 = p.get_all_e2binned_psf();
    int zeros = 0;
    for (std::size_t k = 0; k < ref.size(); k += 6) {
      const int sx = ref[k], sy = ref[k + 1], i = ref[k + 2], j = ref[k + 3];
      SCOPED_TRACE(std::to_string(sx) + " " + std::to_string(sy) + " " + std::to_string(i) + " " +
                   std::to_string(j));
      EXPECT_NEAR(t(sx, sy, i, j), ref[k + 4], 1e-12 * ref[k + 4]);
      EXPECT_NEAR(e(sx, sy, i, j), ref[k + 5], 1e-12 * ref[k + 5]);
      EXPECT_NEAR(e2(sx, sy, i, j), ref[k + 5] * ref[k + 5], 1e-12 * ref[k + 5] * ref[k + 5]);
      zeros += ref[k + 4] == 0;
    }
    EXPECT_GT(zeros, 0);
  }
}

}  // namespace
