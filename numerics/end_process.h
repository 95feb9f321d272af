// The one way library code ends the process, where ending it is the specified reaction to a
// misuse: the message on standard error, then exit with the given status.
#ifndef NUMERICS_END_PROCESS_H
#define NUMERICS_END_PROCESS_H

#include <string>

// Writes message and a line end to standard error and exits with status (as exit() takes it:
// -1 gives 255). Never returns.
[[noreturn]] void endProcess(const std::string& message, int status);

#endif
