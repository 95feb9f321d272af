// Diagnostic images of the sky program written to FITS files.
#include "tarvole/image_files.h"

#include "orv/fits/fits.h"

void writeImage(const std::string& name, const orv::MArray<float, 2>& a) {
  orv::FitsOut f(name);
  f << a;
}
void writeImage(const std::string& name, const orv::MArray<double, 2>& a) {
  orv::FitsOut f(name);
  f << a;
}
void writeImage(const std::string& name, const orv::MArray<double, 1>& a) {
  orv::FitsOut f(name);
  f << a;
}
