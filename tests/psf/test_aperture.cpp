// Aperture photometry: aperture and aperture_sky against photutils on a
// synthetic field, the exact median of the annulus, and the failure cases.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "orv/fits/fits.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

constexpr double kBlank = -999.0;

orv::MArray<float, 2> readImage(const std::string& name) {
  orv::FitsIn in(name);
  orv::MArray<float, 2> a;
  in >> a;
  return a;
}

// Per star: x, y, aperture sum and pixel count, sum of 1/error², the annulus
// median with blank and zero-error pixels masked, and whether the aperture
// holds such a pixel.
const char* kReferenceScript = R"(
import sys
import numpy as np
sys.path.insert(0, ')" ORV_TEST_DATA_DIR R"(')
import aperture_field
from photutils.aperture import CircularAperture, CircularAnnulus, ApertureStats, aperture_photometry
data, err, x, y = aperture_field.write_field('.')
pos = np.column_stack([x - 1.0, y - 1.0])
bad = (data == aperture_field.BLANK) | (err <= 0)
ap = CircularAperture(pos, 4.3)
ann = CircularAnnulus(pos, 8.2, 12.7)
s = aperture_photometry(data.astype(np.float64), ap, method='center')['aperture_sum']
n = aperture_photometry(np.ones(data.shape), ap, method='center')['aperture_sum']
nbad = aperture_photometry(bad.astype(np.float64), ap, method='center')['aperture_sum']
med = ApertureStats(data.astype(np.float64), ann, mask=bad, sum_method='center').median
e64 = err.astype(np.float64)
inv = np.where(e64 > 0, 1.0 / np.where(e64 > 0, e64, 1.0) ** 2, 0.0)
w = [m.get_values(inv).sum() for m in ap.to_mask(method='center')]
for k in range(len(x)):
    print(repr(x[k]), repr(y[k]), repr(float(s[k])), int(n[k]), repr(float(w[k])), repr(float(med[k])), int(nbad[k] > 0))
)";

TEST(PsfAperture, MatchesPhotutilsOnASyntheticField) {
  const std::string dir = test_support::programScratchDir("psf_aperture");
  const std::vector<double> ref =
      test_support::numbersIn(test_support::pythonOutputIn(dir, kReferenceScript));
  ASSERT_EQ(ref.size(), 7u * 1000);
  const orv::MArray<float, 2> image = readImage(dir + "/image.fits");
  const orv::MArray<float, 2> error = readImage(dir + "/error.fits");
  int failures = 0, checked = 0;
  for (std::size_t k = 0; k < ref.size(); k += 7) {
    const double x = ref[k], y = ref[k + 1], sum = ref[k + 2], w = ref[k + 4], sky = ref[k + 5];
    const int n = ref[k + 3];
    const bool badAperture = ref[k + 6] != 0;
    SCOPED_TRACE("star " + std::to_string(k / 7 + 1));
    double flux0, eflux0, flux1, eflux1, fluxSky, efluxSky;
    aperture(image, error, x, y, flux0, eflux0, 4.3, 0.0, kBlank, 0);
    aperture(image, error, x, y, flux1, eflux1, 4.3, 1.0, kBlank, 0);
    aperture_sky(image, error, x, y, fluxSky, efluxSky, 4.3, 8.2, 12.7, kBlank, 0);
    if (badAperture) {
      ++failures;
      for (double f : {flux0, flux1, fluxSky}) EXPECT_EQ(f, 0.0);
      for (double e : {eflux0, eflux1, efluxSky}) EXPECT_EQ(e, -1.0);
      continue;
    }
    ++checked;
    EXPECT_NEAR(flux0, sum, 1e-9 * std::fabs(sum));
    EXPECT_EQ(std::lrint(flux0 - flux1), n);
    EXPECT_NEAR(eflux0, std::sqrt(1.0 / w), 1e-12 * eflux0);
    EXPECT_EQ(efluxSky, eflux0);
    EXPECT_NEAR(fluxSky, sum - n * sky, 1e-6 * (std::fabs(sum) + n * std::fabs(sky)));
  }
  EXPECT_GE(failures, 1);
  EXPECT_GE(checked, 990);
}

