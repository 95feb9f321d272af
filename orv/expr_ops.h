#ifndef ORV_EXPR_OPS_H
#define ORV_EXPR_OPS_H

#include <string>
#include <type_traits>

#include "orv/array.h"
#include "orv/expr.h"
#include "orv/expr_functors.h"
#include "orv/marray_iter.h"

namespace orv {

namespace detail {

// How each kind of operand enters a tree: an array as a fresh const iterator
// standing on its first element, an expression as a copy, a scalar as a
// literal of its own type.
template <typename X>
struct ExprOperand {
  static constexpr bool isScalar = std::is_arithmetic_v<X> || std::is_same_v<X, std::string>;
  static constexpr bool isOperand = false;
  static constexpr int rank = 0;
  using type = TExprLiteral<X>;
  static type make(const X& x) { return type(x); }
};

template <typename T, int N>
struct ExprOperand<MArray<T, N>> {
  static constexpr bool isScalar = false;
  static constexpr bool isOperand = true;
  static constexpr int rank = N;
  using type = MArrayIterConst<T, N>;
  static type make(const MArray<T, N>& a) { return type(a); }
};

template <typename E, int N>
struct ExprOperand<TExpr<E, N>> {
  static constexpr bool isScalar = false;
  static constexpr bool isOperand = true;
  static constexpr int rank = N;
  using type = TExpr<E, N>;
  static type make(const TExpr<E, N>& e) { return e; }
};

template <typename X>
using OperandType = typename ExprOperand<X>::type;
template <typename X>
using OperandValue = typename OperandType<X>::value_type;

// Arrays or expressions on one side at least, scalars at most on the other;
// two non-scalars must have the same rank.
template <typename L, typename R>
concept BinaryOperands = (ExprOperand<L>::isOperand || ExprOperand<R>::isOperand) &&
                         (ExprOperand<L>::isOperand || ExprOperand<L>::isScalar) &&
                         (ExprOperand<R>::isOperand || ExprOperand<R>::isScalar) &&
                         (!ExprOperand<L>::isOperand || !ExprOperand<R>::isOperand ||
                          ExprOperand<L>::rank == ExprOperand<R>::rank);

template <typename L, typename R>
inline constexpr int binaryRank = ExprOperand<L>::isOperand ? ExprOperand<L>::rank : ExprOperand<R>::rank;

template <template <typename, typename> class Op, typename L, typename R>
using BinaryExpr =
    TExpr<TBinExprOp<OperandType<L>, OperandType<R>, Op<OperandValue<L>, OperandValue<R>>, binaryRank<L, R>>,
          binaryRank<L, R>>;

template <template <typename, typename> class Op, typename L, typename R>
BinaryExpr<Op, L, R> makeBinary(const L& l, const R& r) {
  constexpr int N = binaryRank<L, R>;
  using Node = TBinExprOp<OperandType<L>, OperandType<R>, Op<OperandValue<L>, OperandValue<R>>, N>;
  return TExpr<Node, N>(Node(ExprOperand<L>::make(l), ExprOperand<R>::make(r)));
}

}  // namespace detail

#define ORV_BINARY_OPERATOR(OP, FUNCTOR)                                  \
  template <typename L, typename R>                                       \
  requires detail::BinaryOperands<L, R> detail::BinaryExpr<FUNCTOR, L, R> \
  operator OP(const L& l, const R& r) { return detail::makeBinary<FUNCTOR>(l, r); }

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

namespace detail {

// One array or expression through a one-operand functor.
template <typename X>
concept UnaryOperand = ExprOperand<X>::isOperand;

template <template <typename> class Op, typename X>
using UnaryExpr =
    TExpr<TUnExprOp<OperandType<X>, Op<OperandValue<X>>, ExprOperand<X>::rank>, ExprOperand<X>::rank>;

template <template <typename> class Op, typename X>
UnaryExpr<Op, X> makeUnary(const X& x) {
  using Node = TUnExprOp<OperandType<X>, Op<OperandValue<X>>, ExprOperand<X>::rank>;
  return UnaryExpr<Op, X>(Node(ExprOperand<X>::make(x)));
}

}  // namespace detail

// x * x, formed in double.
template <detail::UnaryOperand X>
detail::UnaryExpr<__orv_pow2, X> pow2(const X& x) {
  return detail::makeUnary<__orv_pow2>(x);
}

// Square root in the operand's own precision, as double.
template <detail::UnaryOperand X>
detail::UnaryExpr<__orv_sqrt, X> sqrt(const X& x) {
  return detail::makeUnary<__orv_sqrt>(x);
}

template <detail::UnaryOperand X>
detail::UnaryExpr<__orv_fabs, X> fabs(const X& x) {
  return detail::makeUnary<__orv_fabs>(x);
}

// Conversion of every value to To: orv::cast<float>(D).
template <typename To, detail::UnaryOperand X>
TExpr<
    TUnExprOp<detail::OperandType<X>, __orv_cast<To, detail::OperandValue<X>>, detail::ExprOperand<X>::rank>,
    detail::ExprOperand<X>::rank>
cast(const X& x) {
  using Node = TUnExprOp<detail::OperandType<X>, __orv_cast<To, detail::OperandValue<X>>,
                         detail::ExprOperand<X>::rank>;
  return TExpr<Node, detail::ExprOperand<X>::rank>(Node(detail::ExprOperand<X>::make(x)));
}

// c ? a : b per element; c is an array (bool or short) or an expression, a and
// b arrays, expressions or scalars.
template <detail::UnaryOperand C, typename A, typename B>
requires(detail::ExprOperand<A>::isOperand || detail::ExprOperand<A>::isScalar) &&
    (detail::ExprOperand<B>::isOperand ||
     detail::ExprOperand<B>::isScalar) TExpr<MergeExpr<detail::OperandType<C>, detail::OperandType<A>,
                                                       detail::OperandType<B>, detail::ExprOperand<C>::rank>,
                                             detail::ExprOperand<C>::rank> merge(const C& c, const A& a,
                                                                                 const B& b) {
  constexpr int N = detail::ExprOperand<C>::rank;
  static_assert(!detail::ExprOperand<A>::isOperand || detail::ExprOperand<A>::rank == N,
                "operands of one rank");
  static_assert(!detail::ExprOperand<B>::isOperand || detail::ExprOperand<B>::rank == N,
                "operands of one rank");
  using Node = MergeExpr<detail::OperandType<C>, detail::OperandType<A>, detail::OperandType<B>, N>;
  return TExpr<Node, N>(Node(detail::ExprOperand<C>::make(c), detail::ExprOperand<A>::make(a),
                             detail::ExprOperand<B>::make(b)));
}

}  // namespace orv

#endif
