#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "numerics/convert.h"
#include "numerics/julian.h"
#include "numerics/radec.h"
#include "numerics/wait_seconds.h"

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
// Astronomical Algorithms, chapter 7), the day fraction given in hours.
TEST(Julian, PublishedTable) {
  struct Case {
    int year, month, day;
    double hour, jd;
  };
  const Case cases[] = {
      {2000, 1, 1, 12.0, 2451545.0},    {1999, 1, 1, 0.0, 2451179.5},    {1987, 1, 27, 0.0, 2446822.5},
      {1987, 6, 19, 12.0, 2446966.0},   {1988, 1, 27, 0.0, 2447187.5},   {1988, 6, 19, 12.0, 2447332.0},
      {1900, 1, 1, 0.0, 2415020.5},     {1600, 1, 1, 0.0, 2305447.5},    {1600, 12, 31, 0.0, 2305812.5},
      {1957, 10, 4, 19.44, 2436116.31}, {837, 4, 10, 7.2, 2026871.8},    {333, 1, 27, 12.0, 1842713.0},
      {-123, 12, 31, 0.0, 1676496.5},   {-122, 1, 1, 0.0, 1676497.5},    {-1000, 7, 12, 12.0, 1356001.0},
      {-1000, 2, 29, 0.0, 1355866.5},   {-1001, 8, 17, 21.6, 1355671.4}, {-4712, 1, 1, 12.0, 0.0},
      {1858, 11, 17, 0.0, 2400000.5},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(julian(c.year, c.month, c.day, c.hour), c.jd, 1e-8)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << "h";
}

TEST(Julian, TimeFieldsAndCalendarSwitch) {
  EXPECT_EQ(julian(2000, 1, 1, 12, 0, 0.0), 2451545.0);
  EXPECT_EQ(julian(1858, 11, 17, 0.0), 2400000.5);
  EXPECT_NEAR(julian(2000, 1, 1, 18, 30, 45.0), 2451545.0 + (6 * 3600 + 30 * 60 + 45) / 86400.0, 1e-9);
  // The last Julian-calendar day is followed by the first Gregorian one.
  EXPECT_EQ(julian(1582, 10, 15, 0.0) - julian(1582, 10, 4, 0.0), 1.0);
  EXPECT_EQ(julian(1582, 10, 4, 0.0), 2299159.5);
  // The ten dates in between do not exist; they are read in the Gregorian calendar,
  // like every date after 1582 October 4.
  for (int day = 5; day <= 14; ++day)
    EXPECT_EQ(julian(1582, 10, day, 0.0), julian(1582, 10, 15, 0.0) - (15 - day)) << "1582-10-" << day;
}

TEST(Radec, RoundTrip) {
  struct Case {
    double x, y, ra0, dec0, x0, y0, dx, dy;
  };
  const Case cases[] = {
      {100.0, 200.0, 150.0, 2.0, 1024.5, 1024.5, -2.8e-4, 2.8e-4},
      {-50.0, 4000.0, 10.0, -60.0, 0.0, 0.0, 1e-3, 1e-3},
      {5.0, 5.0, 359.0, 85.0, 1.0, 1.0, 0.01, -0.01},
  };
  for (const Case& c : cases) {
    double ra = 0.0, dec = 0.0, x = 0.0, y = 0.0;
    PixelToradec(ra, dec, c.x, c.y, c.ra0, c.dec0, c.x0, c.y0, c.dx, c.dy);
    EXPECT_NEAR(dec, c.dec0 + (c.y - c.y0) * c.dy, 1e-12);
    radecToPixel(ra, dec, x, y, c.ra0, c.dec0, c.x0, c.y0, c.dx, c.dy);
    EXPECT_NEAR(x, c.x, 1e-8);
    EXPECT_NEAR(y, c.y, 1e-8);
  }
  // At the reference pixel the reference position; along x the scale grows with 1/cos(dec).
  double ra = 0.0, dec = 0.0;
  PixelToradec(ra, dec, 11.0, 1.0, 30.0, 60.0, 1.0, 1.0, 0.1, 0.1);
  EXPECT_DOUBLE_EQ(dec, 60.0);
  EXPECT_NEAR(ra, 32.0, 1e-12);
  // Back: 2 degrees of right ascension at declination 60 are 2 * cos(60) / 0.1 = 10
  // pixels, not 2 / 0.1 / cos(60) = 40.
  double x = 0.0, y = 0.0;
  radecToPixel(32.0, 60.0, x, y, 30.0, 60.0, 1.0, 1.0, 0.1, 0.1);
  EXPECT_NEAR(x, 11.0, 1e-9);
  EXPECT_NEAR(y, 1.0, 1e-12);
}

// Waits until the second of time() has just changed.
void alignToSecond() {
  const std::time_t t = std::time(nullptr);
  while (std::time(nullptr) == t) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(WaitSeconds, ReturnsAfterTheNextSecondsPassWithoutSpinning) {
  alignToSecond();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // called in mid-second
  const std::time_t t0 = std::time(nullptr);
  const auto begin = std::chrono::steady_clock::now();
  const std::clock_t cpuBegin = std::clock();
  wait_seconds(1);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const double cpu = double(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
  EXPECT_GT(std::time(nullptr), t0 + 1);
  EXPECT_GE(elapsed, 1.0);
  EXPECT_LT(elapsed, 2.0);
  EXPECT_LT(cpu, 0.3);  // sleeps between its checks

  const std::time_t t1 = std::time(nullptr);
  wait_seconds(0);  // the next change of the second
  EXPECT_GT(std::time(nullptr), t1);
  wait_seconds(-5);  // already passed
}

}  // namespace
