#include "numerics/polyfit.h"

#include <cmath>
#include <vector>

#include "numerics/linsolve.h"

namespace {

// x^e by repeated multiplication in the type T; e = 0 gives 1, also for x = 0.
template <typename T>
T intPower(T x, int e) {
  T result = 1;
  for (int k = 0; k < e; ++k) result *= x;
  return result;
}

int pointCount(const orv::MArray<double, 1>& a) { return a.isEmpty() ? 0 : a.last(1); }
int pointCount(const orv::MArray<float, 1>& a) { return a.isEmpty() ? 0 : a.last(1); }

// Least-squares surface through points 1..nPoints. termsAt(i, t) fills the
// term vector t[1..nTerms] of point i; pointAt(i, z, w) gives its value z and
// its weight divisor w = σ². Forms the normal equations, solves them with
// gaussj and makes coef a fresh array of the nTerms coefficients (base 1),
// written also when the system is singular. Returns the gaussj status.
template <typename TermsAt, typename PointAt>
int fitSurface(int nPoints, int nTerms, TermsAt termsAt, PointAt pointAt, orv::MArray<double, 1>& coef) {
  orv::MArray<double, 2> normal(nTerms, nTerms, false);
  orv::MArray<double, 1> rhs(nTerms, false);
  for (int r = 1; r <= nTerms; ++r) {
    rhs(r) = 0.0;
    for (int c = 1; c <= nTerms; ++c) normal(r, c) = 0.0;
  }
  std::vector<double> t(nTerms + 1);
  for (int i = 1; i <= nPoints; ++i) {
    termsAt(i, t);
    double z = 0.0;
    double w = 0.0;
    pointAt(i, z, w);
    for (int r = 1; r <= nTerms; ++r) {
      for (int c = 1; c <= nTerms; ++c) normal(r, c) += t[r] * t[c] / w;
      rhs(r) += t[r] * z / w;
    }
  }
  int status = gaussj(normal, nTerms, rhs);
  coef.makeReference(rhs);
  return status;
}

// Terms x^jx·y^jy, jy outer and jx inner, jx up to jxMax(jy); powers and their
// products in the type T, then widened to double.
template <typename T, typename JxMax>
void surfaceTerms(T x, T y, int order, JxMax jxMax, std::vector<double>& t) {
  int pos = 1;
  for (int jy = 0; jy <= order; ++jy) {
    T yPower = intPower(y, jy);
    for (int jx = 0; jx <= jxMax(jy); ++jx) {
      T term = intPower(x, jx) * yPower;
      t[pos++] = static_cast<double>(term);
    }
  }
}

// The all-products surface of order n for double or float data; sigma null
// means σ = 1 for every point. σ² is formed in the data's type.
template <typename T>
int poly2dAllProducts(const orv::MArray<T, 1>& x, const orv::MArray<T, 1>& y, const orv::MArray<T, 1>& z,
                      const orv::MArray<T, 1>* sigma, int order, orv::MArray<double, 1>& coef) {
  int m = order + 1;
  int nTerms = order < 0 ? 0 : m * m;
  auto fullRow = [order](int) { return order; };
  return fitSurface(
      pointCount(x), nTerms,
      [&](int i, std::vector<double>& t) { surfaceTerms<T>(x(i), y(i), order, fullRow, t); },
      [&](int i, double& value, double& w) {
        value = static_cast<double>(z(i));
        T s = sigma ? (*sigma)(i) : T(1);
        w = static_cast<double>(s * s);
      },
      coef);
}

}  // namespace

