#ifndef UTIL_UEXCEPTION_H
#define UTIL_UEXCEPTION_H

#include <exception>
#include <string>

namespace util {

// Every failure in the util namespace is reported with one of these. The
// message is the whole report: what() returns it unchanged. Like every
// exception of the libraries it is defined here in full and keeps its text in
// a std::string member.
class UException : public std::exception {
 public:
  explicit UException(const std::string& message) : message_(message) {}
  UException(const UException& other) = default;
  UException& operator=(const UException& other) = default;
  ~UException() override = default;

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Numbers that do not fit a preset width, ambiguous sexagesimal text.
class StringException : public UException {
 public:
  explicit StringException(const std::string& message) : UException(message) {}
  ~StringException() override = default;
};

// Text that is not a valid date, dates outside the supported years.
class UTDateException : public UException {
 public:
  explicit UTDateException(const std::string& message) : UException(message) {}
  explicit UTDateException(const char* message) : UException(std::string(message ? message : "")) {}
  ~UTDateException() override = default;
};

}  // namespace util

#endif
