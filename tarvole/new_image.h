// Fresh images for the run's working arrays, their pages faulted in with one call.
#ifndef TARVOLE_NEW_IMAGE_H
#define TARVOLE_NEW_IMAGE_H

#include "orv/marray.h"

// An uninitialised float image of the given extent (index base 1). Every element is written
// soon after, so its pages are faulted in at once rather than one fault per page.
inline orv::MArray<float, 2> new_image(int nx, int ny) {
  orv::MArray<float, 2> a(nx, ny);
  orv::hintFreshArray(a, orv::PageHint::filledSoon);
  return a;
}

// The same with the extent and index bases of another image.
inline orv::MArray<float, 2> new_image_like(const orv::MArray<float, 2>& other) {
  orv::MArray<float, 2> a(other.getShape());
  orv::hintFreshArray(a, orv::PageHint::filledSoon);
  return a;
}

#endif
