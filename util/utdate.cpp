#include "util/utdate.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "util/stringfac.h"
#include "util/uexception.h"

namespace util {

namespace {

// Calendar arithmetic of the proleptic Gregorian calendar on 64-bit day
// counts (days since 1970-01-01), valid far beyond any year a reader accepts.

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days since 1970-01-01 of year/month/day, month 1 to 12, day counted from 1 (any value).
constexpr std::int64_t daysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The readers accept moments from 0001-01-01 00:00:00 up to, not including, 10000-01-01 00:00:00.
constexpr std::int64_t kFirstSecond = daysFromCivil(1, 1, 1) * kSecondsPerDay;
constexpr std::int64_t kEndSecond = daysFromCivil(10000, 1, 1) * kSecondsPerDay;

struct Civil {
  std::int64_t year;
  int month;  // 1 to 12
  int day;    // 1 to 31
  int hour, minute, second;
  int weekday;    // 0 for Sunday
  int dayOfYear;  // 0 for January 1st
};

// The calendar fields of utc + offset seconds, offset in [0, 86400), without overflow at any utc.
Civil civilFromSeconds(std::int64_t utc, std::int64_t offset = 0) {
  // Day and second of day from the remainder, so that no product leaves the 64-bit range.
  std::int64_t days = utc / kSecondsPerDay;
  std::int64_t secondOfDay = utc % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --days;
  }
  secondOfDay += offset;
  if (secondOfDay >= kSecondsPerDay) {
    secondOfDay -= kSecondsPerDay;
    ++days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 for March
  Civil c;
  c.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  c.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  c.year = yearOfEra + era * 400 + (c.month <= 2);
  c.hour = static_cast<int>(secondOfDay / 3600);
  c.minute = static_cast<int>(secondOfDay / 60 % 60);
  c.second = static_cast<int>(secondOfDay % 60);
  const std::int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday
  c.weekday = static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
  c.dayOfYear = static_cast<int>(days - daysFromCivil(c.year, 1, 1));
  return c;
}

std::tm brokenDown(int year, int month, int day, int hour, int minute, int second, bool summer = false) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = summer ? 1 : 0;
  return fields;
}

// A field of exactly the characters [pos, pos + count) of the text, read as a decimal number.
long field(const std::string& text, std::string::size_type pos, std::string::size_type count) {
  return std::strtol(text.substr(pos, count).c_str(), nullptr, 10);
}

// Whether the characters [pos, pos + count) of the text are decimal digits, as every
// field of a date written as text must be.
bool digitsAt(const std::string& text, std::string::size_type pos, std::string::size_type count) {
  for (std::string::size_type i = pos; i < pos + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

void checkYear(long year, const char* before, const char* after) {
  if (year < 1) throw UTDateException(before);
  if (year > 9999) throw UTDateException(after);
}

bool isLeapYear(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Whether the fields name a moment of the calendar: month 1 to 12, a day of that
// month, hour 0 to 23, minute 0 to 59 and second 0 to 60 (60 for a leap second,
// which FITS dates allow; the moment is then the first second of the next minute).
bool isCalendarMoment(long year, long month, long day, long hour, long minute, long second) {
  static const int daysOfMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return false;
  const int days = daysOfMonth[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
  return day >= 1 && day <= days && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 &&
         second <= 60;
}

// A normalised moment outside the supported years cannot be represented.
std::time_t checkedMoment(std::time_t utc, const std::string& cannotConvert) {
  if (utc < kFirstSecond || utc >= kEndSecond) throw UTDateException(cannotConvert);
  return utc;
}

const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// The asctime text of a moment, with its closing newline.
std::string asctimeText(std::time_t utc) {
  const Civil c = civilFromSeconds(utc);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", kDayNames[c.weekday],
                kMonthNames[c.month - 1], c.day, c.hour, c.minute, c.second, static_cast<long long>(c.year));
  return buffer;
}

}  // namespace

// ---- UTDate ----

UTDate::UTDate() : utc_(std::time(nullptr)) {}

UTDate::UTDate(std::time_t utc) : utc_(utc) {}

std::time_t UTDate::time() const { return utc_; }

std::string UTDate::toString() const {
  std::string text = asctimeText(utc_);
  text.pop_back();
  return text;
}

const char* UTDate::toCString() const {
  static char buffer[64];
  const std::string text = asctimeText(utc_);
  std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
  return buffer;
}

std::time_t UTDate::mkuttime(std::tm* fields) {
  // Months beyond 0..11 carry into the year; days, hours, minutes and seconds
  // are plain offsets. All sums fit 64 bits for any int fields.
  const std::int64_t yearCarry = floorDiv(fields->tm_mon, 12);
  const std::int64_t year = std::int64_t{fields->tm_year} + 1900 + yearCarry;
  const std::int64_t month = fields->tm_mon - 12 * yearCarry + 1;
  const std::int64_t days = daysFromCivil(year, month, 1) + fields->tm_mday - 1;
  const std::int64_t utc = days * kSecondsPerDay + std::int64_t{fields->tm_hour} * 3600 +
                           std::int64_t{fields->tm_min} * 60 + fields->tm_sec;

  const Civil c = civilFromSeconds(utc);
  if (c.year - 1900 >= INT_MIN && c.year - 1900 <= INT_MAX) {
    *fields = brokenDown(0, c.month, c.day, c.hour, c.minute, c.second);
    fields->tm_year = static_cast<int>(c.year - 1900);
    fields->tm_wday = c.weekday;
    fields->tm_yday = c.dayOfYear;
  }
  return static_cast<std::time_t>(utc);
}

std::time_t UTDate::mkdcftime(std::tm* fields) {
  const bool summer = fields->tm_isdst > 0;
  return mkuttime(fields) - (summer ? 7200 : 3600);
}

// ---- UTTime ----

UTTime::UTTime(const std::string& text) : UTDate() {
  const std::string syntax = "UTTime: string '" + text + "' has wrong syntax\n(not ##:##:##[.##])";
  const std::string::size_type first = text.find(':');
  const std::string::size_type second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) throw UTDateException(syntax);

  const long hour = field(text, 0, first);
  const long minute = field(text, first + 1, second - first);
  const long sec = std::strtol(text.c_str() + second + 1, nullptr, 10);
  for (long value : {hour, minute, sec}) {
    if (value < INT_MIN || value > INT_MAX) throw UTDateException(syntax);
  }
  const Civil today = civilFromSeconds(utc_);
  std::tm fields = brokenDown(static_cast<int>(today.year), today.month, today.day, static_cast<int>(hour),
                              static_cast<int>(minute), static_cast<int>(sec));
  utc_ = mkuttime(&fields);
}

UTTime::UTTime(std::time_t utc) : UTDate(utc) {}

std::string UTTime::toString() const {
  const Civil c = civilFromSeconds(utc_);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", c.hour, c.minute, c.second);
  return buffer;
}

// ---- FitsDate ----

FitsDate::FitsDate() : UTDate(), dateOnly(false) {}

FitsDate::FitsDate(std::time_t utc) : UTDate(utc), dateOnly(false) {}

FitsDate::FitsDate(const std::string& text) : UTDate(0), dateOnly(true) {
  const std::string::size_type length = text.size();
  const bool obsoleteForm = length == 8 && text[2] == '/' && text[5] == '/' && digitsAt(text, 0, 2) &&
                            digitsAt(text, 3, 2) && digitsAt(text, 6, 2);
  const bool dateForm = length >= 10 && digitsAt(text, 0, 4) && digitsAt(text, 5, 2) && digitsAt(text, 8, 2);
  const bool timeForm =
      length >= 19 && digitsAt(text, 11, 2) && digitsAt(text, 14, 2) && digitsAt(text, 17, 2);
  long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (obsoleteForm) {
    day = field(text, 0, 2);
    month = field(text, 3, 2);
    const long twoDigitYear = field(text, 6, 2);
    if (twoDigitYear <= 37) {
      year = 2000 + twoDigitYear;
      std::cerr << "FitsDate: Assuming date " << year << ". Date has obsolete syntax." << std::endl;
    } else {
      year = 1900 + twoDigitYear;
    }
  } else if ((length == 10 && text[4] == '-' && text[7] == '-' && dateForm) ||
             (length >= 19 && text[10] == 'T' && text[13] == ':' && text[16] == ':' && dateForm &&
              timeForm)) {
    year = field(text, 0, 4);
    month = field(text, 5, 2);
    day = field(text, 8, 2);
    if (length >= 19) {
      hour = field(text, 11, 2);
      minute = field(text, 14, 2);
      second = field(text, 17, 2);
      dateOnly = false;
    }
  } else {
    throw UTDateException("FitsDate: string '" + text +
                          "' has wrong syntax\n(not DD/MM/YY or YYYY-MM-DD[Thh:mm:ss[.sss...]])");
  }
  checkYear(year, "FitsDate: cannot handle dates before Jan. 1st 0001.",
            "FitsDate: Cannot handle dates after Dec. 31st 9999.");
  // A field out of its range (month 13, 30 February, hour 25) names no date; it is
  // refused rather than carried into the next field.
  if (!isCalendarMoment(year, month, day, hour, minute, second))
    throw UTDateException("FitsDate: Cannot convert date " + text);
  // Every field has at most four characters, so all of them fit an int.
  std::tm fields = brokenDown(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                              static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second));
  utc_ = checkedMoment(mkuttime(&fields), "FitsDate: Cannot convert date " + text);
}

std::string FitsDate::toString() const {
  const Civil c = civilFromSeconds(utc_);
  char buffer[64];
  if (dateOnly) {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", static_cast<long long>(c.year), c.month, c.day);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(c.year),
                  c.month, c.day, c.hour, c.minute, c.second);
  }
  return buffer;
}

