#ifndef TESTS_NUMERICS_TEST_SCIPY_H
#define TESTS_NUMERICS_TEST_SCIPY_H

// Runs a Python script under the system interpreter, which has numpy and
// scipy, for reference values; returns what the script printed (empty when
// it could not run). The script file carries the process id, so that test
// runs of several builds at once do not take each other's files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/run_command.h"

inline std::string runScipyScript(const std::string& script, const std::string& name) {
  const std::string path = ::testing::TempDir() + name + "_" + std::to_string(getpid()) + ".py";
  {
    std::ofstream out(path);
    out << script;
    if (!out) return "";
  }
  std::string text;
  test_support::runCommand("/usr/bin/python3 " + path, &text);
  std::remove(path.c_str());
  return text;
}

#endif
