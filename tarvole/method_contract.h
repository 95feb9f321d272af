// What a fitting method of the sky program is given and what it must leave behind.
//
// How a method plugs in:
//  1. Write it in its own file with the common signature below (I and eI may be taken const
//     when the method only reads them). It fills A and S (they arrive filled with blank), sets
//     all six coefficients c(1..6), and may set P.cx, P.cy, P.runs, P.abserr and P.skyerr.
//  2. When its fit fails (a singular system, fewer usable sampling points than unknowns, a
//     spline that cannot be built), it prints its message and calls fail_fit(P, cause). It never
//     throws for a failed fit; main then writes no output for the image, names the image and the
//     cause on the error stream, and ends the run with status 1.
//  3. Fixed diagnostic files (in the working directory) and prefixed ones (put in front of the
//     file name part of P.outname) go into the row's `outputs`, so that main can refuse a run
//     that would overwrite an input before anything is written.
//  4. Fill in `call` (and `outputs`) of the method's row in method_choice.cpp.
//  The sampling grid of boxes (sampling_grid.h) and the result stage (result_stage.h) are shared.
#ifndef TARVOLE_METHOD_CONTRACT_H
#define TARVOLE_METHOD_CONTRACT_H

#include <string>

#include "orv/marray.h"
#include "tarvole/pliste.h"

using Image = orv::MArray<float, 2>;
using Coefficients = orv::MArray<double, 1>;

// Everything a method may be given; main fills it once per image.
struct FitArguments {
  const Image& R;                       // masked reference
  const Image& eR;                      // masked error of the reference
  Image& I;                             // masked image (difference imaging over stars rescales it in place)
  Image& eI;                            // masked error of the image
  Image& A;                             // absorption, filled with blank on entry
  Image& S;                             // sky in reference units (A*B), filled with blank on entry
  const orv::MArray<double, 1>& starX;  // star positions (one element 0.0 without a table)
  const orv::MArray<double, 1>& starY;
  Coefficients& c;  // six coefficients, indices 1 to 6
  Pliste& P;
};

// Marks the current image's fit as failed; the first cause given is the one reported.
inline void fail_fit(Pliste& P, const std::string& cause) {
  if (!P.fit_failed) P.fail_cause = cause;
  P.fit_failed = true;
}

#endif
