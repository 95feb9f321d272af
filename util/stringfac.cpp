#include "util/stringfac.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace util {

std::string StringFactory::toString(int value, int width) { return intToString<int>(value, width); }

std::string StringFactory::toString(long value, int width) { return intToString<long>(value, width); }

std::string StringFactory::toString(double value, int width, int precision) {
  return floatToString<double>(value, width, precision);
}

std::string StringFactory::toString(float value, int width, int precision) {
  return floatToString<float>(value, width, precision);
}

std::string StringFactory::generalText__(double value, int width, int precision) {
  std::ostringstream out;
  out.precision(precision);
  out.width(width);
  out << std::right << value;
  return out.str();
}

void StringFactory::throwTooWide__(const std::string& text) {
  throw StringException(std::string(factory_text) + text + error_text);
}

std::string StringFactory::toMinSecString(double value, int precision) {
  const bool negative = value < 0;
  const double magnitude = negative ? -value : value;
  // Text beyond 255 characters is cut, so more decimals than that change nothing.
  if (precision < 0) precision = 0;
  if (precision > 255) precision = 255;
  const char* sign = negative ? "-" : "";
  char buffer[256];

  // The value is rounded once, to a whole number of 10^-rounded seconds, and
  // then split with carries, so seconds never print as 60. The count of units
  // is kept below 2^53, where a double still holds every whole number;
  // decimals beyond that (and beyond 18) carry no information at this
  // magnitude and are printed as zeros.
  constexpr double kExactLimit = 9007199254740992.0;  // 2^53
  int rounded = precision < 18 ? precision : 18;
  std::int64_t unitsPerSecond = 1;
  for (int i = 0; i < rounded; ++i) unitsPerSecond *= 10;
  double units = std::round(magnitude * 3600.0 * static_cast<double>(unitsPerSecond));
  while (rounded > 0 && !(units < kExactLimit)) {
    --rounded;
    unitsPerSecond /= 10;
    units = std::round(magnitude * 3600.0 * static_cast<double>(unitsPerSecond));
  }
  if (units < 9.0e18) {
    const std::int64_t count = static_cast<std::int64_t>(units);
    const std::int64_t wholeSeconds = count / unitsPerSecond;
    const long long whole = wholeSeconds / 3600;
    const long long minutes = wholeSeconds / 60 % 60;
    const long long seconds = wholeSeconds % 60;
    std::snprintf(buffer, sizeof buffer, "%s%02lld:%02lld:%02lld", sign, whole, minutes, seconds);
    std::string text(buffer);
    if (precision > 0) {
      text += '.';
      if (rounded > 0) {
        std::snprintf(buffer, sizeof buffer, "%0*lld", rounded,
                      static_cast<long long>(count % unitsPerSecond));
        text += buffer;
      }
      text.append(static_cast<std::string::size_type>(precision - rounded), '0');
    }
    if (text.size() > 255) text.resize(255);
    return text;
  }

  // Values of 9e18 seconds or more hold no fraction of a second, so the split
  // needs no rounding; NaN and infinities also end here.
  const double whole = std::trunc(magnitude);
  const double minutes = std::trunc(60.0 * std::fmod(magnitude, 1.0));
  const double seconds = 60.0 * std::fmod(60.0 * magnitude, 1.0);
  std::snprintf(buffer, sizeof buffer, "%s%02.0f:%02.0f:%0*.*f", sign, whole, minutes,
                precision > 0 ? precision + 3 : 2, precision, seconds);
  return buffer;
}

double StringFactory::toDouble(std::string text) {
  double sign = 1.0;
  if (!text.empty() && text[0] == '-') {
    text.erase(0, 1);
    sign = -1.0;
  }
  const std::string::size_type firstColon = text.find(':');
  if (firstColon == std::string::npos) return sign * std::strtod(text.c_str(), nullptr);
  const std::string::size_type secondColon = text.find(':', firstColon + 1);
  if (secondColon == std::string::npos) {
    throw StringException(std::string(factory_text) + text + " is ambiguous.");
  }
  const double a = std::strtod(text.substr(0, firstColon).c_str(), nullptr);
  const double b = std::strtod(text.substr(firstColon + 1, secondColon - firstColon - 1).c_str(), nullptr);
  const double c = std::strtod(text.c_str() + secondColon + 1, nullptr);
  const double k = 1.0 / 60.0;
  return ((c * k + b) * k + a) * sign;
}

}  // namespace util
