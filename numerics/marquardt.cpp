#include "numerics/marquardt.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <utility>
#include <vector>

#include "numerics/linsolve.h"
#include "numerics/printf.h"

namespace {

// lambda leaving the open interval (kLambdaMin, kLambdaMax) ends the fit.
constexpr double kLambdaStart = 0.001;
constexpr double kLambdaMin = 1e-15;
constexpr double kLambdaMax = 1e15;

// A copy of src in fresh storage with src's index range; an array without
// storage stays without.
orv::MArray<double, 1> copyOf__(const orv::MArray<double, 1>& src) {
  if (src.isEmpty()) return orv::MArray<double, 1>();
  orv::MArray<double, 1> copy(src.getShape());
  for (int i = src.first(1); i <= src.last(1); ++i) copy(i) = src(i);
  return copy;
}

// Entries 1 .. count of src, base 1; indices that src lacks become `missing`.
template <typename T>
orv::MArray<T, 1> entriesFromOne__(const orv::MArray<T, 1>& src, int count, T missing) {
  orv::MArray<T, 1> out(count);
  const bool hasData = !src.isEmpty();
  for (int l = 1; l <= count; ++l)
    out(l) = hasData && l >= src.first(1) && l <= src.last(1) ? src(l) : missing;
  return out;
}

// The parameter indices l = 1 .. ma with a non-zero flag, in ascending order.
std::vector<int> fittedIndices__(const orv::MArray<int, 1>& ia, int ma) {
  std::vector<int> fitted;
  for (int l = 1; l <= ma; ++l)
    if (ia(l) != 0) fitted.push_back(l);
  return fitted;
}

}  // namespace

marquardt::marquardt(const orv::MArray<double, 1>& xIn, const orv::MArray<double, 1>& yIn,
                     const orv::MArray<double, 1>& zIn, const orv::MArray<double, 1>& sigIn,
                     orv::MArray<double, 1>& aIn, const orv::MArray<int, 1>& iaIn)
    : first(zIn.first(1)),
      last(zIn.last(1)),
      n(last - first + 1),
      ndata(0),
      ma(std::max(0, aIn.last(1))),
      x(copyOf__(xIn)),
      y(copyOf__(yIn)),
      z(copyOf__(zIn)),
      sig(copyOf__(sigIn)),
      mfit(0),
      ochisq(0.0),
      alpha(ma, ma),
      covar(ma, ma),
      atry(ma),
      beta(ma),
      da(ma),
      nfree(0),
      maxiter(10000),
      verbose(0),
      iter(0),
      factor(10.0),
      chisq(0.0),
      alamda(-1.0),
      rms(0.0),
      reduced(0.0),
      a(entriesFromOne__(aIn, ma, 0.0)),
      ia(entriesFromOne__(iaIn, ma, 0)),
      sa(ma),
      noise(17) {
  sa = 0.0;
  // Only indices present in all four data arrays can be used.
  firstUsable__ = first;
  lastUsable__ = last;
  for (const orv::MArray<double, 1>* data : {&x, &y, &z, &sig}) {
    if (data->isEmpty()) {
      lastUsable__ = firstUsable__ - 1;
      break;
    }
    firstUsable__ = std::max(firstUsable__, data->first(1));
    lastUsable__ = std::min(lastUsable__, data->last(1));
  }
  for (int i = firstUsable__; i <= lastUsable__; ++i)
    if (sig(i) > 0) ++ndata;
  alpha = 0.0;
  covar = 0.0;
  atry = 0.0;
  beta = 0.0;
  da = 0.0;  // not read before a fit writes it, but never left undefined
}

marquardt::~marquardt() = default;

int marquardt::calc() {
  alamda = -1.0;
  long long count = 0;
  do {
    ++count;
    if (mrqmin() == -1 && count == 1) {
      // The model failed at the start parameters: there is no fit to go on from.
      iter = 1;
      fail__(-1);
      return -1;
    }
  } while (count <= maxiter && alamda > kLambdaMin && alamda < kLambdaMax);
  iter = static_cast<int>(std::min<long long>(count, INT_MAX));

  alamda = 0.0;
  const int status = mrqmin();
  if (status != 0) {
    fail__(status);
    return -1;
  }
  for (int l = 1; l <= ma; ++l) sa(l) = covar(l, l) > 0 ? std::sqrt(covar(l, l)) : 0.0;

  rms = std::sqrt(chisq / ndata);
  long long flagSum = 0;
  for (int l = 1; l <= ma; ++l) flagSum += ia(l);
  nfree = static_cast<int>(ndata - flagSum);
  reduced = std::sqrt(chisq / nfree);

  if (count > maxiter) {
    if (verbose > 0) std::cerr << "marquardt: iterations: " << iter << std::endl;
    return 1;
  }
  return 0;
}

void marquardt::fail__(int status) {
  a = 0.0;
  sa = 0.0;
  if (verbose > 0) std::cerr << "marquardt: error " << status << std::endl;
}

