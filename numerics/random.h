#ifndef NUMERICS_RANDOM_H
#define NUMERICS_RANDOM_H

// Random numbers from Knuth's subtractive generator: a table of 55 integers in
// 0 .. 999999999, each draw replacing one entry by its difference to the
// entry 31 places ahead (modulo 10^9). The table is built from a seed with
// the constant 161803398; seeds s and -s give the same stream.
//
// Two shapes: free functions whose state is hidden in the function (ran3 and
// ran5 are two separate streams) and which take the seed variable by
// reference, and small classes that carry the state and are seeded once.

// Uniform deviate in [0, 1). A negative idum, or the first call of the
// process whatever idum holds, seeds the stream from idum and sets idum to 1;
// later calls with a non-negative idum continue the stream.
double ran3(long& idum);

// The same algorithm with a state of its own, independent of ran3.
double ran5(long& idum);

// Uniform deviate in (-1, 1): a ran3 draw, negated when a second ran3 draw is
// at least 0.5.
double ranpm(long& idum);

// Exponential deviate of mean 1, -ln u with u drawn from ran5 (u = 0 redrawn).
double ranexp(long& idum);

// Gaussian deviate of mean 0 and standard deviation 1 by the polar method on
// pairs of ran3 draws. One deviate per call; the second of the pair is dropped.
double rangau(long& idum);

// Deviate in [0, pi/2) with density proportional to sin x, by rejection on
// pairs of ran3 draws.
double ransin(long& idum);

// One generator state, seeded at construction. Copies go on with the same
// sequence as the original.
class C_ran3 {
 public:
  explicit C_ran3(long seed);

  // Uniform deviate in [0, 1): the next table entry divided by 1e9.
  double eval();

  int inext;    // entry to be replaced next, 1..55
  int inextp;   // its partner, 31 places ahead
  long ma[56];  // the table; entry 0 unused
};

// Gaussian deviates by the polar method, the two coordinates of each pair
// taken from two generators seeded with seed and seed - 3.
class C_rangau {
 public:
  explicit C_rangau(long seed);

  double eval();

  C_ran3 gen1;
  C_ran3 gen2;
};

// Uniform deviates in [lo, hi).
class C_ranivl {
 public:
  C_ranivl(double lo, double hi, long seed);

  double eval();

  double lo;
  double hi;
  double width;  // hi - lo
  C_ran3 gen;
};

#endif
