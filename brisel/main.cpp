// The overlap cutter: cuts images of one pixel scale to one common pixel frame.
#include "brisel/brisel_run.h"
#include "util/temporary_files.h"

int main(int argc, char** argv) {
  // Ctrl-C, a hang-up or a kill during a write leaves no temporary file behind.
  util::removeTemporaryFilesOnSignals();
  return brisel_run(argc, argv, 2);
}
