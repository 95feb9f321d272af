// The two option passes of the sky program: configuration file, then command line.
#ifndef TARVOLE_OPTIONS_H
#define TARVOLE_OPTIONS_H

#include <functional>
#include <list>
#include <string>

#include "tarvole/pliste.h"

// The check of every file a run with these options and file arguments will write, made before
// the first is written (the configuration file comes first): the message of the first problem,
// or the empty text.
using PlannedFilesCheck = std::function<std::string(const Pliste& P, const std::list<std::string>& files)>;

// A message naming the first option whose value the reference of nx × ny pixels cannot use,
// or the empty text: a --radius above its larger side or 2048 pixels, whichever is more (a
// cell that wide reaches past every edge from any centre, and building it costs the square of
// its radius), or a galcenter farther outside it than that (the blank knots between the centre
// and the image, and their listing, grow with the square of the distance). The 2048 pixels
// keep the defaults valid for small images.
std::string value_beyond_image(const Pliste& P, const std::string& reference, int nx, int ny);

// Echoes the command line, runs the configuration-file pass (when "--read_config_file" names a
// file) and the command-line pass, prints the option values, copies the options into P, checks
// the planned files with `check` when there are file arguments, and writes the configuration
// file when asked. Returns -1 when the run goes on, with the file arguments in `files`;
// otherwise the exit status: 1 for an option error (message and usage printed) or a failed
// check (its message on the error stream), 255 for an empty command line (usage on the error
// stream). Throws what writing the configuration file throws.
int read_run_options(int argc, char** argv, Pliste& P, std::list<std::string>& files,
                     const PlannedFilesCheck& check = {});

#endif
