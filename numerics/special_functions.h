#ifndef NUMERICS_SPECIAL_FUNCTIONS_H
#define NUMERICS_SPECIAL_FUNCTIONS_H

// Special functions in double precision: the logarithm of the gamma function,
// the regularised incomplete gamma functions and the modified Bessel
// functions of orders 0 and 1. Problems are reported by a line on standard
// error; every routine goes on and returns a value.

// ln Γ(xx) for xx > 0 by the Lanczos approximation (relative error of Γ
// below 2e-10).
double gammln(double xx);

// P(a, x) by its series into gamser, ln Γ(a) into gln (written first). Best
// for x < a + 1. x < 0 gives 0 with a message; without convergence in 100
// terms the partial sum is used, with a message.
void gser(double& gamser, double a, double x, double& gln);

// Q(a, x) by its continued fraction (modified Lentz method) into gammcf,
// ln Γ(a) into gln (written first). Best for x ≥ a + 1. Without convergence
// in 100 steps the last approximation is used, with a message.
void gcf(double& gammcf, double a, double x, double& gln);

// The regularised lower incomplete gamma function P(a, x) and its complement
// Q(a, x) = 1 - P(a, x), for a > 0 and x ≥ 0 (other arguments give a message
// and are computed all the same).
double gammp(double a, double x);
double gammq(double a, double x);

// Modified Bessel functions by polynomial approximations (relative error
// about 1e-7 and below). bessi0 returns 1e300 for |x| > 700; bessk0 and
// bessk1 need x > 0.
double bessi0(double x);
double bessi1(double x);
double bessk0(double x);
double bessk1(double x);

#endif
