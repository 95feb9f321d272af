#ifndef NUMERICS_INTVECTOR_H
#define NUMERICS_INTVECTOR_H

// An int vector with the index range nl..nh: a heap block of nh - nl + 2 ints
// handed out as a pointer p with p[nl] to p[nh] usable (the block starts at
// p[nl - 1]). When the heap has no room (or the range is empty) it prints
// "allocation failure in intvector()" on standard output and returns a null
// pointer.
int* intvector(long nl, long nh);

// Returns a vector from intvector to the heap; a null pointer is ignored. nh
// is not used.
void free_intvector(int* p, long nl, long nh);

#endif
