// Tests the module's Gauss-Jordan entry against the toolkit's elimination, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "dia/dia.h"
#include "numerics/linsolve.h"

namespace {

struct System {
  orv::MArray<double, 2> a;
  orv::MArray<double, 1> b;
  System(int n) : a(n, n), b(n) {}
  System copy() const {
    System c(a.length(1));
    c.a = a;
    c.b = b;
    return c;
  }
};

bool sameBits(const System& x, const System& y) {
  return std::memcmp(x.a.firstElement(), y.a.firstElement(), sizeof(double) * x.a.numElements()) == 0 &&
         std::memcmp(x.b.firstElement(), y.b.firstElement(), sizeof(double) * x.b.numElements()) == 0;
}

TEST(DiaGaussj, EqualsGaussjBitForBit) {
  std::vector<System> systems;
  std::mt19937 gen(42);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n : {1, 2, 5, 12, 30}) {
    System s(n);
    for (int j = 1; j <= n; ++j) {
      s.b(j) = u(gen);
      for (int i = 1; i <= n; ++i) s.a(i, j) = u(gen);
    }
    systems.push_back(s);
  }
  System one(1);  // 4·x = 2
  one.a(1, 1) = 4;
  one.b(1) = 2;
  systems.push_back(one);
  System rows(2);  // rows (1, 1) and (0, 1): the first pivot is (2, 2)
  rows.a(1, 1) = 1, rows.a(1, 2) = 1, rows.a(2, 1) = 0, rows.a(2, 2) = 1;
  rows.b(1) = 3, rows.b(2) = 1;
  systems.push_back(rows);
  System zero(3);
  zero.a = 0.0;
  zero.b = 1.0;
  systems.push_back(zero);

  for (const System& s : systems) {
    System mine = s.copy(), theirs = s.copy();
    const int n = s.a.length(1);
    EXPECT_EQ(dia_gaussj(mine.a, n, mine.b), gaussj(theirs.a, n, theirs.b));
    EXPECT_TRUE(sameBits(mine, theirs)) << "n = " << n;
  }
  System four = one.copy();
  EXPECT_EQ(dia_gaussj(four.a, 1, four.b), 0);
  EXPECT_EQ(four.b(1), 0.5);
  EXPECT_EQ(four.a(1, 1), 0.25);
  System z = zero.copy();
  EXPECT_EQ(dia_gaussj(z.a, 3, z.b), -1);
  System r = rows.copy();
  EXPECT_EQ(dia_gaussj(r.a, 0, r.b), 0);
  EXPECT_TRUE(sameBits(r, rows));
}

}  // namespace
