// Running external reference tools (python with numpy/scipy/astropy, fitsverify,
// cfitsio's programs) from the tests.
#ifndef TESTS_SUPPORT_RUN_COMMAND_H
#define TESTS_SUPPORT_RUN_COMMAND_H

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace test_support {

// Runs a shell command; returns its exit status (-1 when it could not run or
// did not exit normally) and, in output, what it wrote on standard output.
inline int runCommand(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// fitsverify's report on a file, and its exit status.
inline int fitsverifyReport(const std::string& file, std::string* report) {
  return runCommand("fitsverify " + file + " 2>&1", report);
}

// Whether fitsverify finds neither error nor warning in the file; its report in report.
inline bool fitsverifyClean(const std::string& file, std::string* report) {
  fitsverifyReport(file, report);
  return report->find("found 0 warning(s) and 0 error(s)") != std::string::npos;
}

// "clean" when fitsverify finds neither error nor warning in the file, else its report.
inline std::string fitsverifyVerdict(const std::string& file) {
  std::string report;
  return fitsverifyClean(file, &report) ? "clean" : report;
}

// Whether strace can trace a program here and inject faults into its system calls: it may be
// missing, or the machine may forbid tracing (a container without ptrace).
inline bool canInjectSystemCallFaults() {
  return runCommand(
             "strace -f -o /dev/null -e trace=getpid -e inject=getpid:retval=1 true > /dev/null 2>&1") == 0;
}

}  // namespace test_support

#endif
