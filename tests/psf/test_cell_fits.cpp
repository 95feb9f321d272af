// The lanes of the chi-map cells on every processor path this machine runs,
// byte for byte against the plain loops beside them here: the flux fits of a
// run (with division, and with quotients from reciprocals where the path fuses
// multiply-adds and the values are moderate) and the screen of the cells that
// cannot be stars.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numerics/random.h"
#include "orv/lanes.h"
#include "psf/cell_fits.h"

namespace {

using psf_maps::LaneFits;
using psf_maps::MaskEntry;
using psf_maps::PaddedPixels;
using psf_maps::ScreenEntry;

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A field of pixels read into the padded copies: noise about level with a
// star at (30, 10); the image spans only part of the copies (the rest lies
// outside, unusable), some errors are 0, negative or NaN, values and errors
// scaled by 2^k, |k| <= spread, errors by errorScale.
struct Field {
  psf_maps::RowBuffers buffers;
  PaddedPixels px{buffers};
  std::vector<MaskEntry> mask;
  std::vector<ScreenEntry> screen;
  bool moderatePsf = true;

  Field(double level, int spread, float errorScale, long seed) {
    orv::MArray<float, 2> image(orv::Range(3, 70), orv::Range(2, 17)),
        error(orv::Range(3, 70), orv::Range(2, 17));
    for (int q = 2; q <= 17; ++q)
      for (int p = 3; p <= 70; ++p) {
        const double r2 = (p - 30) * (p - 30) + (q - 10) * (q - 10);
        image(p, q) = static_cast<float>(level + 4 * rangau(seed) + 300 * std::exp(-r2 / 4.5));
        error(p, q) = static_cast<float>(1 + 4 * ran3(seed)) * errorScale;
        if (spread == 0) continue;
        image(p, q) = std::ldexp(image(p, q), static_cast<int>(ran3(seed) * (2 * spread + 1)) - spread);
        error(p, q) = std::ldexp(error(p, q), static_cast<int>(ran3(seed) * (2 * spread + 1)) - spread);
      }
    image(30, 9) = 0.0f;
    error(12, 8) = 0.0f;
    error(40, 10) = -1.0f;
    error(25, 11) = std::nanf("");
    px.fill(image, error, 1, 72, 1, 19);
    // Candidate pixels of a circle of radius 3.2 about the centre, with PSF
    // values of a Gaussian and small variances.
    for (int i = -3; i <= 3; ++i)
      for (int j = -3; j <= 3; ++j) {
        if (i * i + j * j >= 3.2 * 3.2) continue;
        const double Pp = std::exp(-(i * i + j * j) / 4.5) * (0.9 + 0.2 * ran3(seed));
        mask.push_back({static_cast<std::ptrdiff_t>(j) * px.width + i, Pp, Pp * Pp, 1e-6 * (1 + ran3(seed))});
        screen.push_back({mask.back().step, static_cast<float>(Pp), static_cast<float>(Pp * Pp)});
        moderatePsf = moderatePsf && psf_maps::moderate_magnitude(Pp);
      }
  }
  bool moderate() const { return px.moderate && moderatePsf; }
};

// The plain loop: the sums of the pixel at index at over the mask in order,
// unusable pixels left out, as nchi_calc sums them.
struct PlainFit {
  double Spp = 0, n = 0, flux = 0, chi2 = 0, eflux = 0, nchi = 0;
};

PlainFit plainFit(const PaddedPixels& px, std::size_t at, const std::vector<MaskEntry>& mask) {
  PlainFit f;
  double Spd = 0;
  for (const MaskEntry& m : mask) {
    const std::size_t k = at + m.step;
    if (px.keep[k] == 0) continue;
    f.Spp += m.psf2 / px.var[k];
    Spd += px.data[k] * m.psf / px.var[k];
    f.n += 1;
  }
  f.flux = f.n >= 2 && f.Spp != 0 ? Spd / f.Spp : 0.0;
  for (const MaskEntry& m : mask) {
    const std::size_t k = at + m.step;
    if (px.keep[k] == 0) continue;
    const double d = m.psf * f.flux - px.data[k];
    f.chi2 += d * d / (m.var * f.flux * f.flux + px.var[k]);
  }
  f.eflux = std::sqrt(1 / f.Spp);
  f.nchi = std::sqrt(f.chi2 / (f.n - 1));
  return f;
}

// Runs of len lanes from (x, y) of the padded copies, with every lane wanted,
// or all lanes but one of one block in three.
struct LaneRun {
  int x, y, len;
  bool someWanted;
};
constexpr LaneRun kRuns[] = {{4, 4, 1, false},   {4, 5, 7, false}, {6, 9, 8, false}, {5, 10, 37, false},
                             {4, 14, 64, false}, {5, 8, 61, true}, {4, 16, 17, true}};

TEST(CellFits, FitRunEqualsThePlainLoopOnEveryPath) {
  struct Case {
    const char* label;
    int spread;
    float errorScale;
    bool moderate;  // whether the paths with fused multiply-adds take the reciprocals
  };
  const Case cases[] = {
      {"moderate values", 0, 1.0f, true},
      {"values over 2^-50 .. 2^50", 50, 1.0f, true},
      {"errors near 1e-36, divided on every path", 0, 1e-36f, false},
  };
  for (const Case& c : cases) {
    Field f(20, c.spread, c.errorScale, -23);
    ASSERT_EQ(f.moderate(), c.moderate) << c.label;
    // Quotients whose product with the reciprocal is not the quotient: a
    // reciprocal path without its corrections would fail here.
    int inexact = 0;
    for (std::size_t k = 0; k < f.px.data.size(); ++k)
      for (const MaskEntry& m : f.mask) {
        const double a = f.px.data[k] * m.psf;
        inexact += f.px.keep[k] != 0 && a * f.px.inv[k] != a / f.px.var[k];
      }
    EXPECT_GT(inexact, 100) << c.label;
    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      for (const LaneRun& r : kRuns)
        for (const psf_maps::Sums sums : {psf_maps::Sums::kAll, psf_maps::Sums::kFlux}) {
          std::vector<char> wanted(static_cast<std::size_t>(r.len) + psf_maps::kLanes, 0);
          for (int k = 0; k < r.len; ++k)
            wanted[k] = !r.someWanted || (k / psf_maps::kLanes % 3 == 1 && k % psf_maps::kLanes != 5);
          LaneFits fits(f.buffers);
          fits.resize(r.len);
          const double kept = -7.5;  // what the lanes of unwanted blocks keep
          for (std::vector<double>* v : {&fits.Spp, &fits.n, &fits.flux, &fits.chi2})
            v->assign(v->size(), kept);
          const std::size_t base = f.px.index(r.x, r.y);
          psf_maps::fit_run(f.px, base, r.len, f.mask, f.moderate(), sums,
                            r.someWanted ? wanted.data() : nullptr, fits);
          for (int k = 0; k < r.len; ++k) {
            // A wanted lane has its fit; the lanes of a block without a wanted
            // lane keep theirs; the other lanes of a wanted block are free.
            const int k0 = k / psf_maps::kLanes * psf_maps::kLanes;
            bool blockWanted = false;
            for (int l = k0; l < k0 + psf_maps::kLanes; ++l) blockWanted |= wanted[l] != 0;
            if (!wanted[k] && blockWanted) continue;
            const PlainFit p = plainFit(f.px, base + k, f.mask);
            const bool all = sums == psf_maps::Sums::kAll;
            const bool ok =
                wanted[k] ? sameBits(fits.Spp[k], p.Spp) && sameBits(fits.n[k], p.n) &&
                                sameBits(fits.flux[k], p.flux) && sameBits(fits.eflux[k], p.eflux) &&
                                (!all || (sameBits(fits.chi2[k], p.chi2) && sameBits(fits.nchi[k], p.nchi)))
                          : fits.Spp[k] == kept && fits.n[k] == kept && fits.flux[k] == kept &&
                                fits.chi2[k] == kept;
            ASSERT_TRUE(ok) << c.label << ", path " << orv::lanes::pathName(path) << ", run at " << r.x << ","
                            << r.y << " lane " << k << (all ? ", all sums" : ", flux sums") << ": flux "
                            << fits.flux[k] << " against " << p.flux << ", nchi " << fits.nchi[k]
                            << " against " << p.nchi;
          }
        }
    }
  }
}

