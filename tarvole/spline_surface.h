// The steps shared by the binned spline surfaces of the sky program: circular
// cells on a square grid around a centre, knots on every third cell smoothed
// by a 3 x 3 median, and a bicubic spline evaluated row by row.
#ifndef TARVOLE_SPLINE_SURFACE_H
#define TARVOLE_SPLINE_SURFACE_H

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "orv/marray.h"

// Cell indices along one axis: cell k has its centre at centre + k·step, for
// k = first..last. The cell arrays carry one margin cell on either side.
struct CellAxis {
  int first = 0;
  int last = -1;
  int centre = 0;
  int step = 1;

  int centreOf(int k) const { return centre + k * step; }
};

// The cells that cover 1..extent around centre, with cell step d (integer
// division truncating toward zero, as the formulas are written):
// first = -((centre - 1 - d) / d + 1), last = (d + extent - centre) / d + 1.
CellAxis cellAxis(int centre, int extent, int d);

// The pixel rows of a circular cell of radius rb: offset row j (-rb..rb) holds
// the offsets -w(j)..w(j) with i·i + j·j < rb·(rb+1); w(j) = -1 for an empty
// row (every row of radius 0).
class CellShape {
 public:
  explicit CellShape(int rb);
  int radius() const { return rb_; }
  int diameter() const { return 2 * rb_ + 1; }
  int halfWidth(int j) const { return halfWidth_[j + rb_]; }

  // Calls run(y, x0, x1) for every offset row of the cell centred at (xc, yc)
  // that meets the image 1..nx × 1..ny, rows in ascending order, with the
  // pixel columns x0..x1 clipped to the image.
  template <class Run>
  void forEachRun(int xc, int yc, int nx, int ny, Run&& run) const {
    for (int j = -rb_; j <= rb_; ++j) {
      const long y = static_cast<long>(yc) + j;
      if (y < 1 || y > ny) continue;
      const int w = halfWidth(j);
      if (w < 0) continue;
      const long x0 = std::max<long>(1, static_cast<long>(xc) - w);
      const long x1 = std::min<long>(nx, static_cast<long>(xc) + w);
      if (x0 <= x1) run(static_cast<int>(y), static_cast<int>(x0), static_cast<int>(x1));
    }
  }

 private:
  int rb_;
  std::vector<int> halfWidth_;
};

// Cell means of two images over the pixels where both differ from blank: for
// every cell of ax × ay, n and the double sums of X and Y; with n > minCount
// mx and my are the means, otherwise they stay blank. The arrays run over the
// cells with their margin (ax.first-1..ax.last+1 × ay.first-1..ay.last+1);
// xc and yc hold the cell centres (0 in the margin).
struct CellMeans {
  CellAxis ax, ay;
  orv::MArray<double, 2> mx, my;
  orv::MArray<double, 1> xc, yc;
};
void cellMeans(const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y, const CellShape& cell,
               CellAxis ax, CellAxis ay, int minCount, float blank, CellMeans& out);

// A cell grid (with margin) of the axes, filled with value.
orv::MArray<double, 2> cellGrid(CellAxis ax, CellAxis ay, double value);
// The centre coordinates of the cells of an axis, 0 in the margin.
orv::MArray<double, 1> cellCentres(CellAxis a);

