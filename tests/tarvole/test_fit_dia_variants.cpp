// Tests difference imaging over stars in process, over one shared reference step: the sky and
// absorption surface orders, the trimmed mean of the absorption and stars without error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tarvole/create.h"
#include "tarvole/dia_engine.h"
#include "tarvole/fit_dia.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::Image;

constexpr int kSize = 288;
constexpr int kCentre = kSize / 2;  // the centre fit_dia takes for its surfaces
constexpr int kStars = 10;
// Every box of +-50 lies inside the image by more than the kernel's half size 17, so that the
// engine fits the whole box and each star's sky is the plane at the star (a box clipped at the
// edge has its centre shifted inwards, and its sky with it).
constexpr double kStarX[kStars] = {74.3, 142.4, 210.1, 106.6, 178.2, 72.8, 140.7, 208.5, 104.2, 184.9};
constexpr double kStarY[kStars] = {76.7, 72.2, 80.5, 118.9, 114.3, 164.1, 154.4, 160.8, 209.3, 212.6};
constexpr double kFlux = 1.25;  // image / reference of the stars
constexpr double kGx = 0.05, kGy = -0.03;

// The absorption of an absorbing image along x, relative to 1/kFlux: linear, so that a plane
// holds it.
double absorption_slope(double x) { return 1.0 + 0.002 * (x - kCentre); }

// Sky plus Gaussian stars of sigma s (sampled at the pixel centres), each star's flux times
// scale(x, y), with Gaussian noise of noise * sqrt(value), and the matching error image.
template <class Sky, class Scale>
void render(double s, Sky sky, Scale scale, double noise, unsigned seed, Image& out, Image& err) {
  out.makeReference(Image(kSize, kSize));
  err.makeReference(Image(kSize, kSize));
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, 1.0);
  for (int y = 1; y <= kSize; ++y)
    for (int x = 1; x <= kSize; ++x) {
      double v = sky(x, y);
      for (int k = 0; k < kStars; ++k) {
        const double dx = x - kStarX[k], dy = y - kStarY[k];
        const double flux = 20000.0 + 4000.0 * k;
        v += scale(kStarX[k], kStarY[k]) * flux / (2 * M_PI * s * s) * std::exp(-(dx * dx + dy * dy) / (2 * s * s));
      }
      out(x, y) = static_cast<float>(v + noise * std::sqrt(v) * g(rng));
      err(x, y) = static_cast<float>(noise * std::sqrt(v));
    }
}

