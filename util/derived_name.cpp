#include "util/derived_name.h"

#include "util/directory_part.h"

namespace util {

std::string derivedName(std::string name, const std::string& prefix) {
  name.insert(directoryPart(name).size(), prefix);
  return name;
}

}  // namespace util
