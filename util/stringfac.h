#ifndef UTIL_STRINGFAC_H
#define UTIL_STRINGFAC_H

#include <ios>
#include <sstream>
#include <string>

#include "util/uexception.h"

namespace util {

// Numbers as text of a preset width, and sexagesimal text (degrees or hours,
// minutes, seconds) in both directions. A number that cannot be made to fit is
// reported with a StringException; text is never cut to fit.
class StringFactory {
 public:
  static constexpr const char factory_text[] = "StringFactory: ";
  static constexpr const char error_text[] = " is too wide\ncannot create string with preset width.";

  StringFactory() = delete;

  static std::string toString(int value, int width);
  static std::string toString(long value, int width);
  static std::string toString(double value, int width, int precision);
  static std::string toString(float value, int width, int precision);

  // Decimal text right-aligned in exactly width characters.
  template <typename T>
  static std::string intToString(T value, int width);

  // General-notation text ("%.*g"-like) right-aligned in width characters; the
  // precision is lowered until the text fits.
  template <typename T>
  static std::string floatToString(T value, int width, int precision);

  // [-]DD:MM:SS[.sss] with precision decimals of the seconds.
  static std::string toMinSecString(double value, int precision);

  // Plain decimal text or sexagesimal text a:b:c, with an optional leading "-".
  static double toDouble(std::string text);

 private:
  static std::string generalText__(double value, int width, int precision);
  [[noreturn]] static void throwTooWide__(const std::string& text);
};

template <typename T>
std::string StringFactory::intToString(T value, int width) {
  std::ostringstream out;
  out.width(width);
  out << std::right << value;
  std::string text = out.str();
  if (text.size() > static_cast<std::string::size_type>(width < 0 ? 0 : width)) throwTooWide__(text);
  return text;
}

template <typename T>
std::string StringFactory::floatToString(T value, int width, int precision) {
  const double widened = static_cast<double>(value);
  const std::string first = generalText__(widened, width, precision);
  std::string text = first;
  // Each retry lowers the precision by the number of characters still too many.
  while (true) {
    const long excess = static_cast<long>(text.size()) - width;
    if (excess <= 0) return text;
    if (precision <= excess) throwTooWide__(first);
    precision -= static_cast<int>(excess);
    text = generalText__(widened, width, precision);
  }
}

}  // namespace util

#endif
