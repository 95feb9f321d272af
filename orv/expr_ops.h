#ifndef ORV_EXPR_OPS_H
#define ORV_EXPR_OPS_H

#include <string>
#include <type_traits>

#include "orv/array.h"
#include "orv/expr.h"
#include "orv/expr_functors.h"
#include "orv/marray_iter.h"

namespace orv {

// How each kind of operand enters a tree: an array as a fresh const iterator
// standing on its first element, an expression as a copy, a scalar as a
// literal of its own type.
template <typename X>
struct ExprOperand__ {
  static constexpr bool isScalar = std::is_arithmetic_v<X> || std::is_same_v<X, std::string>;
  static constexpr bool isOperand = false;
  static constexpr int rank = 0;
  using type = TExprLiteral<X>;
  static type make(const X& x) { return type(x); }
};

template <typename T, int N>
struct ExprOperand__<MArray<T, N>> {
  static constexpr bool isScalar = false;
  static constexpr bool isOperand = true;
  static constexpr int rank = N;
  using type = MArrayIterConst<T, N>;
  static type make(const MArray<T, N>& a) { return type(a); }
};

template <typename E, int N>
struct ExprOperand__<TExpr<E, N>> {
  static constexpr bool isScalar = false;
  static constexpr bool isOperand = true;
  static constexpr int rank = N;
  using type = TExpr<E, N>;
  static type make(const TExpr<E, N>& e) { return e; }
};

template <typename X>
using OperandType__ = typename ExprOperand__<X>::type;
template <typename X>
using OperandValue__ = typename OperandType__<X>::value_type;

// Arrays or expressions on one side at least, scalars at most on the other;
// two non-scalars must have the same rank.
template <typename L, typename R>
concept BinaryOperands__ = (ExprOperand__<L>::isOperand || ExprOperand__<R>::isOperand) &&
                           (ExprOperand__<L>::isOperand || ExprOperand__<L>::isScalar) &&
                           (ExprOperand__<R>::isOperand || ExprOperand__<R>::isScalar) &&
                           (!ExprOperand__<L>::isOperand || !ExprOperand__<R>::isOperand ||
                            ExprOperand__<L>::rank == ExprOperand__<R>::rank);

template <typename L, typename R>
inline constexpr int binaryRank__ =
    ExprOperand__<L>::isOperand ? ExprOperand__<L>::rank : ExprOperand__<R>::rank;

template <template <typename, typename> class Op, typename L, typename R>
using BinaryExpr__ = TExpr<TBinExprOp<OperandType__<L>, OperandType__<R>,
                                      Op<OperandValue__<L>, OperandValue__<R>>, binaryRank__<L, R>>,
                           binaryRank__<L, R>>;

template <template <typename, typename> class Op, typename L, typename R>
BinaryExpr__<Op, L, R> makeBinary__(const L& l, const R& r) {
  constexpr int N = binaryRank__<L, R>;
  using Node = TBinExprOp<OperandType__<L>, OperandType__<R>, Op<OperandValue__<L>, OperandValue__<R>>, N>;
  return TExpr<Node, N>(Node(ExprOperand__<L>::make(l), ExprOperand__<R>::make(r)));
}

#define ORV_BINARY_OPERATOR(OP, FUNCTOR)                      \
  template <typename L, typename R>                           \
  requires BinaryOperands__<L, R> BinaryExpr__<FUNCTOR, L, R> \
  operator OP(const L& l, const R& r) { return makeBinary__<FUNCTOR>(l, r); }

ORV_BINARY_OPERATOR(+, __orv_TAdd)
ORV_BINARY_OPERATOR(-, __orv_TSub)
ORV_BINARY_OPERATOR(*, __orv_TMul)
ORV_BINARY_OPERATOR(/, __orv_TDiv)
ORV_BINARY_OPERATOR(==, __orv_TEQ)
ORV_BINARY_OPERATOR(!=, __orv_TNE)
ORV_BINARY_OPERATOR(>, __orv_TGT)
ORV_BINARY_OPERATOR(<, __orv_TLT)
ORV_BINARY_OPERATOR(<=, __orv_TLE)
ORV_BINARY_OPERATOR(&&, __orv_TAnd)
ORV_BINARY_OPERATOR(||, __orv_TOr)

#undef ORV_BINARY_OPERATOR

// One array or expression through a one-operand functor.
template <typename X>
concept UnaryOperand__ = ExprOperand__<X>::isOperand;

template <template <typename> class Op, typename X>
using UnaryExpr__ =
    TExpr<TUnExprOp<OperandType__<X>, Op<OperandValue__<X>>, ExprOperand__<X>::rank>, ExprOperand__<X>::rank>;

template <template <typename> class Op, typename X>
UnaryExpr__<Op, X> makeUnary__(const X& x) {
  using Node = TUnExprOp<OperandType__<X>, Op<OperandValue__<X>>, ExprOperand__<X>::rank>;
  return UnaryExpr__<Op, X>(Node(ExprOperand__<X>::make(x)));
}

// x * x, formed in double.
template <UnaryOperand__ X>
UnaryExpr__<__orv_pow2, X> pow2(const X& x) {
  return makeUnary__<__orv_pow2>(x);
}

// Square root in the operand's own precision, as double.
template <UnaryOperand__ X>
UnaryExpr__<__orv_sqrt, X> sqrt(const X& x) {
  return makeUnary__<__orv_sqrt>(x);
}

template <UnaryOperand__ X>
UnaryExpr__<__orv_fabs, X> fabs(const X& x) {
  return makeUnary__<__orv_fabs>(x);
}

// Conversion of every value to To: orv::cast<float>(D).
template <typename To, UnaryOperand__ X>
TExpr<TUnExprOp<OperandType__<X>, __orv_cast<To, OperandValue__<X>>, ExprOperand__<X>::rank>,
      ExprOperand__<X>::rank>
cast(const X& x) {
  using Node = TUnExprOp<OperandType__<X>, __orv_cast<To, OperandValue__<X>>, ExprOperand__<X>::rank>;
  return TExpr<Node, ExprOperand__<X>::rank>(Node(ExprOperand__<X>::make(x)));
}

// c ? a : b per element; c is an array (bool or short) or an expression, a and
// b arrays, expressions or scalars.
template <UnaryOperand__ C, typename A, typename B>
requires(ExprOperand__<A>::isOperand || ExprOperand__<A>::isScalar) &&
    (ExprOperand__<B>::isOperand || ExprOperand__<B>::isScalar)
        TExpr<MergeExpr<OperandType__<C>, OperandType__<A>, OperandType__<B>, ExprOperand__<C>::rank>,
              ExprOperand__<C>::rank> merge(const C& c, const A& a, const B& b) {
  constexpr int N = ExprOperand__<C>::rank;
  static_assert(!ExprOperand__<A>::isOperand || ExprOperand__<A>::rank == N, "operands of one rank");
  static_assert(!ExprOperand__<B>::isOperand || ExprOperand__<B>::rank == N, "operands of one rank");
  using Node = MergeExpr<OperandType__<C>, OperandType__<A>, OperandType__<B>, N>;
  return TExpr<Node, N>(
      Node(ExprOperand__<C>::make(c), ExprOperand__<A>::make(a), ExprOperand__<B>::make(b)));
}

}  // namespace orv

#endif
