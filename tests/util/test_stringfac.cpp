// Numbers as text of preset width, sexagesimal text, and text back to numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "util/stringfac.h"

namespace {

using util::StringFactory;

std::string tooWide(const std::string& text) {
  return "StringFactory: " + text + " is too wide\ncannot create string with preset width.";
}

// Runs a formatter: its text, or the message of the StringException it threw, prefixed "throw:".
std::string outcome(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const util::StringException& e) {
    return std::string("throw:") + e.what();
  }
}

TEST(StringFactory, NumbersToTextOfPresetWidth) {
  struct Case {
    const char* name;
    std::function<std::string()> call;
    std::string expected;
  };
  const Case cases[] = {
      {"int fits", [] { return StringFactory::toString(42, 5); }, "   42"},
      {"negative int", [] { return StringFactory::toString(-42, 5); }, "  -42"},
      {"int exactly wide", [] { return StringFactory::toString(2879, 4); }, "2879"},
      {"int too wide", [] { return StringFactory::toString(123456, 5); }, "throw:" + tooWide("123456")},
      {"no room at all", [] { return StringFactory::toString(7, 0); }, "throw:" + tooWide("7")},
      {"long at width 20", [] { return StringFactory::toString(-1234567890123456789L, 20); },
       "-1234567890123456789"},
      {"long too wide", [] { return StringFactory::toString(-1234567890123456789L, 19); },
       "throw:" + tooWide("-1234567890123456789")},
      {"double fits", [] { return StringFactory::toString(0.1, 20, 15); }, std::string(17, ' ') + "0.1"},
      {"exponent form", [] { return StringFactory::toString(1.5e-7, 10, 15); }, "   1.5e-07"},
      {"precision 0 is one digit", [] { return StringFactory::toString(95.0, 6, 0); }, " 1e+02"},
      {"float is widened", [] { return StringFactory::toString(0.1f, 20, 15); }, "   0.100000001490116"},
      {"22 characters retried at 13", [] { return StringFactory::toString(-1.0 / 3.0 * 1e-100, 20, 15); },
       "-3.333333333333e-101"},
      {"retry checked again", [] { return StringFactory::toString(-8.5281530614695e+233, 20, 15); },
       "-8.528153061469e+233"},
      {"excess as large as precision", [] { return StringFactory::toString(-1.23e-100, 5, 3); },
       "throw:" + tooWide("-1.23e-100")},
      {"retry never fits", [] { return StringFactory::toString(-1e-100, 6, 2); },
       "throw:" + tooWide("-1e-100")},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.call), c.expected) << c.name;
}

TEST(StringFactory, SexagesimalText) {
  struct Case {
    double value;
    int precision;
    const char* expected;
  };
  const Case cases[] = {
      {12.51, 1, "12:30:36.0"},
      {-0.5, 0, "-00:30:00"},
      {1.0 + 5.5 / 3600.0, 2, "01:00:05.50"},
      {68.6, 1, "68:36:00.0"},
      {1.0 + 59.96 / 3600.0, 1, "01:01:00.0"},  // seconds round up into the minutes
      {23.999999999, 2, "24:00:00.00"},
      {0.0, 0, "00:00:00"},
      {-123.25, 3, "-123:15:00.000"},
      {12.51, 12, "12:30:36.000000000000"},
      {3e6 + 0.5 / 3600.0, 9, "3000000:00:00.500000000"},  // too large for nine decimals of rounding
      {1e15, 1, "1000000000000000:00:00.0"},
      {1e-12, 15, "00:00:00.000000003600000"},  // small values keep decimals beyond the ninth
      {2.0 / 3600.0 + 1e-12, 12, "00:00:02.000000003600"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StringFactory::toMinSecString(c.value, c.precision), c.expected)
        << c.value << " " << c.precision;
  }
}

TEST(StringFactory, EveryWholeMinuteOfADayPrintsExactly) {
  char expected[32];
  for (int minute = 0; minute < 1440; ++minute) {
    std::snprintf(expected, sizeof expected, "%02d:%02d:00.0", minute / 60, minute % 60);
    ASSERT_EQ(StringFactory::toMinSecString(minute / 60.0, 1), expected) << minute;
  }
}

TEST(StringFactory, SexagesimalTextOfHugeOrNonFiniteValuesStaysBounded) {
  for (double v : {1e300, -1e300, double(NAN), double(INFINITY)}) {
    const std::string text = StringFactory::toMinSecString(v, 300);
    EXPECT_LE(text.size(), 255u) << v;
  }
}

TEST(StringFactory, TextToNumber) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"12.5", 12.5}, {"-12:30:36", -12.51}, {" -1:30:00", -0.5},  {"-0:30:00", -0.5},
      {"abc", 0.0},   {"-7e2", -700.0},      {"1:30:36:99", 1.51}, {"::", 0.0},
  };
  for (const auto& c : cases) EXPECT_NEAR(StringFactory::toDouble(c.text), c.expected, 1e-12) << c.text;

  for (const char* text : {"12:30", "-12:30"}) {
    try {
      StringFactory::toDouble(text);
      ADD_FAILURE() << "nothing thrown for " << text;
    } catch (const util::StringException& e) {
      EXPECT_STREQ(e.what(), "StringFactory: 12:30 is ambiguous.");
    }
  }
}

}  // namespace
