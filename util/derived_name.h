// The names of files derived from a file: a prefix put in front of its file-name part.
#ifndef UTIL_DERIVED_NAME_H
#define UTIL_DERIVED_NAME_H

#include <string>

namespace util {

// prefix put in front of the file-name part of name (after its last '/'), so that the derived
// file lies beside the file: derivedName("dir/img.fits", "cut_") is "dir/cut_img.fits".
std::string derivedName(std::string name, const std::string& prefix);

}  // namespace util

#endif
