// The directory part of a file path: everything up to and including its last '/'.
#ifndef UTIL_DIRECTORY_PART_H
#define UTIL_DIRECTORY_PART_H

#include <string>

namespace util {

// The path up to and including its last '/' ("dir/" of "dir/img.fits", "/" of "/img.fits"),
// empty when it has none, so that directoryPart(path) + the rest of path gives path again.
std::string directoryPart(const std::string& path);

}  // namespace util

#endif
