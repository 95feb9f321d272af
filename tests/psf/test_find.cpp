// Star finding on small synthetic fields: recall, no spurious reports, empty
// fields and the verbose map files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "psf/korven_lib.h"
#include "tests/psf/psf_test_support.h"

namespace {

using psf_test::Star;

TEST(PsfFind, FindsIsolatedStarsAndNothingElse) {
  const psf p = psf_test::gaussianTestPsf(3, 3, 5, 0.0005, false);
  struct Case {
    const char* label;
    std::vector<Star> stars;
  };
  const std::vector<Case> cases = {
      {"four stars", {{12.3, 14.6, 3000}, {30.0, 11.8, 800}, {15.5, 31.2, 1500}, {33.7, 30.4, 400}}},
      {"one star on a cell edge", {{20.5, 20.5, 2000}}},
      {"empty field", {}},
  };
  for (const Case& c : cases) {
    orv::MArray<float, 2> image, error;
    psf_test::starField(p, 44, 2.0, c.stars, -11, image, error);
    orv::MArray<double, 1> x, y, flux;
    testing::internal::CaptureStdout();
    p.find(image, error, x, y, flux, 10.0, 1e6, 3.0, "t", 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, " wenn hier abbricht sind Bilder zu gross fuer Speicher ...\n alles ok!\n") << c.label;
    ASSERT_EQ(x.numElements(), y.numElements());
    ASSERT_EQ(x.numElements(), flux.numElements());
    // Every star found within 1.5 px with about its flux; no report farther
    // than 4 px from a star.
    for (const Star& s : c.stars) {
      int hits = 0;
      for (int k = 1; k <= x.numElements(); ++k)
        if (std::hypot(x(k) - s.x, y(k) - s.y) <= 1.5) {
          ++hits;
          EXPECT_NEAR(flux(k), s.flux, 0.2 * s.flux) << c.label;
        }
      EXPECT_GE(hits, 1) << c.label << " star at " << s.x << "," << s.y;
    }
    for (int k = 1; k <= x.numElements(); ++k) {
      double nearest = 1e9;
      for (const Star& s : c.stars) nearest = std::min(nearest, std::hypot(x(k) - s.x, y(k) - s.y));
      EXPECT_LE(nearest, 4.0) << c.label << " report at " << x(k) << "," << y(k);
      EXPECT_EQ(x(k), std::floor(x(k)));
    }
    if (c.stars.empty()) {
      EXPECT_EQ(x.numElements(), 0);
    }
  }
}

TEST(PsfFind, VerboseWritesTheMaps) {
  const psf p = psf_test::gaussianTestPsf(3, 3, 5, 0.0005, false);
  orv::MArray<float, 2> image, error;
  psf_test::starField(p, 24, 2.0, {{12.2, 12.1, 2000}}, -3, image, error);
  const std::string dir = psf_test::scratchDir("find");
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  orv::MArray<double, 1> x, y, flux;
  testing::internal::CaptureStdout();
  p.find(image, error, x, y, flux, 10.0, 1e6, 3.0, "f", 1);
  testing::internal::GetCapturedStdout();
  std::filesystem::current_path(here);
  // Cells of positions 11.6 and 11.8 would report pixel 11; 12.0 .. 12.4 report 12.
  bool atStar = false;
  for (int k = 1; k <= x.numElements(); ++k) atStar |= x(k) == 12 && y(k) == 12;
  EXPECT_TRUE(atStar);
  for (const char* stem : {"nchi_binned_", "nchi_", "flux_", "error_", "min_", "star_"})
    psf_test::expectFitsverifyClean(dir + "/" + stem + "f.fits");
}

}  // namespace
