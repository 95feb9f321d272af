// The correction of an image and its error image to the reference's scale.
#ifndef TARVOLE_CREATE_H
#define TARVOLE_CREATE_H

#include "tarvole/method_contract.h"

// The corrected image A*I - S and its error A*eI on the reference's scale, in place.
void create(const Image& R, const Image& eR, Image& I, Image& eI, const Image& A, const Image& S,
            const Coefficients& c, Pliste& P);

#endif
