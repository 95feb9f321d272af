// Whole-array assignment: scalar fill, scaling, array copies, the index-aware
// circular mask, and which evaluator runs.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "orv/marray.h"

namespace {

using orv::EvaluatorKind;
using orv::MArray;
using orv::Range;

constexpr double sentinel = -999.0;

// A parent whose elements are all the sentinel or their own index code.
MArray<double, 2> numberedParent(int nx, int ny) {
  MArray<double, 2> p(nx, ny);
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) p(i, j) = 100.0 * i + j;
  return p;
}

TEST(AssignTest, FillAndScalingChangeExactlyTheViewsElements) {
  struct Case {
    const char* name;
    Range r1, r2;
  };
  const Case cases[] = {
      {"every second column", Range::all(), Range(1, 9, 2)},
      {"inner block", Range(2, 6), Range(3, 8)},
      {"stride 2 in dimension 1", Range(2, 7, 2), Range(2, 9, 3)},
      {"reversed", Range(7, 1, -1), Range(9, 2, -1)},
      {"whole", Range::all(), Range::all()},
      {"empty", Range(3, 2), Range::all()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MArray<double, 2> parent = numberedParent(8, 10);
    MArray<double, 2> view = parent(c.r1, c.r2);
    const MArray<double, 2> before = numberedParent(8, 10);
    // Which parent elements belong to the view.
    MArray<bool, 2> inView(8, 10);
    inView = false;
    for (int j = 1; j <= view.length(2); ++j)
      for (int i = 1; i <= view.length(1); ++i) {
        const std::ptrdiff_t off = &view(i, j) - parent.firstElement();
        inView(static_cast<int>(off % 8) + 1, static_cast<int>(off / 8) + 1) = true;
      }
    view *= 2.0;
    for (int j = 1; j <= 10; ++j)
      for (int i = 1; i <= 8; ++i)
        ASSERT_EQ(parent(i, j), inView(i, j) ? 2.0 * before(i, j) : before(i, j)) << i << "," << j;
    view /= 2.0;
    view = sentinel;
    for (int j = 1; j <= 10; ++j)
      for (int i = 1; i <= 8; ++i)
        ASSERT_EQ(parent(i, j), inView(i, j) ? sentinel : before(i, j)) << i << "," << j;
  }
}

TEST(AssignTest, OneDimensionalStrideThreeFill) {
  MArray<double, 1> line(18);
  line = 0.0;
  MArray<double, 1> every3 = line(Range(1, 16, 3));
  ASSERT_EQ(every3.numElements(), 6);
  ASSERT_TRUE(every3.isStorageContiguous());
  every3 = 1.0;
  for (int i = 1; i <= 18; ++i) EXPECT_EQ(line(i), (i - 1) % 3 == 0 ? 1.0 : 0.0) << i;
  EXPECT_EQ(orv::selectEvaluator(every3, every3 * 2.0), EvaluatorKind::Contiguous);
}

TEST(AssignTest, FillOfNonContiguousFourDimensionalView) {
  MArray<float, 4> a(4, 3, 3, 2);
  a = 0.0f;
  MArray<float, 4> v(a);
  v.setrange(1, Range(1, 3, 2));
  v.setrange(3, Range(2, 3));
  ASSERT_FALSE(v.isStorageContiguous());
  v = 1.0f;
  int ones = 0;
  for (auto it = a.begin(); it != a.end(); ++it) ones += *it == 1.0f;
  EXPECT_EQ(ones, 2 * 3 * 2 * 2);
  EXPECT_EQ(a(3, 2, 3, 2), 1.0f);
  EXPECT_EQ(a(2, 2, 3, 2), 0.0f);
}

// The fill of every element type on a non-contiguous view and through a
// temporary view, leaving the elements outside it alone.
template <typename T>
void checkFillOfView(T inside, T outside) {
  MArray<T, 2> a(5, 4);
  a = outside;
  a(Range(2, 4, 2), Range(2, 3)) = inside;
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 5; ++i) {
      const bool in = (i == 2 || i == 4) && (j == 2 || j == 3);
      ASSERT_EQ(a(i, j), in ? inside : outside) << i << "," << j;
    }
  // A switch kept beyond the statement still fills the temporary view it came from.
  {
    auto&& kept = (a(Range(1, 1), Range::all()) = inside);
    (void)kept;
  }
  EXPECT_EQ(a(1, 4), inside);
}

TEST(AssignTest, FillOfEveryElementType) {
  checkFillOfView<bool>(true, false);
  checkFillOfView<short>(3, -1);
  checkFillOfView<int>(7, 0);
  checkFillOfView<long>(1L << 40, 2);
  checkFillOfView<float>(1.5f, -0.0f);
  checkFillOfView<double>(2.25, 9.0);
}

