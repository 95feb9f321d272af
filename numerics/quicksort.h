#ifndef NUMERICS_QUICKSORT_H
#define NUMERICS_QUICKSORT_H

#include "orv/marray.h"

// Quicksort of arr ascending, in place in the caller's storage, with a
// median-of-three pivot, straight insertion below 8 elements and a 50-entry
// stack of pending ranges from intvector. Elements are counted from the
// array's first index. Equal keys are allowed.
void quicksort(orv::MArray<double, 1> arr);

// The same; every move of an element of arr is made on b, c and d too. Arrays
// of different lengths are sorted over the shortest one.
void quicksort4(orv::MArray<double, 1> arr, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
                orv::MArray<double, 1> d);

// quicksort4 on a given stack (entries 1..50); a null stack, as intvector
// returns when the heap is full, sorts by heapsort instead.
void quicksort4WithStack__(orv::MArray<double, 1> arr, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
                           orv::MArray<double, 1> d, int* stack);

#endif