// ---- DCFDate ----

DCFDate::DCFDate(const std::string& text) : UTDate(0) {
  if (text.size() != 30) {
    throw UTDateException("DCFDate: string '" + text +
                          "' has wrong syntax\n(not \"D:DD.MM.YY;T:w;U:hh.mm.ss;    \")");
  }
  const long day = field(text, 2, 2);
  const long month = field(text, 5, 2);
  const long twoDigitYear = field(text, 8, 2);
  const long year = twoDigitYear <= 37 ? 2000 + twoDigitYear : 1900 + twoDigitYear;
  const long hour = field(text, 17, 2);
  const long minute = field(text, 20, 2);
  const long second = field(text, 23, 2);
  const bool summer = text[28] == 'S';
  checkYear(year, "DCFDate: cannot handle dates before Jan. 1st 0001.",
            "DCFDate: Cannot handle dates after Dec. 31st 9999.");
  const bool digits = digitsAt(text, 2, 2) && digitsAt(text, 5, 2) && digitsAt(text, 8, 2) &&
                      digitsAt(text, 17, 2) && digitsAt(text, 20, 2) && digitsAt(text, 23, 2);
  if (!digits || !isCalendarMoment(year, month, day, hour, minute, second))
    throw UTDateException("DCFDate: Cannot convert date " + text);
  std::tm fields =
      brokenDown(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                 static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second), summer);
  utc_ = checkedMoment(mkdcftime(&fields), "DCFDate: Cannot convert date " + text);
}

