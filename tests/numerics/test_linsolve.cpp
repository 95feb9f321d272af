// Linear systems: Gauss-Jordan elimination and LU decomposition against exact and random systems.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numerics/linsolve.h"

namespace {

using Matrix = orv::MArray<double, 2>;
using Vector = orv::MArray<double, 1>;

Matrix matrix(const std::vector<std::vector<double>>& rows) {
  int n = static_cast<int>(rows.size());
  Matrix a(n, static_cast<int>(rows[0].size()));
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= a.length(2); ++j) a(i, j) = rows[i - 1][j - 1];
  return a;
}

Vector vector(const std::vector<double>& values) {
  Vector v(static_cast<int>(values.size()));
  for (int i = 1; i <= v.length(1); ++i) v(i) = values[i - 1];
  return v;
}

Matrix copyOf(const Matrix& a) {
  Matrix c(a.length(1), a.length(2));
  c = a;
  return c;
}

Vector copyOf(const Vector& v) {
  Vector c(v.length(1));
  c = v;
  return c;
}

// Largest |x(i) − exact(i)| relative to the largest |exact(i)|.
double relativeError(const Vector& x, const std::vector<double>& exact) {
  double err = 0, scale = 0;
  for (int i = 1; i <= x.length(1); ++i) {
    err = std::max(err, std::fabs(x(i) - exact[i - 1]));
    scale = std::max(scale, std::fabs(exact[i - 1]));
  }
  return err / scale;
}

// Exact inverse of the n × n Hilbert matrix (integers), by the closed formula
// (−1)^(i+j) (i+j−1) C(n+i−1, n−j) C(n+j−1, n−i) C(i+j−2, i−1)².
long long binom(int n, int k) {
  long long r = 1;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}
long long hilbertInverse(int n, int i, int j) {
  long long c = binom(i + j - 2, i - 1);
  long long v = (i + j - 1) * binom(n + i - 1, n - j) * binom(n + j - 1, n - i) * c * c;
  return (i + j) % 2 ? -v : v;
}

// A diagonally dominant integer matrix and an integer solution; b = A·x is exact.
struct IntegerSystem {
  Matrix a;
  Vector b;
  std::vector<double> x;
  IntegerSystem(int n, unsigned seed) : a(n, n), b(n), x(n) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> entry(-9, 9);
    for (int i = 1; i <= n; ++i) {
      double rowSum = 0;
      for (int j = 1; j <= n; ++j) rowSum += std::fabs(a(i, j) = entry(gen));
      a(i, i) = (entry(gen) < 0 ? -1 : 1) * (rowSum + 5);
      x[i - 1] = entry(gen);
    }
    for (int i = 1; i <= n; ++i) {
      b(i) = 0;
      for (int j = 1; j <= n; ++j) b(i) += a(i, j) * x[j - 1];
    }
  }
};

// Restores standard output's precision after the printing routines.
struct StdoutPrecision {
  std::streamsize saved = std::cout.precision();
  ~StdoutPrecision() { std::cout.precision(saved); }
};

TEST(Gaussj, SmallExamples) {
  // n = 1.
  Matrix a = matrix({{4}});
  Vector b = vector({2});
  EXPECT_EQ(gaussj(a, 1, b), 0);
  EXPECT_EQ(b(1), 0.5);
  EXPECT_EQ(a(1, 1), 0.25);

  // Equal magnitudes: the last candidate of the scan wins, so the first
  // pivot of rows (1, 1), (0, 1) is element (2, 2); the result is the same.
  // (Array assignment copies elements, so every case has arrays of its own.)
  Matrix upper = matrix({{1, 1}, {0, 1}});
  Vector rhs = vector({3, 1});
  EXPECT_EQ(gaussj(upper, 2, rhs), 0);
  EXPECT_EQ(rhs(1), 2.0);
  EXPECT_EQ(rhs(2), 1.0);
  EXPECT_EQ(upper(1, 1), 1.0);
  EXPECT_EQ(upper(1, 2), -1.0);
  EXPECT_EQ(upper(2, 1), 0.0);
  EXPECT_EQ(upper(2, 2), 1.0);

  // The tie-break shows in the partly reduced state of a singular matrix:
  // with (2, 2) as the first pivot, row 1 is reduced to (0, −1).
  Matrix same = matrix({{1, 1}, {1, 1}});
  Vector ones = vector({1, 1});
  EXPECT_EQ(gaussj(same, 2, ones), -1);
  EXPECT_EQ(same(1, 1), 0.0);
  EXPECT_EQ(same(1, 2), -1.0);
  EXPECT_EQ(same(2, 1), 1.0);
  EXPECT_EQ(same(2, 2), 1.0);
}

