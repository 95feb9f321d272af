#include "numerics/wait_seconds.h"

#include <chrono>
#include <ctime>
#include <limits>
#include <thread>

void wait_seconds(long n) {
  const std::time_t start = std::time(nullptr);
  // The last second of the wait; an n beyond the clock's range waits forever
  // rather than overflowing.
  const std::time_t maxTime = std::numeric_limits<std::time_t>::max();
  if (n > 0 && start > maxTime - n) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  const std::time_t last = start + n;
  while (std::time(nullptr) <= last) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