class FitDiaVariants : public ::testing::Test {
 protected:
  // One reference and its products for every case.
  static void SetUpTestSuite() {
    dir_ = new test_support::ScratchDir;
    // A deep reference: a tenth of the image's noise.
    render(1.5, [](int, int) { return 200.0; }, [](double, double) { return 1.0; }, 0.1, 3, R_, eR_);
    Pliste P = params();
    ::testing::internal::CaptureStdout();
    const bool done = run_dia_reference_step(1, R_, eR_, P);
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(done);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static Pliste params() {
    Pliste P;
    P.diffima = true;
    P.refdir = dir_->path;
    P.outname = dir_->path + "out.fits";
    return P;
  }

  // The image: the reference seen 1.25 times brighter through a wider seeing (sigma 1.92), on a
  // sky of 50 plus the plane gx, gy about the centre, with 0.3 times the photon noise; absorbing
  // dims the stars so that the absorption grows along x (absorption_slope).
  static void image(bool absorbing, Image& I, Image& eI) {
    const double s = std::sqrt(1.5 * 1.5 + 1.2 * 1.2);
    render(
        s, [](int x, int y) { return kFlux * 200.0 + 50.0 + kGx * (x - kCentre) + kGy * (y - kCentre); },
        [absorbing](double x, double) { return kFlux / (absorbing ? absorption_slope(x) : 1.0); }, 0.3, 7,
        I, eI);
  }

  // Runs fit_dia on copies of the image; returns its output.
  static std::string run(const Image& image_in, const Image& error_in, Pliste& P, Image& A, Image& S, orv::MArray<double, 1>& c,
                         Image* Iout = nullptr, Image* eIout = nullptr) {
    Image I(kSize, kSize), eI(kSize, kSize);
    I = image_in;
    eI = error_in;
    orv::MArray<double, 1> x(kStars), y(kStars);
    for (int k = 0; k < kStars; ++k) x(k + 1) = kStarX[k], y(k + 1) = kStarY[k];
    A.makeReference(Image(kSize, kSize));
    S.makeReference(Image(kSize, kSize));
    A = P.blank;
    S = P.blank;
    c.makeReference(orv::MArray<double, 1>(6));
    c = 0.0;
    ::testing::internal::CaptureStdout();
    fit_dia(R_, eR_, I, eI, A, S, x, y, c, P);
    const std::string out = ::testing::internal::GetCapturedStdout();
    if (Iout) Iout->makeReference(I);
    if (eIout) eIout->makeReference(eI);
    return out;
  }

  // The abs column of the first-pass table, per star from 1.
  static std::vector<double> first_pass_abs(const std::string& out) {
    std::vector<double> abs(kStars + 1, -1.0);
    std::istringstream lines(out.substr(out.find("eabs")));
    std::string line;
    std::getline(lines, line);
    for (int k = 1; k <= kStars && std::getline(lines, line); ++k) {
      std::istringstream fields(line);
      int number;
      double px, py;
      fields >> number >> px >> py >> abs[k];
    }
    return abs;
  }

  static test_support::ScratchDir* dir_;
  static Image R_, eR_;
};

test_support::ScratchDir* FitDiaVariants::dir_ = nullptr;
Image FitDiaVariants::R_, FitDiaVariants::eR_;

// The sky surface order decides where the gradients land: orders 1 and 2 both hold the x and y
// gradients (times the absorption 0.8) in c(3), c(4); the absorption median and the weighted
// constant (order 0) both give 0.8. A star whose error is 0 at its pixel is left out of both
// passes and its absorption prints as 0; one whose core the masking blanked (value and error at
// the blank value) is still measured from its wings. The others still give the surfaces.
TEST_F(FitDiaVariants, SkyOrdersAndSkippedStar) {
  struct Case {
    int ordsky, ordabs;
    int without_error;  // star (from 1) with error 0 at its pixel, 0 for none
    int blanked;        // star whose disc dx*dx + dy*dy <= 20 is blank, 0 for none
    double sky_bound;   // of c(2): order 2 takes its constant from six coefficients over 9 stars
  };
  const Case cases[] = {{1, -1, 0, 0, 0.4}, {2, 0, 3, 5, 1.2}};
  Image image_in, error_in;
  image(false, image_in, error_in);
  for (const Case& k : cases) {
    SCOPED_TRACE("ordsky " + std::to_string(k.ordsky) + " ordabs " + std::to_string(k.ordabs));
    Image I(kSize, kSize), eI(kSize, kSize);
    I = image_in;
    eI = error_in;
    const int skipped = k.without_error;
    if (skipped > 0) eI(static_cast<int>(kStarX[skipped - 1]), static_cast<int>(kStarY[skipped - 1])) = 0.0f;
    if (k.blanked > 0) {
      const int bx = static_cast<int>(kStarX[k.blanked - 1]), by = static_cast<int>(kStarY[k.blanked - 1]);
      for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx)
          if (dx * dx + dy * dy <= 20) I(bx + dx, by + dy) = eI(bx + dx, by + dy) = blank_value;
    }
    Pliste P = params();
    P.ordsky = k.ordsky;
    P.ordabs = k.ordabs;
    Image A, S;
    orv::MArray<double, 1> c;
    const std::string out = run(I, eI, P, A, S, c);
    ASSERT_FALSE(P.fit_failed) << out;
    for (int star = 1; star <= kStars; ++star)
      EXPECT_EQ(out.find("difference imaging around star " + std::to_string(star) + "\n") == std::string::npos,
                star == skipped)
          << star;
    if (skipped > 0) {
      EXPECT_EQ(first_pass_abs(out)[skipped], 0.0);
    }
    if (k.blanked > 0) {
      EXPECT_NEAR(first_pass_abs(out)[k.blanked], 1.0 / kFlux, 0.05) << out;
    }
    EXPECT_NEAR(c(1), 1.0 / kFlux, 0.004) << out;
    EXPECT_NEAR(c(2), (1.0 / kFlux) * 50.0, k.sky_bound) << out;
    // The gradients to 6 %: the x^2 coefficient of order 2 is near 0 here, so c(4) tells the y
    // gradient from it.
    EXPECT_NEAR(c(3), kGx / kFlux, 0.06 * kGx / kFlux) << out;
    EXPECT_NEAR(c(4), kGy / kFlux, -0.06 * kGy / kFlux) << out;
    EXPECT_EQ(out.find("stw to abs = "), std::string::npos);
  }
}

