#ifndef ORV_EXPR_H
#define ORV_EXPR_H

#include <cstddef>
#include <type_traits>

#include "orv/expr_functors.h"
#include "orv/marray_iter.h"
#include "orv/shape.h"

namespace orv {

// Expression trees. An element-wise operation on arrays builds a small tree of
// nodes held by value; nothing is computed until an evaluator or a reduction
// walks it. Every leaf and node offers:
//   valueAt(i)          value i elements past the current position (unit stride)
//   valueAtStep(i)      the same, each array operand stepping by its own stride
//   currentValue()      value at the current position (index-aware walk)
//   isStorageContiguous(), isUnitStride()   over all array operands
//   advanceBy(n), advanceDim()              move the array operands between runs
//   stepElement(), stepRun()                one element / one run of the
//                                           index-aware walk
//   exprShape()         shape of the first array operand, or null
//   hasIndexOperand     whether an index operand occurs in the tree
// Array leaves are MArrayIterConst (orv/marray_iter.h); they hold plain
// pointers, so the arrays must outlive the expression.

// A scalar operand in its own type.
template <typename T>
class TExprLiteral {
 public:
  using value_type = T;
  using T_numtype = T;
  static constexpr bool hasIndexOperand = false;

  explicit TExprLiteral(const T& v) : value(v) {}

  const T& valueAt(int) const { return value; }
  const T& valueAtStep(int) const { return value; }
  const T& currentValue() const { return value; }
  bool isStorageContiguous() const { return true; }
  bool isUnitStride() const { return true; }
  void advanceBy(int) {}
  void advanceDim() {}
  void stepElement() {}
  void stepRun() {}
  std::nullptr_t exprShape() const { return nullptr; }
  template <int M>
  bool operandsMatch(const Shape<M>&) const {
    return true;
  }

  T value;
};

// The wrapper of a node E of rank N; what the operators return and take.
template <typename E, int N>
class TExpr {
 public:
  using value_type = typename E::value_type;
  using T_numtype = value_type;
  static constexpr int rank = N;
  static constexpr bool hasIndexOperand = E::hasIndexOperand;

  explicit TExpr(const E& e) : node(e) {}

  decltype(auto) valueAt(int i) const { return node.valueAt(i); }
  decltype(auto) valueAtStep(int i) const { return node.valueAtStep(i); }
  decltype(auto) currentValue() const { return node.currentValue(); }
  bool isStorageContiguous() const { return node.isStorageContiguous(); }
  bool isUnitStride() const { return node.isUnitStride(); }
  void advanceBy(int n) { node.advanceBy(n); }
  void advanceDim() { node.advanceDim(); }
  void stepElement() { node.stepElement(); }
  void stepRun() { node.stepRun(); }
  auto exprShape() const { return node.exprShape(); }
  // True when every array operand has the given lengths.
  template <int M>
  bool operandsMatch(const Shape<M>& target) const {
    return node.operandsMatch(target);
  }

  E node;
};

namespace detail {

// Shape of the first array operand among the given operands, in operand
// order, or null when none is an array. Decided by type: an array leaf always
// has a shape.
template <typename X, typename... Rest>
inline auto firstShape(const X& x, const Rest&... rest) {
  if constexpr (!std::is_same_v<decltype(x.exprShape()), std::nullptr_t>) {
    return x.exprShape();
  } else if constexpr (sizeof...(Rest) == 0) {
    return nullptr;
  } else {
    return firstShape(rest...);
  }
}

}  // namespace detail

// Two operands combined by a functor.
template <typename A, typename B, typename Op, int N>
class TBinExprOp {
 public:
  using value_type = typename Op::T_numtype;
  using T_numtype = value_type;
  static constexpr bool hasIndexOperand = A::hasIndexOperand || B::hasIndexOperand;

  TBinExprOp(const A& left, const B& right) : a(left), b(right) {}

