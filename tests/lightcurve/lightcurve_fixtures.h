// Fixtures of the light-curve tests: arrays from lists, captured output, python literals,
// transit curves, and reference values computed by numpy/scipy/astropy scripts.
#ifndef TESTS_LIGHTCURVE_LIGHTCURVE_FIXTURES_H
#define TESTS_LIGHTCURVE_LIGHTCURVE_FIXTURES_H

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "orv/marray.h"
#include "tests/support/python_reference.h"

namespace lightcurve_test {

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

// A light curve with a box transit: n dates from start over `days` in random
// order (within each day only the first nightFraction when it is below 1),
// flux 1 - depth within duration/2 of epoch + k * period and 1 elsewhere,
// Gaussian noise with errors from noise to noise * (1 + spread).
struct Curve {
  std::vector<double> jd, flux, error;
};

inline Curve transitCurve(unsigned seed, int n, double start, double days, double nightFraction,
                          double period, double epoch, double duration, double depth, double noise,
                          double spread) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g(0.0, 1.0);
  Curve c;
  for (int i = 0; i < n; ++i) {
    double t = u(rng) * days;
    t = start + std::floor(t) + nightFraction * (t - std::floor(t));
    double phase = std::fmod(t - epoch, period);
    if (phase < 0) phase += period;
    const bool in = phase < duration / 2 || phase > period - duration / 2;
    const double e = noise * (1 + spread * u(rng));
    c.jd.push_back(t);
    c.error.push_back(e);
    c.flux.push_back((in ? 1.0 - depth : 1.0) + e * g(rng));
  }
  return c;
}

// The parts of a text between lines that read `marker` (lines kept with their line ends); the
// part after the last marker line is the last, empty when the text ends with a marker line.
inline std::vector<std::string> sections(const std::string& text, const std::string& marker) {
  std::vector<std::string> parts(1);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line == marker)
      parts.emplace_back();
    else
      parts.back() += line + "\n";
  }
  return parts;
}

// The numbers a script prints, run under the system python after "import numpy as np"; empty
// when the script fails, which the callers check.
inline std::vector<double> numpyValues(const std::string& script) {
  return test_support::numbersIn(test_support::pythonOutputIn(".", "import numpy as np\n" + script));
}

}  // namespace lightcurve_test

#endif
