// The check that a new FITS file fits on its file system before anything is written to it.
#ifndef ORV_FITS_FITS_NEW_FILE_H
#define ORV_FITS_FITS_NEW_FILE_H

#include <string>

namespace orv {

// Refuses, before anything is written, a file of `bytes` bytes that the file system of the
// open file `fd` has no room for: FitsException "not enough room for file '<filename>': it
// needs N bytes, its file system has M bytes free".
void fitsRequireRoom(int fd, const std::string& filename, long bytes);

}  // namespace orv

#endif
