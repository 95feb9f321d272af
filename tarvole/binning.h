// Block binning: an image replaced by its means in circular cells of radius 30
// on a 61-pixel grid around the centre.
#ifndef TARVOLE_BINNING_H
#define TARVOLE_BINNING_H

#include "orv/marray.h"
#include "tarvole/pliste.h"

// Each cell's mean of X (over at least 1241 non-blank pixels, else blank),
// painted over the cell's 61 × 61 square within the occupied box of X; out
// (the extent of X) is 0 elsewhere. Reads cx, cy and blank of P. Prints
// " binning...".
void binning(const orv::MArray<float, 2>& X, orv::MArray<float, 2>& out, const Pliste& P);

#endif
