#ifndef NUMERICS_STOPWATCH_H
#define NUMERICS_STOPWATCH_H

#include <string>

#include "orv/marray.h"

// A named stopwatch of wall-clock time (seconds of time()) and processor time
// (ticks of clock(), one microsecond each) with named laps, pauses that are
// left out of the totals, and a framed status table on standard output.
//
// States: ready -> start -> running <-> paused (pause/resume) -> stop ->
// stopped -> reset -> ready. A call in the wrong state, or a lap number out of
// range, is a programming error: the message goes to standard error and the
// process ends with status 255.
class Stopwatch {
 public:
  explicit Stopwatch(std::string name);
  ~Stopwatch();
  Stopwatch(const Stopwatch&) = delete;
  Stopwatch& operator=(const Stopwatch&) = delete;

  void reset();
  void start();
  void pause();
  void resume();
  // Records the current readings as the next lap; allowed while running or paused.
  void lap(std::string label);
  // Records the end readings as a last lap, closing an open pause first.
  void stop(std::string label);

  int getNumberLaps() const;
  long getStart() const;
  long getStart_CPU() const;
  long getEnd() const;
  long getEnd_CPU() const;
  // End minus start minus the time spent paused.
  long getTotalTime() const;
  long getTotalTime_CPU() const;
  // The raw readings recorded at lap i (1 to getNumberLaps()).
  long getLapTime(int i) const;
  long getLapTime_CPU(int i) const;
  // The length of lap i: its reading minus that of lap i - 1 (the start for
  // lap 1). Pauses inside a lap are not taken out.
  long getLap(int i) const;
  long getLap_CPU(int i) const;

  // Seconds as HH:MM:SS; whole days are dropped.
  std::string getTimeString(long t) const;
  // Processor ticks as HH:MM:SS of whole seconds.
  std::string getTimeString_CPU(long t) const;
  // asctime text of t seconds since the epoch in UTC, with its newline (empty
  // for a time the calendar cannot show).
  std::string getTimeString_full(long t) const;

  // The status table; leaves standard output's precision at 6 after a lap
  // table and at 3 after a total line.
  void printStatus() const;

 private:
  // Message "error: stopwatch <name><suffix>" on standard error, then exit.
  [[noreturn]] void fail__(const char* suffix) const;
  void requireStarted__() const;
  void requireStopped__() const;
  void requireRunning__() const;
  void requireLap__(int i) const;
  void recordLap__(long wall, long cpu, const std::string& label);

  orv::MArray<long, 1> lapTime_CPU;
  orv::MArray<long, 1> lapTime;
  orv::MArray<std::string, 1> lapName;
  long startTime_CPU;
  long pauseBegin_CPU;
  long pauseTotal_CPU;
  long endTime_CPU;
  long startTime;
  long pauseBegin;
  long pauseTotal;
  long endTime;
  std::string name;
  int numberLaps;
  bool started;
  bool running;
  bool paused;
};

// Sources of the stopwatch readings: wall-clock seconds and processor ticks.
// Every stopwatch reads the clocks installed here (time() and clock() unless
// replaced), so tests can drive stopwatches with fixed times. A null pointer
// restores the system clock.
using StopwatchClock = long (*)();
void setStopwatchClocks(StopwatchClock wall, StopwatchClock cpu);

#endif
