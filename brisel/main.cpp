// The overlap cutter: cuts images of one pixel scale to one common pixel frame.
#include "brisel/brisel_run.h"

int main(int argc, char** argv) { return brisel_run(argc, argv, 2); }
