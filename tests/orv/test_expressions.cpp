// Element-wise expressions: type rules and values, bit for bit against hand
// loops that apply the promotion rules explicitly, on every kind of target
// and operand layout, with the evaluator each assignment selects.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "orv/marray.h"

namespace {

using orv::EvaluatorKind;
using orv::MArray;
using orv::Range;

// ---- type rules -----------------------------------------------------------

template <typename X>
using VT = typename X::value_type;

TEST(ExprTypeTest, PromotionAndResultTypes) {
  MArray<double, 2> D(2, 2);
  MArray<float, 2> F(2, 2);
  MArray<short, 2> S(2, 2);
  MArray<int, 2> I(2, 2);
  MArray<bool, 2> B(2, 2);
  const double d = 1;
  const float f = 1;
  const int i = 1;
  static_assert(std::is_same_v<VT<decltype(F + F)>, float>);
  static_assert(std::is_same_v<VT<decltype(F + D)>, double>);
  static_assert(std::is_same_v<VT<decltype(F / d)>, double>);
  static_assert(std::is_same_v<VT<decltype(F / f)>, float>);
  static_assert(std::is_same_v<VT<decltype(D - i)>, double>);
  static_assert(std::is_same_v<VT<decltype(I * f)>, float>);
  static_assert(std::is_same_v<VT<decltype(S + i)>, int>);
  static_assert(std::is_same_v<VT<decltype(pow2(F))>, double>);
  static_assert(std::is_same_v<VT<decltype(pow2(I))>, double>);
  static_assert(std::is_same_v<VT<decltype(sqrt(F))>, double>);
  static_assert(std::is_same_v<VT<decltype(fabs(D))>, double>);
  static_assert(std::is_same_v<VT<decltype(orv::cast<float>(D))>, float>);
  static_assert(std::is_same_v<VT<decltype(F == i)>, bool>);
  static_assert(std::is_same_v<VT<decltype((F != d) && (F > d))>, bool>);
  static_assert(std::is_same_v<VT<decltype(merge(B, i, i))>, int>);
  static_assert(std::is_same_v<VT<decltype(merge(F > d, F, f))>, float>);
  static_assert(std::is_same_v<VT<decltype(merge(F > d, F, d))>, double>);
  // The node type a comparison of an array with a literal builds.
  static_assert(
      std::is_same_v<decltype(S == 0),
                     orv::TExpr<orv::TBinExprOp<MArray<short, 2>::ConstIterator, orv::TExprLiteral<int>,
                                                orv::__orv_TEQ<short, int>, 2>,
                                2>>);
  static_assert(
      std::is_same_v<decltype(2.0 * F),
                     orv::TExpr<orv::TBinExprOp<orv::TExprLiteral<double>, MArray<float, 2>::ConstIterator,
                                                orv::__orv_TMul<double, float>, 2>,
                                2>>);
  // The scalar stays a literal of its own type; the iterator stands on the first element.
  const auto e = S == 7;
  EXPECT_EQ(e.node.b.value, 7);
  EXPECT_EQ(e.node.a.current, S.firstElement());
}

TEST(ExprTypeTest, ComparisonsAndArithmeticFollowTheRules) {
  MArray<float, 1> F(3);
  MArray<short, 1> S(3);
  MArray<bool, 1> out(3);
  F(1) = 0.0f, F(2) = 0.5f, F(3) = std::numeric_limits<float>::quiet_NaN();
  // 0.1f != 0.1 in double, == 0.1f in float.
  F(1) = 0.1f;
  out = F == 0.1;
  EXPECT_FALSE(out(1));
  out = F == 0.1f;
  EXPECT_TRUE(out(1));
  F(1) = 16777216.0f;
  out = F == 16777217;  // the int is converted to float: equal
  EXPECT_TRUE(out(1));
  S(1) = 70, S(2) = 0, S(3) = -1;
  out = S == 70;
  EXPECT_TRUE(out(1));
  EXPECT_FALSE(out(2));
  out = F <= 1.0;
  EXPECT_FALSE(out(3));  // NaN compares false
  out = F != 1.0;
  EXPECT_TRUE(out(3));
  MArray<double, 1> D(3);
  D = 5.0;
  MArray<double, 1> q(3);
  q = D / 2;  // a true division
  EXPECT_EQ(q(1), 2.5);
  q = pow2(D) / 0;
  EXPECT_TRUE(std::isinf(q(2)));
  // Integer arithmetic wraps around instead of overflowing.
  MArray<int, 1> I(3), J(3);
  I = INT_MAX;
  J = (I + 1) - I * 2;
  EXPECT_EQ(J(2),
            static_cast<int>(static_cast<unsigned>(INT_MAX) + 1u - static_cast<unsigned>(INT_MAX) * 2u));
  // The root of a float is taken in single precision, then widened.
  MArray<float, 1> two(3);
  two = 2.0f;
  q = sqrt(two);
  EXPECT_EQ(q(3), static_cast<double>(std::sqrt(2.0f)));
  EXPECT_NE(q(3), std::sqrt(2.0));
}

// ---- values against hand loops ---------------------------------------------

// One element position's operand values.
struct Vals {
  double d1, d2;
  float f1, f2;
  short s;
  bool b;
  int i;
};

enum class Layout { Fresh, Based, Strided, Reversed, Block, FlipFirst };
const char* layoutName(Layout l) {
  switch (l) {
    case Layout::Fresh:
      return "fresh";
    case Layout::Based:
      return "base -30";
    case Layout::Strided:
      return "strided view";
    case Layout::Reversed:
      return "reversed view";
    case Layout::Block:
      return "inner block";
    case Layout::FlipFirst:
      return "dimension 1 reversed";
  }
  return "";
}

template <typename T, int N>
MArray<T, N> freshArray(const std::array<int, 4>& n) {
  if constexpr (N == 1) return MArray<T, 1>(n[0]);
  if constexpr (N == 2) return MArray<T, 2>(n[0], n[1]);
  if constexpr (N == 3) return MArray<T, 3>(n[0], n[1], n[2]);
  if constexpr (N == 4) return MArray<T, 4>(n[0], n[1], n[2], n[3]);
}

// An array of the given lengths in the given layout: a fresh array, one with
// bases -30, a view with stride 2 in dimension 1 (stride 3 in one dimension)
// inside a larger parent, a view reversed in every dimension (storage-
// contiguous), an inner block of a larger parent (unit stride, not storage-
// contiguous from rank 2 on), or a view reversed in dimension 1 only.
template <typename T, int N>
MArray<T, N> makeArray(const std::array<int, 4>& n, Layout layout) {
  if (layout == Layout::Fresh) return freshArray<T, N>(n);
  MArray<T, N> a;
  if (layout == Layout::Based) {
    a.makeReference(freshArray<T, N>(n));
    if constexpr (N == 1) a.setBase(-30);
    if constexpr (N == 2) a.setBase(-30, -30);
    if constexpr (N == 3) a.setBase(-30, -30, -30);
    if constexpr (N == 4) a.setBase(-30, -30, -30, -30);
    return a;
  }
  std::array<int, 4> parent = n;
  if (layout == Layout::Strided) {
    const int step = N == 1 ? 3 : 2;
    parent[0] = step * n[0] + 1;
    for (int d = 1; d < N; ++d) parent[d] = n[d] + 1;
    a.makeReference(freshArray<T, N>(parent));
    a.setrange(1, Range(2, 2 + step * (n[0] - 1), step));
    for (int d = 1; d < N; ++d) a.setrange(d + 1, Range(2, n[d] + 1));
  } else if (layout == Layout::Block) {
    for (int d = 0; d < N; ++d) parent[d] = n[d] + 2;
    a.makeReference(freshArray<T, N>(parent));
    for (int d = 0; d < N; ++d) a.setrange(d + 1, Range(2, n[d] + 1));
  } else if (layout == Layout::FlipFirst) {
    a.makeReference(freshArray<T, N>(parent));
    a.setrange(1, Range(n[0], 1, -1));
  } else {
    a.makeReference(freshArray<T, N>(parent));
    for (int d = 0; d < N; ++d) a.setrange(d + 1, Range(n[d], 1, -1));
  }
  return a;
}

// Values that exercise IEEE corners: NaN, infinities, signed zeros,
// subnormals, halfway cases of the double-to-float rounding, and values equal
// to the scalars used in comparisons.
double randomDouble(std::mt19937& rng) {
  static const double special[] = {std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   0.0,
                                   -0.0,
                                   std::numeric_limits<double>::denorm_min(),
                                   -2.2e-310,
                                   1.0 + std::ldexp(1.0, -24),
                                   1.0 + 3 * std::ldexp(1.0, -24),
                                   0.5,
                                   3.0,
                                   -2.5,
                                   1e-40};
  std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(std::size(special)));
  const int k = pick(rng);
  if (k < static_cast<int>(std::size(special))) return special[k];
  return std::uniform_real_distribution<double>(-100.0, 100.0)(rng);
}

