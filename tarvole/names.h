// File names derived from an image name.
#ifndef TARVOLE_NAMES_H
#define TARVOLE_NAMES_H

#include <string>

// `prefix` put in front of the file name part of `name` (after its last '/'); the extension
// stays. newname("dir/img.fits", "b") is "dir/bimg.fits".
std::string newname(std::string name, std::string prefix);

#endif
