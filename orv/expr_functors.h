#ifndef ORV_EXPR_FUNCTORS_H
#define ORV_EXPR_FUNCTORS_H

#include <cmath>
#include <type_traits>
#include <utility>

namespace orv {

// The type in which two operands of types T1 and T2 are combined: the usual
// arithmetic conversions (double over float over int; short and bool widen to
// int). A scalar keeps its own type, so an int scalar with a double array
// gives double.
template <typename T1, typename T2>
using PromotedType = decltype(std::declval<T1>() + std::declval<T2>());

// Element-wise functors. Stateless; their arguments are the value types of
// their operands in operand order; T_numtype is the result type. Operands are
// converted to the promoted type before the operation, never to the target's
// type. Integer sums, differences and products wrap around in two's
// complement instead of overflowing.
namespace detail {
template <typename P>
inline constexpr bool wrapsAround = std::is_integral_v<P> && !std::is_same_v<P, bool>;
}  // namespace detail

#define ORV_ARITHMETIC_FUNCTOR(NAME, OP)                                                 \
  template <typename T1, typename T2>                                                    \
  struct NAME {                                                                          \
    using T_numtype = PromotedType<T1, T2>;                                              \
    static T_numtype apply(const T1& a, const T2& b) {                                   \
      if constexpr (detail::wrapsAround<T_numtype>) {                                    \
        using U = std::make_unsigned_t<T_numtype>;                                       \
        return static_cast<T_numtype>(static_cast<U>(static_cast<T_numtype>(a))          \
                                          OP static_cast<U>(static_cast<T_numtype>(b))); \
      } else {                                                                           \
        return static_cast<T_numtype>(a) OP static_cast<T_numtype>(b);                   \
      }                                                                                  \
    }                                                                                    \
  };

#define ORV_COMPARISON_FUNCTOR(NAME, OP)             \
  template <typename T1, typename T2>                \
  struct NAME {                                      \
    using T_numtype = bool;                          \
    static bool apply(const T1& a, const T2& b) {    \
      using P = PromotedType<T1, T2>;                \
      return static_cast<P>(a) OP static_cast<P>(b); \
    }                                                \
  };

ORV_ARITHMETIC_FUNCTOR(__orv_TAdd, +)
ORV_ARITHMETIC_FUNCTOR(__orv_TSub, -)
ORV_ARITHMETIC_FUNCTOR(__orv_TMul, *)

// A true division in the promoted type. At least one operand must be floating
// point: an integer quotient would trap on a zero divisor.
template <typename T1, typename T2>
struct __orv_TDiv {
  using T_numtype = PromotedType<T1, T2>;
  static_assert(!std::is_integral_v<T_numtype>, "element-wise division needs a floating-point operand");
  static T_numtype apply(const T1& a, const T2& b) {
    return static_cast<T_numtype>(a) / static_cast<T_numtype>(b);
  }
};

ORV_COMPARISON_FUNCTOR(__orv_TEQ, ==)
ORV_COMPARISON_FUNCTOR(__orv_TNE, !=)
ORV_COMPARISON_FUNCTOR(__orv_TGT, >)
ORV_COMPARISON_FUNCTOR(__orv_TLT, <)
ORV_COMPARISON_FUNCTOR(__orv_TLE, <=)

#undef ORV_ARITHMETIC_FUNCTOR
#undef ORV_COMPARISON_FUNCTOR

template <typename T1, typename T2>
struct __orv_TAnd {
  using T_numtype = bool;
  static bool apply(const T1& a, const T2& b) { return a && b; }
};

template <typename T1, typename T2>
struct __orv_TOr {
  using T_numtype = bool;
  static bool apply(const T1& a, const T2& b) { return a || b; }
};

// Square, formed in double from the operand converted to double (exact for a
// float operand).
template <typename T>
struct __orv_pow2 {
  using T_numtype = double;
  static double apply(const T& a) {
    const double x = static_cast<double>(a);
    return x * x;
  }
};

// Square root in the operand's own precision (single for float), widened to
// double afterwards.
template <typename T>
struct __orv_sqrt {
  using T_numtype = double;
  static double apply(const T& a) { return static_cast<double>(std::sqrt(a)); }
};

template <typename T>
struct __orv_fabs {
  using T_numtype = double;
  static double apply(const T& a) { return std::fabs(static_cast<double>(a)); }
};

template <typename To, typename From>
struct __orv_cast {
  using T_numtype = To;
  static To apply(const From& a) { return static_cast<To>(a); }
};

}  // namespace orv

#endif
