#ifndef ORV_INDEX_EXPR_H
#define ORV_INDEX_EXPR_H

#include <cstddef>

#include "orv/array.h"
#include "orv/expr.h"
#include "orv/range_exception.h"

namespace orv {

// Index operand: its value is the current index of the target element along
// dimension `dim`, in the array's own numbering (an array indexed -30..30
// yields -30..30). It keeps a complete index state of its own; only the
// index-aware evaluator moves it. V is its value type, int.
template <typename T, typename V, int N>
class IndexIterDimExpr {
 public:
  using value_type = V;
  using T_numtype = V;
  static constexpr bool hasIndexOperand = true;

  // A dimension outside 1..N would index past the counters.
  IndexIterDimExpr(const MArray<T, N>& array, int dimension) : dim(dimension) {
    if (dimension < 1 || dimension > N) throw RangeException("Index operand of a dimension the array lacks");
    for (int d = 0; d < N; ++d) {
      firstIndex[d] = array.first(d + 1);
      lastIndex[d] = array.last(d + 1);
      indexStep[d] = 1;
      index[d] = firstIndex[d];
    }
    innerStep = indexStep[0];
  }

  // The index along `dim` at the current position; offsets along dimension 1
  // are counted for the flat walks.
  V valueAt(int i) const { return dim == 1 ? index[0] + i * innerStep : index[dim - 1]; }
  V valueAtStep(int i) const { return valueAt(i); }
  V currentValue() const { return index[dim - 1]; }
  bool isStorageContiguous() const { return true; }
  bool isUnitStride() const { return innerStep == 1; }
  void advanceBy(int) {}
  void advanceDim() {}
  std::nullptr_t exprShape() const { return nullptr; }
  template <int M>
  bool operandsMatch(const Shape<M>&) const {
    return true;
  }

  // One element along dimension 1. After the last element of a run the index
  // stands one past the last index, which wraps instead of overflowing when
  // that is INT_MAX; the carry resets it before it is read again.
  void stepElement() {
    index[0] = static_cast<int>(static_cast<unsigned>(index[0]) + static_cast<unsigned>(innerStep));
  }

  // The carry after a run: the next higher index that stays in range moves on
  // and every lower one restarts; past the last run `done` is set. An index is
  // tested before it moves, so a last index of INT_MAX cannot overflow.
  void stepRun() {
    for (int d = 1; d < N; ++d) {
      if (index[d] < lastIndex[d]) {
        index[d] += indexStep[d];
        for (int e = 0; e < d; ++e) index[e] = firstIndex[e];
        return;
      }
    }
    done = true;
  }

  int dim;
  int firstIndex[N];
  int lastIndex[N];
  int indexStep[N];
  int index[N];
  int innerStep;
  bool done = false;
};

// The index operand of dimension dim (1-based) over array a, as an expression.
template <typename T, int N>
TExpr<IndexIterDimExpr<T, int, N>, N> indexOperand(const MArray<T, N>& a, int dim) {
  return TExpr<IndexIterDimExpr<T, int, N>, N>(IndexIterDimExpr<T, int, N>(a, dim));
}

}  // namespace orv

#endif
