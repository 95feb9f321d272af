#ifndef NUMERICS_HPSORT_H
#define NUMERICS_HPSORT_H

#include "orv/marray.h"

// Heapsort of ra ascending, in place in the caller's storage (the arrays are
// handles that share it). Every move of a key is made on rb, rc and rd too.
// Elements are counted from each array's first index; arrays of different
// lengths are sorted over the shortest one. Fewer than 2 elements: nothing
// happens. Equal keys keep no particular order.
void hpsort4(orv::MArray<double, 1> ra, orv::MArray<double, 1> rb, orv::MArray<double, 1> rc,
             orv::MArray<double, 1> rd);

// Heapsort of ra alone.
void hpsort4(orv::MArray<double, 1> ra);

#endif
