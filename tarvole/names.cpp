// File names derived from an image name.
#include "tarvole/names.h"

std::string newname(std::string name, std::string prefix) {
  const std::size_t slash = name.rfind('/');
  const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
  name.insert(at, prefix);
  return name;
}
