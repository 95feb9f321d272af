// Shared helpers of the sky program's tests: a scratch directory, images written and read back,
// runs of the program with their output and status, and python references.
#ifndef TESTS_TARVOLE_TARVOLE_TEST_SUPPORT_H
#define TESTS_TARVOLE_TARVOLE_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "numerics/random.h"
#include "orv/fits/fits.h"
#include "orv/marray.h"
#include "tests/support/run_command.h"

namespace tarvole_test {

using Image = orv::MArray<float, 2>;

// A fresh directory, removed with everything in it when the test is done.
struct ScratchDir {
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "tarvole_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a scratch directory";
    path = pattern + "/";
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return path + name; }
  std::string path;
};

inline void write_fits(const std::string& name, const Image& a) {
  orv::FitsOut out(name);
  out << a;
}

inline Image read_fits(const std::string& name) {
  orv::FitsIn in(name, true, false);
  Image a;
  in >> a;
  return a;
}

inline bool exists(const std::string& name) { return std::filesystem::exists(name); }

inline std::string read_text(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// One run of the program in a directory: its status, standard output and error stream.
struct RunResult {
  int status = -1;
  std::string out, err;
};

inline RunResult run_tarvole(const std::string& dir, const std::string& arguments) {
  RunResult run;
  const std::string command = "cd '" + dir + "' && " + TARVOLE_EXE + " " + arguments + " 2> tarvole.err";
  run.status = test_support::runCommand(command, &run.out);
  run.err = read_text(dir + "tarvole.err");
  std::filesystem::remove(dir + "tarvole.err");
  return run;
}

// A python script run with /usr/bin/python3 in the directory; its status and output.
inline RunResult run_python(const std::string& dir, const std::string& script) {
  const std::string file = dir + "check_" + std::to_string(getpid()) + ".py";
  std::ofstream(file) << script;
  RunResult run;
  run.status = test_support::runCommand("cd '" + dir + "' && /usr/bin/python3 " + file + " 2>&1", &run.out);
  std::filesystem::remove(file);
  return run;
}

// A flat image with Gaussian noise, every pixel positive.
inline Image noisy(int nx, int ny, float level, float sigma, long& seed) {
  Image a(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = level + sigma * static_cast<float>(rangau(seed));
  return a;
}

// A reference with a disc galaxy at (cx, cy) on a sky of 200, and an image of the same field
// I = R/0.8 + 50 + 0.01 (x - cx) - 0.005 (y - cy), both with noise and positive everywhere.
struct ImagePair {
  Image R, I;
};
inline ImagePair galaxy_pair(int nx, int ny, int cx, int cy, double scale, long seed) {
  ImagePair p{Image(nx, ny), Image(nx, ny)};
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double galaxy = 3000.0 * std::exp(-std::sqrt(dx * dx + 2.0 * dy * dy) / scale);
      const double r = 200.0 + galaxy;
      p.R(x, y) = static_cast<float>(r + 2.0 * rangau(seed));
      p.I(x, y) = static_cast<float>(r / 0.8 + 50.0 + 0.01 * dx - 0.005 * dy + 2.0 * rangau(seed));
    }
  return p;
}

}  // namespace tarvole_test

#endif
