// Free absorption and plane sky from the sampling grid, the sky program's default method.
#ifndef TARVOLE_FIT_ABS_SKY_H
#define TARVOLE_FIT_ABS_SKY_H

#include "tarvole/method_contract.h"

// Free absorption and plane sky from the sampling grid (the default method). Writes no
// diagnostic file of its own.
void fit_abs_sky(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                 Coefficients& c, Pliste& P);

#endif
