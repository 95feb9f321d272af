// Star injection: add_psf and subtract_psf against a numpy transcription,
// their circles and blank handling, add_psf_noise's stream and statistics,
// and add_psf_exact against the integration at the exact shift.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "numerics/random.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

constexpr double kBlank = -1e20;
constexpr double kBlankError = -1.0;

// An elliptical Gaussian fine grid (S = 7) with small errors, tabulated for P = 5.
psf gaussianPsf(int analyt, int subpixel = 5) {
  return psf_test::gaussianTestPsf(2, analyt, subpixel, 0.001, true);
}

void fillImage(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error) {
  for (int j = image.first(2); j <= image.last(2); ++j) {
    for (int i = image.first(1); i <= image.last(1); ++i) {
      image(i, j) = static_cast<float>(10.0 + 0.37 * i - 0.11 * j + 0.013 * i * j);
      error(i, j) = static_cast<float>(1.0 + 0.01 * ((i * 7 + j * 3) % 11));
    }
  }
}

struct Star {
  double x, y, flux;
};

// Both operations on an image with blank pixels, against numpy doing the same
// rule in float64 and storing float32 after each star.
TEST(PsfInject, AddAndSubtractEqualNumpyTranscription) {
  const std::string dir = test_support::programScratchDir("psf_inject");
  // P = 3: a shift of +-0.5 pixel rounds to +-2 and is clamped to +-1.
  const int R = 3, P = 3;
  psf p = gaussianPsf(R, P);
  orv::MArray<float, 2> image(orv::Range(0, 29), orv::Range(1, 25)),
      error(orv::Range(0, 29), orv::Range(1, 25));
  fillImage(image, error);
  image(12, 10) = kBlank;
  error(13, 11) = kBlankError;
  // A star half outside, shifts at +-0.5 (clamped), a star on a blank.
  const Star stars[] = {{0.7, 12.2, 500.0}, {10.5, 10.5, 800.0}, {12.4, 10.0, 300.0},
                        {20.499, 7.5, 1e4}, {27.2, 24.9, 50.0},  {15.0, 15.0, -40.0}};
  {
    std::ofstream t(dir + "/tables.txt");
    char line[200];
    for (int sx = -P / 2; sx <= P / 2; ++sx)
      for (int sy = -P / 2; sy <= P / 2; ++sy)
        for (int i = -R; i <= R; ++i)
          for (int j = -R; j <= R; ++j) {
            std::snprintf(line, sizeof line, "%d %d %d %d %.17g %.17g\n", sx, sy, i, j,
                          p.get_all_binned_psf()(sx, sy, i, j), p.get_all_ebinned_psf()(sx, sy, i, j));
            t << line;
          }
    std::ofstream im(dir + "/image.txt");
    for (int j = 1; j <= 25; ++j)
      for (int i = 0; i <= 29; ++i) {
        std::snprintf(line, sizeof line, "%d %d %.9g %.9g\n", i, j, image(i, j), error(i, j));
        im << line;
      }
  }
  std::string starList;
  for (const Star& s : stars)
    starList += "(" + std::to_string(s.x) + "," + std::to_string(s.y) + "," + std::to_string(s.flux) + "),";
  const std::string script = R"(
import numpy as np
R, P = 3, 3
H = P // 2
T = {}; E = {}
for sx, sy, i, j, t, e in np.loadtxt('tables.txt'):
    T[int(sx), int(sy), int(i), int(j)] = t; E[int(sx), int(sy), int(i), int(j)] = e
img = {}; err = {}
for i, j, v, e in np.loadtxt('image.txt'):
    img[int(i), int(j)] = np.float32(v); err[int(i), int(j)] = np.float32(e)
stars = [)" + starList + R"(]
def inject(sign, limit):
    for x, y, flux in stars:
        ix, iy = int(np.rint(x)), int(np.rint(y))
        fx, fy = x - ix, y - iy
        sx = min(H, max(-H, int(np.rint(P * fx)))); sy = min(H, max(-H, int(np.rint(P * fy))))
        for i in range(-R, R + 1):
            for j in range(-R, R + 1):
                k = (ix + i, iy + j)
                if k not in img: continue
                if (i - fx)**2 + (j - fy)**2 >= limit: continue
                if float(img[k]) == -1e20 or float(err[k]) == -1.0: continue
                t = (sx, sy, i, j)
                img[k] = np.float32(float(img[k]) + sign * T[t] * flux)
                err[k] = np.float32(np.sqrt((E[t] * flux)**2 + float(err[k])**2))
inject(1.0, R * R)
inject(-1.0, R * (R - 1))
for j in range(1, 26):
    for i in range(0, 30):
        print(repr(float(img[i, j])), repr(float(err[i, j])))
)";
  const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, script));
  ASSERT_EQ(ref.size(), 2u * 30 * 25);
  // Positions as python reads them (6 decimals).
  for (const Star& s : stars)
    p.add_psf(image, error, std::stod(std::to_string(s.x)), std::stod(std::to_string(s.y)), s.flux, kBlank,
              kBlankError, 0);
  for (const Star& s : stars)
    p.subtract_psf(image, error, std::stod(std::to_string(s.x)), std::stod(std::to_string(s.y)), s.flux,
                   kBlank, kBlankError, 0);
  std::size_t k = 0;
  for (int j = 1; j <= 25; ++j) {
    for (int i = 0; i <= 29; ++i, k += 2) {
      EXPECT_EQ(image(i, j), static_cast<float>(ref[k])) << i << "," << j;
      EXPECT_EQ(error(i, j), static_cast<float>(ref[k + 1])) << i << "," << j;
    }
  }
  EXPECT_EQ(image(12, 10), static_cast<float>(kBlank));
  EXPECT_EQ(error(13, 11), static_cast<float>(kBlankError));
}

