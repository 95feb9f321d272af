// Whole-array reductions (sum, count, min, max, average) of arrays and expressions against hand loops.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "orv/marray.h"
#include "tests/orv/orv_fixtures.h"

namespace {

using orv::MArray;
using orv::Range;

const double nan = std::numeric_limits<double>::quiet_NaN();

bool sameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (std::signbit(a) == std::signbit(b) && a == b);
}

template <class T>
MArray<T, 2> makeArray2(int nx, int ny, const std::vector<T>& values) {
  MArray<T, 2> a(nx, ny);
  for (int k = 0; k < nx * ny; ++k) a.firstElement()[k] = values[k];
  return a;
}

using orv_test::elements;

// A whole, contiguous nx x ny array holding the first nx x ny block of a.
template <class T>
MArray<T, 2> contiguousCopy(const MArray<T, 2>& a, int nx, int ny) {
  MArray<T, 2> copy(nx, ny);
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) copy(i, j) = a(i, j);
  return copy;
}

TEST(Reductions, EmptyInputs) {
  const MArray<double, 1> d1(0);
  const MArray<int, 1> i1(0);
  EXPECT_EQ(orv::sum(d1), 0.0);
  EXPECT_EQ(orv::sum(i1), 0);
  EXPECT_TRUE(std::isnan(orv::average(d1)));
  MArray<double, 2> whole(4, 5);
  whole = 1.0;
  // Empty rank-2 arrays: contiguous, and a view that is not storage-contiguous.
  for (const MArray<double, 2>& d2 : {MArray<double, 2>(0, 3), MArray<double, 2>(3, 0),
                                      whole(Range(2, 1), Range(1, 5)), whole(Range(1, 2), Range(3, 2))}) {
    EXPECT_EQ(d2.numElements(), 0);
    EXPECT_EQ(orv::sum(d2), 0.0);
    EXPECT_EQ(orv::sum(d2 * 2.0), 0.0);
    EXPECT_EQ(orv::count(d2 != 0.0), 0);
    EXPECT_EQ(orv::min(orv::fabs(d2)), DBL_MAX);
    EXPECT_EQ(orv::max(orv::fabs(d2)), -DBL_MAX);
  }
}

TEST(Reductions, NanInCountMinMax) {
  struct Case {
    std::vector<double> values;
    int countNonZero;
    double minAbs, maxAbs;
  };
  const Case cases[] = {
      {{nan, -3, 2}, 3, 2, 3},
      {{nan}, 1, DBL_MAX, -DBL_MAX},
      {{0.0, nan, 1.5}, 2, 0, 1.5},
      {{-0.0, 7, -9, nan, nan}, 4, 0, 9},
  };
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.values.size());
    // The same values as a whole 2-D array and as a non-contiguous view.
    const MArray<double, 2> whole = makeArray2(n, 1, c.values);
    MArray<double, 2> wide(n + 2, 2);
    wide = 5.0;
    for (int i = 1; i <= n; ++i) wide(i + 1, 2) = c.values[i - 1];
    const MArray<double, 2> view = wide(Range(2, n + 1), Range(2, 2));
    for (const MArray<double, 2>& d : {whole, view}) {
      EXPECT_EQ(orv::count(d != 0.0), c.countNonZero) << n;
      EXPECT_EQ(orv::count(d != nan), n);  // NaN differs from everything
      EXPECT_EQ(orv::min(orv::fabs(d)), c.minAbs) << n;
      EXPECT_EQ(orv::max(orv::fabs(d)), c.maxAbs) << n;
    }
  }
}

TEST(Reductions, RankOneSumsInIndexOrder) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> uniform(-1e3, 1e3);
  for (int n = 0; n <= 40; ++n) {
    MArray<double, 1> d(n);
    MArray<int, 1> k(n);
    for (int i = 1; i <= n; ++i) {
      d(i) = uniform(rng) * std::pow(10.0, static_cast<int>(rng() % 20) - 10);
      k(i) = static_cast<int>(rng() % 2001) - 1000;
    }
    // Whole, reversed (from the highest address downwards), and every third element.
    const MArray<double, 1> views[] = {d, d(Range(n, 1, -1)), d(Range(1, n, 3))};
    for (const MArray<double, 1>& v : views) {
      if (n == 0 && v.numElements() != 0) continue;
      double reference = 0.0;
      for (double x : elements(v)) reference += x;
      EXPECT_PRED2(sameBits, orv::sum(v), reference) << "n " << n << " stride " << v.stride(1);
      EXPECT_PRED2(sameBits, orv::average(v), reference / v.numElements()) << n;
    }
    int referenceInt = 0;
    for (int x : elements(k)) referenceInt += x;
    EXPECT_EQ(orv::sum(k), referenceInt);
    EXPECT_EQ(orv::sum(k(Range(n, 1, -1))), referenceInt);
  }
}