float randomFloat(std::mt19937& rng) {
  static const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  0.0f,
                                  -0.0f,
                                  std::numeric_limits<float>::denorm_min(),
                                  -1e-40f,
                                  0.5f,
                                  3.0f,
                                  -2.5f,
                                  1.0f + std::ldexp(1.0f, -23)};
  std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(std::size(special)));
  const int k = pick(rng);
  if (k < static_cast<int>(std::size(special))) return special[k];
  return std::uniform_real_distribution<float>(-100.0f, 100.0f)(rng);
}

template <typename T, int N>
void fillRandom(MArray<T, N>& a, std::mt19937& rng) {
  for (orv::MArrayIter<T, N> it(a); !it.isDone(); ++it) {
    if constexpr (std::is_same_v<T, double>) *it = randomDouble(rng);
    if constexpr (std::is_same_v<T, float>) *it = randomFloat(rng);
    if constexpr (std::is_same_v<T, short>)
      *it = static_cast<short>(std::uniform_int_distribution<int>(-2, 3)(rng));
    if constexpr (std::is_same_v<T, int>) *it = std::uniform_int_distribution<int>(-5, 5)(rng);
    if constexpr (std::is_same_v<T, bool>) *it = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
  }
}

template <int N>
struct Operands {
  MArray<double, N> D1, D2;
  MArray<float, N> F1, F2;
  MArray<short, N> S;
  MArray<bool, N> B;
  MArray<int, N> I;
};

