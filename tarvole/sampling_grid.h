// The sampling grid of boxes: mean and scatter of two images in circular boxes on a regular grid,
// the common first step of the sampling-point fits.
#ifndef TARVOLE_SAMPLING_GRID_H
#define TARVOLE_SAMPLING_GRID_H

#include "orv/marray.h"
#include "tarvole/pliste.h"
#include "util/region.h"

// The kept points of a grid, in grid order (rows of points outer, columns inner). Every array
// has N elements, index base 1: the kept points fill 1..K, the rest hold 0.
struct SamplingPoints {
  int N = 0;                      // grid points
  int K = 0;                      // kept points
  orv::MArray<double, 1> x, y;    // pixel coordinates of the point
  orv::MArray<double, 1> mR, sR;  // mean and scatter of the first image in the box
  orv::MArray<double, 1> mI, sI;  // mean and scatter of the second image in the box
};

// The grid clipped to the extent nx x ny: x from max(start, 1) to the region's end, or nx when
// that end lies beyond nx or not after the start, in steps of `intervall`; y likewise.
struct GridLayout {
  int x1, x2, y1, y2, step;
  int columns, rows;  // grid points per row and rows of points (0 when none)
};
GridLayout grid_layout(const util::Region& region, int nx, int ny, int intervall);

// Box statistics of R and I (same extent, at least nx x ny, index base 1) on the grid of
// `region`. A box holds the offsets (i, j) with i*i + j*j < radius*(radius+1); a pixel is used
// when it lies in 1..nx x 1..ny and neither image holds `blank` there. Means and (when
// `with_scatters`) scatters are formed in double, pixel by pixel in box order (j outer, i
// inner); n <= 1 gives scatters equal to the means; without scatters they stay 0. A point is
// kept when both means differ from 0. An `intervall` below 1 gives no grid.
SamplingPoints sampling_grid(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& I, int nx, int ny,
                             const util::Region& region, int intervall, int radius, float blank,
                             bool with_scatters);

// The same with region, intervall, radius and blank taken from the run parameters.
SamplingPoints sampling_grid(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& I, int nx, int ny,
                             const Pliste& P, bool with_scatters);

#endif