TEST(AssignTest, StringLongAndHigherRankCopies) {
  MArray<std::string, 1> s(3), t(3);
  s(1) = "a", s(2) = "bb", s(3) = "ccc";
  t = s(Range(3, 1, -1));
  EXPECT_EQ(t(1), "ccc");
  EXPECT_EQ(t(3), "a");
  MArray<long, 1> l(4), m(4);
  for (int i = 1; i <= 4; ++i) l(i) = 10000000000L * i;
  m = l;
  EXPECT_EQ(m(4), 40000000000L);
  MArray<int, 3> i3(2, 3, 4), j3(2, 3, 4);
  for (int m3 = 0; m3 < 24; ++m3) i3.firstElement()[m3] = m3;
  j3 = i3;
  EXPECT_EQ(j3(2, 3, 4), 23);
}

TEST(AssignTest, ZeroRangeStrideIsRefused) {
  MArray<double, 1> a(4);
  EXPECT_THROW(a(Range(1, 4, 0)), orv::RangeException);
}

TEST(AssignTest, DivisionIsTrueDivision) {
  MArray<double, 2> a(2, 2);
  a = 49.0;
  a /= 49.0;
  EXPECT_EQ(a(2, 2), 1.0);  // 49 * (1/49) would be 0.9999999999999999
  a = 1.0;
  a /= 3.0;
  EXPECT_EQ(a(1, 1), 1.0 / 3.0);
  MArray<double, 2> view = MArray<double, 2>(6, 6)(Range(1, 5, 2), Range::all());
  view = 49.0;
  view /= 49.0;
  EXPECT_EQ(view(3, 6), 1.0);
}

TEST(AssignTest, ScalarFillRunsAtTheEndOfTheStatementOnce) {
  MArray<double, 1> a(5);
  a = 0.0;
  {
    auto&& pending = (a = 2.0);
    EXPECT_TRUE(pending.fillPending);
    EXPECT_EQ(a(1), 0.0);  // not yet
  }
  EXPECT_EQ(a(5), 2.0);
  MArray<std::string, 1> s(3);
  s = std::string("abc");
  EXPECT_EQ(s(3), "abc");
}

TEST(AssignTest, EvaluatorChoice) {
  MArray<double, 2> a(6, 5), b(6, 5);
  a = 1.0, b = 2.0;
  MArray<double, 2> big(12, 5);
  big = 3.0;
  MArray<double, 2> sub = big(Range(1, 6), Range::all());
  MArray<double, 2> every2 = big(Range(1, 11, 2), Range::all());
  MArray<bool, 2> mask(6, 5);
  mask = true;
  EXPECT_EQ(orv::selectEvaluator(a, a + b), EvaluatorKind::Contiguous);
  EXPECT_EQ(orv::selectEvaluator(sub, a + b), EvaluatorKind::Strided);
  EXPECT_EQ(orv::selectEvaluator(a, sub + b), EvaluatorKind::Strided);
  EXPECT_EQ(orv::selectEvaluator(a, b), EvaluatorKind::Contiguous);
  // Every second index over the whole even extent is storage-contiguous with
  // stride[1] 2: the contiguous evaluator runs, in its strided loop.
  EXPECT_EQ(orv::selectEvaluator(a, every2), EvaluatorKind::Contiguous);
  every2 = merge(mask, 4.0, 4.0);
  a = every2;
  EXPECT_EQ(a(6, 5), 4.0);
  EXPECT_EQ(big(12, 5), 3.0);
  auto x = orv::indexOperand(mask, 1);
  EXPECT_EQ(orv::selectEvaluator(mask, pow2(x) < 3), EvaluatorKind::IndexAware);
  // Both evaluators store the same values on contiguous data.
  MArray<double, 2> viaContiguous(6, 5), viaStrided(6, 5);
  auto e1 = a * 3.0 + b;
  auto e2 = a * 3.0 + b;
  orv::eval_assign_expr_1(viaContiguous, e1);
  orv::eval_assign_expr_N(viaStrided, e2);
  for (int j = 1; j <= 5; ++j)
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(viaContiguous(i, j), viaStrided(i, j));
}

TEST(AssignTest, InPlaceExpressionsOnViews) {
  MArray<double, 2> big = numberedParent(9, 7);
  MArray<double, 2> v = big(Range(2, 9, 2), Range(1, 7, 3));
  const double at = v(3, 2);
  v = v * 2.0;
  EXPECT_EQ(v(3, 2), 2.0 * at);
  v = merge(v == 2.0 * at, 5.0, v);
  EXPECT_EQ(v(3, 2), 5.0);
  EXPECT_EQ(big(1, 1), 101.0);
}

