// Numbers and truth values as text: bool2str, double2str and int2str with and without padding.
#include <gtest/gtest.h>

#include "numerics/convert.h"

namespace {

TEST(Convert, BoolAndDoubleAndIntText) {
  EXPECT_EQ(bool2str(true), "true");
  EXPECT_EQ(bool2str(false), "false");
  EXPECT_EQ(double2str(0.1), "0.1");
  EXPECT_EQ(double2str(1234567.0), "1.23457e+06");
  EXPECT_EQ(double2str(-2.5), "-2.5");
  EXPECT_EQ(int2str(0), "0");
  EXPECT_EQ(int2str(-42), "-42");
  EXPECT_EQ(int2str(2147483647), "2147483647");
}

TEST(Convert, PaddedInt) {
  struct Case {
    int n, w;
    const char* text;
  };
  const Case cases[] = {
      {5, 2, "05"}, {0, 2, "00"},  {123, 2, "123"}, {7, 3, "007"},    {10, 2, "10"},
      {9, 2, "09"}, {99, 2, "99"}, {100, 3, "100"}, {12, 3, "012"},   {12345, 5, "12345"},
      {0, 0, ""},   {0, -3, ""},   {5, 0, "5"},     {-1, 3, "000-1"}, {2147483647, 12, "002147483647"},
  };
  for (const Case& c : cases) EXPECT_EQ(int2str(c.n, c.w), c.text) << "int2str(" << c.n << ", " << c.w << ")";
}

// Julian dates of the worked examples in the standard tables (Meeus,

}  // namespace
