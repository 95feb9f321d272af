// File names derived from an image name (newname) and the occupied box of an image (nonan).
#ifndef TARVOLE_NAMES_H
#define TARVOLE_NAMES_H

#include <string>

#include "orv/marray.h"

// `prefix` put in front of the file name part of `name` (after its last '/'); the extension
// stays. newname("dir/img.fits", "b") is "dir/bimg.fits".
std::string newname(std::string name, std::string prefix);

// The smallest index box x1..x2, y1..y2 holding every element of `a` that differs from `blank`
// (a NaN counts as data). Each column and row is counted over the full extent of the other axis.
// An array that is blank everywhere gives x1 > x2 and y1 > y2 (one past each end).
template <class T>
void nonan(const orv::MArray<T, 2>& a, int& x1, int& x2, int& y1, int& y2, T blank);

extern template void nonan<float>(const orv::MArray<float, 2>&, int&, int&, int&, int&, float);
extern template void nonan<double>(const orv::MArray<double, 2>&, int&, int&, int&, int&, double);

#endif
