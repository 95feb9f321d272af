#include "numerics/end_process.h"

#include <cstdlib>
#include <iostream>

void endProcess(const std::string& message, int status) {
  std::cerr << message << std::endl;
  std::exit(status);
}
