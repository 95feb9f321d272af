#ifndef ORV_REDUCE_H
#define ORV_REDUCE_H

// Belongs to the array library, whose one include is orv/marray.h.
#ifndef ORV_MARRAY_UMBRELLA
#error "include \"orv/marray.h\", the one header of the array library, instead of orv/reduce.h"
#endif

// Whole-array reductions: sums, counts, minima, maxima and means of arrays and
// of element-wise expressions, each in one pass without temporary arrays.
// Elements are taken in storage order (dimension 1 fastest) and accumulated in
// that order, so results are reproducible bit for bit.

#include <cfloat>
#include <cstddef>
#include <limits>
#include <type_traits>

#include "orv/array.h"
#include "orv/expr.h"
#include "orv/marray_iter.h"

namespace orv {

// The running value of the reduction evaluators: read once at the start, every
// element value added in element order, stored back once at the end.
// Integer sums wrap around in two's complement instead of overflowing.
template <class T>
struct sum_reduction {
  T accumulated;
  T operator()(T v, const T& x) const {
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
      using U = std::make_unsigned_t<T>;
      return static_cast<T>(static_cast<U>(static_cast<U>(v) + static_cast<U>(x)));
    } else {
      return v + x;
    }
  }
};

namespace detail {

// Array operands of a reduction must have storage and the lengths of the first
// one, as the operands of an assignment must have the target's: elements are
// paired by position, so the loops would otherwise read through a missing block
// or outside an operand.
inline constexpr const char* operandMismatch =
    "Array operand without storage or of other lengths in reduction";

template <class E, int N>
void checkOperands(const TExpr<E, N>& expr) {
  if (!expr.operandsMatch(*expr.exprShape())) throw RangeException(operandMismatch);
}

// An array with elements must have storage to be reduced.
template <class T, int N>
void checkStorage(const MArray<T, N>& a) {
  if (a.numElements() > 0 && a.getData() == nullptr) throw RangeException(operandMismatch);
}

// The number of elements whose value is true (non-zero).
template <class V>
struct count_reduction {
  int accumulated;
  int operator()(int c, const V& x) const { return c + (x != V(0) ? 1 : 0); }
};

// Smallest and largest value; a NaN never replaces the running value.
template <class V>
struct min_reduction {
  V accumulated;
  V operator()(V m, const V& x) const { return x < m ? x : m; }
};
template <class V>
struct max_reduction {
  V accumulated;
  V operator()(V m, const V& x) const { return x > m ? x : m; }
};

// The start values of min and max: the largest finite value of the type (DBL_MAX
// for double) and its negative (lowest for integer types).
template <class V>
V largestFinite() {
  return std::numeric_limits<V>::max();
}
template <class V>
V smallestFinite() {
  return std::numeric_limits<V>::lowest();
}

// The single loop over n elements at p with step s (unit-stride form for s 1):
// the first n mod 4 elements one at a time, then groups of four, each value
// combined in element order.
template <class V, class T, class Combine>
V flatLoop(const T* p, int n, std::ptrdiff_t s, V v, Combine combine) {
  if (s == 1) {
    forEachGroupOfFour(
        n, [&](int i) { v = combine(v, p[i]); },
        [&](int i) {
          v = combine(v, p[i]);
          v = combine(v, p[i + 1]);
          v = combine(v, p[i + 2]);
          v = combine(v, p[i + 3]);
        });
  } else {
    forEachGroupOfFour(
        n, [&](int i) { v = combine(v, p[i * s]); },
        [&](int i) {
          v = combine(v, p[i * s]);
          v = combine(v, p[(i + 1) * s]);
          v = combine(v, p[(i + 2) * s]);
          v = combine(v, p[(i + 3) * s]);
        });
  }
  return v;
}

}  // namespace detail

// Single-loop reduction: every element value of the expression, n = the element
// count of its first array operand, combined into reduction.accumulated in
// element order; the first n mod 4 elements one at a time, then groups of four.
// Unit-stride form when every array operand has stride 1 in dimension 1.
template <int N, class E, class R>
void eval_full_reduction_1(TExpr<E, N> expr, R& reduction) {
  detail::checkOperands(expr);
  const int n = expr.exprShape()->numElements;
  auto v = reduction.accumulated;
  // One loop body for both forms; valueOf is valueAt or valueAtStep.
  auto loop = [&](auto valueOf) {
    forEachGroupOfFour(
        n, [&](int i) { v = reduction(v, valueOf(i)); },
        [&](int i) {
          v = reduction(v, valueOf(i));
          v = reduction(v, valueOf(i + 1));
          v = reduction(v, valueOf(i + 2));
          v = reduction(v, valueOf(i + 3));
        });
  };
  if (expr.isUnitStride())
    loop([&expr](int i) { return expr.valueAt(i); });
  else
    loop([&expr](int i) { return expr.valueAtStep(i); });
  reduction.accumulated = v;
}

