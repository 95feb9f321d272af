// Chi maps: cell positions and ranges of the local and whole-image maps, their
// values against nchi_calc at the cell positions, and the edge rule.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "numerics/random.h"
#include "orv/lanes.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

psf gaussianPsf(int boxlen, int analyt) {
  return psf_test::gaussianTestPsf(boxlen, analyt, 5, 0.0005, false);
}

// A noisy field with a star at (20.3, 18.6), first indices first1, first2.
void field(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, int first1, int first2, const psf& p) {
  image.makeReference(
      orv::MArray<float, 2>(orv::Range(first1, first1 + 39), orv::Range(first2, first2 + 35)));
  error.makeReference(
      orv::MArray<float, 2>(orv::Range(first1, first1 + 39), orv::Range(first2, first2 + 35)));
  long seed = -4;
  for (int j = image.first(2); j <= image.last(2); ++j)
    for (int i = image.first(1); i <= image.last(1); ++i) {
      image(i, j) = static_cast<float>(3 * rangau(seed));
      error(i, j) = 3.0f;
    }
  orv::MArray<float, 2> e2(error.length(1), error.length(2));
  e2 = 3.0f;
  e2.setBase(first1, first2);
  psf q = p;
  q.add_psf(image, e2, first1 + 19.3, first2 + 17.6, 5000, -1e20, -1, 0);
}

TEST(PsfChiMaps, LocalMapsSpanTheShiftAboutThePosition) {
  psf p = gaussianPsf(3, 3);
  orv::MArray<float, 2> image, error;
  field(image, error, 1, 1, p);
  struct Case {
    double x, y;
    int nx, ny;
  };
  for (const Case c : {Case{20.3, 18.6, 4, 3}, Case{20.0, 18.0, 0, 0}, Case{3.4, 10.0, 3, 2}}) {
    orv::MArray<double, 2> nchi, flux, eflux, fastNchi, fastFlux;
    p.mapping(image, error, c.x, c.y, nchi, flux, eflux, c.nx, c.ny, 3.0, 0);
    p.mapping_fast(image, error, c.x, c.y, fastNchi, fastFlux, c.nx, c.ny, 3.0);
    const long ix = std::lrint(c.x), iy = std::lrint(c.y);
    const int sx0 = std::lrint(5 * (c.x - ix)), sy0 = std::lrint(5 * (c.y - iy));
    ASSERT_EQ(nchi.first(1), sx0 - c.nx);
    ASSERT_EQ(nchi.last(2), sy0 + c.ny);
    EXPECT_EQ(nchi.numElements(), (2 * c.nx + 1) * (2 * c.ny + 1));
    for (int i = nchi.first(1); i <= nchi.last(1); ++i)
      for (int j = nchi.first(2); j <= nchi.last(2); ++j) {
        const double px = ix + i / 5.0, py = iy + j / 5.0;
        const bool inside =
            std::lrint(px) >= 4 && std::lrint(px) <= 37 && std::lrint(py) >= 4 && std::lrint(py) <= 33;
        double f = 0, e = 0, ff = 0;
        const double expected = inside ? p.nchi_calc(image, error, px, py, f, e, 3.0, 0) : 1e100;
        EXPECT_EQ(nchi(i, j), expected) << i << "," << j;
        EXPECT_EQ(flux(i, j), inside ? f : 0.0);
        EXPECT_EQ(eflux(i, j), inside ? e : 1e100);
        EXPECT_EQ(fastNchi(i, j), inside ? p.nchi_calc_fast(image, error, px, py, ff, 3.0) : 0.0);
        EXPECT_EQ(fastFlux(i, j), inside ? ff : 0.0);
      }
  }
}