TEST(Gaussj, FailuresLeaveZeroMatrixUnchangedAndNeverUseUnsetPivots) {
  Matrix zero = matrix({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  Vector b = vector({1, 2, 3});
  EXPECT_EQ(gaussj(zero, 3, b), -1);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(b(i), i);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(zero(i, j), 0.0);
  }
  // No element qualifies as a pivot when all are NaN, at once or after a step.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto rows : {std::vector<std::vector<double>>{{nan, nan}, {nan, nan}},
                    std::vector<std::vector<double>>{{1, nan}, {nan, nan}}}) {
    Matrix a = matrix(rows);
    Vector r = vector({1, 1});
    EXPECT_EQ(gaussj(a, 2, r), -1);
  }
}

TEST(Gaussj, SolvesAndInvertsRandomSystems) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    int n = 2 + static_cast<int>(seed % 11);
    IntegerSystem s(n, seed);
    Matrix inv = copyOf(s.a);
    Vector x = copyOf(s.b);
    ASSERT_EQ(gaussj(inv, n, x), 0) << "seed " << seed;
    EXPECT_LE(relativeError(x, s.x), 1e-9) << "seed " << seed;
    Matrix product(n, n);
    matmult(product, s.a, inv);
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) EXPECT_NEAR(product(i, j), i == j ? 1.0 : 0.0, 1e-9) << "seed " << seed;
  }
}

TEST(Gaussj, HilbertSixAgainstExactInverse) {
  const int n = 6;
  Matrix h(n, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) h(i, j) = 1.0 / (i + j - 1);
  // Right-hand side 1..6, so the exact solution is the inverse times it.
  Vector b(n);
  std::vector<double> exact(n, 0.0);
  for (int i = 1; i <= n; ++i) {
    b(i) = i;
    long long sum = 0;
    for (int j = 1; j <= n; ++j) sum += hilbertInverse(n, i, j) * j;
    exact[i - 1] = static_cast<double>(sum);
  }
  ASSERT_EQ(gaussj(h, n, b), 0);
  EXPECT_LE(relativeError(b, exact), 1e-6);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double e = static_cast<double>(hilbertInverse(n, i, j));
      EXPECT_NEAR(h(i, j), e, 1e-6 * std::fabs(e)) << i << "," << j;
    }
  }
}

TEST(Ludecomp, DeterminantsAndSingularMatrices) {
  struct Case {
    const char* what;
    std::vector<std::vector<double>> rows;
    int status;
    double det;
    bool message;
  };
  const Case cases[] = {
      {"one exchange", {{0, 1}, {1, 0}}, 0, -1.0, false},
      {"three by three", {{2, 1, 1}, {4, -6, 0}, {-2, 7, 2}}, 0, -16.0, false},
      {"n = 1", {{5}}, 0, 5.0, false},
      // Equal rows: no exchange at step 1 (the lowest row wins the tie), then
      // a zero last pivot, which counts as singular.
      {"equal rows", {{1, 1}, {1, 1}}, -1, 0.0, true},
      {"n = 1 zero", {{0}}, -1, 0.0, true},
      {"zero matrix", {{0, 0}, {0, 0}}, -1, 1.0, true},
      {"non-finite last pivot", {{1, 0}, {0, std::numeric_limits<double>::infinity()}}, -1, 0.0, true},
  };
  for (const Case& c : cases) {
    Matrix a = matrix(c.rows);
    orv::MArray<int, 1> p;
    double d = 0;
    testing::internal::CaptureStderr();
    int status = ludecomp(a, p, d);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_EQ(err, c.message ? "matrix singular\n" : "") << c.what;
    if (c.status == 0) {
      EXPECT_NEAR(d, c.det, 1e-12) << c.what;
    }
    if (std::string(c.what) == "equal rows") {
      EXPECT_EQ(p(1), 1);
    }
  }
}