// Pixels changed by one star on a pixel centre, R = 3: 25 inside r² < 9 for
// the adding operations, 21 inside r² < 6 for subtracting and the exact form.
TEST(PsfInject, CirclesAndMissingTables) {
  struct Case {
    const char* name;
    int changed;
  };
  const Case cases[] = {{"add", 25}, {"subtract", 21}, {"noise", 25}, {"exact", 21}};
  for (const Case& c : cases) {
    psf p = gaussianPsf(3);
    orv::MArray<float, 2> image(20, 20), error(20, 20);
    image = 0.0f;
    error = 1.0f;
    long seed = -3;
    const std::string name = c.name;
    if (name == "add") p.add_psf(image, error, 10, 10, 1000, kBlank, kBlankError, 0);
    if (name == "subtract") p.subtract_psf(image, error, 10, 10, 1000, kBlank, kBlankError, 0);
    if (name == "noise") p.add_psf_noise(image, error, 10, 10, 1000, 1.0, seed, kBlank, kBlankError, 0);
    if (name == "exact") p.add_psf_exact(image, 10, 10, 1000, 0);
    int changed = 0;
    for (int j = 1; j <= 20; ++j)
      for (int i = 1; i <= 20; ++i) changed += image(i, j) != 0.0f;
    EXPECT_EQ(changed, c.changed) << name;
  }
  // Without tables, or with tables of another R, the table forms do nothing.
  psf bare(2, 3, 5, 0);
  psf stale = gaussianPsf(3);
  stale.set_analyt(4);
  for (psf* p : {&bare, &stale}) {
    orv::MArray<float, 2> image(20, 20), error(20, 20);
    image = 0.0f;
    error = 1.0f;
    long seed = -3;
    p->add_psf(image, error, 10, 10, 1000, kBlank, kBlankError, 0);
    p->subtract_psf(image, error, 10, 10, 1000, kBlank, kBlankError, 0);
    p->add_psf_noise(image, error, 10, 10, 1000, 1.0, seed, kBlank, kBlankError, 0);
    EXPECT_EQ(seed, -3);
    double total = 0;
    for (int j = 1; j <= 20; ++j)
      for (int i = 1; i <= 20; ++i) total += std::fabs(image(i, j)) + std::fabs(error(i, j) - 1.0f);
    EXPECT_EQ(total, 0.0);
  }
}

