#include "numerics/linsolve.h"

#include <cfloat>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "orv/marray.h"

namespace {

// Order of a square matrix: the last index of its first dimension.
int orderOf(const orv::MArray<double, 2>& a) { return a.isEmpty() ? 0 : a.last(1); }

int orderOf(const orv::MArray<double, 1>& v) { return v.isEmpty() ? 0 : v.last(1); }

}  // namespace

int gaussj(orv::MArray<double, 2>& a, int n, orv::MArray<double, 1>& b) {
  if (n < 1) return 0;  // nothing to solve
  // Work arrays indexed 1..n: pivot count per column, pivot row and column per step.
  std::vector<int> pivotCount(n + 1, 0), pivotRow(n + 1, 0), pivotCol(n + 1, 0);
  for (int i = 1; i <= n; ++i) {
    // Full pivot search over rows and columns that have not given a pivot;
    // ">=" lets the last of equal candidates win, and NaN never qualifies.
    double big = 0.0;
    int irow = 0;
    int icol = 0;
    for (int j = 1; j <= n; ++j) {
      if (pivotCount[j] == 1) continue;
      for (int k = 1; k <= n; ++k) {
        if (pivotCount[k] != 0) continue;
        double mag = std::fabs(a(j, k));
        if (mag >= big) {
          big = mag;
          irow = j;
          icol = k;
        }
      }
    }
    if (irow == 0) return -1;  // every remaining element is NaN
    ++pivotCount[icol];
    if (irow != icol) {
      for (int l = 1; l <= n; ++l) std::swap(a(irow, l), a(icol, l));
      std::swap(b(irow), b(icol));
    }
    pivotRow[i] = irow;
    pivotCol[i] = icol;
    if (a(icol, icol) == 0.0) return -1;
    double pivinv = 1.0 / a(icol, icol);
    a(icol, icol) = 1.0;
    for (int l = 1; l <= n; ++l) a(icol, l) *= pivinv;
    b(icol) *= pivinv;
    for (int ll = 1; ll <= n; ++ll) {
      if (ll == icol) continue;
      double dum = a(ll, icol);
      a(ll, icol) = 0.0;
      for (int l = 1; l <= n; ++l) a(ll, l) -= a(icol, l) * dum;
      b(ll) -= b(icol) * dum;
    }
  }
  // Undo the column interchanges of the inverse in reverse order.
  for (int l = n; l >= 1; --l) {
    if (pivotRow[l] != pivotCol[l]) {
      for (int k = 1; k <= n; ++k) std::swap(a(k, pivotRow[l]), a(k, pivotCol[l]));
    }
  }
  return 0;
}

int ludecomp(orv::MArray<double, 2>& a, orv::MArray<int, 1>& p, double& d) {
  int n = orderOf(a);
  p.makeReference(orv::MArray<int, 1>(n, false));
  d = 1.0;
  if (n < 1) return 0;
  for (int k = 1; k <= n - 1; ++k) {
    // Scaled partial pivoting: each remaining row's scale is the sum of its
    // magnitudes over the remaining columns; the lowest row wins ties and a
    // row whose remaining part is zero (0/0) never qualifies.
    double big = 0.0;
    p(k) = 0;
    for (int i = k; i <= n; ++i) {
      double scale = 0.0;
      for (int j = k; j <= n; ++j) scale += std::fabs(a(i, j));
      double ratio = std::fabs(a(i, k)) / scale;
      if (ratio > big) {
        big = ratio;
        p(k) = i;
      }
    }
    if (big == 0.0) {
      std::cerr << "matrix singular" << std::endl;
      return -1;
    }
    int pk = p(k);
    if (pk != k) {
      d = -d;
      for (int j = 1; j <= n; ++j) std::swap(a(k, j), a(pk, j));
    }
    d *= a(k, k);
    for (int i = k + 1; i <= n; ++i) {
      a(i, k) /= a(k, k);
      for (int j = k + 1; j <= n; ++j) a(i, j) -= a(i, k) * a(k, j);
    }
  }
  d *= a(n, n);
  if (a(n, n) == 0.0 || !std::isfinite(a(n, n))) {
    std::cerr << "matrix singular" << std::endl;
    return -1;
  }
  return 0;
}

void lubacksub(orv::MArray<double, 2>& a, orv::MArray<int, 1>& p, orv::MArray<double, 1>& b) {
  int n = orderOf(a);
  for (int i = 1; i <= n - 1; ++i) {
    if (p(i) != i) std::swap(b(i), b(p(i)));
  }
  // Forward substitution with the unit lower triangle, term by term.
  for (int i = 2; i <= n; ++i) {
    for (int j = 1; j <= i - 1; ++j) b(i) -= a(i, j) * b(j);
  }
  // Back substitution: the products of the known unknowns are summed first,
  // from zero in increasing column order, and the sum taken from b(i).
  for (int i = n; i >= 1; --i) {
    double sum = 0.0;
    for (int j = i + 1; j <= n; ++j) sum += a(i, j) * b(j);
    b(i) = (b(i) - sum) / a(i, i);
  }
}

