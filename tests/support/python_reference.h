// Reference values from the system python, which has numpy, scipy, astropy and photutils.
#ifndef TESTS_SUPPORT_PYTHON_REFERENCE_H
#define TESTS_SUPPORT_PYTHON_REFERENCE_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace test_support {

// The shell command that runs the system python with the given arguments (a script file and
// its own arguments). The first python3 on PATH may lack the reference packages.
inline std::string pythonCommand(const std::string& arguments) { return "/usr/bin/python3 " + arguments; }

// One run of a python script: its exit status and what it printed on standard output.
struct PythonRun {
  int status = -1;
  std::string out;
};

// Runs the script text in directory dir. What the script prints on standard error goes to the
// test's own, so warnings of the packages never mix with the numbers printed.
inline PythonRun runPythonIn(const std::string& dir, const std::string& script) {
  static int scripts = 0;
  const std::string file = tempPath("reference_" + std::to_string(scripts++) + ".py");
  writeText(file, script);
  PythonRun run;
  run.status = runCommand("cd '" + dir + "' && " + pythonCommand("'" + file + "'"), &run.out);
  std::remove(file.c_str());
  return run;
}

// Runs the script text in the test's working directory.
inline PythonRun runPython(const std::string& script) { return runPythonIn(".", script); }

// What a script run in dir printed on standard output, or "" when it failed.
inline std::string pythonOutputIn(const std::string& dir, const std::string& script) {
  const PythonRun run = runPythonIn(dir, script);
  return run.status == 0 ? run.out : "";
}

// The numbers at the start of a text, read one after the other as strtod reads them (so nan
// and inf too), up to the first place where no number can be read.
inline std::vector<double> numbersIn(const std::string& text) {
  std::vector<double> values;
  const char* at = text.c_str();
  for (;;) {
    char* end = nullptr;
    const double value = std::strtod(at, &end);
    if (end == at) return values;
    values.push_back(value);
    at = end;
  }
}

}  // namespace test_support

#endif
