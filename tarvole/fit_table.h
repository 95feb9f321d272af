// Prints and coefficients shared by the sampling-grid fits of absorption and sky gradients.
#ifndef TARVOLE_FIT_TABLE_H
#define TARVOLE_FIT_TABLE_H

#include <ostream>
#include <string>

#include "orv/marray.h"
#include "tarvole/method_contract.h"
#include "tarvole/sampling_grid.h"

// One line per kept point: mR and mI, each in a field of 15 at precision 9.
void print_point_means(std::ostream& os, const SamplingPoints& pts);

// The unknowns of mI (1 + b3 dx + b4 dy) = b1 mR + b2 + b5 dx + b6 dy.
struct GradientModel {
  double b[7] = {};  // b[1]..b[6]
};

// The table header (with the nchi column when withChi), fixed notation, and one row for the
// iteration: b1, b2/b1, b5/b1, b6/b1, b3, b4 (and nchi), then "   " and outname.
void print_fit_table(std::ostream& os, int iteration, const GradientModel& m, bool withChi, double nchi,
                     const std::string& outname);

// gaussj(M, n, b), and a check that the system was not singular in all but rounding: the
// leading n × n block scaled to a unit diagonal must have a condition number (in the infinity
// norm, from the inverse gaussj leaves) below 1e12. A flat image, whose box means are all equal,
// makes the absorption and the sky columns proportional; rounding can hide that from the
// pivots and yield an arbitrary solution. Returns gaussj's status, or -1 for such a system.
int solve_normal_system(orv::MArray<double, 2>& M, int n, orv::MArray<double, 1>& b);

// Whether `points` sampling points can determine `unknowns` coefficients; when they cannot, the
// fit is failed with the cause ("no sampling point inside the image" when there is none).
bool enoughPoints(int points, int unknowns, Pliste& P);

// c = (1/b1, b2/b1, b5/b1, b6/b1, b3, b4).
void set_gradient_coefficients(orv::MArray<double, 1>& c, const GradientModel& m);

#endif
