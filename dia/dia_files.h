// Reference product files of difference imaging: their names, region reads indexed in image
// coordinates, and image writes.
#ifndef DIA_DIA_FILES_H
#define DIA_DIA_FILES_H

#include <string>

#include "dia/product_names.h"
#include "orv/fits/fits.h"
#include "orv/marray.h"
#include "util/region.h"

namespace dia_files {

// The box [x0 … x1] × [y0 … y1] of a FITS image, indexed in image coordinates.
template <class T>
orv::MArray<T, 2> readBox(const std::string& file, int x0, int x1, int y0, int y1) {
  util::Region box(2);
  box.setRange(1, x0, x1);
  box.setRange(2, y0, y1);
  orv::FitsIn in(file, box);
  orv::MArray<T, 2> a;
  in >> a;
  a.setBase(x0, y0);
  return a;
}

// A whole FITS image, indexed from 1.
template <class T>
orv::MArray<T, 2> readWhole(const std::string& file) {
  orv::FitsIn in(file);
  orv::MArray<T, 2> a;
  in >> a;
  return a;
}

template <class T>
void writeImage(const std::string& file, const orv::MArray<T, 2>& a) {
  orv::FitsOut out(file);
  out << a;
}

}  // namespace dia_files

#endif
