#ifndef ORV_FITS_FITS_EXCEPTION_H
#define ORV_FITS_FITS_EXCEPTION_H

#include <exception>
#include <string>

namespace orv {

// The one exception type of the FITS classes. what() returns the message
// prefixed with "FitsException: "; the full text is built once and owned by
// the exception, so the pointer stays valid for the exception's lifetime.
// Like every exception of the libraries it is defined here in full and keeps
// its text in a std::string member.
class FitsException : public std::exception {
 public:
  explicit FitsException(const char* message) : FitsException(std::string(message)) {}
  explicit FitsException(const std::string& message) : msg(message), text_("FitsException: " + message) {}
  ~FitsException() override = default;

  const char* what() const noexcept override { return text_.c_str(); }

  // The message as given to the constructor, without the prefix.
  const std::string& message() const noexcept { return msg; }

 private:
  std::string msg;
  std::string text_;
};

// The message with the name of the file it concerns: " (file 'NAME')" appended, unless the
// message names the file already or no file is known.
inline std::string withFitsFileName(const std::string& message, const std::string& filename) {
  if (filename.empty() || message.rfind("'" + filename + "'") != std::string::npos) return message;
  return message + " (file '" + filename + "')";
}

}  // namespace orv

#endif
