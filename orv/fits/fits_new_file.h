// The file that a FITS writer fills: a temporary file beside the target, renamed over the target
// only when it is complete, so that the name always holds either the earlier file or the whole
// new one; and the check that the target's file system has room for it.
#ifndef ORV_FITS_FITS_NEW_FILE_H
#define ORV_FITS_FITS_NEW_FILE_H

#include <string>

namespace orv {

// A file being written for the target `filename`. The temporary file lies in the target's
// directory (so that the rename is atomic) and gets the permission bits and owner of the file
// it replaces, or 0666 less the file-creation mask for a new one. A target that exists and is
// no regular file (a device such as /dev/full) is written in place instead.
struct FitsNewFile {
  std::string filename;  // the name the writer was given, for messages
  std::string path;      // the file being written
  std::string target;    // the name it gets when complete (symbolic links followed)
  bool inPlace = false;  // path is the target itself
};

// Creates (or, in place, truncates) the file to write for `filename` and returns its open
// descriptor, for the caller to close. Throws FitsException "cannot open file '<filename>' for
// writing" when the file cannot be made, also for a target that exists but may not be written.
int createFitsNewFile(const std::string& filename, FitsNewFile& file);

// Refuses, before anything is written, a file of `bytes` bytes that the file system of the
// open file `fd` has no room for: FitsException "not enough room for file '<filename>': it
// needs N bytes, its file system has M bytes free".
void fitsRequireRoom(int fd, const std::string& filename, long bytes);

// Renames the complete (and synced) file over its target. Throws FitsException "cannot rename
// ... to ..." after removing the temporary file when that fails.
void commitFitsNewFile(const FitsNewFile& file);

// Removes the temporary file; a file written in place stays as far as it was written.
void discardFitsNewFile(const FitsNewFile& file);

}  // namespace orv

#endif
