// The sky and absorption program: calibrates images against a reference image.
#include "tarvole/run.h"

int main(int argc, char** argv) { return tarvole_main(argc, argv); }
