#ifndef UTIL_UTDATE_H
#define UTIL_UTDATE_H

#include <ctime>
#include <string>

namespace util {

// One moment in UTC, held as whole seconds since 1970-01-01 00:00:00 UTC.
// All conversions use the proleptic Gregorian calendar with 64-bit arithmetic
// and never consult the time zone of the process. The readers accept the
// years 1 to 9999.
class UTDate {
 public:
  // The current time.
  UTDate();
  explicit UTDate(std::time_t utc);

  std::time_t time() const;
  // asctime text of the stored time, without the closing newline.
  std::string toString() const;
  // The same text with its closing newline, in a static buffer that the next call overwrites.
  const char* toCString() const;

  // Seconds since the epoch at which a UTC clock shows the given fields. The
  // fields are normalised in place (month 13 becomes January of the next year);
  // tm_isdst is ignored and left 0.
  static std::time_t mkuttime(std::tm* fields);
  // Seconds of fields shown by a UTC+1 clock, or by a UTC+2 clock when tm_isdst > 0.
  static std::time_t mkdcftime(std::tm* fields);

 protected:
  std::time_t utc_;
};

// A time of day on the current UTC date.
class UTTime : public UTDate {
 public:
  // Reads "hh:mm:ss[.ss]"; a fraction of the second is dropped.
  explicit UTTime(const std::string& text);
  explicit UTTime(std::time_t utc);

  // "hh:mm:ss" of the stored time.
  std::string toString() const;
};

// A FITS date: "YYYY-MM-DD[Thh:mm:ss[.sss...]]" or the obsolete "DD/MM/YY".
class FitsDate : public UTDate {
 public:
  // The current time, printed with its time of day.
  FitsDate();
  explicit FitsDate(std::time_t utc);
  explicit FitsDate(const std::string& text);

  // "YYYY-MM-DD" for a date read without a time, else "YYYY-MM-DDThh:mm:ss".
  std::string toString() const;

 private:
  bool dateOnly;
};

// A moment in the time-signal notation of a radio clock that broadcasts UTC+1
// (UTC+2 in summer): "D:DD.MM.YY;T:w;U:hh.mm.ss;    ", an "S" at position 28 marking summer time.
class DCFDate : public UTDate {
 public:
  explicit DCFDate(const std::string& text);
  explicit DCFDate(std::time_t utc);

  // The 30-character text of the stored time in UTC+1, without a summer-time mark.
  std::string toString() const;
};

// A moment read and printed as a Julian date.
class JulDate : public UTDate {
 public:
  static constexpr double juldate_on_epoch_ = 2440587.5;  // 1970-01-01 00:00 UTC
  static constexpr double seconds_of_day_ = 86400.0;
  static constexpr double juldate_begin_epoch_ = 1721425.5;  // 0001-01-01 00:00 UTC
  static constexpr double juldate_end_epoch_ = 5373484.5;    // 10000-01-01 00:00 UTC

  JulDate();
  explicit JulDate(std::time_t utc);
  // The moment of a Julian date, to the nearest second; range-checked as toTime_t.
  explicit JulDate(double julianDate);

  double toDouble() const;
  // Seconds of a Julian date between the two epochs above (both included), to the nearest second.
  std::time_t toTime_t(const double& julianDate) const;
  std::time_t toTime_t(const std::string& text) const;
  // The Julian date in general notation with precision significant digits.
  std::string toString(int precision) const;
};

// Local sidereal time at a geographic longitude, in degrees counted positive toward the west.
class LSTime : public UTDate {
 public:
  // At the current time.
  explicit LSTime(double longitude);
  LSTime(std::time_t utc, double longitude);

  // Local mean sidereal time in degrees, in (0, 360] for longitudes in [0, 360).
  double toDeg() const;
  double toHour() const;
  // Hours, minutes and seconds with precision decimals.
  std::string toString(int precision) const;

 private:
  double longitude;
};

}  // namespace util

#endif