// Integer sums wrap around in two's complement instead of overflowing.
TEST(Reductions, IntegerSumsWrapAround) {
  const int big = std::numeric_limits<int>::max();
  MArray<int, 1> k(3);
  k(1) = big;
  k(2) = 1;
  k(3) = 1;
  EXPECT_EQ(orv::sum(k), -big);
  MArray<int, 2> k2(1, 3);
  for (int j = 1; j <= 3; ++j) k2(1, j) = k(j);
  EXPECT_EQ(orv::sum(k2), -big);
  EXPECT_EQ(orv::sum(k2(Range(1, 1), Range(3, 1, -2))), std::numeric_limits<int>::min());
}

// Random rank-2 data against reference loops that follow the type rules by hand
// and add in storage order; first-dimension lengths 0..9 cover singles and groups.
TEST(Reductions, RankTwoMatchReferenceLoops) {
  std::mt19937 rng(2026);
  std::uniform_real_distribution<double> uniform(-10.0, 10.0);
  for (int nx = 0; nx <= 9; ++nx) {
    const int ny = 7;
    MArray<double, 2> D(nx + 3, ny * 2);
    MArray<float, 2> F(nx + 3, ny * 2);
    MArray<bool, 2> B(nx + 3, ny * 2);
    MArray<short, 2> S(nx + 3, ny * 2);
    for (int j = 1; j <= ny * 2; ++j)
      for (int i = 1; i <= nx + 3; ++i) {
        D(i, j) = (rng() % 13 == 0) ? nan : uniform(rng);
        F(i, j) = static_cast<float>(uniform(rng));
        B(i, j) = rng() % 2 == 0;
        S(i, j) = static_cast<short>(rng() % 3);
      }
    struct Operands {
      MArray<double, 2> D;
      MArray<float, 2> F;
      MArray<bool, 2> B;
      MArray<short, 2> S;
    };
    // Whole arrays of nx x ny, and non-contiguous views (offset, every second
    // column, reversed) of the same lengths.
    const Operands sets[] = {
        {contiguousCopy(D, nx, ny), contiguousCopy(F, nx, ny), contiguousCopy(B, nx, ny),
         contiguousCopy(S, nx, ny)},
        {D(Range(3, nx + 2), Range(2, ny * 2, 2)), F(Range(nx + 3, 4, -1), Range(1, ny)),
         B(Range(2, nx + 1), Range(ny * 2, ny + 1, -1)), S(Range(1, nx), Range(1, ny * 2 - 1, 2))},
    };
    for (int set = 0; set < 2; ++set) {
      const Operands& o = sets[set];
      const std::vector<double> d = elements(o.D);
      const std::vector<float> f = elements(o.F);
      const std::vector<bool> b = elements(o.B);
      const std::vector<short> s = elements(o.S);
      double sumD = 0, sumDFF = 0, minAbs = DBL_MAX, maxAbs = -DBL_MAX;
      int mergeB = 0, countNe = 0, countGt = 0, countNeF = 0;
      for (std::size_t k = 0; k < d.size(); ++k) {
        sumD += d[k];
        sumDFF += (d[k] * static_cast<double>(f[k])) * static_cast<double>(f[k]);
        mergeB += b[k] ? 3 : -1;
        countNe += d[k] != 0.5;
        countGt += (static_cast<double>(f[k]) > 0.5 && s[k] == 1) ? 1 : 0;
        countNeF += (static_cast<double>(f[k]) != 0.5 && s[k] == 2) ? 1 : 0;
        const double a = std::fabs(d[k]);
        if (a < minAbs) minAbs = a;
        if (a > maxAbs) maxAbs = a;
      }
      SCOPED_TRACE(testing::Message() << "nx " << nx << (set == 0 ? " whole" : " views"));
      EXPECT_EQ(o.D.isStorageContiguous(), set == 0);
      EXPECT_PRED2(sameBits, orv::sum(o.D), sumD);
      EXPECT_PRED2(sameBits, orv::sum((o.D * o.F) * o.F), sumDFF);
      EXPECT_EQ(orv::sum(orv::merge(o.B, 3, -1)), mergeB);
      EXPECT_EQ(orv::count(o.D != 0.5), countNe);
      EXPECT_EQ(orv::min(orv::fabs(o.D)), minAbs);
      EXPECT_EQ(orv::max(orv::fabs(o.D)), maxAbs);

      // The evaluators called directly add to the value already accumulated; the
      // run-by-run form serves every operand, the single loop contiguous ones.
      orv::sum_reduction<int> runs{100};
      orv::eval_full_reduction_N(orv::merge((o.F > 0.5) && (o.S == 1), 1, 0), runs);
      EXPECT_EQ(runs.accumulated, 100 + countGt);
      if (set == 0) {
        orv::sum_reduction<int> single{100};
        orv::eval_full_reduction_1(orv::merge((o.F > 0.5) && (o.S == 1), 1, 0), single);
        EXPECT_EQ(single.accumulated, 100 + countGt);
      }
      orv::sum_reduction<int> ne{0};
      orv::eval_full_reduction_N(orv::merge((o.F != 0.5) && (o.S == 2), 1, 0), ne);
      EXPECT_EQ(ne.accumulated, countNeF);
      orv::sum_reduction<double> dff{0.0};
      orv::eval_full_reduction_N((o.D * o.F) * o.F, dff);
      EXPECT_PRED2(sameBits, dff.accumulated, sumDFF);
      if (set == 0) {
        orv::sum_reduction<double> dffSingle{0.0};
        orv::eval_full_reduction_1((o.D * o.F) * o.F, dffSingle);
        EXPECT_PRED2(sameBits, dffSingle.accumulated, sumDFF);
      }
    }
  }
}

