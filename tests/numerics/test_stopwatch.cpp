// The stopwatch: time strings, laps, printed boxes and the misuses that end the process.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "numerics/stopwatch.h"

namespace {

long fakeWall = 0;
long fakeCpu = 0;
long readFakeWall() { return fakeWall; }
long readFakeCpu() { return fakeCpu; }

void setClocks(long wall, long cpu) {
  fakeWall = wall;
  fakeCpu = cpu;
}

// Every test drives the stopwatch with the fake clocks and restores the system
// clocks and standard output's format afterwards.
class StopwatchTest : public testing::Test {
 protected:
  void SetUp() override {
    setStopwatchClocks(readFakeWall, readFakeCpu);
    setClocks(1000, 0);
    savedPrecision = std::cout.precision();
  }
  void TearDown() override {
    setStopwatchClocks(nullptr, nullptr);
    std::cout.precision(savedPrecision);
  }

  // The status table as printed on standard output.
  static std::string statusOf(Stopwatch& watch) {
    std::ostringstream captured;
    std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
    watch.printStatus();
    std::cout.rdbuf(old);
    return captured.str();
  }

  std::streamsize savedPrecision = 6;
};

TEST_F(StopwatchTest, TimeStrings) {
  Stopwatch watch("t");
  struct Case {
    long t;
    const char* text;
  };
  const Case real[] = {{0, "00:00:00"},     {3661, "01:01:01"},  {86399, "23:59:59"},
                       {86400, "00:00:00"}, {90000, "01:00:00"}, {59, "00:00:59"}};
  for (const Case& c : real) EXPECT_EQ(watch.getTimeString(c.t), c.text) << c.t;
  const Case cpu[] = {{61000000, "00:01:01"}, {999999, "00:00:00"}, {3661000000L, "01:01:01"}};
  for (const Case& c : cpu) EXPECT_EQ(watch.getTimeString_CPU(c.t), c.text) << c.t;
  EXPECT_EQ(watch.getTimeString_full(0), "Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(watch.getTimeString_full(951782400), "Tue Feb 29 00:00:00 2000\n");
  EXPECT_EQ(watch.getTimeString_full(1000000000000000000L), "");  // beyond the calendar
}

TEST_F(StopwatchTest, LapsAndTotalsLeavePausesOutOfTotalsOnly) {
  Stopwatch watch("fit");
  watch.start();
  EXPECT_EQ(watch.getStart(), 1000);
  EXPECT_EQ(watch.getStart_CPU(), 0);
  setClocks(1005, 1000000);
  watch.lap("first");
  setClocks(1010, 2000000);
  watch.pause();
  setClocks(1030, 2500000);
  watch.lap("while paused");  // allowed; counts the paused time in its lap length
  setClocks(1040, 3000000);
  watch.resume();
  setClocks(1050, 4000000);
  watch.pause();
  setClocks(1090, 9000000);
  watch.stop("end");  // closes the open pause

  EXPECT_EQ(watch.getNumberLaps(), 3);
  EXPECT_EQ(watch.getEnd(), 1090);
  EXPECT_EQ(watch.getEnd_CPU(), 9000000);
  EXPECT_EQ(watch.getTotalTime(), 90 - 30 - 40);
  EXPECT_EQ(watch.getTotalTime_CPU(), 9000000 - 1000000 - 5000000);
  const long lapTimes[] = {1005, 1030, 1090};
  const long lapTimesCpu[] = {1000000, 2500000, 9000000};
  const long laps[] = {5, 25, 60};
  const long lapsCpu[] = {1000000, 1500000, 6500000};
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(watch.getLapTime(i), lapTimes[i - 1]);
    EXPECT_EQ(watch.getLapTime_CPU(i), lapTimesCpu[i - 1]);
    EXPECT_EQ(watch.getLap(i), laps[i - 1]);
    EXPECT_EQ(watch.getLap_CPU(i), lapsCpu[i - 1]);
  }

  // Reset and reuse.
  watch.reset();
  EXPECT_EQ(watch.getNumberLaps(), 0);
  setClocks(2000, 100);
  watch.start();
  setClocks(2007, 700);
  watch.stop("again");
  EXPECT_EQ(watch.getNumberLaps(), 1);
  EXPECT_EQ(watch.getLap(1), watch.getTotalTime());
  EXPECT_EQ(watch.getLap_CPU(1), watch.getTotalTime_CPU());
  EXPECT_EQ(watch.getTotalTime(), 7);
}

TEST_F(StopwatchTest, ReadyBox) {
  Stopwatch watch("sw");
  EXPECT_EQ(statusOf(watch),
            "\n"
            "*********************************************************\n"
            "* stopwatch sw                                          *\n"
            "*********************************************************\n"
            "* status: ready (0 laps)                                *\n"
            "*********************************************************\n"
            "\n");
}

TEST_F(StopwatchTest, StoppedAfterOneLapHasTotalButNoTable) {
  Stopwatch watch("sw");
  watch.start();
  setClocks(1100, 2500000);
  watch.stop("end");
  EXPECT_EQ(statusOf(watch),
            "\n"
            "*********************************************************\n"
            "* stopwatch sw                                          *\n"
            "*********************************************************\n"
            "* status: stopped (1 laps)                              *\n"
            "*********************************************************\n"
            "* total: 00:01:40 (real),    2.5s (CPU)                 *\n"
            "*********************************************************\n"
            "\n");
  EXPECT_EQ(std::cout.precision(), 3);
}

TEST_F(StopwatchTest, StoppedBoxWithLapTable) {
  Stopwatch watch("kernel fit");
  watch.start();
  setClocks(1005, 1000000);
  watch.lap("first");
  setClocks(1070, 65200000);
  watch.lap("second");
  setClocks(1080, 66000000);
  watch.pause();
  setClocks(1100, 66500000);
  watch.resume();
  setClocks(1130, 70000000);
  watch.stop("end");
  EXPECT_EQ(statusOf(watch),
            "\n"
            "*********************************************************\n"
            "* stopwatch kernel fit                                  *\n"
            "*********************************************************\n"
            "* status: stopped (3 laps)                              *\n"
            "*                                                       *\n"
            "* number         real            CPU                    *\n"
            "* ----------------------------------------------------- *\n"
            "*      1     00:00:05             1s              first *\n"
            "*      2     00:01:05          64.2s             second *\n"
            "*      3     00:01:00           4.8s                end *\n"
            "*                                                       *\n"
            "*********************************************************\n"
            "* total: 00:01:50 (real),   69.5s (CPU)                 *\n"
            "*********************************************************\n"
            "\n");
  EXPECT_EQ(std::cout.precision(), 3);
}

TEST_F(StopwatchTest, RunningBoxWidensForLongLapNames) {
  Stopwatch watch("w");
  watch.start();
  setClocks(1001, 10);
  watch.lap("a lap name 19 chars");  // 19 characters
  setClocks(1002, 20);
  watch.pause();
  watch.lap("twenty characters!!!");  // 20 characters: W = 60
  EXPECT_EQ(statusOf(watch),
            "\n"
            "**************************************************************\n"
            "* stopwatch w                                                *\n"
            "**************************************************************\n"
            "* status: running (2 laps)                                   *\n"
            "*                                                            *\n"
            "* number         real            CPU                         *\n"
            "* ---------------------------------------------------------- *\n"
            "*      1     00:00:01         1e-05s     a lap name 19 chars *\n"
            "*      2     00:00:01         1e-05s    twenty characters!!! *\n"
            "*                                                            *\n"
            "**************************************************************\n"
            "\n");
  EXPECT_EQ(std::cout.precision(), 6);
}

TEST_F(StopwatchTest, BoxLinesHaveTheFrameWidth) {
  // Guards the golden texts above: every framed line is W + 2 wide.
  Stopwatch watch("a rather long stopwatch name");
  watch.start();
  watch.lap("x");
  watch.stop("y");
  std::istringstream lines(statusOf(watch));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "");
  while (std::getline(lines, line) && !line.empty()) EXPECT_EQ(line.size(), 57u) << line;
}

