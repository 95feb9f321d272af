#include "numerics/julian.h"

#include <cmath>

namespace {

// The whole days of the date as a modified Julian date: the calendar term b
// plus the year and month terms plus the day, summed in this order so that
// the last bits of the result are reproducible.
double modifiedJulianDay(int year, int month, int day) {
  // January and February count as months 13 and 14 of the year before.
  long long y = year;
  long long m = month;
  if (month < 3) {
    m = month + 12LL;
    y = year - 1LL;
  }
  // The date as the number yyyymmdd, in double so that no year overflows it.
  const double dateNumber = year * 10000.0 + month * 100.0 + day;
  long long b;
  if (dateNumber > 15821004.1)
    b = y / 400 - y / 100 + y / 4;  // Gregorian calendar
  else
    b = (y + 4716) / 4 - 1181;  // Julian calendar
  return static_cast<double>(b) + (365.0 * static_cast<double>(y) - 679004.0) +
         std::trunc(30.6001 * static_cast<double>(m + 1)) + day;
}

}  // namespace

double julian(int year, int month, int day, int hour, int minute, double second) {
  return modifiedJulianDay(year, month, day) + hour / 24.0 + minute / 1440.0 + second / 86400.0 + 2400000.5;
}

double julian(int year, int month, int day, double hour) {
  return modifiedJulianDay(year, month, day) + hour / 24.0 + 2400000.5;
}