TEST(Reductions, SingleLoopOverRankOneExpression) {
  MArray<double, 1> D(9);
  for (int i = 1; i <= 9; ++i) D(i) = i * 0.1;
  orv::sum_reduction<double> r{1.0};
  orv::eval_full_reduction_1((D * D) - (D * D), r);
  EXPECT_EQ(r.accumulated, 1.0);
  // An empty expression leaves the running value as it was.
  MArray<double, 2> none(0, 4);
  orv::sum_reduction<double> untouched{2.5};
  orv::eval_full_reduction_N(none * 1.0, untouched);
  EXPECT_EQ(untouched.accumulated, 2.5);
  // A reduction leaves the caller's expression unchanged for another use.
  MArray<double, 2> grid(3, 4);
  grid = 2.0;
  const auto twice = grid * 2.0;
  EXPECT_EQ(orv::sum(twice), 48.0);
  EXPECT_EQ(orv::sum(twice), 48.0);
}

// Operands are checked as an assignment checks them: an array without storage, or an
// operand of other lengths than the first, would be read through a missing block or
// outside its elements.
TEST(Reductions, OperandsWithoutStorageOrOfOtherLengthsAreRefused) {
  MArray<double, 2> a(3, 2), b(2, 3), freed(3, 2);
  a = 1.0, b = 1.0;
  freed.free();  // keeps its lengths, has no storage
  MArray<double, 1> d4(4), d5(5), freed1(4);
  d4 = 1.0, d5 = 1.0;
  freed1.free();
  struct Case {
    const char* what;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"sum of a freed array's expression", [&] { orv::sum(freed * 2.0); }},
      {"sum of operands of other lengths", [&] { orv::sum(a + b); }},
      {"rank-1 sum of other lengths", [&] { orv::sum(d4 + d5); }},
      {"count", [&] { orv::count(a != b); }},
      {"min", [&] { orv::min(orv::fabs(freed)); }},
      {"max", [&] { orv::max(a * freed); }},
      {"sum of a freed array", [&] { orv::sum(freed); }},
      {"sum of a freed rank-1 array", [&] { orv::sum(freed1); }},
      {"average", [&] { orv::average(freed1); }},
      {"median", [&] { orv::median_exact(freed); }},
      {"median with marker", [&] { orv::median_exact(freed1, 1e20); }},
      {"single-loop evaluator",
       [&] {
         orv::sum_reduction<double> r{0.0};
         orv::eval_full_reduction_1(d4 * d5, r);
       }},
      {"run-by-run evaluator",
       [&] {
         orv::sum_reduction<double> r{0.0};
         orv::eval_full_reduction_N(a * b, r);
       }},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << ": nothing thrown";
    } catch (const orv::RangeException& e) {
      EXPECT_STREQ(e.what(), "Array operand without storage or of other lengths in reduction") << c.what;
    }
  }
  // Matching operands, and arrays without storage that have no elements, still reduce.
  EXPECT_EQ(orv::sum(a * 2.0), 12.0);
  EXPECT_EQ(orv::sum(MArray<double, 2>() * 2.0), 0.0);
  EXPECT_EQ(orv::sum(MArray<double, 1>()), 0.0);
}

}  // namespace
