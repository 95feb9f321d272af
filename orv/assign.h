#ifndef ORV_ASSIGN_H
#define ORV_ASSIGN_H

// Belongs to the array library, whose one include is orv/marray.h.
#ifndef ORV_MARRAY_UMBRELLA
#error "include \"orv/marray.h\", the one header of the array library, instead of orv/assign.h"
#endif

#include <type_traits>

#include "orv/array.h"
#include "orv/eval.h"
#include "orv/expr.h"
#include "orv/expr_functors.h"
#include "orv/list_init.h"
#include "orv/marray_iter.h"

namespace orv {

// Whole-array assignments. They write element values into the storage the
// target already has, each element once, without temporaries, and choose the
// evaluator anew at every call (selectEvaluator).
//
// Aliasing: a target that is also an operand at the same positions, as in
// A = A * x or A = merge(A == v, w, A), is well defined. Operands that overlap
// the target at other positions, shifted as in A(2:n) = A(1:n-1) or reversed
// as in A = A(n:1:-1), are not: groups of four elements are read before they
// are written, but later groups may read elements that earlier ones have
// already overwritten. Copy such an operand into an array of its own first.

namespace detail {

// Array operands must have storage and the target's length in every
// dimension; elements are paired by position, so a mismatch would read outside
// an operand.
template <typename T, int N, typename E>
void checkAssignable(const MArray<T, N>& target, const TExpr<E, N>& expr) {
  if (target.isEmpty()) throw RangeException("Assignment to an array without storage");
  if (!expr.operandsMatch(*target.getShape()))
    throw RangeException("Array operand without storage or of other lengths in assignment");
}

}  // namespace detail

template <typename T, int N>
template <typename E>
MArray<T, N>& MArray<T, N>::operator=(const TExpr<E, N>& expr) {
  detail::checkAssignable(*this, expr);
  TExpr<E, N> work(expr);
  evaluateInto(*this, work);
  return *this;
}

// A = B copies B's elements, converted to T, into A's own storage. An array
// without storage, or one whose lengths differ from B's, cannot receive B's
// elements: it gives up its storage and takes B's (a new block shaped like B
// when the element types differ), as an array assigned a new array does; B
// without storage leaves A without storage. Both behaviours are kept on
// purpose: arrays of equal lengths copy elements, while the difference-imaging
// and sky-program code assigns a newly made array to an empty or differently
// sized one and expects it to take that array's storage, index ranges and strides.
template <typename T, int N>
template <typename T2>
MArray<T, N>& MArray<T, N>::assignArray__(const MArray<T2, N>& other) {
  bool sameLengths = true;
  for (int d = 0; d < N; ++d)
    if (shape.length[d] != other.getShape()->length[d]) sameLengths = false;
  if (isEmpty() || other.isEmpty() || !sameLengths) {
    if constexpr (std::is_same_v<T, T2>) {
      makeReference(other);
      return *this;
    } else {
      if (other.isEmpty()) {
        free();
        return *this;
      }
      allocate__(other.getShape()->base, other.getShape()->length, false);
    }
  }
  TExpr<MArrayIterConst<T2, N>, N> expr{MArrayIterConst<T2, N>(other)};
  evaluateInto(*this, expr);
  return *this;
}

template <typename T, int N>
template <typename T2>
MArray<T, N>& MArray<T, N>::operator=(const MArray<T2, N>& other) {
  return assignArray__(other);
}

template <typename T, int N>
MArray<T, N>& MArray<T, N>::operator=(const MArray& other) {
  return assignArray__(other);
}

// The scalar fill. Numbers and bools are filled by the returned switch at the
// end of the statement; other element types (strings), whose copies may throw,
// are filled at once.
template <typename T, int N>
ListInitializationSwitch<MArray<T, N>> MArray<T, N>::operator=(T value) {
  if constexpr (std::is_arithmetic_v<T>) {
    return ListInitializationSwitch<MArray>(*this, value);
  } else {
    fill__(value);
    return ListInitializationSwitch<MArray>(*this, value, false);
  }
}

// A literal has no stride, so the target alone decides: a flat loop over a
// storage-contiguous array (unit stride or constant stride[1]), the strided
// evaluator for other views.
template <typename T, int N>
void MArray<T, N>::fill__(const T& x) {
  TExpr<TExprLiteral<T>, N> expr{TExprLiteral<T>(x)};
  if (N >= 2 && !shape.isStorageContiguous)
    eval_assign_expr_N(*this, expr);
  else
    eval_assign_expr_1(*this, expr);
}

// In-place scaling: A's own elements combined with the literal, through the
// evaluator choice. /= is a true division, not a product with 1/x.
template <typename T, int N>
MArray<T, N>& MArray<T, N>::operator*=(T value) {
  using Node = TBinExprOp<MArrayIterConst<T, N>, TExprLiteral<T>, __orv_TMul<T, T>, N>;
  TExpr<Node, N> expr{Node(MArrayIterConst<T, N>(*this), TExprLiteral<T>(value))};
  evaluateInto(*this, expr);
  return *this;
}

template <typename T, int N>
MArray<T, N>& MArray<T, N>::operator/=(T value) {
  using Node = TBinExprOp<MArrayIterConst<T, N>, TExprLiteral<T>, __orv_TDiv<T, T>, N>;
  TExpr<Node, N> expr{Node(MArrayIterConst<T, N>(*this), TExprLiteral<T>(value))};
  evaluateInto(*this, expr);
  return *this;
}

}  // namespace orv

#endif
