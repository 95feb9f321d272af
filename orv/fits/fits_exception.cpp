#include "orv/fits/fits_exception.h"

namespace orv {

namespace {
const char* const kPrefix = "FitsException: ";
}

FitsException::FitsException(const char* message) : msg(message), text_(kPrefix + msg) {}

FitsException::FitsException(const std::string& message) : msg(message), text_(kPrefix + msg) {}

FitsException::~FitsException() = default;

const char* FitsException::what() const noexcept { return text_.c_str(); }

}  // namespace orv
