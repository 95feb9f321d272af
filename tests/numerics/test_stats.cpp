// Robust statistics of short arrays, the median among them, against sorted references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "numerics/stats.h"
#include "tests/numerics/numerics_fixtures.h"

namespace {

using numerics_test::arrayOf;

TEST(Stats, Examples) {
  struct Case {
    std::vector<double> values;
    double median;
    double rms;
  };
  const Case cases[] = {
      {{5, 1, 3}, 3.0, 2.0},  // deviations 2, -2, 0: sqrt(8 / 2)
      {{4, 1, 3, 2}, 2.5, std::sqrt(5.0 / 3.0)},
      {{1, 2, 3}, 2.0, 1.0},
      {{7, 7}, 7.0, 0.0},
  };
  for (const Case& c : cases) {
    for (int base : {1, 0}) {
      orv::MArray<double, 1> a = arrayOf(c.values, base);
      EXPECT_DOUBLE_EQ(median(a), c.median);
      EXPECT_DOUBLE_EQ(rms(a), c.rms);
      for (std::size_t k = 0; k < c.values.size(); ++k)
        EXPECT_EQ(a(base + static_cast<int>(k)), c.values[k]);  // argument unchanged
    }
  }
}

TEST(Stats, TooFewElementsGiveNaN) {
  orv::MArray<double, 1> empty, none(0), one = arrayOf({4.0});
  EXPECT_TRUE(std::isnan(median(empty)));
  EXPECT_TRUE(std::isnan(median(none)));
  EXPECT_TRUE(std::isnan(rms(empty)));
  EXPECT_TRUE(std::isnan(rms(none)));
  EXPECT_TRUE(std::isnan(rms(one)));
  EXPECT_EQ(median(one), 4.0);
}

// Against an independent median (nth_element) and a hand sum, on random data.
TEST(Stats, RandomData) {
  std::mt19937 rng(4711);
  std::normal_distribution<double> noise(10.0, 3.0);
  for (int n : {2, 7, 8, 501}) {
    SCOPED_TRACE(testing::Message() << "n " << n << " seed 4711");
    std::vector<double> values(n);
    for (double& v : values) v = noise(rng);
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const double expectedMedian = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    double sum = 0;
    for (double v : values) sum += (v - expectedMedian) * (v - expectedMedian);
    const orv::MArray<double, 1> a = arrayOf(values);
    EXPECT_EQ(median(a), expectedMedian);
    EXPECT_NEAR(rms(a), std::sqrt(sum / (n - 1)), 1e-12);
  }
}

}  // namespace