// The plain loop of the screen: single-precision sums of the pixel at index
// at over the mask in order, and the bound.
bool plainScreen(const std::vector<float>& x, const std::vector<float>& y, std::size_t at,
                 const std::vector<ScreenEntry>& mask, double snr) {
  float U = 0, A = 0, L = 0;
  for (const ScreenEntry& m : mask) {
    const float t = m.psf * x[at + m.step];
    U += t > 0 ? t : 0.0f;
    A += std::fabs(t);
    L += m.psf2 * y[at + m.step];
  }
  const float snrLow = static_cast<float>(snr) * (1 - 1e-3f);
  return !(U + 1e-3f * (U + A) < snrLow * std::sqrt(L));
}

// On a field of noise about 0 with a star: thresholds that leave some cells in
// and some out, and one that leaves all in.
TEST(CellFits, ScreenRunEqualsThePlainLoopOnEveryPath) {
  Field f(0, 0, 1.0f, -31);
  std::vector<float> x, y;
  ASSERT_TRUE(psf_maps::screen_pixels(f.px, x, y));
  int in = 0, out = 0;
  for (const orv::lanes::Path path : orv::lanes::runnable()) {
    orv::lanes::PathOverride only(path);
    for (const double snr : {1e-3, 2.5, 4.0, 40.0})
      for (const LaneRun& r : kRuns) {
        std::vector<char> maybe(static_cast<std::size_t>(r.len) + 2 * psf_maps::kScreenLanes, 7);
        const std::size_t base = f.px.index(r.x, r.y);
        psf_maps::screen_run(x, y, base, r.len, f.screen, snr, maybe.data());
        for (int k = 0; k < r.len; ++k) {
          const bool expected = plainScreen(x, y, base + k, f.screen, snr);
          ASSERT_EQ(maybe[k], expected) << "path " << orv::lanes::pathName(path) << ", snr " << snr
                                        << ", run at " << r.x << "," << r.y << " lane " << k;
          (expected ? in : out) += 1;
        }
      }
  }
  EXPECT_GT(in, 100);
  EXPECT_GT(out, 100);
}

}  // namespace
