// Sorting arrays in place with their companion arrays, and the integer vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "numerics/hpsort.h"
#include "numerics/intvector.h"
#include "numerics/quicksort.h"
#include "tests/numerics/numerics_fixtures.h"

// The allocation-failure test asks the heap for more than it has; under the
// address sanitizer malloc must then return null as it does without it.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using numerics_test::arrayOf;
using numerics_test::elements;
using numerics_test::randomKeys;

using Array = orv::MArray<double, 1>;

enum class Routine { hpsort4, hpsort1, quicksort, quicksort4, quicksortWithoutStack };

const char* nameOf(Routine r) {
  switch (r) {
    case Routine::hpsort4:
      return "hpsort4 with companions";
    case Routine::hpsort1:
      return "hpsort4 alone";
    case Routine::quicksort:
      return "quicksort";
    case Routine::quicksort4:
      return "quicksort4";
    case Routine::quicksortWithoutStack:
      return "quicksort4 without a stack";
  }
  return "";
}

bool hasCompanions(Routine r) { return r != Routine::hpsort1 && r != Routine::quicksort; }

void run(Routine r, Array key, Array b, Array c, Array d) {
  switch (r) {
    case Routine::hpsort4:
      hpsort4(key, b, c, d);
      break;
    case Routine::hpsort1:
      hpsort4(key);
      break;
    case Routine::quicksort:
      quicksort(key);
      break;
    case Routine::quicksort4:
      quicksort4(key, b, c, d);
      break;
    case Routine::quicksortWithoutStack:
      quicksort4WithStack__(key, b, c, d, nullptr);
      break;
  }
}

const Routine kRoutines[] = {Routine::hpsort4, Routine::hpsort1, Routine::quicksort, Routine::quicksort4,
                             Routine::quicksortWithoutStack};

// Every routine sorts the caller's keys as std::sort does, and moves the
// companions by the same permutation: b holds the original position, c and d
// functions of it.
TEST(SortInPlace, MatchesStdSortAndMovesCompanions) {
  for (Routine r : kRoutines) {
    for (int n : {1, 7, 8, 100000}) {
      const unsigned seed = 300 + n;
      SCOPED_TRACE(testing::Message() << nameOf(r) << ", n " << n << ", seed " << seed);
      const std::vector<double> original = randomKeys(n, seed);
      Array key = arrayOf(original);
      Array b(n), c(n), d(n);
      for (int k = 1; k <= n; ++k) b(k) = k, c(k) = 2.0 * k + 0.5, d(k) = -k;
      run(r, key, b, c, d);

      std::vector<double> expected = original;
      std::sort(expected.begin(), expected.end());
      ASSERT_EQ(elements(key), expected);
      if (!hasCompanions(r)) continue;
      std::vector<bool> seen(n + 1, false);
      for (int k = 1; k <= n; ++k) {
        const int from = static_cast<int>(b(k));
        ASSERT_TRUE(from >= 1 && from <= n && !seen[from]) << "k " << k;
        seen[from] = true;
        ASSERT_EQ(key(k), original[from - 1]) << "k " << k;
        ASSERT_EQ(c(k), 2.0 * from + 0.5) << "k " << k;
        ASSERT_EQ(d(k), -from) << "k " << k;
      }
    }
  }
}

TEST(SortInPlace, Examples) {
  for (Routine r : kRoutines) {
    SCOPED_TRACE(nameOf(r));
    Array key = arrayOf({3, 1, 2});
    Array b = arrayOf({30, 10, 20}), c = arrayOf({30, 10, 20}), d = arrayOf({30, 10, 20});
    run(r, key, b, c, d);
    EXPECT_EQ(elements(key), (std::vector<double>{1, 2, 3}));
    if (hasCompanions(r)) {
      for (const Array& companion : {b, c, d})
        EXPECT_EQ(elements(companion), (std::vector<double>{10, 20, 30}));
    }

    // Nothing to do for 0 or 1 element, or an array without storage.
    Array one = arrayOf({5}), none(0), empty;
    run(r, one, one, one, one);
    EXPECT_EQ(elements(one), std::vector<double>{5});
    run(r, none, none, none, none);
    run(r, empty, empty, empty, empty);
  }
}

