// Diagnostic images of the sky program written to FITS files.
#ifndef TARVOLE_IMAGE_FILES_H
#define TARVOLE_IMAGE_FILES_H

#include <string>

#include "orv/marray.h"

// Writes a float or double image to a FITS file (no further cards).
void writeImage(const std::string& name, const orv::MArray<float, 2>& a);
void writeImage(const std::string& name, const orv::MArray<double, 2>& a);
void writeImage(const std::string& name, const orv::MArray<double, 1>& a);

#endif
