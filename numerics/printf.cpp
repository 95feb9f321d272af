#include "numerics/printf.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// 10^k as the double nearest to it: exact up to 10^22, correctly rounded
// beyond; for negative k the reciprocal of 10^-k.
double powerOfTen(long long k) {
  if (k > 400) return HUGE_VAL;  // beyond the double range either way
  if (k < 0) return 1.0 / powerOfTen(-k);
  if (k <= 22) {
    double p = 1.0;
    for (int i = 0; i < k; ++i) p *= 10.0;
    return p;
  }
  char text[16];
  std::snprintf(text, sizeof text, "1e%lld", k);
  return std::strtod(text, nullptr);
}

void put(std::ostream& os, std::ios_base::fmtflags notation, long long precision, long long fieldWidth,
         double value) {
  os.setf(notation, std::ios_base::floatfield);
  os.precision(static_cast<std::streamsize>(precision));
  os.width(static_cast<std::streamsize>(fieldWidth));
  os << value;
}

// The rules shared by printF and dia_printF; tinyPrecision is the general
// precision for a number too small to show with the asked decimals.
std::ostream& writeFixedWidth(std::ostream& os, int width, int precision, double value, int lead,
                              int tinyPrecision) {
  const std::ios_base::fmtflags fixed = std::ios_base::fixed;
  const std::ios_base::fmtflags scientific = std::ios_base::scientific;
  const std::ios_base::fmtflags general = std::ios_base::fmtflags(0);

  // Columns of the number's field and room for its digits without a sign;
  // formed in long long so that no combination of arguments overflows.
  const long long n = static_cast<long long>(width) - lead;
  const long long b = value < 0.0 ? n - 1 : n;
  const double a = std::fabs(value);
  const long long p = precision;

  for (int i = 0; i < lead; ++i) os << ' ';

  if (b < 4) {
    // No number fits: mark the column instead.
    os << ' ';
    for (long long i = 0; i < b; ++i) os << '#';
  } else if (b == 4) {
    int decimals = 0;
    if (a >= powerOfTen(-1) && a < powerOfTen(1))
      decimals = 1;
    else if (a >= powerOfTen(-2) && a < powerOfTen(-1))
      decimals = 2;
    put(os, fixed, decimals, n, value);
  } else if (p == 0) {
    const double limit = powerOfTen(b);
    if (a >= limit)
      put(os, general, b - 5, n, value);
    else if (a == 0.0 || (a > 1.0 && a < limit))
      put(os, fixed, 0, n, value);
    else if (a > 0.0 && a <= 1.0)
      put(os, general, 0, n, value);
    else  // NaN: no comparison holds
      put(os, general, b - 5, n, value);
  } else {
    if (a >= powerOfTen(b - p - 1))
      put(os, scientific, b - 6, n, value);
    else if (a == 0.0 || a > powerOfTen(-p))
      put(os, fixed, p, n, value);
    else
      put(os, general, tinyPrecision, n, value);
  }

  os.unsetf(std::ios_base::floatfield);
  return os;
}

}  // namespace

printF::printF(int width, int precision, double value, int lead)
    : width(width), precision(precision), value(value), lead(lead) {}

std::ostream& printF::operator()(std::ostream& os) const {
  return writeFixedWidth(os, width, precision, value, lead, precision);
}

dia_printF::dia_printF(int width, int precision, double value, int lead)
    : width(width), precision(precision), value(value), lead(lead) {}

std::ostream& dia_printF::operator()(std::ostream& os) const {
  return writeFixedWidth(os, width, precision, value, lead, 0);
}

std::ostream& operator<<(std::ostream& os, const printF& formatter) { return formatter(os); }

std::ostream& operator<<(std::ostream& os, const dia_printF& formatter) { return formatter(os); }
