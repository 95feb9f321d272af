#include "numerics/spline.h"

#include <cstddef>
#include <limits>

namespace {

// The natural end condition: an end derivative above this value.
constexpr double naturalEndLimit = 0.99e30;
constexpr double naturalEnd = 1e30;

// A run of doubles in memory at a constant stride; position k (from 0) is
// element p[k * stride]. The splines work on these so that rows and columns
// of grids are read in place, without views or copies per call.
struct ConstRun {
  const double* p;
  std::ptrdiff_t stride;
  double operator[](int k) const { return p[k * stride]; }
};

struct Run {
  double* p;
  std::ptrdiff_t stride;
  double& operator[](int k) const { return p[k * stride]; }
};

ConstRun constRun(const orv::MArray<double, 1>& a, int index) { return {&a(index), a.stride(1)}; }
Run run(orv::MArray<double, 1>& a, int index) { return {&a(index), a.stride(1)}; }

// Whether dimension dim of a holds the indices first..last.
template <int N>
bool covers(const orv::MArray<double, N>& a, int dim, int first, int last) {
  return !a.isEmpty() && a.first(dim) <= first && a.last(dim) >= last;
}

// Number of knots of a 1-D table whose values and second derivatives cover
// the knots' indices; 0 when it has none or they do not.
int knotCount(const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya,
              const orv::MArray<double, 1>& y2a) {
  if (xa.isEmpty()) return 0;
  int b = xa.first(1);
  int e = xa.last(1);
  return covers(ya, 1, b, e) && covers(y2a, 1, b, e) ? xa.length(1) : 0;
}

// Second derivatives of the cubic spline through n >= 2 knots (tridiagonal
// elimination with back substitution); u is scratch for n - 1 values.
// Returns 1 when two neighbouring knots coincide, else 0.
int splineKernel(ConstRun xa, ConstRun ya, int n, double yp1, double ypn, Run y2a, double* u) {
  int status = 0;
  for (int i = 0; i + 1 < n; ++i) {
    if (xa[i + 1] == xa[i]) status = 1;
  }
  // The recurrences carry their previous values in locals rather than
  // reading them back from the tables: the same arithmetic, without a store
  // and reload in each step of the dependency chains.
  double prevY2;
  double prevU;
  if (yp1 > naturalEndLimit) {
    prevY2 = 0.0;
    prevU = 0.0;
  } else {
    prevY2 = -0.5;
    prevU = (3.0 / (xa[1] - xa[0])) * ((ya[1] - ya[0]) / (xa[1] - xa[0]) - yp1);
  }
  y2a[0] = prevY2;
  u[0] = prevU;
  for (int i = 1; i < n - 1; ++i) {
    double sig = (xa[i] - xa[i - 1]) / (xa[i + 1] - xa[i - 1]);
    double p = sig * prevY2 + 2.0;
    prevY2 = (sig - 1.0) / p;
    double du = (ya[i + 1] - ya[i]) / (xa[i + 1] - xa[i]) - (ya[i] - ya[i - 1]) / (xa[i] - xa[i - 1]);
    prevU = (6.0 * du / (xa[i + 1] - xa[i - 1]) - sig * prevU) / p;
    y2a[i] = prevY2;
    u[i] = prevU;
  }
  double qn = 0.0;
  double un = 0.0;
  if (!(ypn > naturalEndLimit)) {
    qn = 0.5;
    un = (3.0 / (xa[n - 1] - xa[n - 2])) * (ypn - (ya[n - 1] - ya[n - 2]) / (xa[n - 1] - xa[n - 2]));
  }
  double next = (un - qn * prevU) / (qn * prevY2 + 1.0);
  y2a[n - 1] = next;
  for (int k = n - 2; k >= 0; --k) {
    next = y2a[k] * next + u[k];
    y2a[k] = next;
  }
  return status;
}

// The bracketing interval of x among n >= 2 knots, and the weights of the
// cubic on it. An x equal to a knot lands in the interval to its right, an x
// outside the table in the first or last interval.
struct Bracket {
  int lo, hi;
  double a, b, a3a, b3b, h2;
  int status;
};

Bracket bracket(ConstRun xa, int n, double x) {
  int klo = 0;
  int khi = n - 1;
  while (khi - klo > 1) {
    int k = (khi + klo) / 2;
    if (xa[k] > x) {
      khi = k;
    } else {
      klo = k;
    }
  }
  double h = xa[khi] - xa[klo];
  double a = (xa[khi] - x) / h;
  double b = (x - xa[klo]) / h;
  return {klo, khi, a, b, a * a * a - a, b * b * b - b, h * h, h == 0.0 ? 1 : 0};
}

// The cubic on the bracket's interval with values ya and second derivatives y2a.
double cubicAt(const Bracket& k, ConstRun ya, ConstRun y2a) {
  return k.a * ya[k.lo] + k.b * ya[k.hi] + (k.a3a * y2a[k.lo] + k.b3b * y2a[k.hi]) * k.h2 / 6.0;
}

// The row stage of the bicubic evaluation: for every knot row j of the grid
// (n1 rows, row j starting at ya + j * rowStep, its knots at colStep) the row
// spline's value at x2 into rowValues, then the natural spline through them
// along x1a into rowSecondDerivs. All rows share the knots x2a, so the
// interval and weights are found once; each row's value is the same
// arithmetic as a one-dimensional evaluation of that row.
int rowStage(double x2, ConstRun x1a, int n1, ConstRun x2a, int n2, const orv::MArray<double, 2>& ya,
             const orv::MArray<double, 2>& y2a, double* rowValues, double* rowSecondDerivs, double* work) {
  Bracket k = bracket(x2a, n2, x2);
  int b1 = ya.first(1);
  int b2 = ya.first(2);
  std::ptrdiff_t yaRowStep = ya.stride(1);
  std::ptrdiff_t y2aRowStep = y2a.stride(1);
  ConstRun yaRow{&ya(b1, b2), ya.stride(2)};
  ConstRun y2aRow{&y2a(b1, b2), y2a.stride(2)};
  for (int j = 0; j < n1; ++j) {
    rowValues[j] = cubicAt(k, yaRow, y2aRow);
    yaRow.p += yaRowStep;
    y2aRow.p += y2aRowStep;
  }
  int status = k.status * n1;
  status +=
      splineKernel(x1a, ConstRun{rowValues, 1}, n1, naturalEnd, naturalEnd, Run{rowSecondDerivs, 1}, work);
  return status;
}

// Scratch vectors of the per-call bicubic evaluation, kept between calls so
// that evaluating an image does not allocate per pixel.
struct Splin2Scratch {
  std::vector<double> rowValues, rowSecondDerivs, work;
  void fit(int n) {
    if (rowValues.size() < static_cast<std::size_t>(n)) {
      rowValues.resize(n);
      rowSecondDerivs.resize(n);
      work.resize(n);
    }
  }
};

// A grid with at least two knots in each direction, whose knot vectors and
// second-derivative table cover the index ranges of its values.
bool gridUsable(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
                const orv::MArray<double, 2>& ya, const orv::MArray<double, 2>& y2a) {
  if (ya.isEmpty() || ya.length(1) < 2 || ya.length(2) < 2) return false;
  int b1 = ya.first(1), e1 = ya.last(1), b2 = ya.first(2), e2 = ya.last(2);
  return covers(x1a, 1, b1, e1) && covers(x2a, 1, b2, e2) && covers(y2a, 1, b1, e1) && covers(y2a, 2, b2, e2);
}

}  // namespace

