// Difference imaging over the stars of a table.
#ifndef TARVOLE_FIT_DIA_H
#define TARVOLE_FIT_DIA_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// Kernel fits around every star of (x, y): absorption and sky surfaces by P.ordabs and P.ordsky.
// Rescales I and eI by the absorption in place.
void fit_dia(const Image& R, const Image& eR, Image& I, Image& eI, Image& A, Image& S,
             const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, Coefficients& c, Pliste& P);
// Adds the names of the diagnostic files fit_dia writes for P.outname.
void fit_dia_outputs(const Pliste& P, std::vector<std::string>& names);

#endif
