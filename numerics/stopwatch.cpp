#include "numerics/stopwatch.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <utility>

#include "numerics/convert.h"
#include "numerics/end_process.h"
#include "numerics/mappend.h"

namespace {

long systemWallClock() { return static_cast<long>(std::time(nullptr)); }
long systemCpuClock() { return static_cast<long>(std::clock()); }

StopwatchClock wallClock = systemWallClock;
StopwatchClock cpuClock = systemCpuClock;

// Processor ticks per second, fixed whatever the platform's tick rate.
const double kTicksPerSecond = 1e6;

// k blanks, none for k <= 0.
std::string blanks(long k) { return std::string(static_cast<std::size_t>(std::max(k, 0L)), ' '); }

// A misuse of a stopwatch ends the process: the message and an empty line on
// standard error, exit status 255.
[[noreturn]] void endStopwatchMisuse(const std::string& message) { endProcess(message + "\n", -1); }

std::string frame(long width) { return std::string(static_cast<std::size_t>(std::max(width, 0L)), '*'); }

}  // namespace

void setStopwatchClocks(StopwatchClock wall, StopwatchClock cpu) {
  wallClock = wall != nullptr ? wall : systemWallClock;
  cpuClock = cpu != nullptr ? cpu : systemCpuClock;
}

Stopwatch::Stopwatch(std::string name) : name(std::move(name)) { reset(); }

Stopwatch::~Stopwatch() = default;

void Stopwatch::reset() {
  // Each lap array starts with one element of no meaning, which the first lap
  // overwrites; later laps append.
  lapTime_CPU.makeReference(orv::MArray<long, 1>(1));
  lapTime.makeReference(orv::MArray<long, 1>(1));
  lapName.makeReference(orv::MArray<std::string, 1>(1));
  lapTime_CPU(1) = 0;
  lapTime(1) = 0;
  startTime_CPU = pauseBegin_CPU = pauseTotal_CPU = endTime_CPU = 0;
  startTime = pauseBegin = pauseTotal = endTime = 0;
  numberLaps = 0;
  started = running = paused = false;
}

void Stopwatch::start() {
  if (started || running) fail__(" already in use, reset first!");
  startTime = wallClock();
  startTime_CPU = cpuClock();
  started = true;
  running = true;
}

void Stopwatch::pause() {
  requireRunning__();
  if (paused) fail__(" already paused!");
  pauseBegin = wallClock();
  pauseBegin_CPU = cpuClock();
  paused = true;
}

void Stopwatch::resume() {
  requireRunning__();
  if (!paused) fail__(" not paused!");
  pauseTotal += wallClock() - pauseBegin;
  pauseTotal_CPU += cpuClock() - pauseBegin_CPU;
  paused = false;
}

void Stopwatch::lap(std::string label) {
  requireRunning__();
  const long wall = wallClock();
  const long cpu = cpuClock();
  recordLap__(wall, cpu, label);
}

void Stopwatch::stop(std::string label) {
  requireRunning__();
  endTime = wallClock();
  endTime_CPU = cpuClock();
  if (paused) {
    pauseTotal += endTime - pauseBegin;
    pauseTotal_CPU += endTime_CPU - pauseBegin_CPU;
    paused = false;
  }
  recordLap__(endTime, endTime_CPU, label);
  running = false;
}

void Stopwatch::recordLap__(long wall, long cpu, const std::string& label) {
  if (numberLaps == 0) {
    lapTime(1) = wall;
    lapTime_CPU(1) = cpu;
    lapName(1) = label;
  } else {
    mappend(lapTime, wall);
    mappend(lapTime_CPU, cpu);
    mappend(lapName, label);
  }
  ++numberLaps;
}

int Stopwatch::getNumberLaps() const { return numberLaps; }

long Stopwatch::getStart() const {
  requireStarted__();
  return startTime;
}

long Stopwatch::getStart_CPU() const {
  requireStarted__();
  return startTime_CPU;
}

long Stopwatch::getEnd() const {
  requireStopped__();
  return endTime;
}

long Stopwatch::getEnd_CPU() const {
  requireStopped__();
  return endTime_CPU;
}

long Stopwatch::getTotalTime() const {
  requireStopped__();
  return endTime - startTime - pauseTotal;
}

