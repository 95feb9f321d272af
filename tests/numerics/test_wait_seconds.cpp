// Waiting for whole seconds of the clock to pass without spinning.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "numerics/wait_seconds.h"

namespace {

// Waits until the second of time() has just changed.
void alignToSecond() {
  const std::time_t t = std::time(nullptr);
  while (std::time(nullptr) == t) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(WaitSeconds, ReturnsAfterTheNextSecondsPassWithoutSpinning) {
  alignToSecond();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // called in mid-second
  const std::time_t t0 = std::time(nullptr);
  const auto begin = std::chrono::steady_clock::now();
  const std::clock_t cpuBegin = std::clock();
  wait_seconds(1);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const double cpu = double(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
  EXPECT_GT(std::time(nullptr), t0 + 1);
  EXPECT_GE(elapsed, 1.0);
  EXPECT_LT(elapsed, 2.0);
  EXPECT_LT(cpu, 0.3);  // sleeps between its checks

  const std::time_t t1 = std::time(nullptr);
  wait_seconds(0);  // the next change of the second
  EXPECT_GT(std::time(nullptr), t1);
  wait_seconds(-5);  // already passed
}

}  // namespace
