// The run of the sky program.
#include "tarvole/run.h"

int tarvole_main(int, char**) { return 1; }
