#include "numerics/convert.h"

#include <sstream>

std::string bool2str(bool b) { return b ? "true" : "false"; }

std::string double2str(double v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

std::string int2str(int n) {
  std::ostringstream os;
  os << n;
  return os.str();
}

std::string int2str(int n, int w) {
  std::string text;
  double power = 1.0;  // 10^k
  for (int k = 0; k < w; ++k, power *= 10.0)
    if (power > n) text += '0';
  if (n != 0) text += int2str(n);
  return text;
}
