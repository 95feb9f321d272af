#ifndef NUMERICS_SPLINE_H
#define NUMERICS_SPLINE_H

// Interpolating cubic splines through tabulated points, in one dimension and
// over a rectangular grid.
//
// A knot table is xa (strictly increasing), ya and y2a over the index range of
// xa (its first to its last index); ya and y2a are addressed with the same
// indices. A grid is x1a over the first dimension, x2a over the second, and
// ya(j, k), y2a(j, k) over the index ranges of ya. An end derivative above
// 9.9e29 stands for the natural condition (zero second derivative); callers
// pass 1e30.
//
// Status results: the set-up routines return 0, or non-zero when a table has
// fewer than two knots (nothing is written then) or two neighbouring knots
// coincide (the table is then not finite). The evaluation routines return 1
// for every evaluation whose bracketing knots coincide (the value is then not
// finite), and 1 with a NaN value when a table has fewer than two knots; the
// two-dimensional routines return the sum over their inner steps. Nothing here
// prints or throws.

#include <vector>

#include "orv/marray.h"

// Second derivatives y2a of the cubic spline through (xa, ya) with end
// derivatives yp1 and ypn (> 9.9e29: natural end). y2a must be sized to the
// knot range already.
int spline(const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya, double yp1, double ypn,
           orv::MArray<double, 1>& y2a);

// y = spline value at x, found by bisection; outside the table the end
// interval's cubic is extrapolated.
int splint(double& y, double x, const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya,
           const orv::MArray<double, 1>& y2a);

// Natural second derivatives along the second dimension for every row j of
// the grid, into y2a (sized like ya).
int splie2(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
           const orv::MArray<double, 2>& ya, orv::MArray<double, 2>& y2a);

// y = bicubic spline value at (x1, x2): a row spline value at x2 for every
// knot row, then a natural spline through those values evaluated at x1.
int splin2(double& y, double x1, double x2, const orv::MArray<double, 1>& x1a,
           const orv::MArray<double, 1>& x2a, const orv::MArray<double, 2>& ya,
           const orv::MArray<double, 2>& y2a);

// The names under which the sky program calls the splines.
int sc_splie(const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya, orv::MArray<double, 1>& y2a);
int sc_splin(double& y, double x, const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya,
             const orv::MArray<double, 1>& y2a);
int sc_splie2(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
              const orv::MArray<double, 2>& ya, orv::MArray<double, 2>& y2a);
int sc_splin2(double& y, double x1, double x2, const orv::MArray<double, 1>& x1a,
              const orv::MArray<double, 1>& x2a, const orv::MArray<double, 2>& ya,
              const orv::MArray<double, 2>& y2a);

// Bicubic evaluation along one line of constant x2, such as an image row.
// setRow(x2) does the part of splin2 that depends on x2 only (a row spline
// value at x2 for every knot row, and the natural spline through them); each
// value(y, x1) then costs a single one-dimensional evaluation. The value and
// status of value(y, x1) after setRow(x2) are exactly those of
// splin2(y, x1, x2, ...) with the same arrays. The evaluator shares the
// arrays' storage; it must not be used after their elements change.
class BicubicSplineRow {
 public:
  BicubicSplineRow(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
                   const orv::MArray<double, 2>& ya, const orv::MArray<double, 2>& y2a);
  BicubicSplineRow(const BicubicSplineRow&) = delete;
  BicubicSplineRow& operator=(const BicubicSplineRow&) = delete;

  // Prepares the line x2; returns the status of this stage.
  int setRow(double x2);
  // y = value at (x1, x2 of the last setRow); returns the row stage's status
  // plus that of this evaluation. Before any setRow: NaN and 1.
  int value(double& y, double x1) const;

  // Fixes n positions x1 (such as the pixel columns of an image) for values():
  // their knot intervals and weights are found once, not per line.
  void setPositions(const double* x1, int n);
  // For every fixed position i: y[i] and status[i] exactly as value(y[i], x1[i])
  // gives them on the line of the last setRow.
  void values(double* y, int* status) const;

 private:
  orv::MArray<double, 1> x1a_, x2a_;
  orv::MArray<double, 2> ya_, y2a_;
  bool usable_;
  bool rowSet_ = false;
  int rowStatus_ = 0;
  std::vector<double> rowValues_, rowSecondDerivs_, work_;
  // The fixed positions: interval ends, weights and the status of each.
  std::vector<int> posLo_, posHi_, posStatus_;
  std::vector<double> posA_, posB_, posA3a_, posB3b_, posH2_;
};

#endif
