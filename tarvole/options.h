// The two option passes of the sky program: configuration file, then command line.
#ifndef TARVOLE_OPTIONS_H
#define TARVOLE_OPTIONS_H

#include <list>
#include <string>

#include "tarvole/pliste.h"

// Echoes the command line, runs the configuration-file pass (when "--read_config_file" names a
// file) and the command-line pass, prints the option values, writes the configuration file when
// asked and copies the options into P. Returns -1 when the run goes on, with the file arguments
// in `files`; otherwise the exit status: 1 for an option error (message and usage printed), 255
// for an empty command line (usage on the error stream). Throws what writing the configuration
// file throws.
int read_run_options(int argc, char** argv, Pliste& P, std::list<std::string>& files);

#endif
