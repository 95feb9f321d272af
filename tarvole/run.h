// The run of the sky program, from the command line to the last written image.
#ifndef TARVOLE_RUN_H
#define TARVOLE_RUN_H

// Echoes the command line, reads the options, masks the reference and calibrates every further
// file argument against it. Returns the exit status: 0 when every image succeeded, 1 when an
// image failed or an error ended the run, 255 without arguments, file names or star table.
int tarvole_main(int argc, char** argv);

#endif