// Run-by-run reduction for operands that are not storage-contiguous: the runs
// along dimension 1 one after another, one element at a time, the operands
// carried into the higher dimensions between runs. Ends by counting elements.
template <int N, class E, class R>
void eval_full_reduction_N(TExpr<E, N> expr, R& reduction) {
  detail::checkOperands(expr);
  const Shape<N>* shape = expr.exprShape();
  const int n = shape->length[0];
  const int total = shape->numElements;
  auto v = reduction.accumulated;
  const bool unitStride = expr.isUnitStride();
  if (total == 0) return;
  for (int done = 0; done < total; done += n) {
    if (unitStride) {
      for (int i = 0; i < n; ++i) v = reduction(v, expr.valueAt(i));
    } else {
      for (int i = 0; i < n; ++i) v = reduction(v, expr.valueAtStep(i));
    }
    expr.advanceBy(n);
    expr.advanceDim();
  }
  reduction.accumulated = v;
}

namespace detail {

// Runs the reduction R, started at `start`, over the expression and returns its
// result. Rank 1 always takes the single loop (one run at its stride); higher
// ranks take it when every array operand is storage-contiguous, else the
// run-by-run form. Both work on their own copy of the expression.
template <class R, class E, int N>
auto reduce(const TExpr<E, N>& expr, decltype(R::accumulated) start) {
  R reduction{start};
  if (N == 1 || expr.isStorageContiguous())
    eval_full_reduction_1<N>(expr, reduction);
  else
    eval_full_reduction_N<N>(expr, reduction);
  return reduction.accumulated;
}

template <class E, int N>
using ValueType = typename TExpr<E, N>::value_type;

}  // namespace detail

// Every reduction throws RangeException for an array operand without storage or
// of other lengths than the first one.

// The sum of all element values, in the expression's value type.
template <class E, int N>
detail::ValueType<E, N> sum(const TExpr<E, N>& expr) {
  using V = detail::ValueType<E, N>;
  return detail::reduce<sum_reduction<V>>(expr, V(0));
}

// The number of elements whose value is true (non-zero); a NaN value counts.
template <class E, int N>
int count(const TExpr<E, N>& expr) {
  return detail::reduce<detail::count_reduction<detail::ValueType<E, N>>>(expr, 0);
}

// The smallest element value; DBL_MAX (the type's largest finite value) when the
// expression is empty or all its values are NaN.
template <class E, int N>
detail::ValueType<E, N> min(const TExpr<E, N>& expr) {
  using V = detail::ValueType<E, N>;
  return detail::reduce<detail::min_reduction<V>>(expr, detail::largestFinite<V>());
}

// The largest element value; -DBL_MAX (the type's lowest finite value) when the
// expression is empty or all its values are NaN.
template <class E, int N>
detail::ValueType<E, N> max(const TExpr<E, N>& expr) {
  using V = detail::ValueType<E, N>;
  return detail::reduce<detail::max_reduction<V>>(expr, detail::smallestFinite<V>());
}

// The sum of all elements of an array of rank 2 or more: the sum of the
// expression made of the array alone, so its contiguity chooses the loop.
template <class T, int N>
requires(N >= 2) T sum(const MArray<T, N>& a) {
  detail::checkStorage(a);
  if (a.numElements() <= 0) return T(0);
  return sum(TExpr<MArrayIterConst<T, N>, N>(MArrayIterConst<T, N>(a)));
}

// The sum of all elements of a rank-1 array (or view, any stride), in T.
template <class T, int N>
requires(N == 1) T sum(const MArray<T, N>& a) {
  detail::checkStorage(a);
  const int n = a.numElements();
  if (n <= 0) return T(0);
  return detail::flatLoop(a.firstElement(), n, a.stride(1), T(0), sum_reduction<T>());
}

// The mean of all elements: the sum formed in double, divided by the element
// count (NaN for an empty array).
template <class T, int N>
double average(const MArray<T, N>& a) {
  detail::checkStorage(a);
  double total = 0.0;
  const int n = a.numElements();
  if (n > 0) {
    auto add = [](double v, const T& x) { return v + static_cast<double>(x); };
    if (N == 1 || a.isStorageContiguous()) {
      total = detail::flatLoop(a.firstElement(), n, a.stride(1), 0.0, add);
    } else {
      forEachRun(a, [&](const T* p, int count, std::ptrdiff_t stride) {
        total = detail::flatLoop(p, count, stride, total, add);
      });
    }
  }
  return total / static_cast<double>(n);
}

}  // namespace orv

#endif
