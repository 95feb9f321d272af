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

inline std::string runScipyScript(const std::string& script, const std::string& name) {
  const std::string path = ::testing::TempDir() + name + "_" + std::to_string(getpid()) + ".py";
  {
    std::ofstream out(path);
    out << script;
    if (!out) return "";
  }
  FILE* pipe = popen(("/usr/bin/python3 " + path).c_str(), "r");
  if (pipe == nullptr) return "";
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  pclose(pipe);
  std::remove(path.c_str());
  return text;
}

#endif
