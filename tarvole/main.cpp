// The sky and absorption program: calibrates images against a reference image.
#include "tarvole/run.h"
#include "util/temporary_files.h"

int main(int argc, char** argv) {
  // Ctrl-C, a hang-up or a kill during a write leaves no temporary file behind.
  util::removeTemporaryFilesOnSignals();
  return tarvole_main(argc, argv);
}
