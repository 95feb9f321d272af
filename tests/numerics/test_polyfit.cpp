// Weighted constants, polynomials and surfaces fitted by least squares.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numerics/polyfit.h"

namespace {

template <typename T>
orv::MArray<T, 1> vec(const std::vector<double>& values) {
  orv::MArray<T, 1> a(static_cast<int>(values.size()));
  for (int i = 1; i <= a.length(1); ++i) a(i) = static_cast<T>(values[i - 1]);
  return a;
}

TEST(Fitconst, WeightedMeanErrorAndScatter) {
  struct Case {
    const char* what;
    std::vector<double> y, sigma;
    int status;
    double c, error, scatter;
  };
  const Case cases[] = {
      {"two points", {1, 3}, {1, 1}, 0, 2.0, std::sqrt(0.5), std::sqrt(2.0)},
      {"one usable point", {5, 9, 4}, {2, 0, -1}, 0, 5.0, 2.0, 0.0},
      {"weights", {1, 4}, {1, 2}, 0, 1.6, std::sqrt(0.8), std::sqrt(1.8)},
      {"no usable point", {5, 9}, {0, -1}, -1, 0.0, 0.0, 0.0},
      {"no point", {}, {}, -1, 0.0, 0.0, 0.0},
  };
  for (const Case& k : cases) {
    auto y = vec<double>(k.y), sigma = vec<double>(k.sigma);
    double c = 7, error = 7, scatter = 7;
    EXPECT_EQ(fitconst(y, sigma, c, error, scatter), k.status) << k.what;
    EXPECT_NEAR(c, k.c, 1e-14) << k.what;
    EXPECT_NEAR(error, k.error, 1e-14) << k.what;
    EXPECT_NEAR(scatter, k.scatter, 1e-14) << k.what;
  }
}

TEST(Poly, RecoversCoefficientsHighestPowerFirst) {
  // The line through (0, 1), (1, 3), (2, 5).
  auto x = vec<double>({0, 1, 2}), y = vec<double>({1, 3, 5}), sigma = vec<double>({1, 1, 1});
  orv::MArray<double, 1> coef(orv::Range(0, 1));
  EXPECT_NEAR(poly(x, y, sigma, coef, 1, 3), 0.0, 1e-20);
  EXPECT_NEAR(coef(0), 2.0, 1e-14);
  EXPECT_NEAR(coef(1), 1.0, 1e-14);

  // A cubic through 12 points with varying σ: coef(0) multiplies x³.
  const double c[] = {0.5, -1.25, 0.75, 2.0};  // constant, x, x², x³
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  orv::MArray<double, 1> xs(12), ys(12), ss(12);
  for (int i = 1; i <= 12; ++i) {
    xs(i) = u(gen);
    ys(i) = c[0] + xs(i) * (c[1] + xs(i) * (c[2] + xs(i) * c[3]));
    ss(i) = 0.5 + i * 0.1;
  }
  orv::MArray<double, 1> cubic(orv::Range(0, 3));
  EXPECT_NEAR(poly(xs, ys, ss, cubic, 3, 12), 0.0, 1e-20);
  for (int k = 0; k <= 3; ++k) EXPECT_NEAR(cubic(3 - k), c[k], 1e-10) << k;
  // Only the first n points take part.
  ys(12) += 100;
  EXPECT_NEAR(poly(xs, ys, ss, cubic, 3, 11), 0.0, 1e-20);
  EXPECT_NEAR(cubic(0), c[3], 1e-10);
}

TEST(Poly, ResultIsTheMeanSquaredWeightedResidual) {
  // A constant through 0, 0, 5: c = 5/3 and χ² = 16.666666666666668; the
  // result is χ² times 1/N, which here differs in the last bit from χ²/N.
  auto x = vec<double>({1, 2, 3}), y = vec<double>({0, 0, 5}), sigma = vec<double>({1, 1, 1});
  orv::MArray<double, 1> coef(orv::Range(0, 0));
  EXPECT_EQ(poly(x, y, sigma, coef, 0, 3), (1.0 / 3.0) * 16.666666666666668);
  EXPECT_EQ(coef(0), 5.0 * (1.0 / 3.0));
}

TEST(Poly, SingularSystemIsReported) {
  // Every x the same: a straight line is undetermined.
  auto x = vec<double>({2, 2, 2}), y = vec<double>({1, 2, 3}), sigma = vec<double>({1, 1, 1});
  orv::MArray<double, 1> coef(orv::Range(0, 1));
  coef = 9.0;
  EXPECT_EQ(poly(x, y, sigma, coef, 1, 3), -1.0);
  EXPECT_EQ(coef(0), 0.0);
  EXPECT_EQ(coef(1), 0.0);
}

// Exact surfaces of order 2 recovered by every surface fit in its term order.
TEST(Surface, RecoverCoefficientsInTermOrder) {
  std::mt19937 gen(3);
  std::uniform_int_distribution<int> u(-6, 6);
  const int n = 40;
  std::vector<double> xv(n), yv(n), sv(n);
  for (int i = 0; i < n; ++i) {
    xv[i] = u(gen);
    yv[i] = u(gen);
    sv[i] = 1 + (i % 4) * 0.5;
  }
  // All products, order 2: coefficient of x^jx·y^jy at jy·3 + jx + 1.
  std::vector<double> full(9);
  for (int t = 0; t < 9; ++t) full[t] = 0.25 * (t + 1) * (t % 2 ? -1 : 1);
  // Total degree 2: 1, x, x², y, x·y, y².
  const std::vector<double> tri = {1.5, -2.0, 0.25, 3.0, -0.5, 0.75};
  const int triJx[] = {0, 1, 2, 0, 1, 0}, triJy[] = {0, 0, 0, 1, 1, 2};
  std::vector<double> zFull(n), zTri(n);
  for (int i = 0; i < n; ++i) {
    zFull[i] = zTri[i] = 0;
    for (int jy = 0; jy <= 2; ++jy)
      for (int jx = 0; jx <= 2; ++jx)
        zFull[i] += full[jy * 3 + jx] * std::pow(xv[i], jx) * std::pow(yv[i], jy);
    for (int t = 0; t < 6; ++t) zTri[i] += tri[t] * std::pow(xv[i], triJx[t]) * std::pow(yv[i], triJy[t]);
  }
  auto x = vec<double>(xv), y = vec<double>(yv), s = vec<double>(sv), z = vec<double>(zFull);
  auto xf = vec<float>(xv), yf = vec<float>(yv), sf = vec<float>(sv), zf = vec<float>(zFull);

  struct Case {
    const char* what;
    orv::MArray<double, 1> coef;
    int status;
  };
  Case cases[] = {{"weighted double", {}, 0},
                  {"unweighted double", {}, 0},
                  {"weighted float", {}, 0},
                  {"unweighted float", {}, 0}};
  cases[0].status = poly2d(x, y, z, s, 2, cases[0].coef);
  cases[1].status = poly2d(x, y, z, 2, cases[1].coef);
  cases[2].status = poly2d(xf, yf, zf, sf, 2, cases[2].coef);
  cases[3].status = poly2d(xf, yf, zf, 2, cases[3].coef);
  for (const Case& k : cases) {
    EXPECT_EQ(k.status, 0) << k.what;
    ASSERT_EQ(k.coef.first(1), 1) << k.what;
    ASSERT_EQ(k.coef.length(1), 9) << k.what;
    for (int t = 0; t < 9; ++t) EXPECT_NEAR(k.coef(t + 1), full[t], 1e-9) << k.what << " term " << t;
  }

  auto zt = vec<double>(zTri);
  orv::MArray<double, 1> coef(2);  // replaced by a fresh array of 6
  EXPECT_EQ(poly2d_nomix(x, y, zt, s, 2, coef), 0);
  ASSERT_EQ(coef.length(1), 6);
  for (int t = 0; t < 6; ++t) EXPECT_NEAR(coef(t + 1), tri[t], 1e-10) << t;

  // Order 1: four all-product terms (1, x, y, x·y), three of total degree (1, x, y).
  orv::MArray<double, 1> c4, c3;
  EXPECT_EQ(poly2d(x, y, z, 1, c4), 0);
  EXPECT_EQ(poly2d_nomix(x, y, z, s, 1, c3), 0);
  EXPECT_EQ(c4.length(1), 4);
  EXPECT_EQ(c3.length(1), 3);
}

TEST(Surface, SingularSystemAndSinglePrecisionTerms) {
  // All points at one place: singular, but the output is still a fresh array.
  auto x = vec<double>({1, 1, 1, 1}), y = vec<double>({2, 2, 2, 2}), z = vec<double>({1, 2, 3, 4});
  auto s = vec<double>({1, 1, 1, 1});
  orv::MArray<double, 1> coef;
  EXPECT_EQ(poly2d(x, y, z, s, 1, coef), -1);
  EXPECT_EQ(coef.length(1), 4);
  EXPECT_EQ(poly2d_nomix(x, y, z, s, 1, coef), -1);
  EXPECT_EQ(coef.length(1), 3);

  // Near 4097 the product x·y is not a float; the float form forms it in
  // single precision and so sees other terms than the double form.
  std::vector<double> xv, yv, zv;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      xv.push_back(4097 + 2 * i);
      yv.push_back(4097 + 2 * j);
      zv.push_back(i + 3.0 * j + i * j);
    }
  orv::MArray<double, 1> viaDouble, viaFloat;
  poly2d(vec<double>(xv), vec<double>(yv), vec<double>(zv), 1, viaDouble);
  poly2d(vec<float>(xv), vec<float>(yv), vec<float>(zv), 1, viaFloat);
  bool differ = false;
  for (int t = 1; t <= 4; ++t) differ = differ || viaDouble(t) != viaFloat(t);
  EXPECT_TRUE(differ);
}

}  // namespace