TEST(PsfChiMaps, WholeImageCellsAndStarLists) {
  psf p = gaussianPsf(3, 3);
  for (int first : {1, -6}) {
    orv::MArray<float, 2> image, error;
    field(image, error, first, first + 2, p);
    orv::MArray<double, 2> nchi, flux, eflux;
    testing::internal::CaptureStdout();
    p.mapping_full(image, error, nchi, flux, eflux, 3.0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " wenn hier abbricht sind Bilder zu gross fuer Speicher ...\n alles ok!\n");
    ASSERT_EQ(nchi.length(1), 200);
    ASSERT_EQ(nchi.length(2), 180);
    // Pixel first + 9 owns cells 46..50; cell 48 stands for the pixel centre.
    const struct {
      int i, j;
    } cells[] = {{48, 48}, {46, 47}, {50, 93}, {97, 88}, {101, 90}, {16, 40}, {199, 20}, {100, 175}};
    for (const auto& c : cells) {
      const double px = (c.i - 1) / 5.0 + first - 2 / 5.0, py = (c.j - 1) / 5.0 + first + 2 - 2 / 5.0;
      const bool inside = std::lrint(px) >= image.first(1) + 3 && std::lrint(px) <= image.last(1) - 3 &&
                          std::lrint(py) >= image.first(2) + 3 && std::lrint(py) <= image.last(2) - 3;
      double f = 0, e = 0;
      const double expected = inside ? p.nchi_calc(image, error, px, py, f, e, 3.0, 0) : 0.0;
      EXPECT_EQ(nchi(c.i, c.j), expected) << first << " " << c.i << "," << c.j;
      EXPECT_EQ(flux(c.i, c.j), f);
      EXPECT_EQ(eflux(c.i, c.j), e);
    }

    // The list form computes only the 3 x 3 pixels about each star, with the
    // same values; stars on the first pixel or outside the image are safe.
    orv::MArray<int, 1> xs(3), ys(3);
    xs(1) = first + 19;
    ys(1) = first + 19;
    xs(2) = first;
    ys(2) = first + 2;
    xs(3) = first - 5;
    ys(3) = first + 10;
    orv::MArray<double, 2> someNchi, someFlux, someEflux;
    testing::internal::CaptureStdout();
    p.mapping_some(image, error, someNchi, someFlux, someEflux, xs, ys, 3.0, 0);
    testing::internal::GetCapturedStdout();
    for (int j = 1; j <= 180; ++j)
      for (int i = 1; i <= 200; ++i) {
        const bool near = i >= 18 * 5 + 1 && i <= 21 * 5 && j >= 16 * 5 + 1 && j <= 19 * 5;
        EXPECT_EQ(someNchi(i, j), near ? nchi(i, j) : 0.0) << i << "," << j;
      }
  }
}

// The whole-image maps equal nchi_calc called cell by cell at the cell
// positions, bit for bit, over every cell, on every processor path this
// machine runs (with division on the baseline, with quotients from
// reciprocals on the others where the values are moderate): fields with
// unusable pixels (zero, negative and NaN errors), boxes that reach past the
// image (B = 0), a radius beyond the tables, an error image smaller than the
// image, odd first indices, pixel values and errors spread over many binary
// orders of magnitude, and errors so small that their squares lie near the
// bottom of the double range (divided on every path).
TEST(PsfChiMaps, WholeImageMapEqualsNchiCalcBitForBit) {
  struct Case {
    const char* label;
    int boxlen, analyt, subpixel;
    double radius;
    int first1, first2, side1, side2;
    int errorTrim;  // error image shorter by this much on the last first-axis index
    int spread;     // pixel values and errors scaled by 2^k, |k| <= spread, at random
    float errorScale;
  };
  const Case cases[] = {
      {"P 5 radius 3.5", 3, 3, 5, 3.5, 1, 1, 48, 40, 0, 0, 1},
      {"P 3, first index not 1", 2, 3, 3, 2.2, -6, 11, 37, 45, 0, 0, 1},
      {"B 0, radius beyond R", 0, 2, 5, 4.7, 1, 1, 30, 33, 0, 0, 1},
      {"error image shorter", 1, 3, 5, 3.0, 3, -2, 36, 30, 4, 0, 1},
      {"radius too large for an int", 3, 3, 5, 1e300, 1, 1, 30, 30, 0, 0, 1},
      {"values over 2^-50 .. 2^50", 3, 3, 5, 3.5, 1, 1, 40, 40, 0, 50, 1},
      {"errors near 1e-35", 3, 3, 5, 3.5, 1, 1, 40, 40, 0, 0, 1e-36f},
  };
  for (const Case& c : cases) {
    const psf p = psf_test::gaussianTestPsf(c.boxlen, c.analyt, c.subpixel, 0.0005, true);
    const orv::Range rx(c.first1, c.first1 + c.side1 - 1), ry(c.first2, c.first2 + c.side2 - 1);
    orv::MArray<float, 2> image(rx, ry), error(orv::Range(rx.first, rx.last - c.errorTrim), ry);
    long seed = -17;
    for (int j = ry.first; j <= ry.last; ++j)
      for (int i = rx.first; i <= rx.last; ++i) image(i, j) = static_cast<float>(20 + 4 * rangau(seed));
    for (int j = ry.first; j <= ry.last; ++j)
      for (int i = error.first(1); i <= error.last(1); ++i) error(i, j) = static_cast<float>(4 + ran3(seed));
    orv::MArray<float, 2> e2(error.length(1), error.length(2));
    e2.setBase(error.first(1), error.first(2));
    e2 = 4.0f;
    p.add_psf(image, e2, c.first1 + 15.3, c.first2 + 12.6, 8000, -1e20, -1, 0);
    for (int j = ry.first; j <= ry.last; ++j)
      for (int i = error.first(1); i <= error.last(1); ++i) {
        error(i, j) *= c.errorScale;
        if (c.spread == 0) continue;
        image(i, j) = std::ldexp(image(i, j), static_cast<int>(ran3(seed) * (2 * c.spread + 1)) - c.spread);
        error(i, j) = std::ldexp(error(i, j), static_cast<int>(ran3(seed) * (2 * c.spread + 1)) - c.spread);
      }
    error(c.first1 + 14, c.first2 + 12) = 0.0f;
    error(c.first1 + 7, c.first2 + 20) = -1.0f;
    error(c.first1 + 20, c.first2 + 8) = std::nanf("");
    error(c.first1 + 2, c.first2 + 2) = 0.0f;

    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      orv::MArray<double, 2> nchi, flux, eflux;
      testing::internal::CaptureStdout();
      p.mapping_full(image, error, nchi, flux, eflux, c.radius, 0);
      testing::internal::GetCapturedStdout();
      const int P = c.subpixel;
      int mismatches = 0, computed = 0;
      for (int j = 1; j <= nchi.length(2); ++j)
        for (int i = 1; i <= nchi.length(1); ++i) {
          const double px = static_cast<double>(i - 1) / P + c.first1 - static_cast<double>(P / 2) / P;
          const double py = static_cast<double>(j - 1) / P + c.first2 - static_cast<double>(P / 2) / P;
          const long ix = std::lrint(px), iy = std::lrint(py);
          const bool inside = ix >= rx.first + c.boxlen && ix <= rx.last - c.boxlen &&
                              iy >= ry.first + c.boxlen && iy <= ry.last - c.boxlen;
          double f = 0, e = 0, n = 0;
          if (inside) {
            n = p.nchi_calc(image, error, px, py, f, e, c.radius, 0);
            ++computed;
          }
          const bool same = std::bit_cast<std::uint64_t>(nchi(i, j)) == std::bit_cast<std::uint64_t>(n) &&
                            std::bit_cast<std::uint64_t>(flux(i, j)) == std::bit_cast<std::uint64_t>(f) &&
                            std::bit_cast<std::uint64_t>(eflux(i, j)) == std::bit_cast<std::uint64_t>(e);
          if (!same && ++mismatches <= 5)
            ADD_FAILURE() << c.label << ", path " << orv::lanes::pathName(path) << ", cell " << i << "," << j
                          << ": " << nchi(i, j) << " " << flux(i, j) << " " << eflux(i, j) << " against " << n
                          << " " << f << " " << e;
        }
      EXPECT_EQ(mismatches, 0) << c.label << ", path " << orv::lanes::pathName(path);
      EXPECT_GT(computed, nchi.numElements() / 3) << c.label;
    }
  }
}

