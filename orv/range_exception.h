#ifndef ORV_RANGE_EXCEPTION_H
#define ORV_RANGE_EXCEPTION_H

#include <exception>
#include <string>

namespace orv {

// The only exception type of the array library: failures of mapped storage and
// refused array sizes. what() returns the message unchanged. Defined here in
// full, its text kept in a std::string member, like every exception of the
// libraries.
class RangeException : public std::exception {
 public:
  explicit RangeException(const char* text) : message(text) {}
  explicit RangeException(const std::string& text) : message(text) {}
  ~RangeException() override = default;
  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};

}  // namespace orv

#endif