// A misuse ends the process with status 255 and the message followed by an
// empty line on standard error.
void ready(Stopwatch&) {}
void running(Stopwatch& w) { w.start(); }
void paused(Stopwatch& w) {
  w.start();
  w.pause();
}
void stopped(Stopwatch& w) {
  w.start();
  w.stop("end");
}
void twoLaps(Stopwatch& w) {
  w.start();
  w.lap("one");
  w.lap("two");
}
void stoppedAndReset(Stopwatch& w) {
  stopped(w);
  w.reset();
}

TEST_F(StopwatchTest, MisuseIsFatal) {
  using Step = void (*)(Stopwatch&);
  struct Case {
    Step prepare;
    Step misuse;
    const char* message;
  };
  const char* inUse = "error: stopwatch sw already in use, reset first!\n\n";
  const char* notRunning = "error: stopwatch sw not running!\n\n";
  const char* notStarted = "error: stopwatch sw not started yet!\n\n";
  const char* stillRunning = "error: stopwatch sw stil running!\n\n";
  const Case cases[] = {
      {stopped, [](Stopwatch& w) { w.start(); }, inUse},
      {running, [](Stopwatch& w) { w.start(); }, inUse},
      {ready, [](Stopwatch& w) { w.pause(); }, notRunning},
      {paused, [](Stopwatch& w) { w.pause(); }, "error: stopwatch sw already paused!\n\n"},
      {ready, [](Stopwatch& w) { w.resume(); }, notRunning},
      {running, [](Stopwatch& w) { w.resume(); }, "error: stopwatch sw not paused!\n\n"},
      {stopped, [](Stopwatch& w) { w.lap("x"); }, notRunning},
      {ready, [](Stopwatch& w) { w.stop("x"); }, notRunning},
      {ready, [](Stopwatch& w) { w.getStart(); }, notStarted},
      {ready, [](Stopwatch& w) { w.getStart_CPU(); }, notStarted},
      {ready, [](Stopwatch& w) { w.getEnd(); }, notStarted},
      {running, [](Stopwatch& w) { w.getEnd_CPU(); }, stillRunning},
      {running, [](Stopwatch& w) { w.getTotalTime(); }, stillRunning},
      {ready, [](Stopwatch& w) { w.getTotalTime_CPU(); }, notStarted},
      {ready, [](Stopwatch& w) { w.getLapTime(1); }, notStarted},
      {stoppedAndReset, [](Stopwatch& w) { w.getLap(1); }, notStarted},
      {twoLaps, [](Stopwatch& w) { w.getLap(3); }, "error: lap out of range (3), only 2 laps taken!\n\n"},
      {twoLaps, [](Stopwatch& w) { w.getLap(0); }, "error: lap out of range (0), only 2 laps taken!\n\n"},
      {twoLaps, [](Stopwatch& w) { w.getLap_CPU(-1); },
       "error: lap out of range (-1), only 2 laps taken!\n\n"},
      {running, [](Stopwatch& w) { w.getLapTime_CPU(1); },
       "error: lap out of range (1), only 0 laps taken!\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Stopwatch watch("sw");
    c.prepare(watch);
    EXPECT_EXIT(c.misuse(watch), testing::ExitedWithCode(255), testing::Eq(std::string(c.message)));
  }
}

}  // namespace
