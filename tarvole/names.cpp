// File names derived from an image name, by the suite's rule for derived files.
#include "tarvole/names.h"

#include <utility>

#include "util/derived_name.h"

std::string newname(std::string name, std::string prefix) {
  return util::derivedName(std::move(name), prefix);
}
