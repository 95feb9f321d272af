// The overlap cutter waits two seconds of wall time after each image, sleeping rather than
// spinning.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "tests/brisel/brisel_fixtures.h"
#include "tests/support/program_run.h"

namespace {

double childCpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

TEST(BriselWait, ThreeImagesTakeSixSecondsOfWallTimeAndLittleCpu) {
  const test_support::ScratchDir scratch("brisel_test");
  std::vector<brisel_test::TestImage> images(3);
  for (int i = 0; i < 3; ++i) {
    images[i].name = "w" + std::to_string(i) + ".fits";
    images[i].nx = 20;
    images[i].ny = 16;
  }
  brisel_test::makeImages(scratch.path, {{".", images}});

  const double cpuBefore = childCpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  const test_support::RunResult run =
      test_support::runProgram(scratch.path, BRISEL_PROGRAM, "w0.fits w1.fits w2.fits");
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
  const double cpu = childCpuSeconds() - cpuBefore;

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_GE(wall.count(), 6.0);
  EXPECT_LT(cpu, 1.0);
}

}  // namespace
