// Dates and times: FITS dates, UT dates and times, radio-clock dates and Julian dates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/message_of.h"
#include "util/uexception.h"
#include "util/utdate.h"

namespace {

using test_support::messageOf;

// The date classes must give the same results whatever the time zone of the
// process; every test runs its checks once in each of these zones.
void inEveryZone(const std::function<void()>& checks) {
  const char* original = std::getenv("TZ");
  const std::optional<std::string> saved = original ? std::optional<std::string>(original) : std::nullopt;
  for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    checks();
  }
  if (saved) {
    setenv("TZ", saved->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

const char* const kFitsSyntax = "' has wrong syntax\n(not DD/MM/YY or YYYY-MM-DD[Thh:mm:ss[.sss...]])";

TEST(FitsDate, ReadsAndPrintsEveryForm) {
  struct Case {
    const char* text;
    std::time_t utc;
    const char* printed;
    const char* warning;  // expected standard-error output
  };
  const Case cases[] = {
      {"2005-03-01", 1109635200, "2005-03-01", ""},
      {"2005-03-01T12:30:45.123", 1109680245, "2005-03-01T12:30:45", ""},
      {"2005-03-01T12:30:45", 1109680245, "2005-03-01T12:30:45", ""},
      {"01/03/05", 1109635200, "2005-03-01", "FitsDate: Assuming date 2005. Date has obsolete syntax.\n"},
      {"01/03/95", 794016000, "1995-03-01", ""},
      {"01/03/50", -626054400, "1950-03-01", ""},
      {"1969-12-31", -86400, "1969-12-31", ""},
      {"2038-01-01", 2145916800, "2038-01-01", ""},
      {"2024-02-29T00:00:00", 1709164800, "2024-02-29T00:00:00", ""},
      {"2100-03-01", 4107542400, "2100-03-01", ""},
      // Two-digit years up to 37 are this century's, with a warning; 38 on the last century's.
      {"01/01/37", 2114380800, "2037-01-01", "FitsDate: Assuming date 2037. Date has obsolete syntax.\n"},
      {"01/01/38", -1009843200, "1938-01-01", ""},
      {"2016-12-31T23:59:60", 1483228800, "2017-01-01T00:00:00", ""},  // a leap second
      {"2000-02-29", 951782400, "2000-02-29", ""},
      {"0001-01-01", -62135596800, "0001-01-01", ""},
      {"9999-12-31T23:59:59", 253402300799, "9999-12-31T23:59:59", ""},
  };
  inEveryZone([&] {
    for (const auto& c : cases) {
      testing::internal::CaptureStderr();
      const util::FitsDate date(c.text);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning) << c.text;
      EXPECT_EQ(date.time(), c.utc) << c.text;
      EXPECT_EQ(date.toString(), c.printed) << c.text;
    }
  });
}

TEST(FitsDate, RefusesBadTextWithExactMessages) {
  const std::string before = "FitsDate: cannot handle dates before Jan. 1st 0001.";
  struct Case {
    std::string text;
    std::string message;
  };
  std::vector<Case> cases = {
      {"2005/03/01", "FitsDate: string '2005/03/01" + std::string(kFitsSyntax)},
      {"2005-03-01T12:30", "FitsDate: string '2005-03-01T12:30" + std::string(kFitsSyntax)},
      {"2005-03-01T12:30:4", "FitsDate: string '2005-03-01T12:30:4" + std::string(kFitsSyntax)},
      {"2005-03-01 12:30:45", "FitsDate: string '2005-03-01 12:30:45" + std::string(kFitsSyntax)},
      {"", "FitsDate: string '" + std::string(kFitsSyntax)},
      {"-999-01-01", "FitsDate: string '-999-01-01" + std::string(kFitsSyntax)},
      {"2O05-03-01", "FitsDate: string '2O05-03-01" + std::string(kFitsSyntax)},
      {"2005-03-01T1a:30:45", "FitsDate: string '2005-03-01T1a:30:45" + std::string(kFitsSyntax)},
      {"2005-+3-01", "FitsDate: string '2005-+3-01" + std::string(kFitsSyntax)},
      {" 1/03/95", "FitsDate: string ' 1/03/95" + std::string(kFitsSyntax)},
      {"0000-06-15", before},
      {"0001-01-00", "FitsDate: Cannot convert date 0001-01-00"},
      {"9999-12-32", "FitsDate: Cannot convert date 9999-12-32"},
  };
  for (const char* invalid : {"2001-13-45", "2001-00-10", "2001-02-29", "1900-02-29", "2004-02-30",
                              "2005-04-31", "2005-03-01T24:00:00", "2005-03-01T25:00:00",
                              "2005-03-01T12:60:00", "2005-03-01T12:30:61", "31/02/95", "01/13/95"})
    cases.push_back({invalid, "FitsDate: Cannot convert date " + std::string(invalid)});
  inEveryZone([&] {
    for (const auto& c : cases)
      EXPECT_EQ(messageOf<util::UTDateException>([&] { util::FitsDate date(c.text); }), c.message) << c.text;
  });
}

TEST(FitsDate, AgreesWithTheCLibraryOverAllSupportedYears) {
  // gmtime_r does not depend on the time zone; it serves as the reference calendar.
  const std::time_t first = -62135596800;  // 0001-01-01T00:00:00
  const std::time_t end = 253402300800;    // 10000-01-01T00:00:00
  inEveryZone([&] {
    char expected[64];
    for (std::time_t t = first; t < end; t += 3155695) {
      std::tm fields;
      ASSERT_NE(gmtime_r(&t, &fields), nullptr);
      std::snprintf(expected, sizeof expected, "%04d-%02d-%02dT%02d:%02d:%02d", fields.tm_year + 1900,
                    fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
      ASSERT_EQ(util::FitsDate(t).toString(), expected) << t;
      ASSERT_EQ(util::FitsDate(std::string(expected)).time(), t) << expected;
      char asctimeText[64];
      ASSERT_NE(asctime_r(&fields, asctimeText), nullptr);
      ASSERT_STREQ(util::UTDate(t).toCString(), asctimeText) << t;
    }
  });
}

TEST(UTDate, TextAndBrokenDownConversions) {
  inEveryZone([] {
    EXPECT_EQ(util::UTDate(0).toString(), "Thu Jan  1 00:00:00 1970");
    EXPECT_STREQ(util::UTDate(0).toCString(), "Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(util::UTDate(-62135596800).toString(), "Mon Jan  1 00:00:00 1");
    const std::time_t before = std::time(nullptr);
    const std::time_t now = util::UTDate().time();
    EXPECT_LE(before, now);
    EXPECT_LE(now, std::time(nullptr));

    std::tm fields{};
    fields.tm_year = 105;
    fields.tm_mon = 12;  // January of the next year
    fields.tm_mday = 1;
    fields.tm_hour = -1;  // the last hour of the day before
    EXPECT_EQ(util::UTDate::mkuttime(&fields), 1136073600 - 3600);
    EXPECT_EQ(fields.tm_year, 105);
    EXPECT_EQ(fields.tm_mon, 11);
    EXPECT_EQ(fields.tm_mday, 31);
    EXPECT_EQ(fields.tm_hour, 23);
    EXPECT_EQ(fields.tm_wday, 6);
    EXPECT_EQ(fields.tm_yday, 364);

    std::tm winter{};
    winter.tm_year = 70;
    winter.tm_mday = 1;
    winter.tm_hour = 1;
    std::tm summer = winter;
    summer.tm_isdst = 1;
    EXPECT_EQ(util::UTDate::mkdcftime(&winter), 0);
    EXPECT_EQ(util::UTDate::mkdcftime(&summer), -3600);
  });
}

TEST(UTDate, ExtremeStoredTimesPrintWithoutOverflow) {
  // Expected texts from Python's calendar, shifted by whole 400-year cycles.
  EXPECT_EQ(util::UTDate(INT64_MIN).toString(), "Sun Jan 27 08:29:52 -292277022657");
  EXPECT_EQ(util::UTDate(INT64_MAX).toString(), "Sun Dec  4 15:30:07 292277026596");
  EXPECT_EQ(util::FitsDate(INT64_MIN).toString(), "-292277022657-01-27T08:29:52");
  EXPECT_EQ(util::UTTime(INT64_MIN).toString(), "08:29:52");
}

TEST(UTTime, ReadsATimeOfTodayAndPrintsIt) {
  inEveryZone([] {
    // Retried once should the UTC date change during the call.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::time_t dayBefore = std::time(nullptr) / 86400;
      const util::UTTime time("12:30:45.75");
      if (std::time(nullptr) / 86400 != dayBefore) continue;
      EXPECT_EQ(time.time(), dayBefore * 86400 + 45045);
      EXPECT_EQ(time.toString(), "12:30:45");
      break;
    }
    EXPECT_EQ(util::UTTime(std::time_t{86399}).toString(), "23:59:59");
    for (const char* text : {"12:30", "1230", "99999999999:00:00"}) {
      EXPECT_EQ(messageOf<util::UTDateException>([&] { util::UTTime time(text); }),
                "UTTime: string '" + std::string(text) + "' has wrong syntax\n(not ##:##:##[.##])");
    }
  });
}

TEST(DCFDate, ReadsAndWritesTheRadioClockText) {
  struct Case {
    const char* text;
    std::time_t utc;
    const char* printed;
  };
  const Case cases[] = {
      {"D:01.03.05;T:2;U:12.30.45;    ", 1109676645, "D:01.03.05;T:2;U:12.30.45;    "},
      // Summer time is UTC+2; the text written back is in UTC+1 and has no mark.
      {"D:01.07.05;T:5;U:12.30.45;  S ", 1120213845, "D:01.07.05;T:5;U:11.30.45;    "},
      {"D:01.01.70;T:4;U:00.59.59;    ", -1, "D:01.01.70;T:4;U:00.59.59;    "},
      {"D:06.03.05;T:9;U:12.00.00;    ", 1110106800, "D:06.03.05;T:0;U:12.00.00;    "},  // a Sunday
      // Two-digit years up to 37 are this century's, 38 on the last century's.
      {"D:01.01.37;T:4;U:12.00.00;    ", 2114420400, "D:01.01.37;T:4;U:12.00.00;    "},
      {"D:01.01.38;T:6;U:12.00.00;    ", -1009803600, "D:01.01.38;T:6;U:12.00.00;    "},
  };
  inEveryZone([&] {
    for (const auto& c : cases) {
      const util::DCFDate date{std::string(c.text)};
      EXPECT_EQ(date.time(), c.utc) << c.text;
      EXPECT_EQ(date.toString(), c.printed) << c.text;
    }
    EXPECT_EQ(
        messageOf<util::UTDateException>(
            [] { util::DCFDate date(std::string("D:01.03.05;T:2;U:12.30.45;")); }),
        "DCFDate: string 'D:01.03.05;T:2;U:12.30.45;' has wrong syntax\n(not \"D:DD.MM.YY;T:w;U:hh.mm.ss;    "
        "\")");
    for (const char* invalid : {"D:30.02.05;T:2;U:12.30.45;    ", "D:01.13.05;T:2;U:12.30.45;    ",
                                "D:01.03.05;T:2;U:24.30.45;    ", "D:01.03.05;T:2;U:12.60.45;    ",
                                "D:01.03.05;T:2;U:12.30.61;    ", "D:01.03.0x;T:2;U:12.30.45;    "}) {
      EXPECT_EQ(messageOf<util::UTDateException>([&] { util::DCFDate date{std::string(invalid)}; }),
                "DCFDate: Cannot convert date " + std::string(invalid));
    }
  });
}

TEST(JulDate, AgreesWithPublishedJulianDates) {
  struct Case {
    const char* fitsDate;
    double julianDate;
  };
  const Case cases[] = {
      {"2000-01-01T12:00:00", 2451545.0},  {"1999-01-01", 2451179.5}, {"1987-01-27", 2446822.5},
      {"1987-06-19T12:00:00", 2446966.0},  {"1988-01-27", 2447187.5}, {"1988-06-19T12:00:00", 2447332.0},
      {"1900-01-01", 2415020.5},           {"1600-01-01", 2305447.5}, {"1600-12-31", 2305812.5},
      {"1957-10-04T19:26:24", 2436116.31}, {"1970-01-01", 2440587.5},
  };
  inEveryZone([&] {
    for (const auto& c : cases) {
      const std::time_t utc = util::FitsDate(c.fitsDate).time();
      EXPECT_NEAR(util::JulDate(utc).toDouble(), c.julianDate, 1e-6) << c.fitsDate;
      EXPECT_EQ(util::JulDate().toTime_t(c.julianDate), utc) << c.fitsDate;
      EXPECT_EQ(util::JulDate(c.julianDate).time(), utc) << c.fitsDate;
    }
  });
}

TEST(JulDate, RangeRoundingTextAndFailures) {
  const std::string before = "JulDate: cannot handle dates before Jan. 1st 0001";
  const std::string after = "JulDate: cannot handle dates after Dec. 31st 9999";
  inEveryZone([&] {
    const util::JulDate jd(std::time_t{0});
    EXPECT_EQ(jd.toTime_t(2440587.5), 0);
    EXPECT_EQ(jd.toTime_t(2465424.5), 2145916800);
    EXPECT_EQ(jd.toTime_t(1721425.5), -62135596800);
    EXPECT_EQ(jd.toTime_t(5373484.5), 253402300800);
    EXPECT_EQ(jd.toTime_t(2440587.5 - 1.0 / 86400.0), -1);  // nearest second, also before the epoch
    EXPECT_EQ(jd.toTime_t(2440587.5 - 0.4 / 86400.0), 0);
    EXPECT_EQ(jd.toTime_t(std::string("2440588")), 43200);
    EXPECT_EQ(jd.toString(8), "2440587.5");
    EXPECT_EQ(jd.toString(7), "2440588");

    EXPECT_EQ(messageOf<util::UTDateException>([&] { jd.toTime_t(1721425.4); }), before);
    EXPECT_EQ(messageOf<util::UTDateException>([&] { jd.toTime_t(5373484.6); }), after);
    EXPECT_EQ(messageOf<util::UTDateException>([&] { jd.toTime_t(NAN); }), before);
    EXPECT_EQ(messageOf<util::UTDateException>([&] { jd.toTime_t(std::string("nan")); }), before);
    EXPECT_EQ(messageOf<util::UTDateException>([&] { jd.toTime_t(INFINITY); }), after);
    EXPECT_EQ(messageOf<util::UTDateException>([&] { util::JulDate bad(-1.0); }), before);
  });
}

TEST(LSTime, AgreesWithPublishedSiderealTimes) {
  // Mean sidereal time at Greenwich on 1987 April 10 at 0h and at 19h21m UT.
  struct Case {
    std::time_t utc;
    double seconds;
    const char* printed;
  };
  const Case cases[] = {
      {545011200, 13 * 3600 + 10 * 60 + 46.3668, "13:10:46.3668"},
      {545080860, 8 * 3600 + 34 * 60 + 57.0896, "08:34:57.0896"},
  };
  inEveryZone([&] {
    for (const auto& c : cases) {
      const util::LSTime greenwich(c.utc, 0.0);
      EXPECT_NEAR(greenwich.toHour() * 3600.0, c.seconds, 1e-3) << c.utc;
      EXPECT_NEAR(greenwich.toDeg() / 15.0, greenwich.toHour(), 1e-12);
      EXPECT_EQ(greenwich.toString(4), c.printed);
      // 15 degrees west is one hour earlier.
      EXPECT_NEAR(util::LSTime(c.utc, 15.0).toHour() * 3600.0, c.seconds - 3600.0, 1e-3) << c.utc;
    }
  });
}

TEST(LSTime, AngleStaysInHalfOpenRange) {
  inEveryZone([] {
    const double theta = util::LSTime(545011200, 0.0).toDeg();
    EXPECT_EQ(util::LSTime(545011200, theta).toDeg(), 360.0);
    for (std::time_t t = -3000000000; t < 4000000000; t += 7777777) {
      for (double longitude : {0.0, 90.5, 359.999}) {
        const double deg = util::LSTime(t, longitude).toDeg();
        ASSERT_GT(deg, 0.0) << t << " " << longitude;
        ASSERT_LE(deg, 360.0) << t << " " << longitude;
      }
    }
  });
}

}  // namespace
