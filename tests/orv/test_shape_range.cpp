// Geometry of new arrays: bases, lengths, strides, zero offset, element count
// and contiguity, for every element type and rank, and the Range rules.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

#include "orv/marray.h"

namespace {

using orv::MArray;
using orv::Range;

// Expected column-major geometry for given bases and lengths.
template <typename T, int N>
void expectFreshLayout(const MArray<T, N>& a, const int* bases, const int* lengths) {
  long stride = 1;
  long zero = 0;
  long count = 1;
  for (int d = 1; d <= N; ++d) {
    EXPECT_EQ(a.first(d), bases[d - 1]) << "dim " << d;
    EXPECT_EQ(a.length(d), lengths[d - 1]) << "dim " << d;
    EXPECT_EQ(a.last(d), bases[d - 1] + lengths[d - 1] - 1) << "dim " << d;
    EXPECT_EQ(a.stride(d), stride) << "dim " << d;
    zero -= bases[d - 1] * stride;
    stride *= lengths[d - 1];
    count *= lengths[d - 1];
  }
  EXPECT_EQ(a.getShape()->zeroOffset, zero);
  EXPECT_EQ(a.numElements(), count);
  EXPECT_TRUE(a.isStorageContiguous());
  EXPECT_FALSE(a.isEmpty());
}

template <typename T, int N>
MArray<T, N> fromLengths(const int* n) {
  if constexpr (N == 1) return MArray<T, 1>(n[0]);
  if constexpr (N == 2) return MArray<T, 2>(n[0], n[1]);
  if constexpr (N == 3) return MArray<T, 3>(n[0], n[1], n[2]);
  if constexpr (N == 4) return MArray<T, 4>(n[0], n[1], n[2], n[3]);
}

template <typename T, int N>
MArray<T, N> fromRanges(const int* b, const int* n) {
  auto r = [&](int d) { return Range(b[d], b[d] + n[d] - 1); };
  if constexpr (N == 1) return MArray<T, 1>(r(0));
  if constexpr (N == 2) return MArray<T, 2>(r(0), r(1));
  if constexpr (N == 3) return MArray<T, 3>(r(0), r(1), r(2));
  if constexpr (N == 4) return MArray<T, 4>(r(0), r(1), r(2), r(3));
}

template <typename T, int N>
void checkTypeAndRank() {
  struct Case {
    int bases[4];
    int lengths[4];
  };
  const Case cases[] = {
      {{1, 1, 1, 1}, {5, 2, 3, 2}}, {{-30, -30, -30, -30}, {61, 61, 2, 3}}, {{0, 7, -2, 100}, {1, 1, 1, 1}},
      {{1, 1, 1, 1}, {0, 3, 2, 2}}, {{3, 1, 1, 1}, {4, 0, 5, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rank " << N << " lengths " << c.lengths[0] << "," << c.lengths[1]
                                    << " base " << c.bases[0]);
    const int ones[4] = {1, 1, 1, 1};
    MArray<T, N> a = fromLengths<T, N>(c.lengths);
    expectFreshLayout(a, ones, c.lengths);
    MArray<T, N> b = fromRanges<T, N>(c.bases, c.lengths);
    expectFreshLayout(b, c.bases, c.lengths);
    // From a shape: the bases and lengths of b, fresh storage.
    MArray<T, N> s(b.getShape());
    expectFreshLayout(s, c.bases, c.lengths);
    EXPECT_NE(s.getMemoryBlock(), b.getMemoryBlock());
  }
}

template <typename T>
void checkAllRanks() {
  checkTypeAndRank<T, 1>();
  checkTypeAndRank<T, 2>();
  checkTypeAndRank<T, 3>();
  checkTypeAndRank<T, 4>();
}

TEST(ShapeTest, FreshArraysOfEveryTypeAndRank) {
  checkAllRanks<float>();
  checkAllRanks<double>();
  checkAllRanks<int>();
  checkAllRanks<short>();
  checkAllRanks<long>();
  checkAllRanks<bool>();
  checkTypeAndRank<std::string, 1>();
}

TEST(ShapeTest, WorkedExamples) {
  MArray<double, 1> a(5);
  EXPECT_EQ(a.getShape()->zeroOffset, -1);
  EXPECT_EQ(a.numElements(), 5);
  const int n = 7;
  MArray<double, 2> b(n, 2);
  EXPECT_EQ(b.stride(2), n);
  EXPECT_EQ(b.getShape()->zeroOffset, -(n + 1));
  EXPECT_EQ(b.numElements(), 2 * n);
  MArray<std::string, 1> s(3);
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(s(i).empty());
}

TEST(ShapeTest, ShapeOfAViewGivesAFreshContiguousArray) {
  MArray<float, 2> big(10, 8);
  MArray<float, 2> view = big(Range(2, 9, 2), Range(3, 6));
  ASSERT_FALSE(view.isStorageContiguous());
  MArray<float, 2> fresh(view.getShape());
  EXPECT_EQ(fresh.stride(1), 1);
  EXPECT_EQ(fresh.stride(2), 4);
  EXPECT_EQ(fresh.length(1), 4);
  EXPECT_TRUE(fresh.isStorageContiguous());
}

TEST(ShapeTest, RefusesNegativeAndOverflowingSizes) {
  EXPECT_THROW((MArray<float, 2>(65536, 65536)), orv::RangeException);
  EXPECT_THROW((MArray<float, 1>(-1)), orv::RangeException);
  EXPECT_THROW((MArray<double, 3>(2, -3, 4)), orv::RangeException);
  EXPECT_THROW((MArray<short, 4>(1024, 1024, 1024, 2)), orv::RangeException);
  EXPECT_THROW((MArray<int, 3>(65536, 65536, 0)), orv::RangeException);
  EXPECT_THROW((MArray<int, 1>(Range(5, 3))), orv::RangeException);
  EXPECT_THROW((MArray<int, 1>(Range::all())), orv::RangeException);
  EXPECT_THROW((MArray<int, 2>(Range(1, 2), Range(2147483000, 2147483001))), orv::RangeException);
  // Bases far out: the zero offset of a 4-D array exceeds even 64 bits.
  const Range far(-2147483647, -2147483647);
  EXPECT_THROW((MArray<bool, 4>(Range(-2147483647, -1), far, far, far)), orv::RangeException);
  // A marker end has no dimension to refer to when an array is made.
  EXPECT_THROW((MArray<int, 1>(Range(5, orv::rangeAll))), orv::RangeException);
  EXPECT_THROW((MArray<int, 1>(Range(orv::rangeAll, 5))), orv::RangeException);
  MArray<int, 2> rebased(4, 4);
  EXPECT_THROW(rebased.setBase(1, -2147483000), orv::RangeException);
  EXPECT_THROW(rebased.setBase(INT_MAX - 2, 1), orv::RangeException);  // last index would overflow
  EXPECT_EQ(rebased.first(1), 1);
  EXPECT_EQ(rebased.first(2), 1);
  MArray<int, 1> top(Range(INT_MAX - 1, INT_MAX));
  EXPECT_EQ(top.last(1), INT_MAX);
  MArray<int, 1> empty(Range(5, 4));
  EXPECT_EQ(empty.numElements(), 0);
  EXPECT_FALSE(empty.isEmpty());
}

TEST(RangeTest, Fields) {
  const Range r(5, 10);
  EXPECT_EQ(std::make_tuple(r.first, r.last, r.stride, r.length), std::make_tuple(5, 10, 1, 6));
  const Range all = Range::all();
  EXPECT_EQ(std::make_tuple(all.first, all.last, all.stride, all.length),
            std::make_tuple(INT_MIN, INT_MIN, 1, 1));
  EXPECT_EQ(orv::rangeAll, INT_MIN);
  EXPECT_EQ(Range(10, 1, -1).length, 10);
  EXPECT_EQ(Range(1, 10, 3).length, 4);
  // Extreme indices do not overflow the length computation, nor does a marker
  // at one end (its length, like that of the whole extent, has no meaning).
  EXPECT_EQ(Range(-1000000000, 1000000000, 1000000000).length, 3);
  EXPECT_EQ(Range(5, orv::rangeAll).length, 1);
  EXPECT_EQ(Range(orv::rangeAll, 5, -1).length, 1);
  static_assert(!std::is_convertible_v<int, Range>, "no implicit Range from an int");
}

TEST(RangeExceptionTest, WhatReturnsTheMessage) {
  const orv::RangeException e("Cannot map mapfile");
  EXPECT_STREQ(e.what(), "Cannot map mapfile");
  const std::exception& base = e;
  EXPECT_STREQ(base.what(), "Cannot map mapfile");
}

}  // namespace
