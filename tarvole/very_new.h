// The sampling-grid fit with up to six unknowns and a smoothed residual surface.
#ifndef TARVOLE_VERY_NEW_H
#define TARVOLE_VERY_NEW_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// Sampling-grid fit with up to six unknowns (by fitnew, const, const_abs, verynew) and a
// smoothed residual surface.
void very_new(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
              Coefficients& c, Pliste& P);
// Adds the names of the diagnostic files very_new writes for P.outname.
void very_new_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
