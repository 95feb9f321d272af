// Image files in one call: a whole image or a box of one read into a new array, and an array
// written as a new image file with the BITPIX asked for.
#ifndef ORV_FITS_FITS_IMAGE_H
#define ORV_FITS_FITS_IMAGE_H

#include <string>

#include "orv/fits/fits.h"
#include "orv/marray.h"
#include "util/region.h"

namespace orv {

// The whole image of a FITS file as a new array of rank N, indexed from 1.
template <class T, int N = 2>
MArray<T, N> readFitsImage(const std::string& file, bool quiet = false, bool allJunk = false) {
  FitsIn in(file, quiet, allJunk);
  MArray<T, N> a;
  in >> a;
  return a;
}

// The box [x0 … x1] × [y0 … y1] of a FITS image as a new array, indexed in image coordinates.
template <class T>
MArray<T, 2> readFitsBox(const std::string& file, int x0, int x1, int y0, int y1) {
  util::Region box(2);
  box.setRange(1, x0, x1);
  box.setRange(2, y0, y1);
  FitsIn in(file, box);
  MArray<T, 2> a;
  in >> a;
  a.setBase(x0, y0);
  return a;
}

// Writes the array as a new image file of the given BITPIX (by default that of its element
// type), replacing a file of that name.
template <class T, int N>
void writeFitsImage(const std::string& file, const MArray<T, N>& a, int bitpix = fitsDefaultBitpix<T>()) {
  FitsOut out(file);
  out.setBitpixOut(bitpix);
  out << a;
}

}  // namespace orv

#endif
