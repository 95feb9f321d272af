// Tests the free-absorption fit end to end on a 2048 x 2048 field: the coefficients against the
// truth and against a numpy fit of the same grid, the header cards as raw cards, the printed
// errors, the corrected image and the sizes of the binned diagnostic images.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using test_support::ScratchDir;

// The value of a fixed-format card: columns 11 to 30.
double card_value(const std::string& card) { return std::stod(card.substr(10, 20)); }

TEST(FitAbsSky, FieldOf2048) {
  ScratchDir dir;
  const auto pair = tarvole_test::galaxy_pair(2048, 2048, 1070, 1077, 150.0, -21, 400);
  orv::writeFitsImage(dir / "R.fits", pair.R);
  orv::writeFitsImage(dir / "I.fits", pair.I);
  const auto run = tarvole_test::run_tarvole(dir.path, "-v 3 R.fits I.fits");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(" sampling points: 6561\n"), std::string::npos);

  // The seven cards, in order, with the value ending in column 30, then the HISTORY text.
  const auto cards = tarvole_test::cards_named(
      tarvole_test::header_cards(dir / "bI.fits"),
      {"ABSORP  ", "NSKY    ", "NSKYDX  ", "NSKYDY  ", "ABSIDX  ", "ABSIDY  ", "ZPOFFSET", "HISTORY "});
  ASSERT_EQ(cards.size(), 8u);
  const char* comments[] = {"A=R/I   for R=A*(I-B)", "sky=A*B for R=A*(I-B)", "skygrad x/abs", "skygrad y/abs",
                            "absIgrad x", "absIgrad y", "zeropoint offset"};
  for (int k = 0; k < 7; ++k) {
    SCOPED_TRACE(cards[k]);
    EXPECT_EQ(cards[k].substr(8, 2), "= ");
    EXPECT_NE(cards[k][29], ' ');
    EXPECT_EQ(cards[k].substr(30, 3), " / ");
    const std::string comment = cards[k].substr(33);
    EXPECT_EQ(comment.substr(0, comment.find_last_not_of(' ') + 1), comments[k]);
  }
  const std::string history = "HISTORY reference: R.fits            methods:";
  EXPECT_EQ(cards[7].substr(0, history.size()), history);
  EXPECT_EQ(cards[7].find_first_not_of(' ', history.size()), std::string::npos);
  const double absorp = card_value(cards[0]), nsky = card_value(cards[1]);
  EXPECT_NEAR(absorp, 0.8, 0.8 * 0.005);
  EXPECT_NEAR(nsky, 40.0, 40.0 * 0.01);
  EXPECT_NEAR(card_value(cards[2]), 0.008, 0.008 * 0.05);
  EXPECT_NEAR(card_value(cards[3]), -0.004, 0.004 * 0.05);
  EXPECT_EQ(card_value(cards[4]), 0.0);
  EXPECT_EQ(card_value(cards[5]), 0.0);
  EXPECT_NEAR(card_value(cards[6]), 2.5 * std::log10(absorp), 1e-13);

  // The printed errors.
  std::string errors;
  for (const char* label : {" absorption: ", " sky:        ", " sky grad x: ", " sky grad y: "}) {
    const auto [value, error] = tarvole_test::value_and_error(run.out, label);
    ASSERT_FALSE(error.empty()) << label;
    errors += error + ",";
  }

  // numpy: the same grid, weights and normal equations, from the images as written.
  const auto check = test_support::runPythonIn(dir.path, R"(
import numpy as np
from astropy.io import fits
R = fits.getdata("R.fits").astype(np.float64); I = fits.getdata("I.fits").astype(np.float64)
assert (R > 0).all() and (I > 0).all()
r = 100; cx, cy = 1070, 1077
ys = np.arange(280, 1881, 20); xs = np.arange(270, 1871, 20)
X, Y = np.meshgrid(xs, ys); X = X.ravel(); Y = Y.ravel()
def box_stats(a):
    c1 = np.concatenate([np.zeros((a.shape[0], 1)), np.cumsum(a, axis=1)], axis=1)
    c2 = np.concatenate([np.zeros((a.shape[0], 1)), np.cumsum(a * a, axis=1)], axis=1)
    s1 = np.zeros(X.size); s2 = np.zeros(X.size); n = np.zeros(X.size)
    for j in range(-r, r + 1):
        w = int(np.floor(np.sqrt(r * (r + 1) - j * j - 1)))
        row = Y + j - 1
        s1 += c1[row, X + w] - c1[row, X - w - 1]
        s2 += c2[row, X + w] - c2[row, X - w - 1]
        n += 2 * w + 1
    m = s1 / n
    return m, np.sqrt((s2 - n * m * m) / (n - 1))
mR, sR = box_stats(R); mI, sI = box_stats(I)
w = 1.0 / (sR + sI)
F = np.stack([mI, -np.ones_like(mI), -(X - cx), -(Y - cy)], axis=1)
M = (F * w[:, None]).T @ F; b = (F * w[:, None]).T @ mR
p = np.linalg.solve(M, b); err = np.sqrt(np.diag(np.linalg.inv(M)))
h = fits.getheader("bI.fits")
got = np.array([h["ABSORP"], h["NSKY"], h["NSKYDX"], h["NSKYDY"]])
printed = np.array([float(v) for v in ")" + errors + R"(".strip(",").split(",")])
print("coefficients", np.max(np.abs(got / p - 1)) < 1e-7, got, p)
print("errors", np.max(np.abs(printed / err - 1)) < 1e-4, printed, err)
print("median", abs(np.median(fits.getdata("bI.fits") - R)) < 0.2, np.median(fits.getdata("bI.fits") - R))
print("binned", fits.getdata("skybinned-bI.fits").shape == (512, 512), fits.getdata("diff-bI.fits").shape == (1024, 1024))
)");
  ASSERT_EQ(check.status, 0) << check.out;
  EXPECT_NE(check.out.find("coefficients True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("errors True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("median True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("binned True True"), std::string::npos) << check.out;
}

}  // namespace
