// The result stage of one image: values at the centre, diagnostic images by verbosity, the
// correction and the output image with its coefficient cards (and the output error image).
#ifndef TARVOLE_RESULT_STAGE_H
#define TARVOLE_RESULT_STAGE_H

#include <string>

#include "orv/fits/fits.h"
#include "tarvole/method_contract.h"

// Runs after the fitting method of an image. R and eR are the reference and its error as read, I
// and eI the image and its error as read (corrected in place), MR and MI the masked reference and
// image, `header` the header of I as read. Writes P.outname (and P.errname with P.error).
// Returns false when the image counts as failed: a coefficient card had to be left out because
// its value is not finite. Throws what the FITS writer throws.
bool result_stage(const Image& R, const Image& eR, Image& I, Image& eI, const Image& MR, const Image& MI,
                  const Image& A, const Image& S, const Coefficients& c, const std::string& reference_name,
                  const std::string& image_name, const orv::FitsHeader& header, Pliste& P);

#endif