// The trimmed mean over ten good stars takes sorted values 4 to 7; its scatter is the
// absorption error, which with -e makes the error image carry the absorption and sky errors.
TEST_F(FitDiaVariants, TrimmedMeanAndErrorImage) {
  Image I, eI, A, S, Iout, eIout;
  image(true, I, eI);
  Pliste P = params();
  P.ordsky = 1;
  P.ordabs = -2;
  P.error = true;
  orv::MArray<double, 1> c;
  const std::string out = run(I, eI, P, A, S, c, &Iout, &eIout);
  ASSERT_FALSE(P.fit_failed) << out;
  std::vector<double> abs = first_pass_abs(out);
  for (int k = 1; k <= kStars; ++k) ASSERT_GT(abs[k], 0.5) << out;
  std::sort(abs.begin() + 1, abs.end());
  double mean = 0.0;
  for (int k = 4; k <= 7; ++k) mean += abs[k] / 4.0;
  double squares = 0.0;
  for (int k = 4; k <= 7; ++k) squares += (abs[k] - mean) * (abs[k] - mean);
  EXPECT_NEAR(c(1), mean, 2e-5) << out;  // the table prints 5 decimals
  EXPECT_NEAR(P.abserr, std::sqrt(squares / 3.0), 2e-5);
  EXPECT_NE(out.find("stw to abs = "), std::string::npos);
  EXPECT_GT(P.abserr, 1e-3);  // the stars differ in absorption
  EXPECT_GT(P.skyerr, 0.0);

  ::testing::internal::CaptureStdout();
  create(R_, eR_, Iout, eIout, A, S, c, P);
  const std::string corrected = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(corrected.find("error in abs and sky"), std::string::npos);
  int finite = 0;
  for (int y = 1; y <= kSize; ++y)
    for (int x = 1; x <= kSize; ++x) {
      ASSERT_TRUE(std::isfinite(eIout(x, y))) << x << " " << y;
      if (eIout(x, y) > 0.0f) ++finite;
      EXPECT_GE(eIout(x, y), static_cast<float>(P.skyerr) * 0.999f);
    }
  EXPECT_EQ(finite, kSize * kSize);
}

// Absorption order 1 follows the absorption's slope along x (through the weighted plane fit).
TEST_F(FitDiaVariants, AbsorptionPlane) {
  Image I, eI, A, S;
  image(true, I, eI);
  Pliste P = params();
  P.ordsky = 0;
  P.ordabs = 1;
  orv::MArray<double, 1> c;
  const std::string out = run(I, eI, P, A, S, c);
  ASSERT_FALSE(P.fit_failed) << out;
  EXPECT_NE(out.find("    2   x^ 1   y^ 0"), std::string::npos) << out;
  for (const int x : {74, 142, 210}) {
    EXPECT_NEAR(A(x, kCentre), absorption_slope(x) / kFlux, 0.01) << x << "\n" << out;
  }
  EXPECT_NEAR(A(210, 74), A(210, 210), 0.025);  // no gradient along y
}

}  // namespace