int marquardt::mrqmin() {
  if (alamda < 0.0) {
    atry = 0.0;
    beta = 0.0;
    da = 0.0;
    mfit = 0;
    for (int l = 1; l <= ma; ++l)
      if (ia(l) != 0) ++mfit;
    alamda = kLambdaStart;
    if (mrqcof(a, alpha, beta) == -1) return -1;
    ochisq = chisq;
    for (int l = 1; l <= ma; ++l) atry(l) = a(l);
  }

  // The augmented normal equations: diagonal scaled by 1 + lambda.
  for (int j = 1; j <= mfit; ++j) {
    for (int k = 1; k <= mfit; ++k) covar(j, k) = alpha(j, k);
    covar(j, j) = alpha(j, j) * (1.0 + alamda);
    da(j) = beta(j);
  }
  if (gaussj(covar, mfit, da) == -1) {
    chisq = ochisq;
    alamda *= factor;
    return -2;
  }

  // lambda = 0: covar is the inverse of the curvature matrix, the covariance.
  if (alamda == 0.0) {
    cov_srt(covar);
    cov_srt(alpha);
    return 0;
  }

  int j = 0;
  for (int l = 1; l <= ma; ++l)
    if (ia(l) != 0) atry(l) = a(l) + da(++j);
  if (mrqcof(atry, covar, da) == -1) {
    chisq = ochisq;
    alamda *= factor;
    return -3;
  }

  if (chisq < ochisq) {
    // Accept the trial: smaller lambda, its curvature and gradient kept.
    alamda /= factor;
    ochisq = chisq;
    for (int jj = 1; jj <= mfit; ++jj) {
      for (int kk = 1; kk <= mfit; ++kk) alpha(jj, kk) = covar(jj, kk);
      beta(jj) = da(jj);
    }
    for (int l = 1; l <= ma; ++l) a(l) = atry(l);
  } else {
    alamda *= factor;
    chisq = ochisq;
  }
  return 0;
}

int marquardt::mrqcof(orv::MArray<double, 1>& p, orv::MArray<double, 2>& A, orv::MArray<double, 1>& b) {
  orv::MArray<double, 1> dyda(ma);
  dyda = 0.0;
  const std::vector<int> fitted = fittedIndices__(ia, ma);
  const std::size_t nfit = fitted.size();
  // The sums run in plain buffers (curvature row by row, lower triangle) and
  // are written to A and b at the end, in the same order of additions.
  std::vector<double> curvature(nfit * nfit, 0.0);
  std::vector<double> gradient(nfit, 0.0);
  std::vector<double> derivative(nfit, 0.0);
  chisq = 0.0;

  for (int i = firstUsable__; i <= lastUsable__; ++i) {
    if (!(sig(i) > 0)) continue;
    double yfit = 0.0;
    if (funcs(x(i), y(i), p, yfit, dyda) == -1) return -1;
    const double w = 1.0 / (sig(i) * sig(i));
    const double dy = z(i) - yfit;
    for (std::size_t j = 0; j < nfit; ++j) derivative[j] = dyda(fitted[j]);
    for (std::size_t j = 0; j < nfit; ++j) {
      const double wt = derivative[j] * w;
      double* row = &curvature[j * nfit];
      for (std::size_t k = 0; k <= j; ++k) row[k] += wt * derivative[k];
      gradient[j] += dy * wt;
    }
    chisq += dy * dy * w;
  }

  // The full symmetric block from the lower triangle.
  for (std::size_t j = 0; j < nfit; ++j) {
    const int row = static_cast<int>(j) + 1;
    for (std::size_t k = 0; k <= j; ++k) {
      const int col = static_cast<int>(k) + 1;
      A(row, col) = A(col, row) = curvature[j * nfit + k];
    }
    b(row) = gradient[j];
  }
  return 0;
}

void marquardt::cov_srt(orv::MArray<double, 2>& M) {
  for (int i = mfit + 1; i <= ma; ++i)
    for (int j = 1; j <= i; ++j) M(i, j) = M(j, i) = 0.0;
  // Move row and column k of the fitted block to the place of the k-th
  // fitted parameter, from the last one down.
  int k = mfit;
  for (int j = ma; j >= 1; --j) {
    if (ia(j) == 0 || k < 1) continue;
    for (int i = 1; i <= ma; ++i) std::swap(M(i, k), M(i, j));
    for (int i = 1; i <= ma; ++i) std::swap(M(k, i), M(j, i));
    --k;
  }
}

double marquardt::mcs(double xs, double ys, double s, const orv::MArray<double, 1>& p) {
  orv::MArray<double, 1> dyda(p.getShape());
  dyda = 0.0;
  double value = 0.0;
  if (funcs(xs, ys, p, value, dyda) != 0) return 0.0;
  return noise.eval() * s + value;
}

void marquardt::print_title() {
  for (int l = 1; l <= ma; ++l) std::cout << "          a(" << std::setw(2) << l << ")";
  std::cout << std::endl;
}

void marquardt::print_a() {
  for (int l = 1; l <= ma; ++l) std::cout << printF(15, 5, a(l), 1);
  std::cout << std::endl;
}

void marquardt::print_ia() {
  for (int l = 1; l <= ma; ++l) std::cout << printF(15, 5, static_cast<double>(ia(l)), 1);
  std::cout << std::endl;
}

void marquardt::print_sa() {
  for (int l = 1; l <= ma; ++l) std::cout << printF(15, 5, sa(l), 1);
  std::cout << std::endl;
}

void marquardt::print_result() {
  std::cout.precision(13);
  for (int l = 1; l <= ma; ++l) {
    if (l <= 9) std::cout << " ";
    std::cout << "  a" << l << " = " << std::setw(19) << a(l) << "  +/- " << std::setw(19) << sa(l)
              << std::endl;
  }
}

void marquardt::write_result(const char* name) {
  if (name == nullptr) return;
  std::ofstream out(name, std::ios::out | std::ios::trunc);
  if (!out) return;
  out.precision(15);
  for (int l = 1; l <= ma; ++l) out << std::setw(20) << a(l) << std::setw(20) << sa(l) << "\n";
}
