// Star fields for the PSF benchmarks: a reference script writes the field into
// a scratch directory and prints "name seconds" lines for its own timings.
#ifndef BENCH_PSF_BENCH_FIELD_H
#define BENCH_PSF_BENCH_FIELD_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "orv/fits/fits.h"

struct BenchStarField {
  orv::MArray<float, 2> image, error;
  std::vector<double> x, y;
  std::map<std::string, double> referenceSeconds;
};

// Runs bench/<script> with a fresh directory and the extra arguments, reads the
// image.fits, error.fits and stars.txt it wrote there, and removes it.
inline BenchStarField runReferenceScript(const std::string& script, const std::string& extra = "") {
  BenchStarField out;
  const std::string dir = "/tmp/orv_bench_" + script + "_" + std::to_string(getpid());
  std::system(("mkdir -p " + dir).c_str());
  const std::string command = "/usr/bin/python3 " ORV_SOURCE_DIR "/bench/" + script + " " + dir + " " + extra;
  FILE* pipe = popen(command.c_str(), "r");
  char line[256];
  while (pipe && std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    std::string name;
    double seconds;
    if (in >> name >> seconds) out.referenceSeconds[name] = seconds;
  }
  if (pipe) pclose(pipe);
  orv::FitsIn image(dir + "/image.fits");
  image >> out.image;
  orv::FitsIn error(dir + "/error.fits");
  error >> out.error;
  std::ifstream stars(dir + "/stars.txt");
  double x, y;
  while (stars >> x >> y) {
    out.x.push_back(x);
    out.y.push_back(y);
  }
  std::system(("rm -rf " + dir).c_str());
  return out;
}

#endif
