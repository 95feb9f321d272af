// The binned-spline absorption fit: a plane fit, then a spline surface of the absorption.
#ifndef TARVOLE_FIT_ABS_BINSPLINE_H
#define TARVOLE_FIT_ABS_BINSPLINE_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// Plane fit, then a spline surface of the absorption from 61-pixel cells (binspline,
// binsplinedez).
void fit_abs_binspline(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                       Coefficients& c, Pliste& P);
// Adds the names of the diagnostic files fit_abs_binspline writes for P.outname.
void fit_abs_binspline_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
