// The sky with spline residuals: constant absorption, a plane sky and a spline surface of the residual.
#ifndef TARVOLE_SKY_NEW_H
#define TARVOLE_SKY_NEW_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// Constant absorption and a plane sky plus a spline surface of the residual in 61-pixel cells.
void sky_new(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
             Coefficients& c, Pliste& P);
// Adds the names of the diagnostic files sky_new writes for P.outname.
void sky_new_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