// Elements are counted from each array's first index; strided views and
// arrays of other bases are sorted in place, a shorter companion bounds the sort.
TEST(SortInPlace, ViewsBasesAndShortCompanions) {
  for (Routine r : kRoutines) {
    SCOPED_TRACE(nameOf(r));
    Array key = arrayOf({9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, 0);
    Array storage = arrayOf({90, -1, 80, -1, 70, -1, 60, -1, 50, -1, 40, -1, 30, -1, 20, -1, 10, -1, 0, -1});
    Array strided = storage(orv::Range(1, 19, 2));  // every second element
    Array c = arrayOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), d = arrayOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 5);
    run(r, key, strided, c, d);
    EXPECT_EQ(elements(key), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    if (hasCompanions(r)) {
      EXPECT_EQ(elements(strided), (std::vector<double>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
      EXPECT_EQ(storage(2), -1);
      EXPECT_EQ(storage(20), -1);
      EXPECT_EQ(elements(c), (std::vector<double>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
      EXPECT_EQ(elements(d), elements(c));

      Array longKey = arrayOf({3, 2, 1, 0});
      Array shortCompanion = arrayOf({30, 20, 10});
      run(r, longKey, shortCompanion, longKey, longKey);
      EXPECT_EQ(elements(longKey), (std::vector<double>{1, 2, 3, 0}));
      EXPECT_EQ(elements(shortCompanion), (std::vector<double>{10, 20, 30}));
    }
  }
}

// With all keys equal the order of the companions shows the scheme: 7
// elements are finished by straight insertion (which keeps their order); 8
// are partitioned first around the median of three.
TEST(Quicksort, InsertionBelowEightThenMedianOfThreePartition) {
  struct Case {
    int n;
    std::vector<double> order;
  };
  const Case cases[] = {
      {7, {1, 2, 3, 4, 5, 6, 7}},
      {8, {6, 4, 7, 1, 5, 2, 3, 8}},
  };
  for (const Case& c : cases) {
    Array key(c.n), b(c.n), unused1(c.n), unused2(c.n);
    key = 1.0;
    for (int k = 1; k <= c.n; ++k) b(k) = k;
    quicksort4(key, b, unused1, unused2);
    EXPECT_EQ(elements(b), c.order) << "n " << c.n;
  }
}

// The same for the heapsort: with equal keys no row moves while the heap is
// built, and each step of the sort-down puts the last row of the heap first
// and the first one at the end.
TEST(Hpsort4, HeapBuildAndSortDownOnEqualKeys) {
  Array key(5), b(5), unused1(5), unused2(5);
  key = 1.0;
  for (int k = 1; k <= 5; ++k) b(k) = k;
  hpsort4(key, b, unused1, unused2);
  EXPECT_EQ(elements(b), (std::vector<double>{2, 3, 4, 5, 1}));
}

TEST(SortInPlace, NaNKeysStayWithinTheArray) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (Routine r : kRoutines) {
    SCOPED_TRACE(nameOf(r));
    std::vector<double> values = randomKeys(200, 7);
    for (int k = 0; k < 200; k += 9) values[k] = nan;
    Array key = arrayOf(values), b(200), c(200), d(200);
    b = 0.0, c = 0.0, d = 0.0;
    run(r, key, b, c, d);
    int nans = 0;
    for (int k = 1; k <= 200; ++k) nans += std::isnan(key(k));
    EXPECT_EQ(nans, 23);
  }
}

TEST(IntVector, OffsetIndexRangeAndAllocationFailure) {
  int* p = intvector(-2, 5);
  ASSERT_NE(p, nullptr);
  for (long k = -3; k <= 5; ++k) p[k] = static_cast<int>(k);  // p[nl - 1] is the block start
  EXPECT_EQ(p[-3] + p[5], 2);
  free_intvector(p, -2, 5);
  free_intvector(nullptr, 1, 50);

  std::ostringstream captured;
  std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
  int* huge = intvector(1, LONG_MAX / 2);
  int* reversed = intvector(10, 5);
  std::cout.rdbuf(old);
  EXPECT_EQ(huge, nullptr);
  EXPECT_EQ(reversed, nullptr);
  EXPECT_EQ(captured.str(), "allocation failure in intvector()\nallocation failure in intvector()\n");
}

}  // namespace
