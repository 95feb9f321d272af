#ifndef NUMERICS_STATS_H
#define NUMERICS_STATS_H

#include <cmath>
#include <limits>

#include "numerics/sort.h"
#include "orv/marray.h"

// Robust statistics of short arrays (they sort a copy with the quadratic
// sort1). Elements are counted from the array's first index; the argument is
// not changed.

// The median: the middle element of the sorted copy for an odd count, the
// mean of the two middle ones for an even count; NaN for an empty array.
template <typename T>
T median(orv::MArray<T, 1> a) {
  const int n = a.length(1);
  if (n < 1) return std::numeric_limits<T>::quiet_NaN();
  const orv::MArray<T, 1> sorted = sort1(a);
  const int before = sorted.first(1) - 1;  // element k is sorted(before + k)
  if (n % 2 == 1) return sorted(before + n / 2 + 1);
  return (sorted(before + n / 2) + sorted(before + n / 2 + 1)) / 2.0;
}

// The scatter about the median: sqrt(sum (a(k) - median)^2 / (n - 1)); NaN
// for fewer than two elements.
template <typename T>
T rms(orv::MArray<T, 1> a) {
  const int n = a.length(1);
  if (n < 2) return std::numeric_limits<T>::quiet_NaN();
  const T m = median(a);
  T sum = 0;
  for (int i = a.first(1); i <= a.last(1); ++i) sum += (a(i) - m) * (a(i) - m);
  return std::sqrt(sum / (n - 1));
}

#endif
