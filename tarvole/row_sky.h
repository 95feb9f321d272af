// The row-wise sky: bright objects of the reference masked by a running
// median, then a sky that varies only with y.
#ifndef TARVOLE_ROW_SKY_H
#define TARVOLE_ROW_SKY_H

#include "orv/marray.h"

// The bright-object mask of R (1.0 = keep, 0.0 = masked): with med the
// 21 × 21 running median (0 in the 10-pixel frame), every interior pixel with
// med != 0 and R - med > 100 masks the disc of radius 10 around it.
orv::MArray<float, 2> brightObjectMask(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& med);

#endif
