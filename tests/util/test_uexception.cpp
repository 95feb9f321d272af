// The util exceptions: caught as their bases with their exact messages, and copied.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "util/uexception.h"

namespace {

struct ThrowCase {
  const char* name;
  std::function<void()> thrower;
  const char* message;
};

TEST(UException, CaughtAsBaseAndStdExceptionWithExactMessage) {
  const ThrowCase cases[] = {
      {"UException", [] { throw util::UException("No more arguments left!"); }, "No more arguments left!"},
      {"StringException", [] { throw util::StringException("12345 is too wide"); }, "12345 is too wide"},
      {"UTDateException(string)", [] { throw util::UTDateException(std::string("bad date")); }, "bad date"},
      {"UTDateException(char*)", [] { throw util::UTDateException("bad time"); }, "bad time"},
      {"empty message", [] { throw util::StringException(""); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.thrower();
      FAIL() << "nothing thrown";
    } catch (const util::UException& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    try {
      c.thrower();
      FAIL() << "nothing thrown";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(UException, CopyKeepsMessage) {
  util::UTDateException original("Date out of range");
  util::UTDateException copy(original);
  EXPECT_STREQ(copy.what(), "Date out of range");
}

}  // namespace
