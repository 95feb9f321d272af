// The fitting methods of the sky program and the table from which main chooses one per image.
//
// How a method plugs in:
//  1. Write it in its own file with the common signature below (I and eI may be taken const
//     when the method only reads them). It fills A and S (they arrive filled with blank), sets
//     all six coefficients c(1..6), and may set P.cx, P.cy, P.runs, P.abserr and P.skyerr.
//  2. When its fit fails (a singular system, no usable sampling point, a spline that cannot be
//     built), it prints its message, leaves A, S and c as defined as it can, and sets
//     P.fit_failed = true. It never throws for a failed fit; main then still writes the image
//     and ends the run with status 1.
//  3. Fixed diagnostic files (in the working directory) and prefixed ones (put in front of the
//     file name part of P.outname) go into the row's `outputs`, so that main can refuse a run
//     that would overwrite an input before anything is written.
//  4. Fill in `call` (and `outputs`) of the method's row in fit_methods.cpp. A row whose call
//     is null ends the run with "not built" and status 1 before anything is written.
//  The sampling grid of boxes (sampling_grid.h) and the result stage (result_stage.h) are shared.
#ifndef TARVOLE_FIT_METHODS_H
#define TARVOLE_FIT_METHODS_H

#include <string>
#include <vector>

#include "orv/marray.h"
#include "tarvole/pliste.h"

using Image = orv::MArray<float, 2>;
using Coefficients = orv::MArray<double, 1>;

// Free absorption and plane sky from the sampling grid (the default method).
void fit_abs_sky(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                 Coefficients& c, Pliste& P);

// Everything a method may be given; main fills it once per image.
struct FitArguments {
  const Image& R;   // masked reference
  const Image& eR;  // masked error of the reference
  Image& I;         // masked image (difference imaging over stars rescales it in place)
  Image& eI;        // masked error of the image
  Image& A;         // absorption, filled with blank on entry
  Image& S;         // sky in reference units (A*B), filled with blank on entry
  const orv::MArray<double, 1>& starX;  // star positions (one element 0.0 without a table)
  const orv::MArray<double, 1>& starY;
  Coefficients& c;  // six coefficients, indices 1 to 6
  Pliste& P;
};

// One row of the choice table: the first row whose test holds wins.
struct MethodRow {
  int number;                        // 1..7, the row's place in the table
  const char* name;                  // the function it calls, for messages
  bool (*chosen)(const Pliste& P);   // the row's test on the option flags
  const char* announcement;          // printed with a line end before the call; null for none
  void (*call)(FitArguments& args);  // null while the method is not built
  // Adds the names of the diagnostic files the method writes for the current P.outname.
  void (*outputs)(const Pliste& P, std::vector<std::string>& names);
};

// The seven rows, in order.
const std::vector<MethodRow>& method_table();

// The row that the flags of P choose.
const MethodRow& choose_method(const Pliste& P);

#endif
