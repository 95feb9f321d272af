#include "orv/fits/ascio_field.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>

namespace orv::detail {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whitespace as isspace() accepts it in the classic locale.
bool isClassicSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skipSpace(const char* p, const char* end) {
  while (p != end && isClassicSpace(*p)) ++p;
  return p;
}

// The end of the characters that the stream gathers for a floating-point number
// from p on: an optional sign, digits with at most one decimal point, then, once a
// digit has been seen, an "e" or "E" with an optional sign and digits.
const char* floatTextEnd(const char* p, const char* end) {
  if (p != end && (*p == '+' || *p == '-')) ++p;
  bool digitSeen = false;
  bool pointSeen = false;
  for (; p != end; ++p) {
    if (isDigit(*p)) {
      digitSeen = true;
    } else if (*p == '.' && !pointSeen) {
      pointSeen = true;
    } else {
      break;
    }
  }
  if (p != end && (*p == 'e' || *p == 'E') && digitSeen) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    while (p != end && isDigit(*p)) ++p;
  }
  return p;
}

// Values beyond the range, rare: converted as the stream converts them, with the
// C library in the "C" locale, so that an underflow keeps its rounded value and
// only an overflow (an infinite result) fails.
template <class T>
bool convertOutOfRange(const char* begin, const char* end, T& value) {
  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string text(begin, end);
  char* stop = nullptr;
  if constexpr (std::is_same_v<T, float>)
    value = ::strtof_l(text.c_str(), &stop, cLocale);
  else
    value = ::strtod_l(text.c_str(), &stop, cLocale);
  return stop == text.c_str() + text.size() && !std::isinf(value);
}

template <class T>
bool readFloating(std::string_view field, T& value) {
  const char* p = skipSpace(field.data(), field.data() + field.size());
  const char* end = floatTextEnd(p, field.data() + field.size());
  // from_chars takes no leading plus (a second sign after it ends the text).
  if (p != end && *p == '+') ++p;
  if (p == end) return false;
  const std::from_chars_result read = std::from_chars(p, end, value, std::chars_format::general);
  if (read.ec == std::errc::result_out_of_range) return convertOutOfRange(p, end, value);
  // Text the conversion leaves over ("1e", "1e+") makes the gathered number invalid.
  return read.ec == std::errc() && read.ptr == end;
}

}  // namespace

bool readFieldValue(std::string_view field, int& value) {
  const char* p = skipSpace(field.data(), field.data() + field.size());
  const char* end = field.data() + field.size();
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || !isDigit(*p)) return false;
  // The magnitude stops growing once it is beyond every int; the digits after
  // that still belong to the number.
  const std::int64_t beyond = std::int64_t{std::numeric_limits<int>::max()} + 2;
  std::int64_t magnitude = 0;
  for (; p != end && isDigit(*p); ++p) {
    if (magnitude < beyond) magnitude = magnitude * 10 + (*p - '0');
  }
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < std::numeric_limits<int>::min() || signedValue > std::numeric_limits<int>::max())
    return false;
  value = static_cast<int>(signedValue);
  return true;
}

bool readFieldValue(std::string_view field, float& value) { return readFloating(field, value); }

bool readFieldValue(std::string_view field, double& value) { return readFloating(field, value); }

}  // namespace orv::detail
