// The run of the overlap cutter: options, header pass, common frame, cut images, overlap file.
#ifndef BRISEL_BRISEL_RUN_H
#define BRISEL_BRISEL_RUN_H

// Runs the overlap cutter on the program's arguments and returns its exit status: 0 after a
// normal run, 1 after a failure reported as "EXCEPTION: " and when the images share no region
// (their cut images are written, "common.part" is not, and an earlier one is removed), 255 for a
// usage error, a CD-matrix mismatch or an output that would overwrite an input. After each image
// the run waits waitSeconds on the wall clock (the program waits 2); 0 or less skips the wait.
int brisel_run(int argc, char** argv, long waitSeconds);

#endif
