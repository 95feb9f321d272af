#ifndef NUMERICS_CONVERT_H
#define NUMERICS_CONVERT_H

#include <string>

// Text forms of booleans and numbers for printed option values, time strings
// and file names.

// "true" or "false".
std::string bool2str(bool b);

// v as a default-formatted output stream writes it: general notation with 6
// significant digits (0.1 gives "0.1", 1234567.0 gives "1.23457e+06").
std::string double2str(double v);

// n in decimal.
std::string int2str(int n);

// n padded with leading zeros to w digits: one "0" for each k from 0 to w - 1
// with 10^k > n, then n itself unless it is 0. So int2str(7, 3) is "007",
// int2str(0, 2) is "00", a number with more than w digits is written whole,
// and a negative number gets w zeros before its sign ("000-1").
std::string int2str(int n, int w);

#endif
