#ifndef UTIL_REGULAR_FILE_H
#define UTIL_REGULAR_FILE_H

#include <string>

namespace util {

// Opens a file for reading only when it is a regular file. The open itself does
// not block (a FIFO without a writer would stall an ordinary open forever), and
// directories, FIFOs, sockets and devices are refused: readers of the suite read
// files from their start to their end, which only a regular file has.
//
// Returns a read-only descriptor (close-on-exec, non-blocking, which changes
// nothing for a regular file) that the caller closes, or -1 when the file cannot
// be opened or is not a regular file.
int openRegularFile(const std::string& fileName);

// Whether fileName names a regular file that can be opened for reading; for readers
// that open the file through a stream afterwards.
bool isReadableRegularFile(const std::string& fileName);

}  // namespace util

#endif
