// Best-source tables: row layout and positions, the source image against the
// noiseless stars, unusable pixels, and verbose 0 building the image silently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

using psf_test::Star;

TEST(PsfBestSource, TablesAndSourceImage) {
  const psf p = psf_test::gaussianTestPsf(3, 3, 5, 0.0005, false);
  const std::vector<Star> stars = {{12.3, 14.6, 3000}, {29.0, 11.8, 2000}, {15.5, 29.2, 2500}};
  orv::MArray<float, 2> image, error;
  psf_test::starField(p, 40, 1.0, stars, -5, image, error);
  image(31, 14) = 0;  // unusable pixel in a star's wing: no source there
  orv::MArray<float, 2> model, e2;
  psf_test::starField(p, 40, 0.0, stars, -5, model, e2);
  orv::MArray<int, 1> sx(3), sy(3);
  for (int k = 1; k <= 3; ++k) {
    sx(k) = static_cast<int>(std::lrint(stars[k - 1].x));
    sy(k) = static_cast<int>(std::lrint(stars[k - 1].y));
  }
  struct Case {
    bool whole;
    int verbose;
  };
  for (const Case c : {Case{true, 1}, Case{true, 0}, Case{false, 1}, Case{false, 0}}) {
    orv::MArray<double, 2> nchi, flux, eflux, source;
    std::ostringstream table;
    testing::internal::CaptureStdout();
    if (c.whole)
      p.mapping_full_best_source(image, error, nchi, flux, eflux, source, 10.0, 1e6, 3.0, 7.5, table,
                                 c.verbose);
    else
      p.mapping_some_best_source(image, error, nchi, flux, eflux, source, sx, sy, 10.0, 1e6, 3.0, 7.5, table,
                                 c.verbose);
    testing::internal::GetCapturedStdout();
    const std::string label =
        std::string(c.whole ? "whole" : "list") + " verbose " + std::to_string(c.verbose);
    ASSERT_EQ(source.first(1), 1);
    ASSERT_EQ(source.last(2), 40);

    std::istringstream rows(table.str());
    std::string row;
    int count = 0;
    std::vector<bool> found(stars.size(), false);
    while (std::getline(rows, row)) {
      ++count;
      ASSERT_EQ(row.size(), 6u + 9 + 9 + 12 + 10 + 10 + 8) << row;
      EXPECT_EQ(std::stoi(row.substr(0, 6)), count);
      for (int at : {6, 15, 24, 36, 46, 56}) EXPECT_EQ(row[at], ' ') << row;
      const std::vector<double> v = test_support::numbersIn(row);
      ASSERT_EQ(v.size(), 7u);
      EXPECT_EQ(v[3], 7.5);
      for (size_t s = 0; s < stars.size(); ++s)
        if (std::hypot(v[1] - stars[s].x, v[2] - stars[s].y) <= 0.25) {
          found[s] = true;
          EXPECT_NEAR(v[4], stars[s].flux, 0.05 * stars[s].flux) << label;
        }
    }
    if (c.verbose == 0) {
      EXPECT_EQ(count, 0) << label;
    } else {
      for (size_t s = 0; s < stars.size(); ++s) EXPECT_TRUE(found[s]) << label << " star " << s;
    }
    // The source image is the stars' PSFs over the 5 x 5 pixels about their
    // best cells: close to the noiseless field there, 0 elsewhere and at the
    // unusable pixel.
    EXPECT_EQ(source(31, 14), 0.0) << label;
    double worst = 0;
    for (int j = 1; j <= 40; ++j)
      for (int i = 1; i <= 40; ++i) {
        bool covered = false;
        for (int k = 1; k <= 3; ++k) covered |= std::abs(i - sx(k)) <= 2 && std::abs(j - sy(k)) <= 2;
        if (!covered) {
          EXPECT_EQ(source(i, j), 0.0) << label << " " << i << "," << j;
        } else if (!(i == 31 && j == 14)) {
          worst = std::max(worst, std::fabs(source(i, j) - model(i, j)));
        }
      }
    EXPECT_LT(worst, 0.1 * model(12, 15)) << label;
  }
}

// On a flat field every computed pixel has the same best nchi, so the
// neighbour rules decide alone: the list form selects a star whose neighbours
// are equal (<=) but not one beside a pixel without computed cells (value 0);
// the whole-image form keeps equal neighbours as minima (strict test) and
// ignores neighbours of value 0, so it selects every computed pixel.
TEST(PsfBestSource, NeighbourRulesOnAFlatField) {
  const psf p = psf_test::gaussianTestPsf(3, 3, 5, 0.0005, false);
  const int first = 2, side = 16, B = 3;
  orv::MArray<float, 2> image(orv::Range(first, first + side - 1), orv::Range(first, first + side - 1));
  orv::MArray<float, 2> error(image.length(1), image.length(2));
  error.setBase(first, first);
  image = 100.0f;
  error = 1.0f;
  struct Case {
    int x, y;
    bool selected;
  };
  const Case cases[] = {
      {9, 9, true},           // interior, all neighbours equal
      {10, 9, true},          // its equal neighbour, selected too
      {first + B, 9, false},  // the pixel left of it has no computed cell
      {first + B + 1, first + B + 1, true},
      {9, first + side - 1 - B, false},  // the pixel above it has no computed cell
  };
  orv::MArray<int, 1> xs(5), ys(5);
  for (int k = 0; k < 5; ++k) {
    xs(k + 1) = cases[k].x;
    ys(k + 1) = cases[k].y;
  }
  orv::MArray<double, 2> nchi, flux, eflux, source;
  std::ostringstream listTable, wholeTable;
  testing::internal::CaptureStdout();
  p.mapping_some_best_source(image, error, nchi, flux, eflux, source, xs, ys, 0.0, 1e6, 3.0, 1.0, listTable,
                             1);
  const double c = nchi(9, 9);
  p.mapping_full_best_source(image, error, nchi, flux, eflux, source, 0.0, 1e6, 3.0, 1.0, wholeTable, 1);
  testing::internal::GetCapturedStdout();
  ASSERT_GT(c, 0.0);

  std::vector<std::pair<int, int>> listed;
  std::istringstream listRows(listTable.str());
  for (std::string row; std::getline(listRows, row);) {
    const std::vector<double> v = test_support::numbersIn(row);
    listed.emplace_back(static_cast<int>(std::lrint(v[1])), static_cast<int>(std::lrint(v[2])));
  }
  for (const Case& k : cases) {
    const bool found = std::count(listed.begin(), listed.end(), std::make_pair(k.x, k.y)) == 1;
    EXPECT_EQ(found, k.selected) << "list form, star " << k.x << "," << k.y;
  }

  // Every pixel whose cells are computed (B from the edge and further in) is
  // a row of the whole-image table, each once, and keeps the positive value.
  int rows = 0;
  std::istringstream wholeRows(wholeTable.str());
  for (std::string row; std::getline(wholeRows, row);) ++rows;
  const int computed = side - 2 * B;
  EXPECT_EQ(rows, computed * computed);
  for (int q = first + B; q <= first + side - 1 - B; ++q)
    for (int r = first + B; r <= first + side - 1 - B; ++r) EXPECT_EQ(nchi(r, q), c) << r << "," << q;
  EXPECT_EQ(nchi(first + B - 1, 9), 0.0);
}

}  // namespace