long Stopwatch::getTotalTime_CPU() const {
  requireStopped__();
  return endTime_CPU - startTime_CPU - pauseTotal_CPU;
}

long Stopwatch::getLapTime(int i) const {
  requireLap__(i);
  return lapTime(i);
}

long Stopwatch::getLapTime_CPU(int i) const {
  requireLap__(i);
  return lapTime_CPU(i);
}

long Stopwatch::getLap(int i) const {
  requireLap__(i);
  return lapTime(i) - (i == 1 ? startTime : lapTime(i - 1));
}

long Stopwatch::getLap_CPU(int i) const {
  requireLap__(i);
  return lapTime_CPU(i) - (i == 1 ? startTime_CPU : lapTime_CPU(i - 1));
}

std::string Stopwatch::getTimeString(long t) const {
  const int hours = static_cast<int>((t / 3600) % 24);
  const int minutes = static_cast<int>((t % 3600) / 60);
  const int seconds = static_cast<int>(t % 60);
  return int2str(hours, 2) + ":" + int2str(minutes, 2) + ":" + int2str(seconds, 2);
}

std::string Stopwatch::getTimeString_CPU(long t) const { return getTimeString(t / 1000000); }

std::string Stopwatch::getTimeString_full(long t) const {
  const std::time_t seconds = static_cast<std::time_t>(t);
  std::tm calendar;
  char text[64];
  // gmtime_r and asctime_r report a year beyond their range with a null result.
  if (gmtime_r(&seconds, &calendar) == nullptr || asctime_r(&calendar, text) == nullptr) return "";
  return text;
}

void Stopwatch::printStatus() const {
  std::ostream& out = std::cout;
  // Name column width and inner width of the box.
  long nameWidth = 15;
  long width = 55;
  if (numberLaps >= 2) {
    for (int i = 1; i <= numberLaps; ++i)
      nameWidth = std::max(nameWidth, static_cast<long>(lapName(i).size()));
    width = nameWidth + 40;
  }
  const long nameLength = static_cast<long>(name.size());
  const long digits = static_cast<long>(int2str(numberLaps).size());

  out << "\n";
  out << frame(width + 2) << "\n";
  out << "* stopwatch " << name << blanks(width - nameLength - 11) << "*\n";
  out << frame(width + 2) << "\n";
  out << "* status: ";
  if (running)
    out << "running (" << numberLaps << " laps)" << blanks(width - digits - 24);
  else if (started)
    out << "stopped (" << numberLaps << " laps)" << blanks(width - digits - 24);
  else
    out << "ready (" << numberLaps << " laps)" << blanks(width - digits - 22);
  out << "*\n";

  if (numberLaps >= 2) {
    out << "*" << blanks(width) << "*\n";
    out << "* number         real            CPU" << blanks(width - 35) << "*\n";
    out << "* " << std::string(static_cast<std::size_t>(width - 2), '-') << " *\n";
    for (int i = 1; i <= numberLaps; ++i) {
      out << "* " << std::setw(6) << i << " " << std::setw(12) << getTimeString(getLap(i)) << " "
          << std::setw(13) << std::setprecision(6) << getLap_CPU(i) / kTicksPerSecond << "s    "
          << std::setw(nameWidth) << lapName(i) << " *\n";
    }
    out << "*" << blanks(width) << "*\n";
  }

  if (started && !running) {
    out << frame(width + 2) << "\n";
    out << "* total: " << getTimeString(getTotalTime()) << " (real), " << std::setw(6) << std::setprecision(3)
        << getTotalTime_CPU() / kTicksPerSecond << "s (CPU)" << blanks(width - 38) << "*\n";
  }
  out << frame(width + 2) << "\n\n";
}

void Stopwatch::fail__(const char* suffix) const { endStopwatchMisuse("error: stopwatch " + name + suffix); }

void Stopwatch::requireStarted__() const {
  if (!started) fail__(" not started yet!");
}

void Stopwatch::requireStopped__() const {
  requireStarted__();
  if (running) fail__(" stil running!");
}

void Stopwatch::requireRunning__() const {
  if (!running) fail__(" not running!");
}

void Stopwatch::requireLap__(int i) const {
  requireStarted__();
  if (i < 1 || i > numberLaps) {
    endStopwatchMisuse("error: lap out of range (" + int2str(i) + "), only " + int2str(numberLaps) +
                       " laps taken!");
  }
}
