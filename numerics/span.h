#ifndef NUMERICS_SPAN_H
#define NUMERICS_SPAN_H

#include "orv/marray.h"

// n values evenly spaced from a to b, base 1. Both ends are exact: element 1
// is a and element n is b (for n = 1 the single element is b). Inner elements
// are a + (i - 1) * step with step = (b - a) / (n - 1). For n <= 0 the result
// is an empty array (length 0, base 1).
orv::MArray<double, 1> span(double a, double b, int n);

// The same for integers: the step is computed in double and held in float, and
// each inner element is (i - 1) * step + a truncated toward zero. The float
// step shows in the results: span(0, 14, 21) has 6 as element 11.
orv::MArray<int, 1> span(int a, int b, int n);

#endif
