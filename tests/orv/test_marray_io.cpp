// Text output of shapes and arrays, and the diagnostic dump describeSelf.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "orv/marray.h"

namespace {

using orv::MArray;
using orv::Range;

template <class A>
std::string text(const A& value, int precision = 6) {
  std::ostringstream os;
  os.precision(precision);
  os << value;
  return os.str();
}

TEST(MArrayText, Shapes) {
  EXPECT_EQ(text(*MArray<float, 2>(100, 200).getShape()), "( 100 x 200 ) : (1,100) (1,200) ");
  EXPECT_EQ(text(*MArray<int, 1>(Range(-3, 3)).getShape()), "( 7 ) : (-3,3) ");
  EXPECT_EQ(text(*MArray<double, 4>(2, 3, 4, 5).getShape()), "( 2 x 3 x 4 x 5 ) : (1,2) (1,3) (1,4) (1,5) ");
}

TEST(MArrayText, Arrays) {
  MArray<double, 2> d2(2, 2);
  d2(1, 1) = 1;
  d2(2, 1) = 2;
  d2(1, 2) = 3;
  d2(2, 2) = 4;
  MArray<int, 3> i3(2, 2, 2);
  for (int k = 0; k < 8; ++k) i3.firstElement()[k] = k + 1;
  MArray<int, 1> based(Range(-3, 3));
  for (int i = -3; i <= 3; ++i) based(i) = i * 10;
  MArray<double, 2> tenths(3, 1);
  tenths = 0.1;
  MArray<bool, 2> mask(2, 1);
  mask(1, 1) = true;
  mask(2, 1) = false;

  struct Case {
    std::string actual, expected;
  };
  const Case cases[] = {
      {text(d2), "MArray<T,2> ( 2 x 2 ) : (1,2) (1,2) \n[[ 1 2 ]\n [ 3 4 ]]"},
      {text(i3),
       "MArray<T,3> ( 2 x 2 x 2 ) : (1,2) (1,2) (1,2) \n[[[ 1 2 ]\n  [ 3 4 ]]\n [[ 5 6 ]\n  [ 7 8 ]]]"},
      {text(based), "MArray<T,1> ( 7 ) : (-3,3) \n[ -30 -20 -10 0 10 20 30 ]"},
      {text(MArray<double, 1>(0)), "MArray<T,1> ( 0 ) : (1,0) \n[ ]"},
      {text(MArray<double, 2>(3, 0)), "MArray<T,2> ( 3 x 0 ) : (1,3) (1,0) \n[]"},
      {text(MArray<double, 2>(0, 2)), "MArray<T,2> ( 0 x 2 ) : (1,0) (1,2) \n[[ ]\n [ ]]"},
      // A view prints its own elements, indexed from 1.
      {text(d2(Range(2, 2), Range(2, 1, -1))), "MArray<T,2> ( 1 x 2 ) : (1,1) (1,2) \n[[ 4 ]\n [ 2 ]]"},
      {text(based(Range(0, 3, 3))), "MArray<T,1> ( 2 ) : (1,2) \n[ 0 30 ]"},
      {text(tenths), "MArray<T,2> ( 3 x 1 ) : (1,3) (1,1) \n[[ 0.1 0.1 0.1 ]]"},
      {text(tenths, 17),
       "MArray<T,2> ( 3 x 1 ) : (1,3) (1,1) \n[[ 0.10000000000000001 0.10000000000000001 "
       "0.10000000000000001 ]]"},
      {text(mask), "MArray<T,2> ( 2 x 1 ) : (1,2) (1,1) \n[[ 1 0 ]]"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

std::vector<std::string> describe(const MArray<float, 2>& a) {
  testing::internal::CaptureStdout();
  a.describeSelf();
  std::istringstream lines(testing::internal::GetCapturedStdout());
  std::vector<std::string> result;
  for (std::string line; std::getline(lines, line);) result.push_back(line);
  return result;
}

std::string pointer(const void* p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

TEST(MArrayText, DescribeSelf) {
  MArray<float, 2> a(4, 3);
  const MArray<float, 2> view = a(Range(2, 3), Range(1, 3, 2));
  const std::vector<std::string> lines = describe(view);
  const std::vector<std::string> expected = {
      "  Num elements        : 4",
      "  Zero offset         : " + std::to_string(view.getShape()->zeroOffset),
      "  Data (0,0,...)      : " + pointer(view.getData()),
      "  First element       : " + pointer(a.firstElement() + 1),
      "  Storage Contiguous  : 0",
      "  MemBlock at         : " + pointer(a.getMemoryBlock()),
      "     References       : 2",
      "     Data ptr         : " + pointer(a.firstElement()),
      "  Dimensions          : ( 2 x 2 ) : (1,2) (1,2) ",
      "  Strides             : 1 8 ",
  };
  EXPECT_EQ(lines, expected);

  // An array without storage describes itself without reading a block.
  const std::vector<std::string> none = describe(MArray<float, 2>());
  ASSERT_EQ(none.size(), 10u);
  EXPECT_EQ(none[6], "     References       : 0");
  EXPECT_EQ(none[7], "     Data ptr         : " + pointer(nullptr));
  MArray<float, 2> freed(2, 2);
  freed.free();
  EXPECT_EQ(describe(freed)[5], "  MemBlock at         : " + pointer(nullptr));
  EXPECT_EQ(text(freed), "MArray<T,2> ( 2 x 2 ) : (1,2) (1,2) \n[[ ]\n [ ]]");
}

}  // namespace
