// The storage-order walk of array iterators, compared with nested loops over
// the view's indices, dimension 1 fastest.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "orv/marray.h"

namespace {

using orv::MArray;
using orv::MArrayIter;
using orv::MArrayIterConst;
using orv::Range;

template <int N>
const double* addressOf(const MArray<double, N>& a, const int* j) {
  if constexpr (N == 1) return &a(j[0]);
  if constexpr (N == 2) return &a(j[0], j[1]);
  if constexpr (N == 3) return &a(j[0], j[1], j[2]);
  if constexpr (N == 4) return &a(j[0], j[1], j[2], j[3]);
}

// Element addresses of a view in storage order, by nested index loops.
template <int N>
std::vector<const double*> byIndexLoops(const MArray<double, N>& a) {
  std::vector<const double*> out;
  if (a.numElements() <= 0) return out;
  int j[4];
  for (int d = 0; d < N; ++d) j[d] = a.first(d + 1);
  for (int m = 0; m < a.numElements(); ++m) {
    out.push_back(addressOf<N>(a, j));
    for (int d = 0; d < N; ++d) {
      if (++j[d] <= a.last(d + 1)) break;
      j[d] = a.first(d + 1);
    }
  }
  return out;
}

// The same, walked by the evaluators' way: whole runs, then advanceDim.
template <int N>
std::vector<const double*> byRuns(const MArray<double, N>& a) {
  std::vector<const double*> out;
  MArrayIterConst<double, N> it(a);
  while (!it.isDone()) {
    for (int i = 0; i < it.lengths[0]; ++i) out.push_back(it.current + i * it.innerStride);
    it.current = it.runEnd[0];
    it.advanceDim();
  }
  return out;
}

template <int N>
std::vector<const double*> byStepping(const MArray<double, N>& a) {
  std::vector<const double*> out;
  for (auto it = a.begin(); it != a.end(); ++it) out.push_back(&*it);
  return out;
}

template <int N>
void randomViews(std::mt19937& rng, int rounds) {
  std::uniform_int_distribution<int> len(1, 5);
  std::uniform_int_distribution<int> step(1, 3);
  for (int round = 0; round < rounds; ++round) {
    int n[4] = {1, 1, 1, 1};
    for (int d = 0; d < N; ++d) n[d] = len(rng) + 1;
    MArray<double, 4> storage(n[0], n[1], n[2], n[3]);
    MArray<double, N> view;
    if constexpr (N == 4) view.makeReference(storage);
    if constexpr (N == 3)
      view.slicearray(storage, Range::all(), Range::all(), Range::all(), 1, orv::NoArgument(),
                      orv::NoArgument(), orv::NoArgument());
    if constexpr (N == 2)
      view.slicearray(storage, Range::all(), Range::all(), 1, 1, orv::NoArgument(), orv::NoArgument(),
                      orv::NoArgument());
    if constexpr (N == 1)
      view.slicearray(storage, Range::all(), 1, 1, 1, orv::NoArgument(), orv::NoArgument(),
                      orv::NoArgument());
    for (int d = 0; d < N; ++d) {
      std::uniform_int_distribution<int> pick(1, n[d]);
      int a = pick(rng), b = pick(rng);
      int s = step(rng);
      if (b < a) s = -s;
      view.setrange(d + 1, Range(a, b, s));
    }
    SCOPED_TRACE(testing::Message() << "rank " << N << " round " << round);
    const auto expected = byIndexLoops<N>(view);
    ASSERT_EQ(byRuns<N>(view), expected);
    ASSERT_EQ(byStepping<N>(view), expected);
  }
}

TEST(MArrayIterTest, RandomViewsWalkExactlyTheirElementsInStorageOrder) {
  const unsigned seed = 4711;
  std::mt19937 rng(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  randomViews<1>(rng, 300);
  randomViews<2>(rng, 300);
  randomViews<3>(rng, 300);
  randomViews<4>(rng, 300);
}

TEST(MArrayIterTest, CarryOfThreeByTwo) {
  MArray<double, 2> a(3, 2);
  MArrayIterConst<double, 2> it(a);
  const double* p = a.firstElement();
  EXPECT_EQ(it.runEnd[0], p + 3);
  EXPECT_EQ(it.runEnd[1], p + 6);
  it.current = it.runEnd[0];
  it.advanceDim();
  EXPECT_EQ(it.current, p + 3);
  EXPECT_EQ(it.runStart[0], p + 3);
  EXPECT_EQ(it.runStart[1], p + 3);
  EXPECT_EQ(it.runEnd[0], p + 6);
  it.current = it.runEnd[0];
  it.advanceDim();
  EXPECT_TRUE(it.isDone());
}

TEST(MArrayIterTest, ThreeDimensionalCarryResetsLowerDimensions) {
  MArray<double, 3> a(2, 3, 2);
  MArrayIterConst<double, 3> it(a);
  const double* p = a.firstElement();
  for (int run = 0; run < 3; ++run) {
    it.current = it.runEnd[0];
    it.advanceDim();
  }
  EXPECT_EQ(it.current, p + 6);
  EXPECT_EQ(it.runStart[2], p + 6);
  EXPECT_EQ(it.runStart[1], p + 6);
  EXPECT_EQ(it.runEnd[1], p + 12);
  EXPECT_EQ(it.runEnd[0], p + 8);
}

TEST(MArrayIterTest, OneElementAndEmptyArrays) {
  MArray<double, 1> a1(1);
  MArray<double, 2> a2(1, 1);
  MArray<double, 3> a3(1, 1, 1);
  MArray<double, 4> a4(1, 1, 1, 1);
  auto endsAfterOneRun = [](auto it) {
    it.advanceDim();
    return it.isDone();
  };
  EXPECT_TRUE((endsAfterOneRun(MArrayIterConst<double, 1>(a1))));
  EXPECT_TRUE((endsAfterOneRun(MArrayIterConst<double, 2>(a2))));
  EXPECT_TRUE((endsAfterOneRun(MArrayIterConst<double, 3>(a3))));
  EXPECT_TRUE((endsAfterOneRun(MArrayIterConst<double, 4>(a4))));
  // Arrays with a zero length, without storage, and with a length that a
  // backward range made negative are never walked.
  MArray<double, 2> empty(0, 5);
  EXPECT_TRUE((MArrayIterConst<double, 2>(empty).isDone()));
  MArrayIterConst<double, 3> none{MArray<double, 3>()};
  EXPECT_TRUE(none.isDone());
  none.advanceDim();
  EXPECT_TRUE(none.isDone());
  MArray<double, 2> img(4, 4);
  MArray<double, 2> backwards = img(Range(3, 1), Range(3, 1));
  EXPECT_TRUE((MArrayIterConst<double, 2>(backwards).isDone()));
  EXPECT_EQ(std::distance(backwards.begin(), backwards.end()), 0);
}

TEST(MArrayIterTest, WritableIteratorAndStandardAlgorithms) {
  MArray<int, 2> a(4, 3);
  int value = 0;
  for (MArrayIter<int, 2> it(a); !it.isDone(); ++it) *it = value++;
  EXPECT_EQ(a(4, 3), 11);
  MArray<int, 2> reversed = a(Range(4, 1, -1), Range(3, 1, -1));
  std::vector<int> seen(reversed.begin(), reversed.end());
  ASSERT_EQ(seen.size(), 12u);
  EXPECT_EQ(seen.front(), 11);
  EXPECT_EQ(seen.back(), 0);
  std::vector<int> smallest(3);
  std::partial_sort_copy(reversed.begin(), reversed.end(), smallest.begin(), smallest.end());
  EXPECT_EQ(smallest, (std::vector<int>{0, 1, 2}));
}

}  // namespace
