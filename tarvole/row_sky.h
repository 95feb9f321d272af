// The row-wise sky: bright objects of the reference masked by a running
// median, then a sky that varies only with y.
#ifndef TARVOLE_ROW_SKY_H
#define TARVOLE_ROW_SKY_H

#include <string>
#include <vector>

#include "orv/marray.h"
#include "tarvole/method_contract.h"

// The bright-object mask of R (1.0 = keep, 0.0 = masked): with med the
// 21 × 21 running median (0 in the 10-pixel frame), every interior pixel with
// med != 0 and R - med > 100 masks the disc of radius 10 around it.
orv::MArray<float, 2> bright_object_mask(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& med);

// Bright objects masked by a running median, absorption 1 and a sky varying only with y.
void fit_fielddiaY(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                   Coefficients& c, Pliste& P);
// Adds the names of the diagnostic files fit_fielddiaY writes for P.outname.
void fit_fielddiaY_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
