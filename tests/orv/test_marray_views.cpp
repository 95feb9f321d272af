// Element access, sharing, rebasing and views of arrays, checked against the
// naive index formula on the source.
#include <gtest/gtest.h>

#include "orv/marray.h"

namespace {

using orv::MArray;
using orv::Range;

TEST(MArrayAccessTest, ElementsAreAddressedColumnMajor) {
  MArray<int, 4> a(2, 3, 4, 5);
  int* p = a.firstElement();
  for (int m = 0; m < a.numElements(); ++m) p[m] = m;
  for (int l = 1; l <= 5; ++l)
    for (int k = 1; k <= 4; ++k)
      for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 2; ++i)
          EXPECT_EQ(a(i, j, k, l), (i - 1) + 2 * (j - 1) + 6 * (k - 1) + 24 * (l - 1));
  MArray<double, 3> c(Range(-1, 1), Range(0, 1), Range(5, 6));
  c(-1, 0, 5) = 1.5;
  EXPECT_EQ(c.firstElement()[0], 1.5);
  c(1, 1, 6) = 2.5;
  EXPECT_EQ(c.firstElement()[c.numElements() - 1], 2.5);
}

TEST(MArrayAccessTest, CopiesShareAndFillReachesEveryElement) {
  MArray<double, 2> a(3, 4);
  a = 0.0;
  MArray<double, 2> b(a);
  b(2, 3) = 7.0;
  EXPECT_EQ(a(2, 3), 7.0);
  EXPECT_EQ(a.getMemoryBlock()->references, 2);
  b = 2.0;
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(a(i, j), 2.0);
}

TEST(MArrayAccessTest, SetBaseRenumbersWithoutMoving) {
  MArray<float, 2> a(4, 3);
  for (int j = 1; j <= 3; ++j)
    for (int i = 1; i <= 4; ++i) a(i, j) = 10.0f * i + j;
  const float* before = a.firstElement();
  a.setBase(100, -2);
  EXPECT_EQ(a.firstElement(), before);
  EXPECT_EQ(a.first(1), 100);
  EXPECT_EQ(a.last(1), 103);
  EXPECT_EQ(a.first(2), -2);
  EXPECT_EQ(a.last(2), 0);
  EXPECT_EQ(a(100, -2), 11.0f);
  EXPECT_EQ(a(103, 0), 43.0f);
  EXPECT_EQ(a.getShape()->zeroOffset, -(100 - 2 * 4));
}

TEST(MArrayAccessTest, DefaultArrayIsEmptyAndFreeReleases) {
  MArray<float, 2> none;
  EXPECT_TRUE(none.isEmpty());
  MArray<float, 2> copyOfNone(none);
  EXPECT_TRUE(copyOfNone.isEmpty());
  MArray<short, 2> a(5, 5);
  MArray<short, 2> b(a);
  a.free();
  EXPECT_TRUE(a.isEmpty());
  a.free();
  EXPECT_EQ(b.getMemoryBlock()->references, 1);
  b(5, 5) = 3;
  EXPECT_EQ(b(5, 5), 3);
}

TEST(MArrayAccessTest, MakeReferenceOfItselfKeepsElements) {
  MArray<double, 1> a(4);
  a = 3.0;
  a.makeReference(a);
  EXPECT_EQ(a.getMemoryBlock()->references, 1);
  EXPECT_EQ(a(4), 3.0);
  MArray<double, 1> b(9);
  b.makeReference(a);
  EXPECT_EQ(b.length(1), 4);
  EXPECT_EQ(a.getMemoryBlock()->references, 2);
  MArray<double, 1> none;
  b.makeReference(none);
  EXPECT_TRUE(b.isEmpty());
  EXPECT_EQ(a.getMemoryBlock()->references, 1);
}

}  // namespace