// The sky of aperture_sky is the exact median of the usable annulus pixels
// inside the image (annuli reaching past the edge too): with a one-pixel aperture on a zero pixel, flux =
// -sky.
TEST(PsfAperture, SkyIsTheExactMedianOfTheUsableAnnulus) {
  struct Case {
    double x, y, rin, rout;
    bool blankInAnnulus;
  };
  const Case cases[] = {{20.0, 20.0, 2.0, 3.0, false}, {20.3, 19.6, 2.5, 6.1, false},
                        {20.0, 20.0, 0.9, 1.5, true},  {20.0, 20.0, 2.0, 4.0, true},
                        {1.6, 20.2, 1.0, 7.0, false},  {38.9, 39.2, 3.0, 9.0, true}};
  int evenCounts = 0, oddCounts = 0;
  for (const Case& c : cases) {
    orv::MArray<float, 2> image(39, 39), error(39, 39);
    for (int j = 1; j <= 39; ++j)
      for (int i = 1; i <= 39; ++i) {
        image(i, j) = static_cast<float>(std::fmod(i * 37.3 + j * 11.9 + i * j * 0.7, 50.0));
        error(i, j) = 1.0f;
      }
    const int ix = std::lrint(c.x), iy = std::lrint(c.y);
    image(ix, iy) = 0.0f;
    if (c.blankInAnnulus) {
      image(ix - 2, iy) = kBlank;
      error(ix, iy - 2) = 0.0f;
    }
    std::vector<double> usable;
    for (int j = 1; j <= 39; ++j)
      for (int i = 1; i <= 39; ++i) {
        const double d2 = (i - c.x) * (i - c.x) + (j - c.y) * (j - c.y);
        if (d2 >= c.rin * c.rin && d2 < c.rout * c.rout && image(i, j) != kBlank && error(i, j) > 0)
          usable.push_back(image(i, j));
      }
    orv::MArray<double, 1> values(static_cast<int>(usable.size()));
    for (std::size_t k = 0; k < usable.size(); ++k) values(static_cast<int>(k) + 1) = usable[k];
    (usable.size() % 2 ? oddCounts : evenCounts)++;
    double flux, eflux;
    aperture_sky(image, error, c.x, c.y, flux, eflux, 0.5, c.rin, c.rout, kBlank, 0);
    EXPECT_EQ(-flux, orv::median_exact(values)) << c.x << " " << c.rin << " " << usable.size();
    EXPECT_EQ(eflux, 1.0);
  }
  EXPECT_GT(evenCounts, 0);
  EXPECT_GT(oddCounts, 0);
}

TEST(PsfAperture, FailuresAndTheVerboseLine) {
  struct Case {
    const char* what;
    int side;
    double x, y, r, rin, rout;
    int blankX, blankY;  // 0: none
    bool expectFailure;
  };
  const Case cases[] = {
      {"r = 3 about a pixel centre", 20, 10.0, 10.0, 3.0, 5.0, 7.0, 0, 0, false},
      {"blank in the aperture", 20, 10.0, 10.0, 3.0, 5.0, 7.0, 11, 8, true},
      {"blank only in the annulus", 20, 10.0, 10.0, 3.0, 5.0, 7.0, 16, 10, false},
      {"x = first + r, integer r", 20, 4.0, 10.0, 3.0, 5.0, 7.0, 0, 0, true},
      {"x = first + r + 1", 20, 5.0, 10.0, 3.0, 3.5, 7.0, 0, 0, false},
      {"circle reaching last + 1", 100, 98.45, 50.0, 2.6, 3.0, 4.0, 0, 0, true},
      {"no pixel centre in the circle", 20, 10.45, 10.45, 0.3, 2.0, 4.0, 0, 0, true},
      {"empty annulus", 20, 10.0, 10.0, 3.0, 5.0, 5.0, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orv::MArray<float, 2> image(c.side, c.side), error(c.side, c.side);
    image = 2.0f;
    error = 1.0f;
    if (c.blankX) image(c.blankX, c.blankY) = kBlank;
    double flux, eflux, fluxSky, efluxSky;
    aperture(image, error, c.x, c.y, flux, eflux, c.r, 0.5, kBlank, 0);
    aperture_sky(image, error, c.x, c.y, fluxSky, efluxSky, c.r, c.rin, c.rout, kBlank, 0);
    const bool annulusOnly = std::string(c.what) == "empty annulus";
    EXPECT_EQ(eflux == -1.0, c.expectFailure && !annulusOnly);
    EXPECT_EQ(efluxSky == -1.0, c.expectFailure);
    if (c.expectFailure) {
      EXPECT_EQ(fluxSky, 0.0);
    } else {
      EXPECT_EQ(fluxSky, 0.0);  // the sky equals every pixel
    }
    if (std::string(c.what) == "r = 3 about a pixel centre") {
      EXPECT_EQ(flux, 25 * 1.5);
      EXPECT_EQ(eflux, 0.2);
    }
  }
  orv::MArray<float, 2> image(20, 20), error(20, 20), smallError(19, 20);
  image = 2.0f;
  error = 1.0f;
  smallError = 1.0f;
  double flux, eflux;
  aperture(image, smallError, 10, 10, flux, eflux, 3.0, 0.0, kBlank, 0);
  EXPECT_EQ(eflux, -1.0);
  testing::internal::CaptureStdout();
  aperture(image, error, 10, 10, flux, eflux, 3.0, 0.5, kBlank, 2);
  aperture_sky(image, error, 10, 10, flux, eflux, 3.0, 5.0, 7.0, kBlank, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "sky flux per pixel:       0.5 number of pixel in object aperture:    25\n"
            "sky flux per pixel:         2 number of pixel in object aperture:    25  number of pixel in sky "
            "aperture:    76\n");
}

}  // namespace
