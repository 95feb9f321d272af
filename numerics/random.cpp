#include "numerics/random.h"

#include <cmath>

namespace {

constexpr long kModulus = 1000000000;
constexpr long kSeedConstant = 161803398;

// |161803398 - |seed|| modulo 10^9. |seed| is taken in unsigned arithmetic,
// which holds the magnitude of every long, the most negative one included.
long seedValue__(long seed) {
  const unsigned long magnitude =
      seed < 0 ? 0UL - static_cast<unsigned long>(seed) : static_cast<unsigned long>(seed);
  const unsigned long constant = kSeedConstant;
  const unsigned long distance = magnitude >= constant ? magnitude - constant : constant - magnitude;
  return static_cast<long>(distance % kModulus);
}

// Fills the table from the seed, then warms it up by four passes of
// differences; the next draw replaces entry 1 with partner 32.
void seedTable__(long seed, long* ma, int& inext, int& inextp) {
  long mj = seedValue__(seed);
  ma[55] = mj;
  long mk = 1;
  for (int i = 1; i <= 54; ++i) {
    const int ii = (21 * i) % 55;
    ma[ii] = mk;
    mk = mj - mk;
    if (mk < 0) mk += kModulus;
    mj = ma[ii];
  }
  for (int pass = 1; pass <= 4; ++pass) {
    for (int i = 1; i <= 55; ++i) {
      ma[i] -= ma[1 + (i + 30) % 55];
      if (ma[i] < 0) ma[i] += kModulus;
    }
  }
  inext = 0;
  inextp = 31;
}

// One step of the generator: the new table entry, in 0 .. 999999999.
long drawInteger__(long* ma, int& inext, int& inextp) {
  if (++inext == 56) inext = 1;
  if (++inextp == 56) inextp = 1;
  long mj = ma[inext] - ma[inextp];
  if (mj < 0) mj += kModulus;
  ma[inext] = mj;
  return mj;
}

// The state behind one free-function stream.
struct HiddenState {
  long ma[56] = {};
  int inext = 0;
  int inextp = 0;
  int iff = 0;  // 0 until the first initialisation

  double draw(long& idum) {
    if (idum < 0 || iff == 0) {
      seedTable__(idum, ma, inext, inextp);
      iff = 1;
      idum = 1;
    }
    return static_cast<double>(drawInteger__(ma, inext, inextp)) * 1e-9;
  }
};

// The polar method: a point (a, b) uniform in the square, redrawn until it
// lies strictly inside the unit circle and off the origin.
template <typename DrawFirst, typename DrawSecond>
double polarGauss__(DrawFirst drawFirst, DrawSecond drawSecond) {
  double a = 0.0;
  double r = 0.0;
  do {
    a = 2.0 * drawFirst() - 1.0;
    const double b = 2.0 * drawSecond() - 1.0;
    r = a * a + b * b;
  } while (r >= 1.0 || r == 0.0);
  return a * std::sqrt(-2.0 * std::log(r) / r);
}

}  // namespace

double ran3(long& idum) {
  static HiddenState state;
  return state.draw(idum);
}

double ran5(long& idum) {
  static HiddenState state;
  return state.draw(idum);
}

double ranpm(long& idum) {
  const double x = ran3(idum);
  const double s = ran3(idum);
  return s < 0.5 ? x : -x;
}

double ranexp(long& idum) {
  double u = 0.0;
  do {
    u = ran5(idum);
  } while (u == 0.0);
  return -std::log(u);
}

double rangau(long& idum) {
  auto draw = [&idum] { return ran3(idum); };
  return polarGauss__(draw, draw);
}

double ransin(long& idum) {
  // Not the nearest double to pi: this 15-digit value is part of the
  // generated distribution.
  const double pi15 = 3.14159265358979;
  double u1 = 0.0;
  double x = 0.0;
  do {
    u1 = ran3(idum);
    const double u2 = ran3(idum);
    x = pi15 * u2 * 0.5;
  } while (std::sin(x) < u1);
  return x;
}

C_ran3::C_ran3(long seed) { seedTable__(seed, ma, inext, inextp); }

double C_ran3::eval() { return static_cast<double>(drawInteger__(ma, inext, inextp)) / 1e9; }

// seed - 3 wraps around for the most negative seed instead of overflowing.
C_rangau::C_rangau(long seed) : gen1(seed), gen2(static_cast<long>(static_cast<unsigned long>(seed) - 3UL)) {}

double C_rangau::eval() {
  return polarGauss__([this] { return gen1.eval(); }, [this] { return gen2.eval(); });
}

C_ranivl::C_ranivl(double lo, double hi, long seed) : lo(lo), hi(hi), width(hi - lo), gen(seed) {}

double C_ranivl::eval() { return lo + width * gen.eval(); }
