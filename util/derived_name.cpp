#include "util/derived_name.h"

namespace util {

std::string derivedName(std::string name, const std::string& prefix) {
  const std::size_t slash = name.rfind('/');
  name.insert(slash == std::string::npos ? 0 : slash + 1, prefix);
  return name;
}

}  // namespace util
