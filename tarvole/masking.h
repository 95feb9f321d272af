// Bad-pixel masking of an image and its error image, and the error image computed from values.
#ifndef TARVOLE_MASKING_H
#define TARVOLE_MASKING_H

#include "orv/marray.h"

// The error of each pixel when no error image is read: sqrt(v) where v > 0, else 0.
orv::MArray<float, 2> error_from_values(const orv::MArray<float, 2>& v);

// Masked copies Mv and Me (new arrays, the extent of v) of an image v and its error image e (the
// same extent). A pixel whose value is 0, whose error is <= 0, or where either is not finite,
// blanks the disc dx*dx + dy*dy <= 20 around it; an error of exactly -1 also blanks the disc
// dx*dx + dy*dy <= 420 (|dx|, |dy| <= 20). Only pixels inside the image are blanked, and the tests
// read the unmasked v and e, so masking never spreads from blanked pixels.
void mask_bad_pixels(const orv::MArray<float, 2>& v, const orv::MArray<float, 2>& e,
                     orv::MArray<float, 2>& Mv, orv::MArray<float, 2>& Me, float blank);

#endif
