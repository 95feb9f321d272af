// Combination of the per-cell results of a kernel fit into one factor and one constant.
#ifndef DIA_CELL_MEDIAN_H
#define DIA_CELL_MEDIAN_H

#include "orv/marray.h"

namespace dia_cells {

struct Combined {
  double factor = 0.0;
  double factor_err = 0.0;
  double constant = 0.0;
  double constant_err = 0.0;
};

// One cell: its results as they are. Several: the median of the cells with a non-zero
// factor (unfitted cells have factor 0), the middle cell or the mean of the two middle ones,
// errors of the two in quadrature (so the single middle cell counts twice); all zero when no
// cell was fitted. Prints the factors at verbose > 1 and the cell table at verbose > 0.
Combined combineCells(const orv::MArray<double, 1>& factor, const orv::MArray<double, 1>& factor_err,
                      const orv::MArray<double, 1>& constant, const orv::MArray<double, 1>& constant_err,
                      int verbose);

}  // namespace dia_cells

#endif
