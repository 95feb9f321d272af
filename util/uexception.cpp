#include "util/uexception.h"

namespace util {

UException::UException(const std::string& message) : message_(message) {}
UException::~UException() = default;
const char* UException::what() const noexcept { return message_.c_str(); }

StringException::StringException(const std::string& message) : UException(message) {}
StringException::~StringException() = default;

UTDateException::UTDateException(const std::string& message) : UException(message) {}
UTDateException::UTDateException(const char* message) : UException(std::string(message ? message : "")) {}
UTDateException::~UTDateException() = default;

}  // namespace util