DCFDate::DCFDate(std::time_t utc) : UTDate(utc) {}

std::string DCFDate::toString() const {
  // The radio clock shows UTC+1; the weekday digit counts from 0 for Sunday.
  const Civil c = civilFromSeconds(utc_, 3600);
  const int twoDigitYear = static_cast<int>((c.year % 100 + 100) % 100);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "D:%02d.%02d.%02d;T:%d;U:%02d.%02d.%02d;    ", c.day, c.month,
                twoDigitYear, c.weekday, c.hour, c.minute, c.second);
  return buffer;
}

// ---- JulDate ----

JulDate::JulDate() : UTDate() {}

JulDate::JulDate(std::time_t utc) : UTDate(utc) {}

JulDate::JulDate(double julianDate) : UTDate(0) { utc_ = toTime_t(julianDate); }

double JulDate::toDouble() const {
  return static_cast<double>(utc_) * (1.0 / seconds_of_day_) + juldate_on_epoch_;
}

std::time_t JulDate::toTime_t(const double& julianDate) const {
  // Written so that NaN fails the first test.
  if (!(julianDate >= juldate_begin_epoch_)) {
    throw UTDateException("JulDate: cannot handle dates before Jan. 1st 0001");
  }
  if (julianDate > juldate_end_epoch_)
    throw UTDateException("JulDate: cannot handle dates after Dec. 31st 9999");
  // Nearest whole second, for moments before the epoch as well.
  return static_cast<std::time_t>(std::floor((julianDate - juldate_on_epoch_) * seconds_of_day_ + 0.5));
}

std::time_t JulDate::toTime_t(const std::string& text) const {
  return toTime_t(std::strtod(text.c_str(), nullptr));
}

std::string JulDate::toString(int precision) const {
  std::ostringstream out;
  out.precision(precision);
  out << toDouble();
  return out.str();
}

// ---- LSTime ----

LSTime::LSTime(double longitude) : UTDate(), longitude(longitude) {}

LSTime::LSTime(std::time_t utc, double longitude) : UTDate(utc), longitude(longitude) {}

double LSTime::toDeg() const {
  // Mean sidereal angle at Greenwich from the days and Julian centuries since 2000-01-01 12:00 UTC.
  const double days = static_cast<double>(utc_) * (1.0 / 86400.0) - 10957.5;
  const double centuries = days * (1.0 / 36525.0);
  double theta =
      ((-2.5833118057349522e-8 * centuries + 0.000387933) * centuries + 13185000.770053742) * centuries +
      280.46061837;
  theta = std::fmod(theta, 360.0);
  if (theta < 0) theta += 360.0;
  double local = theta - longitude;
  if (local <= 0) local += 360.0;
  return local;
}

double LSTime::toHour() const { return toDeg() * (1.0 / 15.0); }

std::string LSTime::toString(int precision) const {
  return StringFactory::toMinSecString(toHour(), precision);
}

}  // namespace util
