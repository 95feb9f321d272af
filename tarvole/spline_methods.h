// The fitting methods built on binned spline surfaces, with the diagnostic files each writes.
#ifndef TARVOLE_SPLINE_METHODS_H
#define TARVOLE_SPLINE_METHODS_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// Sampling-grid fit with up to six unknowns (by fitnew, const, const_abs, verynew) and a
// smoothed residual surface.
void very_new(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
              Coefficients& c, Pliste& P);
void very_new_outputs(const Pliste& P, std::vector<std::string>& names);

// Constant absorption and a plane sky plus a spline surface of the residual in 61-pixel cells.
void sky_new(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
             Coefficients& c, Pliste& P);
void sky_new_outputs(const Pliste& P, std::vector<std::string>& names);

// Plane fit, then a spline surface of the absorption from 61-pixel cells (binspline,
// binsplinedez).
void fit_abs_binspline(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                       Coefficients& c, Pliste& P);
void fit_abs_binspline_outputs(const Pliste& P, std::vector<std::string>& names);

// Bright objects masked by a running median, absorption 1 and a sky varying only with y.
void fit_fielddiaY(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                   Coefficients& c, Pliste& P);
void fit_fielddiaY_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
