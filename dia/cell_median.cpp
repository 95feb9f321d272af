// The median combination of the cells of a kernel fit, with its cell table.
#include "dia/cell_median.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <string>
#include <utility>

namespace dia_cells {

Combined combineCells(const orv::MArray<double, 1>& factor, const orv::MArray<double, 1>& factor_err,
                      const orv::MArray<double, 1>& constant, const orv::MArray<double, 1>& constant_err,
                      int verbose) {
  const int N = factor.length(1);
  Combined r;
  if (N == 1) {
    r.factor = factor(1);
    r.factor_err = factor_err(1);
    r.constant = constant(1);
    r.constant_err = constant_err(1);
    return r;
  }
  // L lists the cells: zero factors moved to the end, then the leading non-zero run sorted
  // ascending by exchanges, in the order of the original selection.
  orv::MArray<int, 1> L(N);
  for (int i = 1; i <= N; ++i) L(i) = i;
  for (int i = 1, j = N; i <= N - 1; ++i)
    while (i < j && factor(L(i)) == 0) {
      if (factor(L(j)) != 0) std::swap(L(i), L(j));
      --j;
    }
  for (int i = 1; factor(L(i)) != 0;) {
    for (int j = i + 1; j <= N && factor(L(j)) != 0; ++j)
      if (factor(L(j)) < factor(L(i))) std::swap(L(i), L(j));
    if (i + 1 >= N) break;
    ++i;
  }
  if (verbose > 1) std::cout << "N: " << factor << std::endl;
  if (verbose > 0) {
    std::cout << std::endl << std::string(50, '-') << std::endl;
    std::cout << "                 NR         FACTOR         BACKGR" << std::endl;
    for (int i = 1; i <= N; ++i)
      std::cout << " field = " << std::setw(10) << L(i) << std::setw(15) << factor(L(i)) << std::setw(15)
                << constant(L(i)) << std::endl;
    std::cout << std::string(50, '-') << std::endl;
  }
  int m = 0;
  while (m < N && factor(L(m + 1)) != 0) ++m;
  if (m == 0) return r;
  const int lo = L((m + 1) / 2), hi = L(m / 2 + 1);
  r.factor = 0.5 * (factor(lo) + factor(hi));
  r.constant = 0.5 * (constant(lo) + constant(hi));
  r.factor_err = std::sqrt(factor_err(lo) * factor_err(lo) + factor_err(hi) * factor_err(hi));
  r.constant_err = std::sqrt(constant_err(lo) * constant_err(lo) + constant_err(hi) * constant_err(hi));
  return r;
}

}  // namespace dia_cells
