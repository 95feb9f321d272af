// Helpers of the light-curve tests: arrays from lists, captured output, and
// reference values computed by numpy/scipy/astropy scripts.
#ifndef TESTS_LIGHTCURVE_LIGHTCURVE_TEST_SUPPORT_H
#define TESTS_LIGHTCURVE_LIGHTCURVE_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "orv/marray.h"
#include "tests/support/run_command.h"

namespace lctest {

inline orv::MArray<double, 1> arrayOf(const std::vector<double>& v) {
  orv::MArray<double, 1> a(static_cast<int>(v.size()));
  for (size_t i = 0; i < v.size(); ++i) a(static_cast<int>(i) + 1) = v[i];
  return a;
}

inline std::vector<double> vectorOf(const orv::MArray<double, 1>& a, int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = a(i + 1);
  return v;
}

// What fn printed on standard output.
inline std::string captured(const std::function<void()>& fn) {
  testing::internal::CaptureStdout();
  fn();
  return testing::internal::GetCapturedStdout();
}

// A Python list literal of the values, every digit kept.
inline std::string pyList(const std::vector<double>& v) {
  std::ostringstream out;
  out.precision(17);
  out << "[";
  for (size_t i = 0; i < v.size(); ++i) out << (i ? "," : "") << v[i];
  out << "]";
  return out.str();
}

// A Python number literal of the value, every digit kept.
inline std::string pyNum(double v) {
  std::ostringstream out;
  out.precision(17);
  out << v;
  return out.str();
}

// Runs the script under the system interpreter (numpy, scipy, astropy) and
// returns the numbers it printed, whitespace-separated. A script that fails
// gives an empty result, which the callers check.
inline std::vector<double> runPython(const std::string& script) {
  static int counter = 0;
  const std::string path =
      ::testing::TempDir() + "lc_ref_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".py";
  {
    std::ofstream out(path);
    out << "import numpy as np\n" << script;
  }
  std::string text;
  const int status = test_support::runCommand("/usr/bin/python3 " + path, &text);
  std::remove(path.c_str());
  std::vector<double> values;
  if (status != 0) return values;
  std::istringstream in(text);
  std::string word;
  while (in >> word) values.push_back(std::stod(word));
  return values;
}

}  // namespace lctest

#endif
