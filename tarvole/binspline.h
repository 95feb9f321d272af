// The binned spline surface of two images: cell means, a quotient or a
// difference per cell, median-smoothed knots and a bicubic spline over every
// pixel.
#ifndef TARVOLE_BINSPLINE_H
#define TARVOLE_BINSPLINE_H

#include <string>

#include "orv/marray.h"
#include "tarvole/pliste.h"

// The surface of name "abs" (X/Y per cell) or "sky" (Y - X per cell) at every
// pixel of out, which has the extent of Y. Prints its progress on standard
// output and, by verbosity, writes "skygrid.fits", "skygrid.tab" and the
// name + "_binspline..." images. Returns false, with out blank and a message on
// standard error, when no spline can be set up (no cell with data, fewer than
// two knots in a direction); failed set-ups and evaluations that still leave
// a surface are reported and count as success.
// Reads binradius, cx, cy, blank, verbose and outname of P.
bool binspline(const std::string& name, const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y,
               orv::MArray<float, 2>& out, const Pliste& P);

// The one-dimensional member of the family: strips of 2·binradius + 1 rows
// across the full width, knots on every third strip and a cubic spline in y;
// every row of out takes one value. Same return as binspline.
bool binsplineY(const std::string& name, const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y,
                orv::MArray<float, 2>& out, const Pliste& P);

#endif