// The progress text of the whole-image map is that of the walk first-axis
// cell outer: a dot after a column once NX NY / 100 cells are counted, and with
// verbose > 9 every cell's position before it.
TEST(PsfChiMaps, WholeImageProgressText) {
  psf p = gaussianPsf(3, 3);
  orv::MArray<float, 2> image, error;
  field(image, error, 1, 1, p);
  orv::MArray<float, 2> small(orv::Range(1, 14), orv::Range(1, 9)), smallError(14, 9);
  for (int j = 1; j <= 9; ++j)
    for (int i = 1; i <= 14; ++i) {
      small(i, j) = image(i + 10, j + 10);
      smallError(i, j) = error(i + 10, j + 10);
    }
  for (const int verbose : {3, 5, 10}) {
    const int NX = 70, NY = 45;
    std::ostringstream expected;
    expected << " sx0 = 1\n sx1 = " << NX << "\n sy0 = 1\n sy1 = " << NY << "\n _boxlen = 3\n";
    expected << " wenn hier abbricht sind Bilder zu gross fuer Speicher ...\n alles ok!\n";
    long progress = 0;
    for (int i = 1; i <= NX; ++i) {
      for (int j = 1; j <= NY; ++j) {
        if (verbose > 9)
          expected << " double_x = " << (i - 1) / 5.0 + 1 - 2 / 5.0
                   << "  double_y = " << (j - 1) / 5.0 + 1 - 2 / 5.0 << "\n";
        ++progress;
      }
      if (verbose > 4 && progress >= NX * NY / 100) {
        expected << ".";
        progress = 0;
      }
    }
    if (verbose > 4) expected << "\n\n";
    orv::MArray<double, 2> nchi, flux, eflux;
    testing::internal::CaptureStdout();
    p.mapping_full(small, smallError, nchi, flux, eflux, 3.0, verbose);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected.str()) << "verbose " << verbose;
  }
}

}  // namespace
