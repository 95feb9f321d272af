#ifndef NUMERICS_JULIAN_H
#define NUMERICS_JULIAN_H

// Julian date (days) of an instant in UT. Dates up to 1582 October 4 are
// taken in the Julian calendar, later ones in the Gregorian calendar.
double julian(int year, int month, int day, int hour, int minute, double second);

// The same with the time of day in hours.
double julian(int year, int month, int day, double hour);

#endif