TEST(PsfInject, NoiseStreamIsReproducibleAndAdvancesByTheBox) {
  const int R = 3;
  psf p = gaussianPsf(R);
  auto noisy = [&](long seed) {
    orv::MArray<float, 2> image(30, 30), error(30, 30);
    image = 5.0f;
    error = 0.0f;
    p.add_psf_noise(image, error, 2.2, 15.3, 2e4, 1.3, seed, kBlank, kBlankError, 0);  // partly outside
    return image;
  };
  const orv::MArray<float, 2> a = noisy(-17), b = noisy(-17);
  for (int j = 1; j <= 30; ++j)
    for (int i = 1; i <= 30; ++i) EXPECT_EQ(a(i, j), b(i, j));

  orv::MArray<float, 2> image(30, 30), error(30, 30);
  image = 5.0f;
  error = 0.0f;
  long seed = -17;
  p.add_psf_noise(image, error, 2.2, 15.3, 2e4, 1.3, seed, kBlank, kBlankError, 0);
  const double next = rangau(seed);
  long fresh = -17;
  double expected = 0;
  for (int k = 0; k < (2 * R + 1) * (2 * R + 1) + 1; ++k) expected = rangau(fresh);
  EXPECT_EQ(next, expected);

  // A negative flux carries no noise and writes no NaN.
  seed = -17;
  p.add_psf_noise(image, error, 15, 15, -2e4, 1.3, seed, kBlank, kBlankError, 0);
  for (int j = 1; j <= 30; ++j)
    for (int i = 1; i <= 30; ++i) EXPECT_TRUE(std::isfinite(image(i, j)) && std::isfinite(error(i, j)));
}

// Over ~12000 used pixels (image - noiseless) / sigma has mean 0 and standard
// deviation 1; sigma is the error the operation records.
TEST(PsfInject, NoiseHasTheRecordedSigma) {
  psf p = gaussianPsf(3);
  orv::MArray<float, 2> noisy(210, 210), clean(210, 210), error(210, 210), cleanError(210, 210);
  noisy = 0.0f;
  clean = 0.0f;
  error = 0.0f;
  cleanError = 0.0f;
  long seed = -2024;
  for (int sy = 0; sy < 20; ++sy) {
    for (int sx = 0; sx < 20; ++sx) {
      const double x = 6 + 10 * sx + 0.13 * (sy % 7), y = 6 + 10 * sy - 0.09 * (sx % 5);
      p.add_psf_noise(noisy, error, x, y, 5e5, 2.0, seed, kBlank, kBlankError, 0);
      p.add_psf(clean, cleanError, x, y, 5e5, kBlank, kBlankError, 0);
    }
  }
  double sum = 0, sum2 = 0;
  int n = 0;
  for (int j = 1; j <= 210; ++j) {
    for (int i = 1; i <= 210; ++i) {
      if (error(i, j) <= 0) continue;
      const double z = (static_cast<double>(noisy(i, j)) - clean(i, j)) / error(i, j);
      sum += z;
      sum2 += z * z;
      ++n;
    }
  }
  ASSERT_GE(n, 10000);
  const double mean = sum / n;
  EXPECT_NEAR(mean, 0.0, 0.03);
  EXPECT_NEAR(std::sqrt(sum2 / n - mean * mean), 1.0, 0.03);
}

TEST(PsfInject, ExactShiftAddsTheIntegrationAtThatShift) {
  const int R = 4;
  psf p = gaussianPsf(R);
  psf reference = gaussianPsf(R);
  struct Case {
    double x, y, flux;
  };
  const Case cases[] = {{10.37, 11.81, 700.0}, {1.2, 9.5, 300.0}, {15.5, 15.5, 40.0}};
  for (const Case& c : cases) {
    orv::MArray<float, 2> image(16, 16);
    image = 1.0f;
    p.add_psf_exact(image, c.x, c.y, c.flux, 0);
    const int ix = std::lrint(c.x), iy = std::lrint(c.y);
    reference.binning(c.x - ix, c.y - iy);
    for (int j = 1; j <= 16; ++j) {
      for (int i = 1; i <= 16; ++i) {
        const int di = i - ix, dj = j - iy;
        const bool inside = di * di + dj * dj < R * (R - 1);
        const float expected =
            inside ? static_cast<float>(1.0 + reference.get_binned_psf()(di, dj) * c.flux) : 1.0f;
        EXPECT_EQ(image(i, j), expected) << c.x << " " << i << "," << j;
      }
    }
  }
}

}  // namespace
