#ifndef ORV_FITS_IO_EXCEPTION_H
#define ORV_FITS_IO_EXCEPTION_H

#include <exception>
#include <string>

namespace orv {

// Failure of the ASCII column reader; what() returns the message unchanged.
// Defined here in full, its text kept in a std::string member, like every
// exception of the libraries.
class IOException : public std::exception {
 public:
  explicit IOException(std::string text) : message(std::move(text)) {}
  ~IOException() noexcept override = default;
  const char* what() const noexcept override { return message.c_str(); }

 private:
  std::string message;
};

}  // namespace orv

#endif