int fitconst(orv::MArray<double, 1>& y, orv::MArray<double, 1>& sigma, double& c, double& error,
             double& scatter) {
  int n = pointCount(y);
  double weightSum = 0.0;
  double weightedValues = 0.0;
  int used = 0;
  for (int i = 1; i <= n; ++i) {
    if (sigma(i) > 0.0) {
      double variance = sigma(i) * sigma(i);
      weightSum += 1.0 / variance;
      weightedValues += y(i) / variance;
      ++used;
    }
  }
  if (used == 0) {
    c = error = scatter = 0.0;
    return -1;
  }
  c = weightedValues / weightSum;
  error = std::sqrt(1.0 / weightSum);
  if (used == 1) {
    scatter = 0.0;
    return 0;
  }
  double chi2 = 0.0;
  for (int i = 1; i <= n; ++i) {
    if (sigma(i) > 0.0) {
      double d = (y(i) - c) / sigma(i);
      chi2 += d * d;
    }
  }
  scatter = std::sqrt(chi2 / (used - 1));
  return 0;
}

double poly(orv::MArray<double, 1> x, orv::MArray<double, 1> y, orv::MArray<double, 1> sigma,
            orv::MArray<double, 1>& coef, int order, int n) {
  int m = order + 1;
  for (int k = 0; k <= order; ++k) coef(k) = 0.0;
  int size = order < 0 ? 0 : m;
  orv::MArray<double, 2> normal(size, size, false);
  orv::MArray<double, 1> rhs(size, false);
  for (int j = 1; j <= size; ++j) {
    rhs(j) = 0.0;
    for (int k = 1; k <= size; ++k) normal(j, k) = 0.0;
  }
  for (int i = 1; i <= n; ++i) {
    double w = sigma(i) * sigma(i);
    for (int j = 0; j < size; ++j) {
      for (int k = 0; k < size; ++k) normal(j + 1, k + 1) += intPower(x(i), j + k) / w;
      rhs(j + 1) += intPower(x(i), j) * y(i) / w;
    }
  }
  // A singular system gives no coefficients: they stay 0 and the result says so.
  if (gaussj(normal, size, rhs) != 0) return -1.0;
  for (int k = 0; k <= order; ++k) coef(order - k) = rhs(k + 1);

  double chi2 = 0.0;
  for (int i = 1; i <= n; ++i) {
    double p = 0.0;
    for (int k = 0; k <= order; ++k) p += coef(order - k) * intPower(x(i), k);
    double d = (y(i) - p) / sigma(i);
    chi2 += d * d;
  }
  return (1.0 / n) * chi2;
}

int poly2d(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
           const orv::MArray<double, 1>& sigma, int order, orv::MArray<double, 1>& coef) {
  return poly2dAllProducts(x, y, z, &sigma, order, coef);
}

int poly2d(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, const orv::MArray<double, 1>& z,
           int order, orv::MArray<double, 1>& coef) {
  return poly2dAllProducts<double>(x, y, z, nullptr, order, coef);
}

int poly2d(const orv::MArray<float, 1>& x, const orv::MArray<float, 1>& y, const orv::MArray<float, 1>& z,
           const orv::MArray<float, 1>& sigma, int order, orv::MArray<double, 1>& coef) {
  return poly2dAllProducts(x, y, z, &sigma, order, coef);
}

int poly2d(const orv::MArray<float, 1>& x, const orv::MArray<float, 1>& y, const orv::MArray<float, 1>& z,
           int order, orv::MArray<double, 1>& coef) {
  return poly2dAllProducts<float>(x, y, z, nullptr, order, coef);
}

int poly2d_nomix(const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y,
                 const orv::MArray<double, 1>& z, const orv::MArray<double, 1>& sigma, int order,
                 orv::MArray<double, 1>& coef) {
  int nTerms = order < 0 ? 0 : (order + 1) * (order + 2) / 2;
  auto triangle = [order](int jy) { return order - jy; };
  return fitSurface(
      pointCount(x), nTerms,
      [&](int i, std::vector<double>& t) { surfaceTerms<double>(x(i), y(i), order, triangle, t); },
      [&](int i, double& value, double& w) {
        value = z(i);
        w = sigma(i) * sigma(i);
      },
      coef);
}
