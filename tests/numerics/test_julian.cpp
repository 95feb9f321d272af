// Julian dates of calendar dates and times, across the switch to the Gregorian calendar.
#include <gtest/gtest.h>

#include "numerics/julian.h"

namespace {

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

}  // namespace
