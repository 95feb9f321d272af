#ifndef NUMERICS_MAPPEND_H
#define NUMERICS_MAPPEND_H

#include "orv/marray.h"

// Appends one element: a becomes a new array of base 1 and length n + 1 that
// holds a's n elements followed by value. The old storage is released when
// its last holder lets go.
template <typename T>
void mappend(orv::MArray<T, 1>& a, T value) {
  const int n = a.length(1);
  orv::MArray<T, 1> longer(n + 1);
  for (int k = 1; k <= n; ++k) longer(k) = a(a.first(1) + k - 1);
  longer(n + 1) = value;
  a.makeReference(longer);
}

#endif
