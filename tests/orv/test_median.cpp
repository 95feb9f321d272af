// Exact medians of arrays and views, with and without a marker value, against sorted copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "orv/marray.h"
#include "tests/orv/orv_fixtures.h"

namespace {

using orv::MArray;
using orv::median_exact;
using orv::Range;

const double nan = std::numeric_limits<double>::quiet_NaN();

// Equal values, or both NaN (the sign of a zero does not matter to the order).
bool sameValue(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

template <class T>
MArray<T, 1> makeArray(const std::vector<T>& values) {
  MArray<T, 1> a(static_cast<int>(values.size()), false);
  for (std::size_t i = 0; i < values.size(); ++i) a(static_cast<int>(i) + 1) = values[i];
  return a;
}

using orv_test::elements;

// Reference: drop the markers, order a copy (NaN after every number), take the
// middle element or the mean of the two middle ones, formed in T.
template <class T>
double referenceMedian(std::vector<T> v, bool withMarker, T marker) {
  if (withMarker) {
    const std::size_t all = v.size();
    std::erase_if(v, [&](T x) { return x == marker; });
    if (all > 0 && v.empty()) return static_cast<double>(marker);
  }
  if (v.empty()) return nan;
  auto nanLast = [](T a, T b) {
    return a < b || (std::isnan(static_cast<double>(b)) && !std::isnan(static_cast<double>(a)));
  };
  const std::size_t h = v.size() / 2;
  if (v.size() <= 2000) {
    std::sort(v.begin(), v.end(), nanLast);
  } else {
    std::nth_element(v.begin(), v.begin() + h, v.end(), nanLast);
    if (h > 0) std::iter_swap(v.begin() + h - 1, std::max_element(v.begin(), v.begin() + h, nanLast));
  }
  if (v.size() % 2 == 1) return static_cast<double>(v[h]);
  const T mean = static_cast<T>((v[h - 1] + v[h]) * 0.5);
  return static_cast<double>(mean);
}

TEST(MedianExact, SmallExamples) {
  struct Case {
    std::vector<double> values;
    double expected;
  };
  const Case cases[] = {
      {{5}, 5},
      {{3, 1}, 2},
      {{4, 1, 3, 2}, 2.5},
      {{2, 9, 1, 7, 5}, 5},
      {{}, nan},
      {{nan, 1, 2}, 2},
      {{nan, 1, 2, 3}, 2.5},
      {{nan, nan, 1}, nan},
      {{-0.0, 0.0}, 0.0},
      {{-INFINITY, 1, INFINITY}, 1},
      {{DBL_MAX, DBL_MAX}, DBL_MAX},  // the sum of the middle values does not overflow
      {{-DBL_MAX, -DBL_MAX}, -DBL_MAX},
      {{-INFINITY, -DBL_MAX}, -INFINITY},
  };
  for (const Case& c : cases) {
    EXPECT_PRED2(sameValue, median_exact(makeArray(c.values)), c.expected) << c.values.size();
    // A NaN marker equals no element: the same result as without a marker.
    if (!c.values.empty()) {
      EXPECT_PRED2(sameValue, median_exact(makeArray(c.values), nan), c.expected);
    }
  }
  // Float: the mean of the two middle values is formed in single precision.
  EXPECT_EQ(median_exact(makeArray<float>({1, 2})), 1.5);
  EXPECT_EQ(median_exact(makeArray<float>({FLT_MAX, FLT_MAX})), static_cast<double>(FLT_MAX));
  EXPECT_EQ(median_exact(makeArray<float>({0.1f, 0.2f})), static_cast<double>((0.1f + 0.2f) * 0.5f));
}

// Integer arrays: the mean of the two middle values is a value of T, the half
// sum truncated toward zero, and does not overflow.
TEST(MedianExact, IntegerMeanFormedInT) {
  const int big = std::numeric_limits<int>::max();
  struct Case {
    std::vector<int> values;
    double expected;
  };
  const Case cases[] = {
      {{7, 4, 1, 10}, 5},       {{1, 2}, 1},    {{-1, -2}, -1}, {{3, 5}, 4}, {{big, big - 1}, big - 1},
      {{-big - 1, -big}, -big}, {{9, 2, 6}, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(median_exact(makeArray(c.values)), c.expected) << c.values[0];
  EXPECT_EQ(median_exact(makeArray<int>({-1, 7, 4, -1, 1, 10}), -1), 5);
  const long huge = std::numeric_limits<long>::max();
  EXPECT_EQ(median_exact(makeArray<long>({huge, huge - 2})), static_cast<double>(huge - 1));
}

TEST(MedianExact, WithMarker) {
  struct Case {
    std::vector<double> values;
    double marker, expected;
  };
  const Case cases[] = {
      {{1e20, 3, 1e20, 1, 2}, 1e20, 2},
      {{1e20, 1, 2}, 1e20, 1.5},
      {{1e20, 1e20}, 1e20, 1e20},
      {{0, 5, 0, 0, 6}, 0, 5.5},
      {{1e20, nan, 1, 2}, 1e20, 2},  // NaN orders after the numbers, before the markers
      {{-1, -1, 3}, -1, 3},
  };
  for (const Case& c : cases) {
    EXPECT_PRED2(sameValue, median_exact(makeArray(c.values), c.marker), c.expected) << c.values.size();
  }
  // The marker takes the element type of the array: a double blank value serves a float image.
  EXPECT_EQ(median_exact(makeArray<float>({1e20f, 1, 2}), 1e20), 1.5);
}

// Every size from 1 to 1000, with and without a marker, against the reference.
TEST(MedianExact, RandomSizesMatchReference) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> uniform(-100.0, 100.0);
  std::uniform_int_distribution<int> pick(0, 9);
  const double marker = 1e20;
  for (int n = 1; n <= 1000; ++n) {
    std::vector<double> v(n);
    for (double& x : v) {
      const int kind = pick(rng);
      x = kind == 0 ? marker : kind == 1 ? std::round(uniform(rng)) : uniform(rng);
    }
    const MArray<double, 1> a = makeArray(v);
    ASSERT_PRED2(sameValue, median_exact(a), referenceMedian(v, false, 0.0)) << "n " << n;
    ASSERT_PRED2(sameValue, median_exact(a, marker), referenceMedian(v, true, marker)) << "n " << n;
  }
}

// Views: non-contiguous 2-D and reversed 1-D, small (heap path) and large (band path).
TEST(MedianExact, ViewsMatchReference) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  for (int nx : {7, 400}) {
    MArray<float, 2> image(nx, 500, false);
    for (int j = 1; j <= 500; ++j)
      for (int i = 1; i <= nx; ++i) image(i, j) = uniform(rng);
    const MArray<float, 2> view = image(Range(2, nx - 1, 2), Range(500, 1, -3));
    ASSERT_FALSE(view.isStorageContiguous());
    const std::vector<float> v = elements(view);
    EXPECT_PRED2(sameValue, median_exact(view), referenceMedian(v, false, 0.0f)) << nx;
    EXPECT_PRED2(sameValue, median_exact(view, v[3]), referenceMedian(v, true, v[3])) << nx;
  }
  // Double rank 2 with a marker on every fifth element, whole and viewed.
  MArray<double, 2> grid(301, 300, false);
  for (int j = 1; j <= 300; ++j)
    for (int i = 1; i <= 301; ++i) grid(i, j) = (i + j) % 5 == 0 ? 1e20 : std::floor(uniform(rng) * 50);
  for (const MArray<double, 2>& g : {grid, grid(Range(301, 2, -1), Range(1, 299, 2))}) {
    const std::vector<double> v = elements(g);
    EXPECT_PRED2(sameValue, median_exact(g), referenceMedian(v, false, 0.0));
    EXPECT_PRED2(sameValue, median_exact(g, 1e20), referenceMedian(v, true, 1e20));
  }
  std::vector<double> values(100001);
  for (double& x : values) x = uniform(rng);
  const MArray<double, 1> line = makeArray(values);
  const MArray<double, 1> reversed = line(Range(100001, 1, -1));
  EXPECT_PRED2(sameValue, median_exact(reversed), referenceMedian(values, false, 0.0));
  const MArray<double, 1> everyThird = line(Range(1, 100001, 3));
  EXPECT_PRED2(sameValue, median_exact(everyThird), referenceMedian(elements(everyThird), false, 0.0));
}

// Large arrays go through the sampled band selection; data that defeat its pivots
// (duplicates, NaN, infinities, sorted runs, markers) must still give the exact
// median.
TEST(MedianExact, LargeAdversarialData) {
  struct Case {
    const char* name;
    float (*value)(int i, std::mt19937& rng);
  };
  const Case cases[] = {
      {"uniform", [](int, std::mt19937& r) { return std::uniform_real_distribution<float>(-1, 1)(r); }},
      {"few distinct",
       [](int, std::mt19937& r) { return float(std::uniform_int_distribution<int>(0, 3)(r)); }},
      {"60% zeros",
       [](int, std::mt19937& r) {
         return r() % 10 < 6 ? 0.0f : std::uniform_real_distribution<float>(-1, 1)(r);
       }},
      {"70% NaN",
       [](int, std::mt19937& r) {
         return r() % 10 < 7 ? NAN : std::uniform_real_distribution<float>(0, 1)(r);
       }},
      {"45% NaN",
       [](int, std::mt19937& r) {
         return r() % 20 < 9 ? NAN : std::uniform_real_distribution<float>(0, 1)(r);
       }},
      {"infinities",
       [](int, std::mt19937& r) {
         return r() % 3 == 0 ? (r() % 2 ? INFINITY : -INFINITY) : float(r() % 100);
       }},
      {"ascending", [](int i, std::mt19937&) { return float(i); }},
      {"descending", [](int i, std::mt19937&) { return float(-i); }},
      {"all equal", [](int, std::mt19937&) { return 3.5f; }},
      {"markers", [](int i, std::mt19937& r) { return i % 3 == 0 ? 1e20f : float(r() % 1000); }},
      {"mostly markers", [](int i, std::mt19937& r) { return i % 100 != 0 ? 1e20f : float(r() % 1000); }},
  };
  std::mt19937 rng(7);
  for (const Case& c : cases) {
    for (int n : {70000, 70001}) {
      std::vector<float> v(n);
      for (int i = 0; i < n; ++i) v[i] = c.value(i, rng);
      const MArray<float, 1> a = makeArray(v);
      EXPECT_PRED2(sameValue, median_exact(a), referenceMedian(v, false, 0.0f)) << c.name << " " << n;
      EXPECT_PRED2(sameValue, median_exact(a, 1e20f), referenceMedian(v, true, 1e20f)) << c.name << " " << n;
      EXPECT_PRED2(sameValue, median_exact(a, 0.0f), referenceMedian(v, true, 0.0f)) << c.name << " " << n;
    }
  }
}

// The sampled selection is the path that large arrays take.
TEST(MedianExact, BandSelectionFindsBothMiddleValues) {
  std::mt19937 rng(5);
  std::vector<double> v(200000);
  for (double& x : v) x = std::normal_distribution<double>()(rng);
  const MArray<double, 1> a = makeArray(v);
  const int h = 100000;
  MArray<double, 1> t(h + 1, false);
  double low = 0, high = 0;
  ASSERT_TRUE(orv::detail::bandSelect<false>(a, 0.0, 200000, t.firstElement(), h + 1, low, high));
  std::sort(v.begin(), v.end());
  EXPECT_EQ(low, v[h - 1]);
  EXPECT_EQ(high, v[h]);
}

TEST(MedianExact, ImageOf4096Squared) {
  const int nx = 4096, ny = 4096;
  MArray<float, 2> image(nx, ny, false);
  std::mt19937 rng(4096);
  std::normal_distribution<float> sky(1000.0f, 30.0f);
  float* p = image.firstElement();
  for (int k = 0; k < nx * ny; ++k) p[k] = (k % 97 == 0) ? 1e20f : sky(rng);
  const std::vector<float> v(p, p + nx * ny);
  EXPECT_PRED2(sameValue, median_exact(image), referenceMedian(v, false, 0.0f));
  EXPECT_PRED2(sameValue, median_exact(image, 1e20f), referenceMedian(v, true, 1e20f));
}

}  // namespace