TEST(Ludecomp, SubstitutionAndImprovementOnScaledHilbert) {
  // 360360 / (i + j − 1) is exact for n = 8 (360360 = lcm(1..15)), so the
  // stored system is exactly 360360·H, and with b = 360360·c the exact
  // solution is the integer vector H⁻¹·c.
  const int n = 8;
  Matrix a(n, n);
  Vector b(n);
  std::vector<double> exact(n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) a(i, j) = 360360.0 / (i + j - 1);
    b(i) = 360360.0 * (i % 3 - 1);
  }
  for (int i = 1; i <= n; ++i) {
    long long sum = 0;
    for (int j = 1; j <= n; ++j) sum += hilbertInverse(n, i, j) * (j % 3 - 1);
    exact[i - 1] = static_cast<double>(sum);
  }
  Matrix lu = copyOf(a);
  orv::MArray<int, 1> p;
  double d = 0;
  ASSERT_EQ(ludecomp(lu, p, d), 0);
  Vector x = copyOf(b);
  lubacksub(lu, p, x);
  double before = relativeError(x, exact);
  EXPECT_LE(before, 1e-3);
  mprove(lu, x, p, a, b);
  double after = relativeError(x, exact);
  EXPECT_LE(after, before);

  // The residual of the improved solution is small against b, and comes in a
  // fresh array from index 1.
  Vector r;
  residuum(a, x, b, r);
  ASSERT_EQ(r.length(1), n);
  for (int i = 1; i <= n; ++i) EXPECT_LE(std::fabs(r(i)), 1e-6 * 360360.0);
}

TEST(Ludecomp, BackSubstitutionSubtractsTheSummedProducts) {
  // An LU form that is its own U (unit L, no exchanges). In row 1 the two
  // products 2^-54 are summed first (2^-53) and then taken from 1, giving the
  // double below 1; taking them from 1 one by one would round back to 1 twice.
  const double tiny = std::ldexp(1.0, -54);
  Matrix lu = matrix({{1, tiny, tiny}, {0, 1, 0}, {0, 0, 1}});
  orv::MArray<int, 1> p(3);
  for (int k = 1; k <= 3; ++k) p(k) = k;
  Vector b = vector({1, 1, 1});
  lubacksub(lu, p, b);
  EXPECT_EQ(b(1), 1.0 - 2 * tiny);
  EXPECT_EQ(b(2), 1.0);
  EXPECT_EQ(b(3), 1.0);
}

TEST(Ludecomp, ResiduumSumsFromTheSmallestTermInExtendedPrecision) {
  // Row 1: terms 1e17, 1, −1e17 and −b = −1: summed in double in index order the
  // 1 would be lost; summed in extended precision the residual is 0.
  // Row 2: terms 2^70, 40, 40 and −2^70, where extended precision spaces its
  // values 128 apart. From the smallest term on, 40 + 40 = 80 rounds 2^70 + 80
  // up to 2^70 + 128, leaving 128; in index order each 40 is lost (0); from the
  // largest, 2^70 − 2^70 cancels first (80); with the two equal magnitudes
  // exchanged, 80 − 2^70 rounds to −(2^70 − 64) (64).
  const double big = std::ldexp(1.0, 70);
  Matrix a = matrix({{1e17, 1, -1e17}, {big, 40, 40}, {0, 0, 1}});
  Vector x = vector({1, 1, 1});
  Vector b = vector({1, big, 3});
  Vector r;
  residuum(a, x, b, r);
  EXPECT_EQ(r(1), 0.0);
  EXPECT_EQ(r(2), 128.0);
  EXPECT_EQ(r(3), -2.0);
}

