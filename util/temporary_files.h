// The temporary files a program has in flight, removed when a signal ends the program: a file
// written beside its target and not yet renamed over it would otherwise stay behind, hidden
// and as large as the output, whenever Ctrl-C, a hang-up or a kill stops a write.
#ifndef UTIL_TEMPORARY_FILES_H
#define UTIL_TEMPORARY_FILES_H

#include <string>

namespace util {

// Records path as a file to remove on a signal and returns its slot for untrackTemporaryFile,
// or -1 when it cannot be recorded (every slot taken, or a path longer than a slot holds); such
// a file is then only removed by its writer.
int trackTemporaryFile(const std::string& path);

// Forgets the file of slot (nothing for -1). Called once the file has its final name or has
// been removed.
void untrackTemporaryFile(int slot);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every tracked file (unlink, which
// is async-signal-safe) and then end the process with the signal's usual status. For programs:
// a library never installs signal handlers.
void removeTemporaryFilesOnSignals();

}  // namespace util

#endif
