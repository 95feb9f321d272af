#include "numerics/special_functions.h"

#include <cmath>
#include <iostream>

namespace {

constexpr int kMaxIterations = 100;  // terms of the series, steps of the fraction
constexpr double kEpsilon = 3e-7;    // relative size of the last term at convergence
constexpr double kTiny = 1e-30;      // stands in for a zero denominator in the fraction

// x^a e^-x / Γ(a), the common factor of the series and the fraction.
double gammaPrefactor__(double a, double x, double gln) { return std::exp(std::log(x) * a - x - gln); }

}  // namespace

double gammln(double xx) {
  static const double cof[6] = {76.18009172947146,  -86.50532032941677,    24.01409824083091,
                                -1.231739572450155, 0.1208650973866179e-2, -0.5395239384953e-5};
  const double x = xx;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  double y = x;
  for (double c : cof) ser += c / ++y;
  return std::log(2.5066282746310005 * ser / x) - tmp;
}

void gser(double& gamser, double a, double x, double& gln) {
  gln = gammln(a);
  if (x <= 0.0) {
    if (x < 0.0) std::cerr << "x less than 0 in routine gser" << std::endl;
    gamser = 0.0;
    return;
  }
  double ap = a;
  double del = 1.0 / a;
  double sum = del;
  for (int n = 1; n <= kMaxIterations; ++n) {
    ap += 1.0;
    del *= x / ap;
    sum += del;
    if (std::fabs(del) < std::fabs(sum) * kEpsilon) {
      gamser = sum * gammaPrefactor__(a, x, gln);
      return;
    }
  }
  // Not converged: the caller still gets the value of the partial sum, not
  // whatever its variable held.
  std::cerr << "a too large, ITMAX too small in routine gser" << std::endl;
  gamser = sum * gammaPrefactor__(a, x, gln);
}

void gcf(double& gammcf, double a, double x, double& gln) {
  gln = gammln(a);
  double b = x + 1.0 - a;
  double c = 1.0 / kTiny;
  double d = 1.0 / b;
  double h = d;
  bool converged = false;
  for (int i = 1; i <= kMaxIterations && !converged; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    converged = std::fabs(del - 1.0) < kEpsilon;
  }
  if (!converged) std::cerr << "a too large, ITMAX too small in gcf" << std::endl;
  gammcf = gammaPrefactor__(a, x, gln) * h;
}

namespace {

// P(a, x) and Q(a, x): the series below a + 1, the continued fraction from
// there on, each giving one of them directly and the other as its complement.
// `routine` names the caller in the message about invalid arguments.
void incompleteGamma__(double a, double x, const char* routine, double& p, double& q) {
  if (x < 0.0 || a <= 0.0) std::cerr << "Invalid arguments in routine " << routine << std::endl;
  double gln = 0.0;
  if (x < a + 1.0) {
    gser(p, a, x, gln);
    q = 1.0 - p;
  } else {
    gcf(q, a, x, gln);
    p = 1.0 - q;
  }
}

}  // namespace

double gammp(double a, double x) {
  double p = 0.0;
  double q = 0.0;
  incompleteGamma__(a, x, "gammp", p, q);
  return p;
}

double gammq(double a, double x) {
  double p = 0.0;
  double q = 0.0;
  incompleteGamma__(a, x, "gammq", p, q);
  return q;
}

// The polynomial approximations below are those of Abramowitz and Stegun,
// formulas 9.8.1 to 9.8.8, in Horner form.

double bessi0(double x) {
  const double ax = std::fabs(x);
  if (ax > 700.0) return 1e300;
  if (ax < 3.75) {
    double y = x / 3.75;
    y *= y;
    return 1.0 +
           y * (3.5156229 +
                y * (3.0899424 + y * (1.2067492 + y * (0.2659732 + y * (0.360768e-1 + y * 0.45813e-2)))));
  }
  const double y = 3.75 / ax;
  return (std::exp(ax) / std::sqrt(ax)) *
         (0.39894228 +
          y * (0.1328592e-1 +
               y * (0.225319e-2 +
                    y * (-0.157565e-2 +
                         y * (0.916281e-2 +
                              y * (-0.2057706e-1 +
                                   y * (0.2635537e-1 + y * (-0.1647633e-1 + y * 0.392377e-2))))))));
}

double bessi1(double x) {
  const double ax = std::fabs(x);
  double ans = 0.0;
  if (ax < 3.75) {
    double y = x / 3.75;
    y *= y;
    ans = ax * (0.5 + y * (0.87890594 +
                           y * (0.51498869 +
                                y * (0.15084934 + y * (0.2658733e-1 + y * (0.301532e-2 + y * 0.32411e-3))))));
  } else {
    const double y = 3.75 / ax;
    ans = 0.2282967e-1 + y * (-0.2895312e-1 + y * (0.1787654e-1 - y * 0.420059e-2));
    ans = 0.39894228 +
          y * (-0.3988024e-1 + y * (-0.362018e-2 + y * (0.163801e-2 + y * (-0.1031555e-1 + y * ans))));
    ans *= std::exp(ax) / std::sqrt(ax);
  }
  return x < 0.0 ? -ans : ans;
}

double bessk0(double x) {
  if (x <= 2.0) {
    const double y = x * x / 4.0;
    return (-std::log(x / 2.0) * bessi0(x)) +
           (-0.57721566 +
            y * (0.42278420 +
                 y * (0.23069756 + y * (0.3488590e-1 + y * (0.262698e-2 + y * (0.10750e-3 + y * 0.74e-5))))));
  }
  const double y = 2.0 / x;
  return (std::exp(-x) / std::sqrt(x)) *
         (1.25331414 +
          y * (-0.7832358e-1 +
               y * (0.2189568e-1 +
                    y * (-0.1062446e-1 + y * (0.587872e-2 + y * (-0.251540e-2 + y * 0.53208e-3))))));
}

double bessk1(double x) {
  if (x <= 2.0) {
    const double y = x * x / 4.0;
    return (std::log(x / 2.0) * bessi1(x)) +
           (1.0 / x) *
               (1.0 +
                y * (0.15443144 +
                     y * (-0.67278579 +
                          y * (-0.18156897 + y * (-0.1919402e-1 + y * (-0.110404e-2 + y * (-0.4686e-4)))))));
  }
  const double y = 2.0 / x;
  return (std::exp(-x) / std::sqrt(x)) *
         (1.25331414 +
          y * (0.23498619 +
               y * (-0.3655620e-1 +
                    y * (0.1504268e-1 + y * (-0.780353e-2 + y * (0.325614e-2 + y * (-0.68245e-3)))))));
}