void residuum(orv::MArray<double, 2>& a, orv::MArray<double, 1>& x, orv::MArray<double, 1>& b,
              orv::MArray<double, 1>& r) {
  int n = orderOf(a);
  orv::MArray<double, 1> result(n, false);
  // Terms 1..n+1 of one row, in extended precision.
  std::vector<long double> t(n + 2);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) t[j] = static_cast<long double>(x(j)) * static_cast<long double>(a(i, j));
    t[n + 1] = -static_cast<long double>(b(i));
    // Exchange sort by increasing magnitude: the order of the terms decides
    // the last bits of the sum, so it is fixed here.
    for (int j = 1; j <= n; ++j) {
      for (int k = j + 1; k <= n + 1; ++k) {
        if (std::fabs(t[k]) < std::fabs(t[j])) std::swap(t[j], t[k]);
      }
    }
    long double sum = 0.0L;
    for (int j = 1; j <= n + 1; ++j) sum += t[j];
    result(i) = static_cast<double>(sum);
  }
  r.makeReference(result);
}

void mprove(orv::MArray<double, 2>& lu, orv::MArray<double, 1>& x, orv::MArray<int, 1>& p,
            orv::MArray<double, 2>& a, orv::MArray<double, 1>& b) {
  int n = orderOf(a);
  orv::MArray<double, 1> r;
  residuum(a, x, b, r);
  lubacksub(lu, p, r);
  for (int i = 1; i <= n; ++i) x(i) -= r(i);
}

int lu_iter(orv::MArray<double, 2>& a, orv::MArray<double, 1>& b, int m, int v) {
  int n = orderOf(a);
  const std::string equalsRule(67, '=');
  const std::string dashRule(67, '-');

  if (v > 3) {
    // Extremes of |a| over the whole array; NaN never replaces the running value.
    double smallest = DBL_MAX;
    double largest = -DBL_MAX;
    if (!a.isEmpty()) {
      for (int j = a.first(2); j <= a.last(2); ++j) {
        for (int i = a.first(1); i <= a.last(1); ++i) {
          double mag = std::fabs(a(i, j));
          if (mag < smallest) smallest = mag;
          if (mag > largest) largest = mag;
        }
      }
    }
    std::cout << " min(fabs(a)) = " << smallest << std::endl;
    std::cout << " max(fabs(a)) = " << largest << std::endl;
  }

  // A stays unfactored for the residuals, lu is factored in place.
  orv::MArray<double, 2> unfactored(n, n, false);
  orv::MArray<double, 2> lu(n, n, false);
  orv::MArray<double, 1> rhs(n, false);
  orv::MArray<double, 1> x(n, false);
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) unfactored(i, j) = lu(i, j) = a(i, j);
  }
  for (int i = 1; i <= n; ++i) rhs(i) = x(i) = b(i);

  orv::MArray<int, 1> pivots;
  double det = 0.0;
  if (ludecomp(lu, pivots, det) != 0) return -1;

  if (v > 2) std::cout << "det = " << det << std::endl;
  lubacksub(lu, pivots, x);
  if (v > 3) {
    std::cout << equalsRule << std::endl;
    std::cout << " solution of A*x=b:" << std::endl;
    std::cout << x;
    std::cout << std::endl;
  }

  if (m > 0) {
    // The residual of the unimproved solution; it is printed, not updated.
    orv::MArray<double, 1> r;
    residuum(unfactored, x, rhs, r);
    for (int k = 1; k <= m; ++k) {
      mprove(lu, x, pivots, unfactored, rhs);
      if (v > 3) {
        std::cout << dashRule << std::endl;
        std::cout << " improved solution no " << k << " of A*x=b:" << std::endl;
        std::cout << x;
        std::cout << std::endl;
      }
    }
    if (v > 4) {
      std::cout << dashRule << std::endl;
      std::cout << " residuum (x) = " << std::endl;
      std::cout << r;
      std::cout << std::endl;
    }
  }
  if (v > 3) std::cout << equalsRule << std::endl;

  // The inverse from the LU factors alone, one unit column at a time.
  orv::MArray<double, 2> inverse(n, n, false);
  orv::MArray<double, 1> column(n, false);
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) column(i) = (i == j) ? 1.0 : 0.0;
    lubacksub(lu, pivots, column);
    for (int i = 1; i <= n; ++i) inverse(i, j) = column(i);
  }

  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) a(i, j) = inverse(i, j);
  }
  for (int i = 1; i <= n; ++i) b(i) = x(i);
  return 0;
}

void matmult(orv::MArray<double, 2>& c, orv::MArray<double, 2>& a, orv::MArray<double, 2>& b) {
  int n = orderOf(c);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double sum = 0.0;
      for (int k = 1; k <= n; ++k) sum += a(i, k) * b(k, j);
      c(i, j) = sum;
    }
  }
}

void vecprint(orv::MArray<double, 1>& v) {
  int n = orderOf(v);
  std::cout << std::endl;
  for (int i = 1; i <= n; ++i) std::cout << std::setw(15) << std::setprecision(8) << v(i) << "  ";
  std::cout << std::endl << std::endl;
  std::cout << std::setprecision(8);
}

void matprint(orv::MArray<double, 2>& a) {
  int n = orderOf(a);
  std::cout << std::endl;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) std::cout << std::setw(15) << std::setprecision(8) << a(i, j) << "  ";
    std::cout << std::endl;
  }
  std::cout << std::endl;
  std::cout << std::setprecision(8);
}
