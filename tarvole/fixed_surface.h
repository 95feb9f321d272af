// The spline surface of the fixed 61-pixel cells that sky_new and fit_abs_binspline share: knots
// from the cell values, the spline set-up and its evaluation.
#ifndef TARVOLE_FIXED_SURFACE_H
#define TARVOLE_FIXED_SURFACE_H

#include <string>

#include "orv/marray.h"
#include "tarvole/cell_grid.h"
#include "tarvole/pliste.h"

// The fixed cells: radius 30, step and side 61, at least 1241 usable pixels, knots every 183.
inline constexpr int fixedCellRadius = 30;
inline constexpr int fixedCellStep = 2 * fixedCellRadius + 1;
inline constexpr int fixedCellMinCount = fixedCellStep * fixedCellStep / 3;  // a cell needs more

// How the two methods differ in their surface step.
struct FixedSurfaceStyle {
  const char* word;         // first word of the diagnostic file names: "sky" or "abs"
  const char* splineLine;   // the line before the knot arrays
  bool setFixed;            // switch standard output to fixed notation with that line
  bool ownPrecisions;       // knot arrays at precision 1 (x, y) and 3 (z), else the current one
  bool printImageBorders;   // " jx0 = " ... lines at verbose > 1
  bool limitToCoveredArea;  // evaluate only within the outer non-blank cells ± 30 pixels
};

// From the cell values G (cells ax × ay with margin): the occupied cells, the knots, the spline
// and its values in Z (the extent of I, filled with blank first). Prints as the methods do and
// writes the two painted images at verbose > 1. Returns false, with Z blank and the message
// on standard error, when no spline can be set up.
bool fixed_cell_surface(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay,
                        const orv::MArray<float, 2>& I, orv::MArray<float, 2>& Z, const Pliste& P,
                        const FixedSurfaceStyle& style);

// The block image word + "_binspline-" of Z at verbose > 1: 4 × 4 means over the pixels where Z
// has a value and the image has data (I != 0 or eI > 0).
void write_fixed_surface_blocks(const orv::MArray<float, 2>& Z, const orv::MArray<float, 2>& I,
                                const orv::MArray<float, 2>& eI, const Pliste& P, const char* word);

#endif