  value_type valueAt(int i) const { return Op::apply(a.valueAt(i), b.valueAt(i)); }
  value_type valueAtStep(int i) const { return Op::apply(a.valueAtStep(i), b.valueAtStep(i)); }
  value_type currentValue() const { return Op::apply(a.currentValue(), b.currentValue()); }
  bool isStorageContiguous() const { return a.isStorageContiguous() && b.isStorageContiguous(); }
  bool isUnitStride() const { return a.isUnitStride() && b.isUnitStride(); }
  void advanceBy(int n) {
    a.advanceBy(n);
    b.advanceBy(n);
  }
  void advanceDim() {
    a.advanceDim();
    b.advanceDim();
  }
  void stepElement() {
    a.stepElement();
    b.stepElement();
  }
  void stepRun() {
    a.stepRun();
    b.stepRun();
  }
  auto exprShape() const { return detail::firstShape(a, b); }
  template <int M>
  bool operandsMatch(const Shape<M>& target) const {
    return a.operandsMatch(target) && b.operandsMatch(target);
  }

  A a;
  B b;
};

// One operand transformed by a functor.
template <typename A, typename Op, int N>
class TUnExprOp {
 public:
  using value_type = typename Op::T_numtype;
  using T_numtype = value_type;
  static constexpr bool hasIndexOperand = A::hasIndexOperand;

  explicit TUnExprOp(const A& operand) : a(operand) {}

  value_type valueAt(int i) const { return Op::apply(a.valueAt(i)); }
  value_type valueAtStep(int i) const { return Op::apply(a.valueAtStep(i)); }
  value_type currentValue() const { return Op::apply(a.currentValue()); }
  bool isStorageContiguous() const { return a.isStorageContiguous(); }
  bool isUnitStride() const { return a.isUnitStride(); }
  void advanceBy(int n) { a.advanceBy(n); }
  void advanceDim() { a.advanceDim(); }
  void stepElement() { a.stepElement(); }
  void stepRun() { a.stepRun(); }
  auto exprShape() const { return a.exprShape(); }
  template <int M>
  bool operandsMatch(const Shape<M>& target) const {
    return a.operandsMatch(target);
  }

  A a;
};

// c ? a : b per element. The condition is evaluated first, then only the
// selected branch; its value is converted to the promoted type of the branches.
template <typename Cond, typename A, typename B, int N>
class MergeExpr {
 public:
  using value_type = PromotedType<typename A::value_type, typename B::value_type>;
  using T_numtype = value_type;
  static constexpr bool hasIndexOperand = Cond::hasIndexOperand || A::hasIndexOperand || B::hasIndexOperand;

  MergeExpr(const Cond& condition, const A& whenTrue, const B& whenFalse)
      : c(condition), a(whenTrue), b(whenFalse) {}

  value_type valueAt(int i) const {
    return c.valueAt(i) ? static_cast<value_type>(a.valueAt(i)) : static_cast<value_type>(b.valueAt(i));
  }
  value_type valueAtStep(int i) const {
    return c.valueAtStep(i) ? static_cast<value_type>(a.valueAtStep(i))
                            : static_cast<value_type>(b.valueAtStep(i));
  }
  value_type currentValue() const {
    return c.currentValue() ? static_cast<value_type>(a.currentValue())
                            : static_cast<value_type>(b.currentValue());
  }
  bool isStorageContiguous() const {
    return c.isStorageContiguous() && a.isStorageContiguous() && b.isStorageContiguous();
  }
  bool isUnitStride() const { return c.isUnitStride() && a.isUnitStride() && b.isUnitStride(); }
  void advanceBy(int n) {
    c.advanceBy(n);
    a.advanceBy(n);
    b.advanceBy(n);
  }
  void advanceDim() {
    c.advanceDim();
    a.advanceDim();
    b.advanceDim();
  }
  void stepElement() {
    c.stepElement();
    a.stepElement();
    b.stepElement();
  }
  void stepRun() {
    c.stepRun();
    a.stepRun();
    b.stepRun();
  }
  auto exprShape() const { return detail::firstShape(c, a, b); }
  template <int M>
  bool operandsMatch(const Shape<M>& target) const {
    return c.operandsMatch(target) && a.operandsMatch(target) && b.operandsMatch(target);
  }

  Cond c;
  A a;
  B b;
};

}  // namespace orv

#endif