TEST(AssignTest, CircularMaskMatchesBruteForce) {
  MArray<bool, 2> mask(Range(-30, 30), Range(-30, 30));
  mask = false;
  auto x = orv::indexOperand(mask, 1);
  auto y = orv::indexOperand(mask, 2);
  mask = (pow2(x) + pow2(y)) < 930;
  for (int j = -30; j <= 30; ++j)
    for (int i = -30; i <= 30; ++i) ASSERT_EQ(mask(i, j), i * i + j * j < 930) << i << "," << j;
  EXPECT_TRUE(mask(0, 0) && mask(0, 30) && mask(30, 0) && mask(21, 21));
  EXPECT_FALSE(mask(22, 22) || mask(30, 30));
  // On a strided view the indices are the view's own (from 1).
  MArray<int, 2> grid(9, 8);
  grid = -1;
  MArray<int, 2> view = grid(Range(1, 9, 2), Range(2, 8, 3));
  view = orv::indexOperand(view, 1) * 10 + orv::indexOperand(view, 2);
  EXPECT_EQ(grid(1, 2), 11);
  EXPECT_EQ(grid(9, 8), 53);
  EXPECT_EQ(grid(2, 2), -1);
  // Array operands step along with the index operands.
  MArray<int, 2> offsets(5, 3);
  for (int m = 0; m < 15; ++m) offsets.firstElement()[m] = 1000 * m;
  view = orv::indexOperand(view, 1) + offsets;
  EXPECT_EQ(grid(1, 2), 1);
  EXPECT_EQ(grid(3, 2), 1002);
  EXPECT_EQ(grid(9, 8), 14005);
}

TEST(AssignTest, IndexOperandOfAMissingDimensionIsRefused) {
  MArray<bool, 2> mask(3, 3);
  EXPECT_THROW(orv::indexOperand(mask, 0), orv::RangeException);
  EXPECT_THROW(orv::indexOperand(mask, 3), orv::RangeException);
}

// Index operands count up to a last index of INT_MAX without overflowing.
TEST(AssignTest, IndexOperandsReachTheLargestIndex) {
  MArray<int, 2> a(2, 2);
  a.setBase(INT_MAX - 1, 0);
  a = orv::indexOperand(a, 1) + 0 * orv::indexOperand(a, 2);
  EXPECT_EQ(a(INT_MAX - 1, 1), INT_MAX - 1);
  EXPECT_EQ(a(INT_MAX, 1), INT_MAX);
  MArray<int, 2> b(1, 2);
  b.setBase(0, INT_MAX - 1);
  b = orv::indexOperand(b, 2) + 0;
  EXPECT_EQ(b(0, INT_MAX - 1), INT_MAX - 1);
  EXPECT_EQ(b(0, INT_MAX), INT_MAX);
}

TEST(AssignTest, IndexAwareEvaluatorLeavesEmptyTargetsAlone) {
  MArray<int, 2> grid(5, 4);
  grid = 7;
  MArray<int, 2> empty = grid(Range::all(), Range(3, 2));
  ASSERT_EQ(empty.numElements(), 0);
  auto e = orv::indexOperand(empty, 1) + 0;
  orv::eval_with_index_iter(empty, e);
  empty = orv::indexOperand(empty, 2) + 1;
  for (auto it = grid.begin(); it != grid.end(); ++it) EXPECT_EQ(*it, 7);
}

TEST(AssignTest, ArrayAssignmentCopiesOrAdoptsStorage) {
  MArray<double, 2> a(3, 2), b(3, 2);
  a = 1.0, b = 2.0;
  a = b;  // same lengths: elements are copied
  EXPECT_NE(a.getMemoryBlock(), b.getMemoryBlock());
  EXPECT_EQ(a(3, 2), 2.0);
  MArray<float, 2> f(3, 2);
  f = b;  // with conversion
  EXPECT_EQ(f(1, 1), 2.0f);
  MArray<double, 2> none;
  none = b;  // no storage yet: takes b's
  EXPECT_EQ(none.getMemoryBlock(), b.getMemoryBlock());
  MArray<double, 2> other(5, 5);
  other = b;  // other lengths: takes b's storage and shape
  EXPECT_EQ(other.length(1), 3);
  EXPECT_EQ(other.getMemoryBlock(), b.getMemoryBlock());
  MArray<float, 2> fnone;
  fnone = b;  // no storage, other element type: a new array shaped like b
  EXPECT_EQ(fnone.length(2), 2);
  EXPECT_EQ(fnone(3, 2), 2.0f);
}

TEST(AssignTest, ExpressionsNeedStorageAndMatchingLengths) {
  MArray<double, 2> a(3, 2), b(2, 3);
  a = 1.0, b = 1.0;
  MArray<double, 2> none;
  EXPECT_THROW(none = a * 2.0, orv::RangeException);
  EXPECT_THROW(a = b * 2.0, orv::RangeException);
  EXPECT_THROW(a = merge(a > 0.0, b, 1.0), orv::RangeException);
  MArray<double, 2> freed(3, 2);
  freed.free();  // keeps its lengths, has no storage
  EXPECT_THROW(a = freed + 1.0, orv::RangeException);
  a = freed;  // takes the missing storage
  EXPECT_TRUE(a.isEmpty());
}

}  // namespace
