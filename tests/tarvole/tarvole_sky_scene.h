// Synthetic reference and image pairs for the sky program's method tests, and helpers that run
// the program in a directory and read its results back.
#ifndef TESTS_TARVOLE_TARVOLE_SKY_SCENE_H
#define TESTS_TARVOLE_TARVOLE_SKY_SCENE_H

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "orv/fits/fits.h"
#include "tests/support/run_command.h"

namespace sky_scene {

// A reference without noise: sky 200, a disc galaxy with a bulge at (cx, cy) and stars of
// sigma 2 px. starFactor scales the stars only (for an image whose stars differ).
inline orv::MArray<float, 2> reference(int n, double cx, double cy, unsigned seed, double starFactor = 1.0,
                                       double skyLevel = 200.0) {
  orv::MArray<float, 2> r(n, n);
  const double scale = n / 2048.0;
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) {
      const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      r(x, y) = static_cast<float>(skyLevel + 3000.0 * std::exp(-std::sqrt(r2) / (60.0 * scale)) +
                                   600.0 * std::exp(-r2 / (2 * std::pow(400.0 * scale, 2))));
    }
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pos(1.0, n), flux(500.0, 20000.0);
  const int stars = static_cast<int>(300 * scale * scale) + 5;
  for (int s = 0; s < stars; ++s) {
    const double sx = pos(rng), sy = pos(rng), f = flux(rng) * starFactor / (2 * M_PI * 4.0);
    for (int y = std::max(1, int(sy) - 10); y <= std::min(n, int(sy) + 10); ++y)
      for (int x = std::max(1, int(sx) - 10); x <= std::min(n, int(sx) + 10); ++x)
        r(x, y) += static_cast<float>(f * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 8.0));
  }
  return r;
}

// values(x, y) plus Gaussian noise of sigma noise(value).
inline orv::MArray<float, 2> withNoise(const orv::MArray<float, 2>& a, unsigned seed, double sigma) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, 1.0);
  orv::MArray<float, 2> out(a.length(1), a.length(2));
  for (int y = 1; y <= a.last(2); ++y)
    for (int x = 1; x <= a.last(1); ++x)
      out(x, y) =
          static_cast<float>(a(x, y) + sigma * std::sqrt(std::max<double>(a(x, y), 1.0) / 200.0) * g(rng));
  return out;
}

inline void write(const std::string& name, const orv::MArray<float, 2>& a) {
  orv::FitsOut f(name);
  f << a;
}

inline orv::MArray<float, 2> read(const std::string& name) {
  orv::FitsIn in(name, true, false);
  orv::MArray<float, 2> a;
  in >> a;
  orv::MArray<float, 2> copy(a.length(1), a.length(2));
  copy = a;
  return copy;
}

inline double card(const std::string& file, const std::string& key) {
  orv::FitsIn in(file, true, false);
  std::string padded = key;
  padded.resize(8, ' ');
  return in.getFloat(padded);
}

// Runs the program in dir with the arguments; returns its status, stdout in out.
inline int runProgram(const std::string& dir, const std::string& args, std::string* out) {
  return test_support::runCommand("cd " + dir + " && " + TARVOLE_EXE + " " + args + " 2>stderr.txt", out);
}

}  // namespace sky_scene

#endif
