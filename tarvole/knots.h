// The knots of the binned spline surfaces: knots on every third cell smoothed by a 3 x 3 median,
// blank knots filled, the bicubic spline through them evaluated row by row, and the summaries
// printed of them.
#ifndef TARVOLE_KNOTS_H
#define TARVOLE_KNOTS_H

#include <ostream>
#include <string>

#include "orv/marray.h"
#include "tarvole/cell_grid.h"

// First knot index of the knot rule (knot p on cell 3p): the smallest p with
// 3p >= i0 for i0 <= 0, else 1. Last: the largest p with 3p <= i1 for i1 >= 0,
// else -1.
int first_knot(int i0);
int last_knot(int i1);

// The knots of a cell grid: value z(p, q) is the median of the 3 × 3 cells
// around cell (3p, 3q), blank cells left out; an all-blank window widens to
// half-widths 1..10 cells within the cell axes, printing "h: " lines on out.
// Knot coordinates are the cell centres. A knot still blank after the widest
// window takes the median of the knots that have a value, with a warning on
// err naming outname. Cells outside the cell arrays count as blank.
struct Knots {
  int px0 = 1, px1 = -1, py0 = 1, py1 = -1;
  orv::MArray<double, 1> xs, ys;
  orv::MArray<double, 2> z;
  // Knot statistics: count, sum of values and sum of squared deviations from 1.
  long count = 0;
  double sum = 0.0;
  double sumSquaredFromOne = 0.0;
};

// Gives every knot that is still blank the median of the knots that have a
// value, with a warning on err naming outname: a blank knot would enter the
// spline as 1e20 and swamp the surface. Returns false when no knot has a
// value (then nothing changes). z is a contiguous array of its own.
template <int N>
bool fill_blank_knots(orv::MArray<double, N>& z, double blank, std::ostream& err,
                      const std::string& outname) {
  double* first = z.firstElement();
  const int n = z.numElements();
  long blanks = 0;
  for (int i = 0; i < n; ++i) blanks += first[i] == blank;
  if (blanks == 0) return true;
  if (blanks == z.numElements()) return false;
  const double fill = orv::median_exact(z, blank);
  err << "warning: " << blanks << " knot(s) without data within 10 cells take the median of the other knots, "
      << fill << ": " << outname << std::endl;
  for (int i = 0; i < n; ++i)
    if (first[i] == blank) first[i] = fill;
  return true;
}

// Status of the knot set-up: the spline needs two knots in each direction.
enum class KnotStatus { ok, noCells, tooFewKnots, noKnotValue };

// Knot index ranges from the occupied cell box (ix0..ix1 × iy0..iy1); fails
// when the box is empty or a direction has fewer than two knots.
KnotStatus knot_ranges(int ix0, int ix1, int iy0, int iy1, Knots& k);

// Fills z, xs and ys for the ranges set by knot_ranges; noKnotValue when every
// knot stays blank.
KnotStatus knot_values(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay, float blank,
                       std::ostream& out, std::ostream& err, const std::string& outname, Knots& k);

// Prints the spline failure of a missing knot grid on err: "errors in " and
// outname, with the reason.
void report_knot_failure(KnotStatus status, std::ostream& err, const std::string& outname);

// Evaluation of the natural bicubic spline through the knots over the pixel box
// x0..x1 × y0..y1 (clipped to out's extent), rows outer, one row set-up per row.
// out must already hold blank where nothing is stored. With
// stopAtFirstFailure, values are stored only while no evaluation has failed;
// otherwise every evaluation that succeeds is stored. Returns the sum of the
// evaluation statuses, as the per-pixel evaluation counts them.
long evaluate_surface(const Knots& k, const orv::MArray<double, 2>& z2, orv::MArray<float, 2>& out, int x0,
                      int x1, int y0, int y1, bool stopAtFirstFailure);

// Paints every knot value over the square of half-width half around the knot into img (already
// set), clipped to box.
void paint_knots(const Knots& k, int half, PixelBox box, orv::MArray<float, 2>& img);

// The second derivatives of the bicubic spline through the knots; a failed set-up is reported
// on the error stream with outname, and at verbose > 1 the result is printed ("z'':").
orv::MArray<double, 2> knot_second_derivatives(const Knots& k, std::ostream& os, int verbose,
                                               const std::string& outname);

// A block of four labelled bounds: with a title, an empty line and the title line first; then
// " name = value" on a line each.
void print_bounds(std::ostream& os, const char* title, const char* const (&names)[4], int a, int b, int c,
                  int d);

// The summary of the knot values: " aver   = ", " sig    = " and " median = " lines.
void print_knot_summary(std::ostream& os, double sum, double count, double squaresFromOne, double median);

#endif
