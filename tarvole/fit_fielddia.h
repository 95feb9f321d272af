// Difference imaging over the field of the sampling region.
#ifndef TARVOLE_FIT_FIELDDIA_H
#define TARVOLE_FIT_FIELDDIA_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// One kernel over the sampling region: absorption 1/f, sky I/f - R binned and splined.
void fit_fielddia(const Image& R, const Image& eR, const Image& I, const Image& eI, Image& A, Image& S,
                  Coefficients& c, Pliste& P);
// Adds the names of the diagnostic files fit_fielddia writes for P.outname: those of the sky
// surface of binspline("sky").
void fit_fielddia_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