int spline(const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya, double yp1, double ypn,
           orv::MArray<double, 1>& y2a) {
  int n = knotCount(xa, ya, y2a);
  if (n < 2) return 1;
  int b = xa.first(1);
  std::vector<double> u(n - 1);
  return splineKernel(constRun(xa, b), constRun(ya, b), n, yp1, ypn, run(y2a, b), u.data());
}

int splint(double& y, double x, const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya,
           const orv::MArray<double, 1>& y2a) {
  int n = knotCount(xa, ya, y2a);
  if (n < 2) {
    y = std::numeric_limits<double>::quiet_NaN();
    return 1;
  }
  int b = xa.first(1);
  Bracket k = bracket(constRun(xa, b), n, x);
  y = cubicAt(k, constRun(ya, b), constRun(y2a, b));
  return k.status;
}

int splie2(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
           const orv::MArray<double, 2>& ya, orv::MArray<double, 2>& y2a) {
  if (!gridUsable(x1a, x2a, ya, y2a)) return 1;
  int b1 = ya.first(1);
  int b2 = ya.first(2);
  int n1 = ya.length(1);
  int n2 = ya.length(2);
  std::vector<double> u(n2 - 1);
  ConstRun knots = constRun(x2a, b2);
  int status = 0;
  for (int j = b1; j < b1 + n1; ++j) {
    status += splineKernel(knots, ConstRun{&ya(j, b2), ya.stride(2)}, n2, naturalEnd, naturalEnd,
                           Run{&y2a(j, b2), y2a.stride(2)}, u.data());
  }
  return status;
}

