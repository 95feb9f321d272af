// The element loops of a binned trial on every processor path this machine
// runs, byte for byte against the plain loops beside them here: the phase and
// bin of every date, and the means of every bin.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/trial_bins.h"
#include "orv/lanes.h"

namespace {

using lightcurve_detail::binMeans;
using lightcurve_detail::phasesAndBins;

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Lengths about the vector widths of every path (2, 4 and 8 doubles), so that
// the tail after the last whole vector runs too, and the whole array.
std::vector<int> lengthsUpTo(int n) {
  std::vector<int> lengths;
  for (int k : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33})
    if (k < n) lengths.push_back(k);
  lengths.push_back(n);
  return lengths;
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(LightcurveTrialBins, PhasesAndBinsEqualThePlainLoopOnEveryPath) {
  struct Case {
    const char* label;
    std::vector<double> jd;
    double t0, period;
    int nbins;
  };
  std::mt19937 rng(47);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> season, boundaries, extremes;
  for (int i = 0; i < 301; ++i) season.push_back(1000.0 + 200.0 * u(rng));
  // Dates on, just below and just above the bin boundaries of phases on either
  // side of the epoch (the phase is the offset's fraction plus 0.5).
  for (int k = -7; k <= 7; ++k)
    for (const double d :
         {k / 7.0 - 0.5, std::nextafter(k / 7.0 - 0.5, -kInf), std::nextafter(k / 7.0 - 0.5, kInf)})
      boundaries.push_back(d);
  // Offsets of zero of either sign, integer offsets, offsets beyond 2^52 where
  // every double is an integer, and dates that are not finite.
  extremes = {
      0.0,  -0.0,  2.1,  -2.1,   0.7,     -0.7,    1e17,    -1e17, 0x1p52, -0x1p52, 0x1.fffffffffffffp51,
      kInf, -kInf, kNan, 1e-310, -1e-310, 3.5e300, -3.5e300};
  const Case cases[] = {
      {"dates over a season", season, season[0] + 1.585, 3.17, 200},
      {"dates over a season, one bin", season, season[0] + 0.5, 2.0, 1},
      {"the bin boundaries of 7 bins", boundaries, 0.0, 1.0, 7},
      {"the bin boundaries in 1000 bins", boundaries, 0.0, 1.0, 1000},
      {"offsets of every size, dates that are not finite", extremes, 0.0, 0.7, 40},
      {"a period that is not finite", season, 1000.0, kInf, 10},
      {"a period whose offsets overflow", extremes, -1.0, 1e-300, 10},
  };
  for (const Case& k : cases) {
    const int n = static_cast<int>(k.jd.size());
    const double width = 1.0 / k.nbins;
    std::vector<double> plainPhase(n);
    std::vector<int> plainBin(n);
    for (int i = 0; i < n; ++i) {
      const double offset = (k.jd[i] - k.t0) / k.period;
      plainPhase[i] = lightcurve_detail::phaseOfOffset(offset, std::trunc(offset));
      plainBin[i] = lightcurve_detail::phaseBin(plainPhase[i], k.nbins, width);
    }
    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      for (const int first : {0, 1})
        for (const int len : lengthsUpTo(n - first)) {
          SCOPED_TRACE(testing::Message() << k.label << ", " << orv::lanes::pathName(path) << ", dates "
                                          << first << " .. " << first + len - 1);
          std::vector<double> phase(len + 1, -7.5);
          std::vector<int> bin(len + 1, -7);
          phasesAndBins(k.jd.data() + first, len, k.t0, k.period, k.nbins, width, phase.data(), bin.data());
          for (int i = 0; i < len; ++i) {
            ASSERT_TRUE(sameBits(phase[i], plainPhase[first + i]))
                << "date " << std::hexfloat << k.jd[first + i] << ": " << phase[i] << " against "
                << plainPhase[first + i];
            ASSERT_EQ(bin[i], plainBin[first + i]) << "date " << std::hexfloat << k.jd[first + i];
          }
          EXPECT_EQ(phase[len], -7.5);  // nothing written past the end
          EXPECT_EQ(bin[len], -7);
        }
    }
  }
}

TEST(LightcurveTrialBins, BinMeansEqualThePlainLoopOnEveryPath) {
  // Weight sums of empty bins (0), of bins far from 1 either way (square roots
  // and reciprocals that round, errors whose square overflows or leaves the
  // normal range), and of ordinary bins; mean phases in [0, 1) and fluxes of
  // either sign times the weight.
  std::mt19937 rng(53);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g(0.0, 1.0);
  std::vector<double> sumWeight = {0.0, 5e-324, 1e-310, 1e-300, 0x1p-1022, 1e300, 1.7e308, kInf, 1.0, 3.0};
  for (int b = 0; b < 190; ++b) sumWeight.push_back(b % 11 == 0 ? 0.0 : std::pow(10.0, 40.0 * u(rng) - 20.0));
  const int n = static_cast<int>(sumWeight.size());
  std::vector<double> sumPhase(n), sumFlux(n);
  for (int b = 0; b < n; ++b) {
    sumPhase[b] = sumWeight[b] == kInf ? 0.3 : sumWeight[b] * u(rng);
    sumFlux[b] = sumWeight[b] == kInf ? -2.0 : sumWeight[b] * g(rng);
  }
  std::vector<double> plainPhase(n), plainFlux(n), plainWeight(n);
  for (int b = 0; b < n; ++b) {
    const double W = sumWeight[b];
    const double err = 1.0 / std::sqrt(W);
    plainWeight[b] = 1.0 / (err * err);
    plainPhase[b] = sumPhase[b] / W;
    plainFlux[b] = sumFlux[b] / W;
  }
  for (const orv::lanes::Path path : orv::lanes::runnable()) {
    orv::lanes::PathOverride only(path);
    for (const int first : {0, 3})
      for (const int len : lengthsUpTo(n - first)) {
        SCOPED_TRACE(testing::Message()
                     << orv::lanes::pathName(path) << ", bins " << first << " .. " << first + len - 1);
        std::vector<double> meanPhase(len + 1, -7.5), meanFlux(len + 1, -7.5), weight(len + 1, -7.5);
        binMeans(sumPhase.data() + first, sumFlux.data() + first, sumWeight.data() + first, len,
                 meanPhase.data(), meanFlux.data(), weight.data());
        for (int b = 0; b < len; ++b) {
          SCOPED_TRACE(testing::Message() << "weight sum " << std::hexfloat << sumWeight[first + b]);
          ASSERT_TRUE(sameBits(meanPhase[b], plainPhase[first + b])) << meanPhase[b];
          ASSERT_TRUE(sameBits(meanFlux[b], plainFlux[first + b])) << meanFlux[b];
          ASSERT_TRUE(sameBits(weight[b], plainWeight[first + b])) << weight[b];
        }
        EXPECT_EQ(meanPhase[len], -7.5);
        EXPECT_EQ(meanFlux[len], -7.5);
        EXPECT_EQ(weight[len], -7.5);
      }
  }
}

}  // namespace
