// Ending the process on a misuse: the message on standard error and the given exit status.
#include <gtest/gtest.h>

#include <string>

#include "numerics/end_process.h"

namespace {

TEST(EndProcess, WritesTheMessageAndExitsWithTheStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* message;
    int status;
    int exitCode;
  };
  const Case cases[] = {{"error: cannot go on", 1, 1}, {"", 3, 3}, {"misuse\n", -1, 255}};
  for (const Case& c : cases)
    EXPECT_EXIT(endProcess(c.message, c.status), testing::ExitedWithCode(c.exitCode),
                testing::Eq(std::string(c.message) + "\n"))
        << c.message;
}

}  // namespace