// First knot index of the knot rule (knot p on cell 3p): the smallest p with
// 3p >= i0 for i0 <= 0, else 1. Last: the largest p with 3p <= i1 for i1 >= 0,
// else -1.
int firstKnot(int i0);
int lastKnot(int i1);

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
bool fillBlankKnots(orv::MArray<double, N>& z, double blank, std::ostream& err, const std::string& outname) {
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
KnotStatus knotRanges(int ix0, int ix1, int iy0, int iy1, Knots& k);

// Fills z, xs and ys for the ranges set by knotRanges; noKnotValue when every
// knot stays blank.
KnotStatus knotValues(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay, float blank,
                      std::ostream& out, std::ostream& err, const std::string& outname, Knots& k);

// Prints the spline failure of a missing knot grid on err: "errors in " and
// outname, with the reason.
void reportKnotFailure(KnotStatus status, std::ostream& err, const std::string& outname);

// Evaluation of the natural bicubic spline through the knots over the pixel box
// x0..x1 × y0..y1 (clipped to out's extent), rows outer, one row set-up per row.
// out must already hold blank where nothing is stored. With
// stopAtFirstFailure, values are stored only while no evaluation has failed;
// otherwise every evaluation that succeeds is stored. Returns the sum of the
// evaluation statuses, as the per-pixel evaluation counts them.
long evaluateSurface(const Knots& k, const orv::MArray<double, 2>& z2, orv::MArray<float, 2>& out, int x0,
                     int x1, int y0, int y1, bool stopAtFirstFailure);

// 4 × 4 block means of surface over the pixels where keep(x, y) holds and the
// surface differs from blank: a float image of (nx/4) × (ny/4), 0 for a block
// without such a pixel. Sums are formed in single precision.
template <class Keep>
orv::MArray<float, 2> blockMeans4(const orv::MArray<float, 2>& surface, float blank, Keep&& keep) {
  const int nbx = surface.last(1) / 4;
  const int nby = surface.last(2) / 4;
  orv::MArray<float, 2> blocks(std::max(nbx, 0), std::max(nby, 0));
  if (nbx <= 0 || nby <= 0) return blocks;
  blocks = 0.0f;
  for (int by = 1; by <= nby; ++by)
    for (int bx = 1; bx <= nbx; ++bx) {
      float sum = 0.0f;
      int n = 0;
      for (int y = 4 * by - 3; y <= 4 * by; ++y)
        for (int x = 4 * bx - 3; x <= 4 * bx; ++x)
          if (surface(x, y) != blank && keep(x, y)) {
            sum += surface(x, y);
            ++n;
          }
      if (n > 0) blocks(bx, by) = sum / static_cast<float>(n);
    }
  return blocks;
}

// An inclusive pixel box x0..x1 × y0..y1.
struct PixelBox {
  int x0, x1, y0, y1;
};

// Paints every cell value of G (cells of ax × ay) over the square centre ± rb,
// and every knot value over the square of half-width half around the knot,
// into img (already set), clipped to box.
void paintCells(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay, int rb, PixelBox box,
                orv::MArray<float, 2>& img);
void paintKnots(const Knots& k, int half, PixelBox box, orv::MArray<float, 2>& img);

// The layout lines before the binning: at verbose > 0 the cell diameter and
// step d; the centre; at verbose > 0 the median size and step (after an empty
// line when emptyBeforeMedian); then "binning...".
void printCellLayout(std::ostream& os, int verbose, int d, int medianSize, int cx, int cy,
                     bool emptyBeforeMedian);

// The second derivatives of the bicubic spline through the knots; a failed set-up is reported
// on the error stream with outname, and at verbose > 1 the result is printed ("z'':").
orv::MArray<double, 2> knotSecondDerivatives(const Knots& k, std::ostream& os, int verbose, const std::string& outname);

// A block of four labelled bounds: with a title, an empty line and the title line first; then
// " name = value" on a line each.
void printBounds(std::ostream& os, const char* title, const char* const (&names)[4], int a, int b, int c, int d);

// The summary of the knot values: " aver   = ", " sig    = " and " median = " lines.
void printKnotSummary(std::ostream& os, double sum, double count, double squaresFromOne, double median);

// Writes a float or double image to a FITS file (no further cards).
void writeImage(const std::string& name, const orv::MArray<float, 2>& a);
void writeImage(const std::string& name, const orv::MArray<double, 2>& a);
void writeImage(const std::string& name, const orv::MArray<double, 1>& a);

#endif
