// Running median of an image over a square window.
#ifndef TARVOLE_RUNNING_MEDIAN_H
#define TARVOLE_RUNNING_MEDIAN_H

#include "orv/marray.h"

// med(x, y) = the median of image over the window x-half..x+half,
// y-half..y+half for every pixel whose window lies inside the image; other
// pixels of med (sized like image) are set to 0. Every value counts, blank
// ones too; NaN orders after every number. The window has an odd count, so the
// median is one of its elements: the one orv::median_exact gives. The window
// slides: each column keeps its values in order as the window moves down, and
// the median moves from its neighbour's value by a few steps.
void running_median(const orv::MArray<float, 2>& image, int half, orv::MArray<float, 2>& med);

#endif