int splin2(double& y, double x1, double x2, const orv::MArray<double, 1>& x1a,
           const orv::MArray<double, 1>& x2a, const orv::MArray<double, 2>& ya,
           const orv::MArray<double, 2>& y2a) {
  if (!gridUsable(x1a, x2a, ya, y2a)) {
    y = std::numeric_limits<double>::quiet_NaN();
    return 1;
  }
  thread_local Splin2Scratch scratch;
  int n1 = ya.length(1);
  int n2 = ya.length(2);
  scratch.fit(n1);
  ConstRun knots1 = constRun(x1a, ya.first(1));
  int status = rowStage(x2, knots1, n1, constRun(x2a, ya.first(2)), n2, ya, y2a, scratch.rowValues.data(),
                        scratch.rowSecondDerivs.data(), scratch.work.data());
  Bracket k = bracket(knots1, n1, x1);
  y = cubicAt(k, ConstRun{scratch.rowValues.data(), 1}, ConstRun{scratch.rowSecondDerivs.data(), 1});
  return status + k.status;
}

int sc_splie(const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya,
             orv::MArray<double, 1>& y2a) {
  return spline(xa, ya, naturalEnd, naturalEnd, y2a);
}

int sc_splin(double& y, double x, const orv::MArray<double, 1>& xa, const orv::MArray<double, 1>& ya,
             const orv::MArray<double, 1>& y2a) {
  return splint(y, x, xa, ya, y2a);
}

int sc_splie2(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
              const orv::MArray<double, 2>& ya, orv::MArray<double, 2>& y2a) {
  return splie2(x1a, x2a, ya, y2a);
}

int sc_splin2(double& y, double x1, double x2, const orv::MArray<double, 1>& x1a,
              const orv::MArray<double, 1>& x2a, const orv::MArray<double, 2>& ya,
              const orv::MArray<double, 2>& y2a) {
  return splin2(y, x1, x2, x1a, x2a, ya, y2a);
}

BicubicSplineRow::BicubicSplineRow(const orv::MArray<double, 1>& x1a, const orv::MArray<double, 1>& x2a,
                                   const orv::MArray<double, 2>& ya, const orv::MArray<double, 2>& y2a)
    : x1a_(x1a), x2a_(x2a), ya_(ya), y2a_(y2a), usable_(gridUsable(x1a, x2a, ya, y2a)) {
  if (usable_) {
    int n1 = ya_.length(1);
    rowValues_.resize(n1);
    rowSecondDerivs_.resize(n1);
    work_.resize(n1);
  }
}

int BicubicSplineRow::setRow(double x2) {
  rowSet_ = true;
  if (!usable_) {
    rowStatus_ = 1;
    return rowStatus_;
  }
  rowStatus_ = rowStage(x2, constRun(x1a_, ya_.first(1)), ya_.length(1), constRun(x2a_, ya_.first(2)),
                        ya_.length(2), ya_, y2a_, rowValues_.data(), rowSecondDerivs_.data(), work_.data());
  return rowStatus_;
}

int BicubicSplineRow::value(double& y, double x1) const {
  if (!usable_ || !rowSet_) {
    y = std::numeric_limits<double>::quiet_NaN();
    return 1;
  }
  Bracket k = bracket(constRun(x1a_, ya_.first(1)), ya_.length(1), x1);
  y = cubicAt(k, ConstRun{rowValues_.data(), 1}, ConstRun{rowSecondDerivs_.data(), 1});
  return rowStatus_ + k.status;
}

void BicubicSplineRow::setPositions(const double* x1, int n) {
  posLo_.resize(n);
  posHi_.resize(n);
  posStatus_.resize(n);
  posA_.resize(n);
  posB_.resize(n);
  posA3a_.resize(n);
  posB3b_.resize(n);
  posH2_.resize(n);
  for (int i = 0; i < n; ++i) {
    Bracket k{0, 0, 0.0, 0.0, 0.0, 0.0, 0.0, 1};
    if (usable_) k = bracket(constRun(x1a_, ya_.first(1)), ya_.length(1), x1[i]);
    posLo_[i] = k.lo;
    posHi_[i] = k.hi;
    posStatus_[i] = k.status;
    posA_[i] = k.a;
    posB_[i] = k.b;
    posA3a_[i] = k.a3a;
    posB3b_[i] = k.b3b;
    posH2_[i] = k.h2;
  }
}

void BicubicSplineRow::values(double* y, int* status) const {
  const int n = static_cast<int>(posLo_.size());
  if (!usable_ || !rowSet_) {
    for (int i = 0; i < n; ++i) {
      y[i] = std::numeric_limits<double>::quiet_NaN();
      status[i] = 1;
    }
    return;
  }
  const double* v = rowValues_.data();
  const double* d2 = rowSecondDerivs_.data();
  for (int i = 0; i < n; ++i) {
    const int lo = posLo_[i], hi = posHi_[i];
    // The arithmetic of cubicAt, term by term.
    y[i] =
        posA_[i] * v[lo] + posB_[i] * v[hi] + (posA3a_[i] * d2[lo] + posB3b_[i] * d2[hi]) * posH2_[i] / 6.0;
    status[i] = rowStatus_ + posStatus_[i];
  }
}