// The diagnostic text of lu_iter by verbosity, on a system with the exact
// solution (1, 2).
TEST(LuIter, DiagnosticTextByVerbosity) {
  const std::string rule(67, '='), dashes(67, '-');
  const std::string solution = "MArray<T,1> ( 2 ) : (1,2) \n[ 1 2 ]\n";
  struct Case {
    int m, v;
    std::string text;
  };
  const Case cases[] = {
      {1, 2, ""},
      {1, 3, "det = -2\n"},
      {1, 4,
       " min(fabs(a)) = 1\n max(fabs(a)) = 4\ndet = -2\n" + rule + "\n solution of A*x=b:\n" + solution +
           dashes + "\n improved solution no 1 of A*x=b:\n" + solution + rule + "\n"},
      {2, 5,
       " min(fabs(a)) = 1\n max(fabs(a)) = 4\ndet = -2\n" + rule + "\n solution of A*x=b:\n" + solution +
           dashes + "\n improved solution no 1 of A*x=b:\n" + solution + dashes +
           "\n improved solution no 2 of A*x=b:\n" + solution + dashes + "\n residuum (x) = \n" +
           "MArray<T,1> ( 2 ) : (1,2) \n[ 0 0 ]\n" + rule + "\n"},
      {0, 5,
       " min(fabs(a)) = 1\n max(fabs(a)) = 4\ndet = -2\n" + rule + "\n solution of A*x=b:\n" + solution +
           rule + "\n"},
  };
  for (const Case& c : cases) {
    Matrix a = matrix({{1, 2}, {3, 4}});
    Vector b = vector({5, 11});
    testing::internal::CaptureStdout();
    int status = lu_iter(a, b, c.m, c.v);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, c.text) << "m " << c.m << " v " << c.v;
    // The matrix comes back as the inverse, b as the solution.
    EXPECT_NEAR(a(1, 1), -2.0, 1e-15);
    EXPECT_NEAR(a(1, 2), 1.0, 1e-15);
    EXPECT_NEAR(a(2, 1), 1.5, 1e-15);
    EXPECT_NEAR(a(2, 2), -0.5, 1e-15);
    EXPECT_NEAR(b(1), 1.0, 1e-15);
    EXPECT_NEAR(b(2), 2.0, 1e-15);
  }
}

TEST(LuIter, InverseOfRandomSystemsAndSingularFailure) {
  for (unsigned seed = 30; seed < 36; ++seed) {
    int n = 3 + static_cast<int>(seed % 5);
    IntegerSystem s(n, seed);
    Matrix inv = copyOf(s.a);
    Vector x = copyOf(s.b);
    ASSERT_EQ(lu_iter(inv, x, 2, 0), 0);
    EXPECT_LE(relativeError(x, s.x), 1e-12) << "seed " << seed;
    Matrix product(n, n);
    matmult(product, s.a, inv);
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) EXPECT_NEAR(product(i, j), i == j ? 1.0 : 0.0, 1e-12);
  }
  // A singular system: status −1, the message, and a and b unchanged.
  Matrix a = matrix({{1, 2, 3}, {2, 4, 6}, {1, 0, 1}});
  Vector b = vector({1, 2, 3});
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(lu_iter(a, b, 1, 3), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "matrix singular\n");
  EXPECT_EQ(a(2, 3), 6.0);
  EXPECT_EQ(b(3), 3.0);
}

TEST(Printing, VectorAndMatrixLayout) {
  StdoutPrecision keep;
  Vector v = vector({1.0 / 3.0, -2});
  Matrix m = matrix({{1, 2}, {3, 1e-9}});
  testing::internal::CaptureStdout();
  vecprint(v);
  matprint(m);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "\n     0.33333333               -2  \n\n"
            "\n              1                2  \n              3            1e-09  \n\n");
  EXPECT_EQ(std::cout.precision(), 8);
}

}  // namespace
