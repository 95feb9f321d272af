// Star finding on small synthetic fields: recall, no spurious reports, empty
// fields and the verbose map files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

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
  const std::string dir = test_support::programScratchDir("psf_find");
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

// Fields of about 40 isolated stars (S/N 20 to 500, Gaussian and Moffat PSFs
// integrated over the pixels) made by numpy, with the PSF's fine grid made
// the same way: find recovers at least 95 % of the stars within 1.5 px of the
// reported pixel, no fewer than DAOStarFinder (fwhm of the PSF) less 5 points,
// and reports nothing farther than 4 px from a star.
TEST(PsfFind, RecallAgainstTruthAndDaoStarFinder) {
  const std::string dir = test_support::programScratchDir("psf_find_fields");
  const std::string out = test_support::pythonOutputIn(dir, "DATA = '" ORV_TEST_DATA_DIR
                                                   "'\n"
                                                   R"(
import sys
import numpy as np
sys.path.insert(0, DATA)
import star_field as sf
from photutils.detection import DAOStarFinder
for seed, kind in enumerate(('gauss', 'moffat')):
    data = sf.write_field('.', kind, 15, 5, side=256, grid=(7, 6), snr_range=(20, 500), noise=5.0,
                          seed=seed + 3)[0]
    found = DAOStarFinder(fwhm=sf.fwhm(kind), threshold=5 * 5.0)(data.astype(float))
    xy = np.zeros((0, 2)) if found is None else np.column_stack([found['xcentroid'] + 1,
                                                                found['ycentroid'] + 1])
    np.savetxt(f'dao_{kind}.txt', xy, fmt='%.17g')
print('done')
)");
  ASSERT_NE(out.find("done"), std::string::npos) << out;
  for (const std::string kind : {"gauss", "moffat"}) {
    const psf_test::NumpyField field = psf_test::numpyField(dir, kind);
    orv::MArray<double, 1> x, y, flux;
    testing::internal::CaptureStdout();
    field.p.find(field.image, field.error, x, y, flux, 5.0, 1e3, 4.0, kind, 0);
    testing::internal::GetCapturedStdout();
    const auto truth = psf_test::rows(dir + "/truth_" + kind + ".txt", 4);
    const auto dao = psf_test::rows(dir + "/dao_" + kind + ".txt", 2);
    ASSERT_GE(truth.size(), 40u);
    auto recall = [&](auto reportedNear) {
      int hits = 0;
      for (const auto& s : truth) hits += reportedNear(s[0], s[1]);
      return static_cast<double>(hits) / truth.size();
    };
    const double ours = recall([&](double sx, double sy) {
      for (int k = 1; k <= x.numElements(); ++k)
        if (std::hypot(x(k) - sx, y(k) - sy) <= 1.5) return true;
      return false;
    });
    const double theirs = recall([&](double sx, double sy) {
      for (const auto& d : dao)
        if (std::hypot(d[0] - sx, d[1] - sy) <= 1.5) return true;
      return false;
    });
    std::cout << kind << ": recall " << ours << " (DAOStarFinder " << theirs << "), " << x.numElements()
              << " reports for " << truth.size() << " stars" << std::endl;
    EXPECT_GE(ours, 0.95) << kind;
    EXPECT_GE(ours, theirs - 0.05) << kind;
    for (int k = 1; k <= x.numElements(); ++k) {
      double nearest = 1e9;
      for (const auto& s : truth) nearest = std::min(nearest, std::hypot(x(k) - s[0], y(k) - s[1]));
      EXPECT_LE(nearest, 4.0) << kind << " report at " << x(k) << "," << y(k);
    }
  }
}

}  // namespace
