#ifndef ORV_EVAL_H
#define ORV_EVAL_H

#include <cstddef>

#include "orv/array.h"
#include "orv/expr.h"
#include "orv/marray_iter.h"

namespace orv {

// The three ways an element-wise expression is assigned to an array. Each
// writes every element of the target exactly once and converts a value to the
// target's element type only when it stores it. In every grouped loop the
// first n mod 4 elements go one at a time, then groups of four whose four
// values are all formed before any is stored, so a target that is also an
// operand at the same positions (A = A * x) reads each element before it is
// overwritten.

namespace detail {

// One run of n elements from `run`, the target stepping by ts, the operands
// from their current positions: unit offsets when every stride is 1, else
// each operand at its own stride.
template <typename T, typename E, int N>
inline void assignRun(T* run, std::ptrdiff_t ts, int n, bool unit, TExpr<E, N>& expr) {
  if (unit) {
    forEachGroupOfFour(
        n, [&](int i) { run[i] = static_cast<T>(expr.valueAt(i)); },
        [&](int i) {
          const auto v0 = expr.valueAt(i);
          const auto v1 = expr.valueAt(i + 1);
          const auto v2 = expr.valueAt(i + 2);
          const auto v3 = expr.valueAt(i + 3);
          run[i] = static_cast<T>(v0);
          run[i + 1] = static_cast<T>(v1);
          run[i + 2] = static_cast<T>(v2);
          run[i + 3] = static_cast<T>(v3);
        });
  } else {
    forEachGroupOfFour(
        n, [&](int i) { run[i * ts] = static_cast<T>(expr.valueAtStep(i)); },
        [&](int i) {
          const auto v0 = expr.valueAtStep(i);
          const auto v1 = expr.valueAtStep(i + 1);
          const auto v2 = expr.valueAtStep(i + 2);
          const auto v3 = expr.valueAtStep(i + 3);
          run[i * ts] = static_cast<T>(v0);
          run[(i + 1) * ts] = static_cast<T>(v1);
          run[(i + 2) * ts] = static_cast<T>(v2);
          run[(i + 3) * ts] = static_cast<T>(v3);
        });
  }
}

}  // namespace detail

// Contiguous evaluator: every rank-1 target, and targets of higher rank that
// are storage-contiguous with storage-contiguous operands. The element at
// storage position i lies at the first element + i * stride[1], so the whole
// target is one run; operands are paired by position and not measured.
template <typename T, int N, typename E>
void eval_assign_expr_1(MArray<T, N>& target, TExpr<E, N>& expr) {
  const Shape<N>& shape = *target.getShape();
  if (!shape.hasElements() || target.getData() == nullptr) return;
  const std::ptrdiff_t s = shape.stride[0];
  detail::assignRun(target.firstElement(), s, shape.numElements, s == 1 && expr.isUnitStride(), expr);
}

// Strided evaluator, ranks 2 to 4: walks the target and every array operand
// together one run of dimension 1 at a time, each operand in its own storage
// order, and stops after numElements / length[1] runs. Uses up expr.
template <typename T, int N, typename E>
void eval_assign_expr_N(MArray<T, N>& target, TExpr<E, N>& expr) {
  const bool unit = target.getShape()->stride[0] == 1 && expr.isUnitStride();
  forEachRun(target, [&](T* run, int n, std::ptrdiff_t ts) {
    detail::assignRun(run, ts, n, unit, expr);
    expr.advanceBy(n);
    expr.advanceDim();
  });
}

// Index-aware evaluator, for expressions with index operands: element by
// element, each operand's current value, the index operands counting along
// dimension 1 and carrying between runs. An empty target is left at once.
template <typename T, int N, typename E>
void eval_with_index_iter(MArray<T, N>& target, TExpr<E, N>& expr) {
  forEachRun(target, [&](T* run, int n, std::ptrdiff_t s) {
    if (s == 1) {
      for (int i = 0; i < n; ++i) {
        run[i] = static_cast<T>(expr.currentValue());
        expr.stepElement();
      }
    } else {
      for (int i = 0; i < n; ++i) {
        run[i * s] = static_cast<T>(expr.currentValue());
        expr.stepElement();
      }
    }
    expr.stepRun();
  });
}

// Which evaluator an assignment of expr to target takes.
enum class EvaluatorKind { Contiguous, Strided, IndexAware };

template <typename T, int N, typename E>
EvaluatorKind selectEvaluator(const MArray<T, N>& target, const TExpr<E, N>& expr) {
  if constexpr (E::hasIndexOperand) {
    return EvaluatorKind::IndexAware;
  } else if constexpr (N == 1) {
    return EvaluatorKind::Contiguous;
  } else {
    return target.isStorageContiguous() && expr.isStorageContiguous() ? EvaluatorKind::Contiguous
                                                                      : EvaluatorKind::Strided;
  }
}

// The choice for A = B: B's const iterator alone is the expression.
template <typename T, int N, typename T2>
EvaluatorKind selectEvaluator(const MArray<T, N>& target, const MArray<T2, N>& source) {
  return selectEvaluator(target, TExpr<MArrayIterConst<T2, N>, N>{MArrayIterConst<T2, N>(source)});
}

// Runs the evaluator that selectEvaluator names, so the choice reported there
// is the one made here; uses up expr.
template <typename T, int N, typename E>
void evaluateInto(MArray<T, N>& target, TExpr<E, N>& expr) {
  if constexpr (E::hasIndexOperand) {
    eval_with_index_iter(target, expr);
  } else if (selectEvaluator(target, expr) == EvaluatorKind::Contiguous) {
    eval_assign_expr_1(target, expr);
  } else {
    eval_assign_expr_N(target, expr);
  }
}

}  // namespace orv

#endif