// Element (first(d) + o[d])_d of an array.
template <typename T, int N>
T& at(MArray<T, N>& a, const int* o) {
  if constexpr (N == 1) return a(a.first(1) + o[0]);
  if constexpr (N == 2) return a(a.first(1) + o[0], a.first(2) + o[1]);
  if constexpr (N == 3) return a(a.first(1) + o[0], a.first(2) + o[1], a.first(3) + o[2]);
  if constexpr (N == 4) return a(a.first(1) + o[0], a.first(2) + o[1], a.first(3) + o[2], a.first(4) + o[3]);
}

template <typename T>
bool sameBits(T a, T b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <typename TT, int N>
struct Case {
  const char* name;
  std::function<EvaluatorKind(MArray<TT, N>&, Operands<N>&)> assign;
  std::function<TT(const Vals&)> reference;
};

// Assigns through operator= and reports the evaluator that the assignment
// rules select for this target and expression.
#define ASSIGN(expr)                                 \
  [](auto& t, auto& o) {                             \
    (void)o;                                         \
    const auto kind = orv::selectEvaluator(t, expr); \
    t = expr;                                        \
    return kind;                                     \
  }

constexpr double d = 0.5;
constexpr double d3 = 3.0;
constexpr float f = 0.5f;
constexpr int i = 3;
constexpr int i2 = -7;

double sq(double x) { return x * x; }

template <int N>
std::vector<Case<float, N>> floatCases() {
  using F = float;
  using D = double;
  return {
      {"F + F", ASSIGN(o.F1 + o.F2), [](const Vals& v) { return F(v.f1 + v.f2); }},
      {"F / d", ASSIGN(o.F1 / d), [](const Vals& v) { return F(D(v.f1) / d); }},
      {"F / f", ASSIGN(o.F1 / f), [](const Vals& v) { return F(v.f1 / f); }},
      {"(F - F) / d", ASSIGN((o.F1 - o.F2) / d3), [](const Vals& v) { return F(D(v.f1 - v.f2) / d3); }},
      {"F + (d * F)", ASSIGN(o.F1 + (d3 * o.F1)), [](const Vals& v) { return F(D(v.f1) + d3 * D(v.f1)); }},
      {"sqrt(pow2(F / d) + pow2((F / d) * d))", ASSIGN(sqrt(pow2(o.F1 / d3) + pow2((o.F1 / d3) * d))),
       [](const Vals& v) {
         const D q = D(v.f1) / d3;
         return F(std::sqrt(sq(q) + sq(q * d)));
       }},
      {"F = D", ASSIGN(o.D1), [](const Vals& v) { return F(v.d1); }},
      {"F = F", ASSIGN(o.F1), [](const Vals& v) { return v.f1; }},
      {"cast<float>(D)", ASSIGN(orv::cast<float>(o.D1)), [](const Vals& v) { return F(v.d1); }},
      {"cast<float>(I)", ASSIGN(orv::cast<float>(o.I)), [](const Vals& v) { return F(v.i); }},
      {"cast<float>(F)", ASSIGN(orv::cast<float>(o.F1)), [](const Vals& v) { return v.f1; }},
      {"pow2(D)", ASSIGN(pow2(o.D1)), [](const Vals& v) { return F(v.d1 * v.d1); }},
      {"pow2(F)", ASSIGN(pow2(o.F1)), [](const Vals& v) { return F(D(v.f1) * D(v.f1)); }},
      {"merge(S, F, f)", ASSIGN(merge(o.S, o.F1, f)), [](const Vals& v) { return v.s ? v.f1 : f; }},
      {"merge(F == d, d, F)", ASSIGN(merge(o.F1 == d, d, o.F1)),
       [](const Vals& v) { return F(D(v.f1) == d ? d : D(v.f1)); }},
      {"merge(F != f, F, d)", ASSIGN(merge(o.F1 != f, o.F1, d3)),
       [](const Vals& v) { return F(v.f1 != f ? D(v.f1) : d3); }},
      {"merge(F != d, F * f, F)", ASSIGN(merge(o.F1 != d, o.F1 * f, o.F1)),
       [](const Vals& v) { return D(v.f1) != d ? v.f1 * f : v.f1; }},
      {"merge(F > d, F * d, F)", ASSIGN(merge(o.F1 > d, o.F1 * d3, o.F1)),
       [](const Vals& v) { return F(D(v.f1) > d ? D(v.f1) * d3 : D(v.f1)); }},
      {"merge(F > d, (F * F) - F, d)", ASSIGN(merge(o.F1 > d, (o.F1 * o.F1) - o.F1, d3)),
       [](const Vals& v) { return F(D(v.f1) > d ? D(v.f1 * v.f1 - v.f1) : d3); }},
      {"merge(F > d, F * F, F)", ASSIGN(merge(o.F1 > d, o.F1 * o.F1, o.F1)),
       [](const Vals& v) { return D(v.f1) > d ? v.f1 * v.f1 : v.f1; }},
      {"merge((F != d) && (F != d), F - F, d)", ASSIGN(merge((o.F1 != d) && (o.F1 != d3), o.F1 - o.F2, d)),
       [](const Vals& v) { return F((D(v.f1) != d && D(v.f1) != d3) ? D(v.f1 - v.f2) : d); }},
      {"merge(F > d, sqrt(F), F)", ASSIGN(merge(o.F1 > d, sqrt(o.F1), o.F1)),
       [](const Vals& v) { return F(D(v.f1) > d ? D(std::sqrt(v.f1)) : D(v.f1)); }},
      {"merge(F > d, sqrt(F), d)", ASSIGN(merge(o.F1 > 0.0, sqrt(o.F1), d)),
       [](const Vals& v) { return F(D(v.f1) > 0.0 ? D(std::sqrt(v.f1)) : d); }},
      {"merge(F > d, sqrt((pow2(d * F) + pow2(F * F)) + d), F)",
       ASSIGN(merge(o.F1 > d, sqrt((pow2(d3 * o.F1) + pow2(o.F1 * o.F1)) + d), o.F1)),
       [](const Vals& v) {
         return F(D(v.f1) > d ? std::sqrt((sq(d3 * D(v.f1)) + sq(D(v.f1 * v.f1))) + d) : D(v.f1));
       }},
      {"merge(S == i, d, F)", ASSIGN(merge(o.S == 1, d, o.F1)),
       [](const Vals& v) { return F(int(v.s) == 1 ? d : D(v.f1)); }},
      {"merge((F != d) && (F > d), F * F, f)", ASSIGN(merge((o.F1 != d) && (o.F1 > 0.0), o.F1 * o.F1, f)),
       [](const Vals& v) { return (D(v.f1) != d && D(v.f1) > 0.0) ? v.f1 * v.f1 : f; }},
      {"merge(((F == i) || (F <= d)) || (F == f), d, F)",
       ASSIGN(merge(((o.F1 == i) || (o.F1 <= -1.0)) || (o.F1 == f), d3, o.F1)),
       [](const Vals& v) { return F((v.f1 == F(i) || D(v.f1) <= -1.0 || v.f1 == f) ? d3 : D(v.f1)); }},
      {"merge((F > d) && (F > d), sqrt(pow2(F) + F), merge(...))",
       ASSIGN(merge((o.F1 > d) && (o.F1 > 0.0), sqrt(pow2(o.F1) + o.F1),
                    merge((o.F1 == d) || (o.F1 == d3), d, d3))),
       [](const Vals& v) {
         if (D(v.f1) > d && D(v.f1) > 0.0) return F(std::sqrt(sq(D(v.f1)) + D(v.f1)));
         return F((D(v.f1) == d || D(v.f1) == d3) ? d : d3);
       }},
  };
}

template <int N>
std::vector<Case<double, N>> doubleCases() {
  using D = double;
  return {
      {"D * d", ASSIGN(o.D1 * d3), [](const Vals& v) { return v.d1 * d3; }},
      {"D / d", ASSIGN(o.D1 / d3), [](const Vals& v) { return v.d1 / d3; }},
      {"D - D", ASSIGN(o.D1 - o.D2), [](const Vals& v) { return v.d1 - v.d2; }},
      {"D - i", ASSIGN(o.D1 - i), [](const Vals& v) { return v.d1 - D(i); }},
      {"pow2(D)", ASSIGN(pow2(o.D1)), [](const Vals& v) { return v.d1 * v.d1; }},
      {"D + (d * D)", ASSIGN(o.D1 + (d3 * o.D2)), [](const Vals& v) { return v.d1 + d3 * v.d2; }},
      {"D + (D * d)", ASSIGN(o.D1 + (o.D2 * d3)), [](const Vals& v) { return v.d1 + v.d2 * d3; }},
      {"D + ((d * D) * d)", ASSIGN(o.D1 + ((d3 * o.D1) * d)),
       [](const Vals& v) { return v.d1 + d3 * v.d1 * d; }},
      {"(((d * D) + (d * D)) + d) + d", ASSIGN((((d3 * o.D1) + (d * o.D2)) + d) + d3),
       [](const Vals& v) { return (((d3 * v.d1) + (d * v.d2)) + d) + d3; }},
      {"D = F", ASSIGN(o.F1), [](const Vals& v) { return D(v.f1); }},
      {"D = D", ASSIGN(o.D1), [](const Vals& v) { return v.d1; }},
      {"cast<double>(F)", ASSIGN(orv::cast<double>(o.F1)), [](const Vals& v) { return D(v.f1); }},
      {"fabs(D)", ASSIGN(fabs(o.D1)), [](const Vals& v) { return std::fabs(v.d1); }},
      {"sqrt(F)", ASSIGN(sqrt(o.F1)), [](const Vals& v) { return D(std::sqrt(v.f1)); }},
      {"merge(B, D, f)", ASSIGN(merge(o.B, o.D1, f)), [](const Vals& v) { return v.b ? v.d1 : D(f); }},
      {"merge(B, d, d)", ASSIGN(merge(o.B, d, d3)), [](const Vals& v) { return v.b ? d : d3; }},
      {"merge(B, d / F, d)", ASSIGN(merge(o.B, d3 / o.F1, d)),
       [](const Vals& v) { return v.b ? d3 / D(v.f1) : d; }},
      {"merge(B, d / pow2(F), d)", ASSIGN(merge(o.B, d3 / pow2(o.F1), d)),
       [](const Vals& v) { return v.b ? d3 / sq(D(v.f1)) : d; }},
      {"merge(B, d / (F + pow2(F)), d)", ASSIGN(merge(o.B, d3 / (o.F1 + pow2(o.F1)), d)),
       [](const Vals& v) { return v.b ? d3 / (D(v.f1) + sq(D(v.f1))) : d; }},
      {"merge(D == d, d, D)", ASSIGN(merge(o.D1 == d, d3, o.D1)),
       [](const Vals& v) { return v.d1 == d ? d3 : v.d1; }},
      {"merge(D < d, d, D)", ASSIGN(merge(o.D1 < d, d, o.D1)),
       [](const Vals& v) { return v.d1 < d ? d : v.d1; }},
      {"merge(D == d, d, (D / d) * d)", ASSIGN(merge(o.D1 == d, d, (o.D1 / d3) * d)),
       [](const Vals& v) { return v.d1 == d ? d : (v.d1 / d3) * d; }},
      {"merge(D == d, d, sqrt(D))", ASSIGN(merge(o.D1 == d, d, sqrt(o.D1))),
       [](const Vals& v) { return v.d1 == d ? d : std::sqrt(v.d1); }},
      {"merge(D == d, d, (sqrt(D) / d) * d)", ASSIGN(merge(o.D1 == d, d, (sqrt(o.D1) / d3) * d3)),
       [](const Vals& v) { return v.d1 == d ? d : (std::sqrt(v.d1) / d3) * d3; }},
      {"merge(D != d, pow2(D) / i, d)", ASSIGN(merge(o.D1 != d, pow2(o.D1) / i, d)),
       [](const Vals& v) { return v.d1 != d ? sq(v.d1) / D(i) : d; }},
      {"merge(D != d, (D / D) / d, d)", ASSIGN(merge(o.D1 != d, (o.D1 / o.D2) / d3, d)),
       [](const Vals& v) { return v.d1 != d ? (v.d1 / v.d2) / d3 : d; }},
      {"merge(D != d, (sqrt(D) / D) / d, d)", ASSIGN(merge(o.D1 != d, (sqrt(o.D1) / o.D2) / d3, d)),
       [](const Vals& v) { return v.d1 != d ? (std::sqrt(v.d1) / v.d2) / d3 : d; }},
      {"merge((D == d) || (D == d), d, D + D)", ASSIGN(merge((o.D1 == d) || (o.D1 == d3), d, o.D1 + o.D2)),
       [](const Vals& v) { return (v.d1 == d || v.d1 == d3) ? d : v.d1 + v.d2; }},
      {"merge((D == d) || (D < d), d, D + pow2(D))",
       ASSIGN(merge((o.D1 == d3) || (o.D1 < d), d, o.D1 + pow2(o.D1))),
       [](const Vals& v) { return (v.d1 == d3 || v.d1 < d) ? d : v.d1 + sq(v.d1); }},
  };
}

template <int N>
std::vector<Case<int, N>> intCases() {
  return {
      {"merge(B, i, i)", ASSIGN(merge(o.B, i, i2)), [](const Vals& v) { return v.b ? i : i2; }},
      {"merge(D == d, i, i)", ASSIGN(merge(o.D1 == d, i, i2)),
       [](const Vals& v) { return v.d1 == d ? i : i2; }},
      {"merge(F == f, i, i)", ASSIGN(merge(o.F1 == f, i, i2)),
       [](const Vals& v) { return v.f1 == f ? i : i2; }},
      {"I = I", ASSIGN(o.I), [](const Vals& v) { return v.i; }},
  };
}

struct Scenario {
  Layout target;
  Layout operands;
};

const Scenario scenarios[] = {
    {Layout::Fresh, Layout::Fresh},      {Layout::Fresh, Layout::Based},
    {Layout::Strided, Layout::Fresh},    {Layout::Fresh, Layout::Strided},
    {Layout::Reversed, Layout::Fresh},   {Layout::Fresh, Layout::Reversed},
    {Layout::Strided, Layout::Reversed}, {Layout::Reversed, Layout::Based},
    {Layout::Block, Layout::Fresh},      {Layout::Fresh, Layout::Block},
    {Layout::Block, Layout::Based},      {Layout::FlipFirst, Layout::Fresh},
    {Layout::Fresh, Layout::FlipFirst},  {Layout::Block, Layout::FlipFirst},
};

// From rank 2 on; a dimension 1 of length 0 leaves nothing to reverse.
bool storageContiguous(Layout l, int n1) {
  return l != Layout::Strided && l != Layout::Block && (l != Layout::FlipFirst || n1 == 0);
}

template <typename TT, int N>
void runCases(const std::vector<Case<TT, N>>& cases, std::mt19937& rng) {
  for (const Scenario& sc : scenarios) {
    for (int n1 = 0; n1 <= 9; ++n1) {
      const std::array<int, 4> n = {n1, 3, 2, 2};
      Operands<N> o{makeArray<double, N>(n, sc.operands), makeArray<double, N>(n, sc.operands),
                    makeArray<float, N>(n, sc.operands),  makeArray<float, N>(n, sc.operands),
                    makeArray<short, N>(n, sc.operands),  makeArray<bool, N>(n, sc.operands),
                    makeArray<int, N>(n, sc.operands)};
      fillRandom(o.D1, rng), fillRandom(o.D2, rng), fillRandom(o.F1, rng), fillRandom(o.F2, rng);
      fillRandom(o.S, rng), fillRandom(o.B, rng), fillRandom(o.I, rng);
      // Rank 1 always takes the contiguous evaluator; higher ranks take it
      // when target and operands are all storage-contiguous.
      const bool strided = !storageContiguous(sc.target, n1) || !storageContiguous(sc.operands, n1);
      const EvaluatorKind expected = N == 1 || !strided ? EvaluatorKind::Contiguous : EvaluatorKind::Strided;
      for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << ", rank " << N << ", target " << layoutName(sc.target)
                                        << ", operands " << layoutName(sc.operands) << ", length[1] " << n1);
        MArray<TT, N> target = makeArray<TT, N>(n, sc.target);
        ASSERT_EQ(c.assign(target, o), expected);
        int off[4] = {0, 0, 0, 0};
        const int count = target.numElements();
        ASSERT_EQ(count, n1 * (N > 1 ? 3 : 1) * (N > 2 ? 2 : 1) * (N > 3 ? 2 : 1));
        for (int m = 0; m < count; ++m) {
          const Vals v{at(o.D1, off), at(o.D2, off), at(o.F1, off), at(o.F2, off),
                       at(o.S, off),  at(o.B, off),  at(o.I, off)};
          const TT want = c.reference(v);
          const TT got = at(target, off);
          ASSERT_TRUE(sameBits(got, want)) << "element " << m << ": got " << got << ", want " << want;
          for (int dd = 0; dd < N; ++dd) {
            if (++off[dd] < n[dd]) break;
            off[dd] = 0;
          }
        }
      }
    }
  }
}

template <int N>
void runAllTargets(std::mt19937& rng) {
  runCases<float, N>(floatCases<N>(), rng);
  runCases<double, N>(doubleCases<N>(), rng);
  runCases<int, N>(intCases<N>(), rng);
}

TEST(ExprValueTest, EveryAssignmentMatchesTheHandLoopBitForBit) {
  const unsigned seed = 1104;
  std::mt19937 rng(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  runAllTargets<1>(rng);
  runAllTargets<2>(rng);
  runAllTargets<3>(rng);
  runAllTargets<4>(rng);
}

}  // namespace
