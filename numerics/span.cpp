#include "numerics/span.h"

#include <climits>
#include <cmath>

orv::MArray<double, 1> span(double a, double b, int n) {
  if (n <= 0) return orv::MArray<double, 1>(0);
  orv::MArray<double, 1> values(n);
  values(1) = a;
  if (n > 2) {
    const double step = (b - a) / (n - 1);
    for (int i = 2; i < n; ++i) values(i) = a + (i - 1) * step;
  }
  values(n) = b;
  return values;
}

namespace {

// Truncation toward zero into int. The float step can carry an inner element a
// hair past an end that lies at the limit of int; such values are held at the
// limit instead of overflowing the conversion.
int truncateToInt(double x) {
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(x);
}

}  // namespace

orv::MArray<int, 1> span(int a, int b, int n) {
  if (n <= 0) return orv::MArray<int, 1>(0);
  orv::MArray<int, 1> values(n);
  values(1) = a;
  if (n > 2) {
    const float step = static_cast<float>((static_cast<double>(b) - a) / (n - 1));
    for (int i = 2; i < n; ++i) values(i) = truncateToInt((i - 1) * static_cast<double>(step) + a);
  }
  values(n) = b;
  return values;
}
