// A file written beside its target and renamed over it only when complete, so that the target's
// name always holds either the earlier file or the whole new one; and the check, made before a
// program writes anything, that a file can be replaced that way.
#ifndef UTIL_REPLACING_FILE_H
#define UTIL_REPLACING_FILE_H

#include <string>

namespace util {

// A file being written for the name `filename`. The temporary file lies in the target's directory
// (so that the rename is atomic), is hidden (a leading '.'), and gets the permission bits and, where
// the process may set it, the owner of the file it replaces, or 0666 less the file-creation mask
// for a new name. A target that exists and is no regular file (a device such as /dev/null) is
// written in place instead. While it exists the temporary file is removed on a signal that ends a
// program (util/temporary_files.h).
struct ReplacingFile {
  std::string filename;  // the name the writer was given, for messages
  std::string path;      // the file being written; empty when there is none
  std::string target;    // the name it gets when complete (symbolic links followed)
  bool inPlace = false;  // path is the target itself
  int trackSlot = -1;    // its slot among the files removed on a signal
};

// Why a new file cannot take the name `filename`, naming it, or "" when it can: its directory does
// not exist, is no directory or is not writable; the name is a directory; an existing file may not
// be written; or it belongs to another user in a sticky directory (such as /tmp), where only its
// owner may replace it.
std::string replacementRefusal(const std::string& filename);

// Creates the temporary file for `filename` (or, in place, truncates the target) and returns its
// open descriptor for the caller to close, or -1 when that is refused (replacementRefusal) or
// fails; file then has no path.
int createReplacingFile(const std::string& filename, ReplacingFile& file);

// Renames the complete (and synced) file over its target and syncs the directory. On failure
// removes the temporary file and returns false. Either way file has no path afterwards.
bool commitReplacingFile(ReplacingFile& file);

// Removes the temporary file (a file written in place stays as far as it was written); file has
// no path afterwards.
void discardReplacingFile(ReplacingFile& file);

// Writes text as the whole content of `filename` through a replacing file: the name keeps its
// earlier content unless the new one is complete and on disk. Throws UException "Cannot open file
// <filename> for writing" when the file cannot be made, "Cannot write file <filename>" when
// writing, syncing or renaming fails.
void writeReplacingTextFile(const std::string& filename, const std::string& text);

}  // namespace util

#endif
