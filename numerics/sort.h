#ifndef NUMERICS_SORT_H
#define NUMERICS_SORT_H

#include <utility>

#include "orv/marray.h"

// Exchange sorts for short arrays; the work grows with the square of the
// length. They work on the array's own index range, first to last.

// A sorted copy of a with the same index range; a is unchanged. The exchange
// sort compares every pair (i, j > i) in turn and exchanges them when the
// value at i is greater, which fixes the order of equal keys.
template <typename T>
orv::MArray<T, 1> sort1(orv::MArray<T, 1>& a) {
  const int first = a.first(1);
  const int last = a.last(1);
  orv::MArray<T, 1> sorted(orv::Range(first, last));
  for (int i = first; i <= last; ++i) sorted(i) = a(i);
  for (int i = first; i < last; ++i)
    for (int j = i + 1; j <= last; ++j)
      if (sorted(i) > sorted(j)) std::swap(sorted(i), sorted(j));
  return sorted;
}

// Fills idx, over the index range of x, with the positions of x: first those
// whose value is not `marker`, by ascending value, then those holding it.
// Returns first - 1 + the number of valid positions (the count for base 1).
// An idx that does not cover x's index range is given a new array of that range.
int sortpos(orv::MArray<double, 1>& x, orv::MArray<int, 1>& idx, double marker);

// The same, a position k being valid when mask(k) >= 0 (positions outside the
// mask's index range count as invalid).
int sortpos_marker(const orv::MArray<double, 1>& x, const orv::MArray<int, 1>& mask,
                   orv::MArray<int, 1>& idx);

#endif
