// Sorting positions by key: examples, equal keys, index ranges, against std::sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "numerics/sort.h"
#include "tests/numerics/numerics_fixtures.h"

namespace {

using numerics_test::arrayOf;
using numerics_test::elements;
using numerics_test::randomKeys;

TEST(Sort1, CopiesAndSortsOverTheSameRange) {
  for (int base : {1, 0, -3}) {
    orv::MArray<double, 1> a = arrayOf({3, 1, 2}, base);
    const orv::MArray<double, 1> s = sort1(a);
    EXPECT_EQ(s.first(1), base);
    EXPECT_EQ(elements(s), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(elements(a), (std::vector<double>{3, 1, 2}));
  }
  orv::MArray<double, 1> empty;
  EXPECT_EQ(sort1(empty).length(1), 0);
}

// The quadratic sorts are meant for short arrays; 2000 elements stand for the long case.
TEST(Sort1, MatchesStdSortOnRandomKeys) {
  for (int n : {1, 7, 8, 2000}) {
    const unsigned seed = 100 + n;
    SCOPED_TRACE(testing::Message() << "n " << n << " seed " << seed);
    std::vector<double> keys = randomKeys(n, seed);
    orv::MArray<double, 1> a = arrayOf(keys);
    const orv::MArray<double, 1> s = sort1(a);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(elements(s), keys);
  }
}

TEST(SortPos, Examples) {
  orv::MArray<double, 1> x = arrayOf({2.0, 1e20, 1.0});
  orv::MArray<int, 1> idx(3);
  EXPECT_EQ(sortpos(x, idx, 1e20), 2);
  EXPECT_EQ(elements(idx), (std::vector<int>{3, 1, 2}));

  orv::MArray<double, 1> values = arrayOf({5, 4, 3});
  orv::MArray<int, 1> mask(3);
  mask(1) = 0, mask(2) = -1, mask(3) = 0;
  EXPECT_EQ(sortpos_marker(values, mask, idx), 2);
  EXPECT_EQ(elements(idx), (std::vector<int>{3, 1, 2}));
}

// The exchange sort and the partition fix the order of equal keys and of the
// left-out positions.
TEST(SortPos, OrderOfEqualKeysAndLeftOutPositions) {
  const double m = -99.0;
  struct Case {
    std::vector<double> x;
    int count;
    std::vector<int> idx;
  };
  const Case cases[] = {
      {{2, 2, 1}, 3, {3, 2, 1}},
      {{2, 1, 1}, 3, {2, 3, 1}},
      {{m, 5, m, 3}, 2, {4, 2, 3, 1}},
      {{m, m}, 0, {2, 1}},
      {{7}, 1, {1}},
      {{}, 0, {}},
  };
  for (const Case& c : cases) {
    orv::MArray<double, 1> x = arrayOf(c.x);
    orv::MArray<int, 1> idx(static_cast<int>(c.x.size()));
    EXPECT_EQ(sortpos(x, idx, m), c.count);
    EXPECT_EQ(elements(idx), c.idx);
  }
}

TEST(SortPos, OwnIndexRangeAndTooSmallIndexArray) {
  orv::MArray<double, 1> x = arrayOf({4.0, 1e20, 2.0, 3.0}, 0);
  orv::MArray<int, 1> idx;              // empty: receives x's index range
  EXPECT_EQ(sortpos(x, idx, 1e20), 2);  // first - 1 + 3 valid entries
  EXPECT_EQ(idx.first(1), 0);
  EXPECT_EQ(elements(idx), (std::vector<int>{2, 3, 0, 1}));

  // A mask that does not cover x leaves the uncovered positions out.
  orv::MArray<double, 1> y = arrayOf({3.0, 1.0, 2.0});
  orv::MArray<int, 1> mask(2);
  mask = 0;
  orv::MArray<int, 1> idy(3);
  EXPECT_EQ(sortpos_marker(y, mask, idy), 2);
  EXPECT_EQ(elements(idy), (std::vector<int>{2, 1, 3}));
}

TEST(SortPos, MatchesStdSortOnRandomKeys) {
  const double marker = 0.0;  // the key 0 is frequent among the random keys
  for (int n : {1, 7, 8, 2000}) {
    const unsigned seed = 200 + n;
    SCOPED_TRACE(testing::Message() << "n " << n << " seed " << seed);
    const std::vector<double> keys = randomKeys(n, seed);
    orv::MArray<double, 1> x = arrayOf(keys);
    orv::MArray<int, 1> mask(n);
    for (int k = 1; k <= n; ++k) mask(k) = keys[k - 1] == marker ? -1 : k;

    std::vector<double> valid;
    for (double k : keys)
      if (k != marker) valid.push_back(k);
    std::sort(valid.begin(), valid.end());

    for (bool byMask : {false, true}) {
      orv::MArray<int, 1> idx(n);
      const int count = byMask ? sortpos_marker(x, mask, idx) : sortpos(x, idx, marker);
      ASSERT_EQ(count, static_cast<int>(valid.size()));
      std::vector<int> positions = elements(idx);
      for (int k = 1; k <= n; ++k) {
        if (k <= count)
          EXPECT_EQ(x(positions[k - 1]), valid[k - 1]);
        else
          EXPECT_EQ(x(positions[k - 1]), marker);
      }
      std::sort(positions.begin(), positions.end());
      for (int k = 1; k <= n; ++k) ASSERT_EQ(positions[k - 1], k);  // a permutation
    }
  }
}

}  // namespace
